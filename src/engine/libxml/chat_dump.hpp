// Chats as bytes on an arena, for reading comments as a stream
// (comment_stream.cpp): the serialiser's own bytes where they are the saved
// file's, else bytes that parse to the same chats. Internal to engine/libxml.
//
// One thread at a time (the one reading the input). The arena and the sheet
// outlive the dump. Failures: std::bad_alloc when the arena cannot grow.
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "base/byte_arena.hpp"
#include "engine/libxml/document.hpp"
#include "engine/libxml/owners.hpp"

namespace zantrel::xml {

// The most bytes one chat's dump may take: its length is held in 32 bits; a
// longer one fails the read as memory running out does. Lowered by tests only,
// before any job starts.
inline std::size_t maxChatBytes = std::numeric_limits<std::uint32_t>::max();

// True only where `source`, the bytes of a whole chat of a UTF-8 input as it
// stands (well-formed, no namespace, nothing but text inside), are exactly the
// bytes the serialiser writes for the chat they parse to: one space before each
// attribute, double quotes, only the escapes it writes itself, no line end or tab
// that parsing changes, an empty chat written short. `rawNonAsciiValues`: the
// serialiser writes other than ASCII in attribute values as it is (an output
// encoding is named), else as character references. False says nothing: such a
// chat is parsed and written by the serialiser. Any thread.
bool WrittenAsItStands(std::string_view source, bool rawNonAsciiValues) noexcept;

class ChatDump {
 public:
  ChatDump(Arena& into, const Sheet& sheet);

  // The length of the bytes appended for `chat`; they are in the arena after
  // Finish.
  std::uint32_t Append(xmlNode* chat);
  // The same for a chat whose source this dump writes as it stands (see
  // TakesSourceAsItStands); the source itself is appended.
  std::uint32_t AppendSource(std::string_view source);
  // Whether `source` (as for WrittenAsItStands) is what this dump would append
  // for the chat it parses to.
  bool TakesSourceAsItStands(std::string_view source) const noexcept {
    return WrittenAsItStands(source, !exact_ || encoding_ != nullptr);
  }
  void Finish();

 private:
  std::uint32_t AppendEquivalent(const xmlNode* chat);
  void Escape(const xmlChar* value, bool attribute);

  Arena& into_;
  const char* encoding_;  // of the sheet's xsl:output; null for none
  const bool exact_;      // the saved bytes themselves (a plain copy), or bytes to
                          // parse again
  OutputBufferPtr out_;
  std::string text_;
};

}  // namespace zantrel::xml
