// Chats as bytes on an arena (chat_dump.hpp).
#include "engine/libxml/chat_dump.hpp"

#include <libxml/xmlIO.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <new>
#include <string_view>

#include "engine/libxml/copy_sheet_shortcut.hpp"

namespace zantrel::xml {
namespace {

int AppendToArena(void* context, const char* buffer, int length) noexcept {
  try {
    static_cast<Arena*>(context)->Append(std::string_view(buffer, static_cast<std::size_t>(length)));
    return length;
  } catch (...) {
    return -1;  // called from inside libxml2: nothing may leave
  }
}

std::uint32_t CheckedLength(std::size_t length) {
  if (length > maxChatBytes) throw std::bad_alloc();
  return static_cast<std::uint32_t>(length);
}

// Past the words of `text` from `i` on (up to `end`) that hold none of & < > and
// carriage return, eight bytes at a time: text is the bulk of a chat.
std::size_t SkipPlainText(std::string_view text, std::size_t i, std::size_t end) noexcept {
  constexpr std::uint64_t ones = 0x0101010101010101u;
  constexpr std::uint64_t highs = 0x8080808080808080u;
  const auto hasByte = [](std::uint64_t word, unsigned char c) {
    const std::uint64_t x = word ^ (ones * c);
    return ((x - ones) & ~x & highs) != 0;
  };
  for (; i + 8 <= end; i += 8) {
    std::uint64_t word;
    std::memcpy(&word, text.data() + i, 8);
    if (hasByte(word, '&') || hasByte(word, '<') || hasByte(word, '>') || hasByte(word, '\r')) break;
  }
  return i;
}

// The length of the one of `escapes` that `text` holds at `at`; 0 for none.
// (A length, not a moved index: an index taken by reference would keep the
// scan's position in memory throughout.)
std::size_t EscapeAt(std::string_view text, std::size_t at, std::initializer_list<std::string_view> escapes) {
  for (const std::string_view escape : escapes)
    if (text.substr(at, escape.size()) == escape) return escape.size();
  return 0;
}

}  // namespace

// The serialiser writes a chat as <chat, then ` name="value"` per attribute in
// the order they were read, then `/>` when it holds nothing, else `>`, its text
// and </chat>. In values it escapes < > & " and writes tab, line feed and carriage
// return as character references; in text it escapes < > & and carriage return.
// A source that differs from that anywhere is answered false.
bool WrittenAsItStands(std::string_view source, bool rawNonAsciiValues) noexcept {
  // Bytes a stretch of text or of a value may not hold as they stand ('&' is
  // looked at on its own).
  struct Stops {
    bool text[256] = {};
    bool value[256] = {};
    bool valueAscii[256] = {};
    bool name[256] = {};
    constexpr Stops() {
      for (int c = 0; c < 256; ++c) {
        name[c] = c <= ' ' || c == '=' || c == '>' || c == '/' || c == '"' || c == '\'';
        text[c] = c == '&' || c == '<' || c == '>' || c == '\r';
        value[c] = c < 0x20 || c == '&' || c == '<' || c == '>' || c == '"';
        valueAscii[c] = value[c] || c >= 0x80;
      }
    }
  };
  static constexpr Stops stops;
  constexpr std::string_view open = "<chat";
  constexpr std::string_view close = "</chat>";
  const std::size_t size = source.size();
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(source[i]); };
  if (size < open.size() || std::memcmp(source.data(), open.data(), open.size()) != 0) return false;
  const bool* const valueStops = rawNonAsciiValues ? stops.value : stops.valueAscii;
  std::size_t i = open.size();
  for (;;) {  // the attributes
    if (i >= size) return false;
    if (source[i] == '>') break;
    if (source[i] == '/') return i + 2 == size && source[i + 1] == '>';
    if (source[i] != ' ') return false;
    const std::size_t name = ++i;
    while (i < size && !stops.name[at(i)]) ++i;
    // A blank around '=', or no attribute at all: `<chat >a="1">` is text.
    if (i == name || i + 1 >= size || source[i] != '=' || source[i + 1] != '"') return false;
    for (i += 2;; ++i) {
      while (i < size && !valueStops[at(i)]) ++i;
      if (i >= size) return false;
      if (source[i] == '"') break;
      const std::size_t escape = EscapeAt(source, i, {"&amp;", "&lt;", "&gt;", "&quot;"});
      if (escape == 0) return false;
      i += escape - 1;  // the loop steps past the last byte
    }
    ++i;  // the closing quote
  }
  ++i;  // the start tag's '>'
  if (size < i + close.size() + 1 || std::memcmp(source.data() + size - close.size(), close.data(), close.size()) != 0)
    return false;
  const std::size_t end = size - close.size();
  for (;; ++i) {
    i = SkipPlainText(source, i, end);
    while (i < end && !stops.text[at(i)]) ++i;
    if (i == end) return true;
    const std::size_t escape = EscapeAt(source, i, {"&amp;", "&lt;", "&gt;"});
    if (escape == 0) return false;
    i += escape - 1;  // the loop steps past the last byte
  }
}

