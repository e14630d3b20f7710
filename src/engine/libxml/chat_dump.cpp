// Chats as bytes on an arena (chat_dump.hpp).
#include "engine/libxml/chat_dump.hpp"

#include <libxml/xmlIO.h>

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

}  // namespace

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
