#include "comments/vocabulary.hpp"

#include <boost/lexical_cast.hpp>

#include "base/text.hpp"

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
  return GetAttributeValue(kNoAttribute, xml::AsElement(chat), 0);
}

std::optional<std::int64_t> TryCommentNumber(std::optional<std::string_view> noText) {
  if (!noText) return 0;
  // The common case without copies: 1 to 18 plain digits, which the conversion
  // would read the same.
  if (!noText->empty() && noText->size() <= 18) {
    std::int64_t value = 0;
    std::size_t digits = 0;
    for (; digits < noText->size() && (*noText)[digits] >= '0' && (*noText)[digits] <= '9'; ++digits)
      value = value * 10 + ((*noText)[digits] - '0');
    if (digits == noText->size()) return value;
  }
  std::int64_t number = 0;
  if (!boost::conversion::try_lexical_convert(Utf8ToWide(*noText), number)) return std::nullopt;
  return number;
}

std::int64_t CommentNumber(std::optional<std::string_view> noText) {
  if (const std::optional<std::int64_t> number = TryCommentNumber(noText)) return *number;
  // Thrown by the same conversion as for an element, for the same text.
  return boost::lexical_cast<std::int64_t>(Utf8ToWide(*noText));
}

}  // namespace zantrel
