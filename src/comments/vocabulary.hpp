// The comment file vocabulary and the two attribute readers.
//
// A comment file: root `packet`, one `thread` at "/packet/thread", one `chat` per
// comment numbered by `no` (signed 64-bit: optional sign, decimal digits, leading
// zeros allowed, nothing else). Worker thread of a job.
// Failures: an empty element raises ComError(E_POINTER); a malformed number raises
// boost::bad_lexical_cast (a std::exception) with Boost's own text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/xml_component.hpp"

namespace zantrel {

inline const std::wstring kPacketPath = L"/packet";
inline const std::wstring kThreadPath = L"/packet/thread";
inline const std::wstring kChatTag = L"chat";
inline const std::wstring kNoAttribute = L"no";
inline const std::wstring kLastResAttribute = L"last_res";

// The attribute's text, or `defaultText` when it is absent.
std::wstring GetAttributeText(const xml::Node& element, const std::wstring& name,
                              const std::wstring& defaultText);

// The attribute as a number; absent gives `defaultValue`, malformed throws.
std::int64_t GetAttributeValue(const std::wstring& name, const xml::Node& element,
                               std::int64_t defaultValue);

// A comment's number, from its chat element or from the text of its `no` (UTF-8,
// none when absent): absent is 0, malformed throws. Both read the same way.
std::int64_t CommentNumber(const xml::Node& chat);
std::int64_t CommentNumber(std::optional<std::string_view> noText);
// The same without throwing: empty for a malformed number.
std::optional<std::int64_t> TryCommentNumber(std::optional<std::string_view> noText);

}  // namespace zantrel
