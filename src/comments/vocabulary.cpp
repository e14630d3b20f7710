#include "comments/vocabulary.hpp"

#include <boost/lexical_cast.hpp>


namespace zantrel {

std::wstring GetAttributeText(const xml::Node& element, const std::wstring& name,
                              const std::wstring& defaultText) {
  std::wstring value;
  return xml::GetAttribute(element, name, value) ? value : defaultText;
}

std::int64_t GetAttributeValue(const std::wstring& name, const xml::Node& element,
                               std::int64_t defaultValue) {
  // GetAttributeText with the default as text, without building the default
  // unless it is needed: this runs once per comment.
  std::wstring text;
  if (!xml::GetAttribute(element, name, text)) text = boost::lexical_cast<std::wstring>(defaultValue);
  // A malformed value is never replaced by the default: it fails the caller.
  return boost::lexical_cast<std::int64_t>(text);
}

std::int64_t CommentNumber(const xml::Node& chat) {
  // This runs once per comment: the text is read once and converted only when it
  // is more than plain digits.
  std::wstring text;
  if (!xml::GetAttribute(xml::AsElement(chat), kNoAttribute, text)) return CommentNumberOf(std::optional<std::wstring_view>());
  return CommentNumberOf(std::optional<std::wstring_view>(text));
}

}  // namespace zantrel
