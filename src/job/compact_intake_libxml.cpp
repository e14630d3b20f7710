// The compact path's intake: each chat of an input as the parser closes it.
#include <libxml/tree.h>

#include <boost/lexical_cast.hpp>
#include <atomic>
#include <limits>
#include <optional>
#include <string_view>

#include "base/text.hpp"
#include "job/compact_merge_libxml.hpp"

namespace zantrel::compact {
namespace {

bool IsChat(const xmlNode* node) {
  // As the chat list matches names: an unprefixed "chat" in any namespace.
  return IsNamed(node, "chat") && (node->ns == nullptr || node->ns->prefix == nullptr);
}

bool UsesNamespaces(const xmlNode* element) {
  if (element->ns != nullptr || element->nsDef != nullptr) return true;
  for (const xmlAttr* a = element->properties; a != nullptr; a = a->next)
    if (a->ns != nullptr) return true;
  return false;
}

// The `no` attribute as GetAttribute finds it, or null when absent.
const xmlAttr* NumberAttribute(const xmlNode* chat) {
  for (const xmlAttr* a = chat->properties; a != nullptr; a = a->next)
    if (a->ns == nullptr && xmlStrEqual(a->name, BAD_CAST "no")) return a;
  return nullptr;
}

// The common case read without copies: one text of 1 to 18 plain digits, which
// the conversion would read the same. Empty for anything else.
std::optional<std::int64_t> PlainNumber(const xmlAttr* no) {
  const xmlNode* text = no->children;
  if (text == nullptr || text->type != XML_TEXT_NODE || text->next != nullptr || text->content == nullptr)
    return std::nullopt;
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (const xmlChar* c = text->content; *c != 0; ++c, ++digits) {
    if (*c < '0' || *c > '9' || digits == 18) return std::nullopt;
    value = value * 10 + (*c - '0');
  }
  if (digits == 0) return std::nullopt;
  return value;
}

// Counts the next chat of `tally` and reads its number as GetAttributeValue does
// (absent is 0); empty once the walk has ended at a malformed number, this
// chat's or an earlier one's.
std::optional<std::int64_t> CountChat(const xmlNode* chat, Tally& tally) {
  const std::size_t index = tally.chats++;
  if (tally.malformedAt) return std::nullopt;
  const xmlAttr* no = NumberAttribute(chat);
  if (no == nullptr) return 0;
  if (const std::optional<std::int64_t> plain = PlainNumber(no)) return plain;
  xml::XmlCharPtr value(xmlNodeListGetString(chat->doc, no->children, 1));
  const std::string text = value ? reinterpret_cast<const char*>(value.get()) : "";
  std::int64_t number = 0;
  if (!boost::conversion::try_lexical_convert(Utf8ToWide(text), number)) {
    tally.malformedAt = index;
    tally.malformedText = text;
    return std::nullopt;
  }
  return number;
}

int AppendToArena(void* context, const char* buffer, int length) noexcept {
  try {
    static_cast<Arena*>(context)->Append(std::string_view(buffer, static_cast<std::size_t>(length)));
    return length;
  } catch (...) {
    return -1;  // called from inside libxml2: nothing may leave
  }
}

}  // namespace

void Intake::ElementEnded(xmlNode* element) {
  // A read ahead the job no longer wants ends at the next element.
  if (stop_ != nullptr && stop_->load(std::memory_order_relaxed)) throw NotCompact{};
  if (UsesNamespaces(element)) throw NotCompact{};
  // The comments are the chats below the top element; the top element itself is
  // never one, whatever its name.
  if (!IsChat(element) || element->parent == nullptr || element->parent->type != XML_ELEMENT_NODE) return;
  // Only text inside: such a chat serialises the same at any level and layout, and
  // nothing in it is a chat of its own.
  for (const xmlNode* c = element->children; c != nullptr; c = c->next)
    if (c->type != XML_TEXT_NODE) throw NotCompact{};
  xmlNode* parent = element->parent;
  const bool base = job_ != nullptr;
  if (base) {
    // Base chats stay where they are: only direct children of packet can be
    // placed (and removed) as the whole tree does.
    const xmlNode* root = xmlDocGetRootElement(element->doc);
    if (parent != root || !IsNamed(root, "packet") || root->ns != nullptr) throw NotCompact{};
  }
  // Shrink the tree. Trap: the parser decides whether blank text is ignorable
  // from its parent's first and last child, and keeps appending text to a last
  // child that is text; so the first chat of a run stays (emptied) as an element,
  // and only a chat whose previous sibling is such a stand-in goes entirely.
  const bool follows = base ? element->prev != nullptr && element->prev == runHead_
                            : element->prev != nullptr && IsChat(element->prev);
  if (base && !follows) {
    runHead_ = element;
    job_->StartRun(element);
  }
  const std::optional<std::int64_t> number = CountChat(element, tally_);
  if (base) {
    if (number && job_->Accept(*number)) job_->Keep(element);
    job_->EndRun();
  } else if (number) {
    read_->chats.push_back({*number, dump_->Append(element)});
  }
  if (follows) {
    xmlUnlinkNode(element);
    xml::NodePtr gone(element);
  } else {
    xmlFreeNodeList(element->children);
    element->children = element->last = nullptr;
    xmlFreePropList(element->properties);
    element->properties = nullptr;
  }
}

bool CompactMergeLibxml::Accept(std::int64_t number) {
  if (!seen_.Insert(number)) return false;
  lastNumber_ = number;
  ++kept_;
  return true;
}

std::uint32_t ChatDump::Append(xmlNode* chat) {
  // Trap: attribute text is escaped by the encoding of the document it is saved
  // with, which is the sheet's output encoding then, not this input's.
  xmlDoc* doc = chat->doc;
  const xmlChar* own = doc->encoding;
  const char* encoding = encoding_.empty() ? nullptr : encoding_.c_str();
  if (!out_) {
    out_.reset(xmlOutputBufferCreateIO(&AppendToArena, nullptr, &into_, nullptr));
    if (!out_) throw std::bad_alloc();
  }
  // The buffer passes its bytes on in large pieces, not chat by chat: what was
  // written is what the arena holds plus what waits in the buffer.
  const auto position = [this] { return into_.Size() + xmlOutputBufferGetSize(out_.get()); };
  const std::size_t before = position();
  doc->encoding = BAD_CAST encoding;
  xmlNodeDumpOutput(out_.get(), doc, chat, 1, 0, encoding);
  doc->encoding = own;
  if (out_->error != 0) throw std::bad_alloc();
  const std::size_t length = position() - before;
  if (length > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  return static_cast<std::uint32_t>(length);
}

void ChatDump::Finish() {
  if (out_ && (xmlOutputBufferFlush(out_.get()) < 0 || out_->error != 0)) throw std::bad_alloc();
}

}  // namespace zantrel::compact
