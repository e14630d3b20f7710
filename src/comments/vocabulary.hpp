// The comment file vocabulary (engine/comment_vocabulary.hpp) and the attribute
// readers of the component's elements.
//
// Worker thread of a job. Failures: an empty element raises ComError(E_POINTER);
// a malformed number raises boost::bad_lexical_cast (a std::exception) with
// Boost's own text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/comment_vocabulary.hpp"
#include "engine/xml_component.hpp"

namespace zantrel {

// The attribute's text, or `defaultText` when it is absent.
std::wstring GetAttributeText(const xml::Node& element, const std::wstring& name,
                              const std::wstring& defaultText);

// The attribute as a number, read as CommentNumberOf reads it; absent gives
// `defaultValue`, malformed throws.
std::int64_t GetAttributeValue(const std::wstring& name, const xml::Node& element,
                               std::int64_t defaultValue);

// A comment's number, from its chat element: absent is 0, malformed throws; read
// as CommentNumberOf reads the attribute's text.
std::int64_t CommentNumber(const xml::Node& chat);

}  // namespace zantrel
