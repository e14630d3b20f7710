// The comment file vocabulary and the two attribute readers.
//
// A comment file: root `packet`, one `thread` at "/packet/thread", one `chat` per
// comment numbered by `no` (signed 64-bit: optional sign, decimal digits, leading
// zeros allowed, nothing else). Worker thread of a job.
// Failures: an empty element raises ComError(E_POINTER); a malformed number raises
// boost::bad_lexical_cast (a std::exception) with Boost's own text.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace zantrel
