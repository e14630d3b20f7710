#include "comments/vocabulary.hpp"

namespace zantrel {

std::wstring GetAttributeText(const xml::Node& element, const std::wstring& name,
                              const std::wstring& defaultText) {
  std::wstring value;
  return xml::GetAttribute(element, name, value) ? value : defaultText;
}

std::int64_t GetAttributeValue(const std::wstring& name, const xml::Node& element,
                               std::int64_t defaultValue) {
  // GetAttributeText with the default as text, without building the default
  // unless it is needed: this runs once per comment. A malformed value is never
  // replaced by the default: it fails the caller.
  std::wstring text;
  if (!xml::GetAttribute(element, name, text)) return defaultValue;
  return CommentNumberOf(std::optional<std::wstring_view>(text));
}

std::int64_t CommentNumber(const xml::Node& chat) {
  return GetAttributeValue(kNoAttribute, xml::AsElement(chat), 0);
}

}  // namespace zantrel