ChatDump::ChatDump(Arena& into, const Sheet& sheet)
    : into_(into), encoding_(reinterpret_cast<const char*>(OutputEncoding(sheet))), exact_(sheet.copies) {}

std::uint32_t ChatDump::Append(xmlNode* chat) {
  if (!exact_) return AppendEquivalent(chat);
  if (!out_) {
    out_.reset(xmlOutputBufferCreateIO(&AppendToArena, nullptr, &into_, nullptr));
    if (!out_) throw std::bad_alloc();
  }
  // The buffer passes its bytes on in large pieces, not chat by chat: what was
  // written is what the arena holds plus what waits in the buffer.
  const auto position = [this] { return into_.Size() + xmlOutputBufferGetSize(out_.get()); };
  const std::size_t before = position();
  // Trap: attribute text is escaped by the encoding of the document it is saved
  // with, which is the sheet's output encoding then, not this input's.
  xmlDoc* doc = chat->doc;
  const xmlChar* own = doc->encoding;
  doc->encoding = BAD_CAST encoding_;
  xmlNodeDumpOutput(out_.get(), doc, chat, 1, 0, encoding_);
  doc->encoding = own;
  if (out_->error != 0) throw std::bad_alloc();
  return CheckedLength(position() - before);
}
std::uint32_t ChatDump::AppendSource(std::string_view source) {
  const std::uint32_t length = CheckedLength(source.size());
  // What waits in the buffer comes first.
  if (out_ && xmlOutputBufferGetSize(out_.get()) > 0) Finish();
  into_.Append(source);
  return length;
}

void ChatDump::Finish() {
  if (out_ && (xmlOutputBufferFlush(out_.get()) < 0 || out_->error != 0)) throw std::bad_alloc();
}

// Bytes that parse to the same chat, for a document that is parsed again rather
// than saved: escaped only as parsing needs, at a fraction of the serialiser's
// cost. A chat here holds text alone.
std::uint32_t ChatDump::AppendEquivalent(const xmlNode* chat) {
  text_.clear();
  text_.push_back('<');
  text_.append(reinterpret_cast<const char*>(chat->name));
  for (const xmlAttr* a = chat->properties; a != nullptr; a = a->next) {
    text_.append(" ").append(reinterpret_cast<const char*>(a->name)).append("=\"");
    XmlCharPtr scratch;
    const xmlChar* value =
        a->children != nullptr && a->children->next == nullptr ? a->children->content : nullptr;
    if (value == nullptr)
      value = (scratch = XmlCharPtr(xmlNodeListGetString(chat->doc, a->children, 1))).get();
    Escape(value, true);
    text_.append("\"");
  }
  if (chat->children == nullptr) {
    text_.append("/>");
  } else {
    text_.append(">");
    for (const xmlNode* c = chat->children; c != nullptr; c = c->next) {
      // An empty text (an empty CDATA section in the input) written as nothing
      // would be gone when parsed again.
      if (c->content == nullptr || *c->content == 0) text_.append("<![CDATA[]]>");
      Escape(c->content, false);
    }
    text_.append("</").append(reinterpret_cast<const char*>(chat->name)).append(">");
  }
  const std::uint32_t length = CheckedLength(text_.size());
  into_.Append(text_);
  return length;
}
void ChatDump::Escape(const xmlChar* value, bool attribute) {
  for (const xmlChar* p = value; p != nullptr && *p != 0; ++p) {
    switch (*p) {
      case '&':
        text_.append("&amp;");
        break;
      case '<':
        text_.append("&lt;");
        break;
      case '>':
        text_.append("&gt;");
        break;
      case '\r':
        text_.append("&#13;");
        break;
      // In attribute values these would end the value or be lost to
      // normalisation when parsed again.
      case '"':
        text_.append(attribute ? "&quot;" : "\"");
        break;
      case '\n':
        text_.append(attribute ? "&#10;" : "\n");
        break;
      case '\t':
        text_.append(attribute ? "&#9;" : "\t");
        break;
      default:
        text_.push_back(static_cast<char>(*p));
    }
  }
}

}  // namespace zantrel::xml
