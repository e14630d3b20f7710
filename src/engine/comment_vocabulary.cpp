#include "engine/comment_vocabulary.hpp"

#include <boost/lexical_cast.hpp>

#include "base/text.hpp"

namespace zantrel {
namespace {

// The common case without a conversion: 1 to 18 plain digits, which the
// conversion reads the same and which cannot overflow.
template <typename Char>
std::optional<std::int64_t> PlainDigits(std::basic_string_view<Char> text) {
  if (text.empty() || text.size() > 18) return std::nullopt;
  std::int64_t value = 0;
  for (const Char c : text) {
    if (c < Char('0') || c > Char('9')) return std::nullopt;
    value = value * 10 + (c - Char('0'));
  }
  return value;
}

std::wstring Wide(std::wstring_view text) { return std::wstring(text); }
std::wstring Wide(std::string_view text) { return Utf8ToWide(text); }

template <typename Char>
std::optional<std::int64_t> TryRead(std::optional<std::basic_string_view<Char>> noText) {
  if (!noText) return 0;
  if (const std::optional<std::int64_t> plain = PlainDigits(*noText)) return plain;
  std::int64_t number = 0;
  if (!boost::conversion::try_lexical_convert(Wide(*noText), number)) return std::nullopt;
  return number;
}

template <typename Char>
std::int64_t Read(std::optional<std::basic_string_view<Char>> noText) {
  if (const std::optional<std::int64_t> number = TryRead(noText)) return *number;
  // Thrown by the conversion itself, for its own text.
  return boost::lexical_cast<std::int64_t>(Wide(*noText));
}

}  // namespace

std::optional<std::int64_t> TryCommentNumberOf(std::optional<std::wstring_view> noText) { return TryRead(noText); }
std::optional<std::int64_t> TryCommentNumberOf(std::optional<std::string_view> noText) { return TryRead(noText); }
std::int64_t CommentNumberOf(std::optional<std::wstring_view> noText) { return Read(noText); }
std::int64_t CommentNumberOf(std::optional<std::string_view> noText) { return Read(noText); }

}  // namespace zantrel
