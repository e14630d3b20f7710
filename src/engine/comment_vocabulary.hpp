// The names of a comment file and the reading of a comment's number, shared by
// the comment operations and the back end that reads comments as a stream.
//
// A comment file: root `packet`, one `thread` at "/packet/thread", one `chat` per
// comment numbered by `no` (signed 64-bit: optional sign, decimal digits, leading
// zeros allowed, nothing else). Any thread. Failures: CommentNumberOf throws
// boost::bad_lexical_cast (a std::exception) with Boost's own text for a malformed
// number; TryCommentNumberOf never throws but for memory.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zantrel {

// Each name as the back ends compare it (UTF-8) and as the component is asked.
inline constexpr char kPacketName[] = "packet";
inline constexpr char kChatName[] = "chat";
inline constexpr char kNoName[] = "no";
inline const std::wstring kPacketPath = L"/packet";
inline const std::wstring kThreadPath = L"/packet/thread";
inline const std::wstring kChatTag = L"chat";
inline const std::wstring kNoAttribute = L"no";
inline const std::wstring kLastResAttribute = L"last_res";

// The number in the text of a `no` attribute (none when it is absent, which
// reads as 0): the one reading, whether the text comes from the component (wide)
// or from a stream (UTF-8). Empty for a malformed number.
std::optional<std::int64_t> TryCommentNumberOf(std::optional<std::wstring_view> noText);
std::optional<std::int64_t> TryCommentNumberOf(std::optional<std::string_view> noText);
// The same, throwing the conversion's own error for a malformed number.
std::int64_t CommentNumberOf(std::optional<std::wstring_view> noText);
std::int64_t CommentNumberOf(std::optional<std::string_view> noText);

}  // namespace zantrel
