// The compact path's intake: each chat of an input as the parser closes it.
#include <libxml/tree.h>

#include <boost/lexical_cast.hpp>

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

// The `no` attribute's text as GetAttribute reads it, or nothing when absent.
std::optional<std::string> NumberText(const xmlNode* chat) {
  for (const xmlAttr* a = chat->properties; a != nullptr; a = a->next) {
    if (a->ns != nullptr || !xmlStrEqual(a->name, BAD_CAST "no")) continue;
    xml::XmlCharPtr text(xmlNodeListGetString(chat->doc, a->children, 1));
    return text ? std::string(reinterpret_cast<const char*>(text.get())) : std::string();
  }
  return std::nullopt;
}

// The number as GetAttributeValue reads it (absent is 0); empty when malformed.
std::optional<std::int64_t> ReadNumber(const std::optional<std::string>& text) {
  if (!text) return 0;
  std::int64_t value = 0;
  if (!boost::conversion::try_lexical_convert(Utf8ToWide(*text), value)) return std::nullopt;
  return value;
}

}  // namespace

void Intake::ElementEnded(xmlNode* element) {
  if (UsesNamespaces(element)) throw NotCompact{};
  if (!IsChat(element)) return;
  // Only text inside: such a chat serialises the same at any level and layout, and
  // nothing in it is a chat of its own.
  for (const xmlNode* c = element->children; c != nullptr; c = c->next)
    if (c->type != XML_TEXT_NODE) throw NotCompact{};
  xmlNode* parent = element->parent;
  if (base_) {
    // Base chats stay where they are: only direct children of packet can be
    // placed (and removed) as the whole tree does.
    const xmlNode* root = xmlDocGetRootElement(element->doc);
    if (parent != root || !IsNamed(root, "packet") || root->ns != nullptr) throw NotCompact{};
  }
  // Shrink the tree. Trap: the parser decides whether blank text is ignorable
  // from its parent's first and last child, and keeps appending text to a last
  // child that is text; so the first chat of a run stays (emptied) as an element,
  // and only a chat whose previous sibling is such a stand-in goes entirely.
  const bool follows = base_ ? element->prev != nullptr && element->prev == runHead_
                             : element->prev != nullptr && IsChat(element->prev);
  if (base_ && !follows) {
    runHead_ = element;
    job_.StartRun(element);
  }
  if (job_.Decide(element, tally_)) job_.Keep(element);
  if (base_) job_.EndRun();
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

bool CompactMergeLibxml::Decide(const xmlNode* chat, Tally& tally) {
  const std::size_t index = tally.chats++;
  if (tally.malformedAt) return false;  // the walk ends before this chat
  const std::optional<std::string> text = NumberText(chat);
  const std::optional<std::int64_t> number = ReadNumber(text);
  if (!number) {
    tally.malformedAt = index;
    tally.malformedText = text.value_or(std::string());
    return false;
  }
  if (!seen_.Insert(*number)) return false;
  lastNumber_ = *number;
  ++kept_;
  return true;
}

int AppendToArena(void* context, const char* buffer, int length) noexcept {
  try {
    static_cast<Arena*>(context)->Append(std::string_view(buffer, static_cast<std::size_t>(length)));
    return length;
  } catch (...) {
    return -1;  // called from inside libxml2: nothing may leave
  }
}

void CompactMergeLibxml::Keep(xmlNode* chat) {
  // Trap: attribute text is escaped by the encoding of the document it is saved
  // with, which is the sheet's output encoding then, not this input's.
  xmlDoc* doc = chat->doc;
  const xmlChar* own = doc->encoding;
  const xmlChar* encoding = outputEncoding_.empty() ? nullptr : BAD_CAST outputEncoding_.c_str();
  const std::size_t before = bytes_.Size();
  if (!dump_) {
    dump_.reset(xmlOutputBufferCreateIO(&AppendToArena, nullptr, &bytes_, nullptr));
    if (!dump_) throw std::bad_alloc();
  }
  doc->encoding = encoding;
  xmlNodeDumpOutput(dump_.get(), doc, chat, 1, 0, outputEncoding_.empty() ? nullptr : outputEncoding_.c_str());
  doc->encoding = own;
  if (xmlOutputBufferFlush(dump_.get()) < 0 || dump_->error != 0) throw std::bad_alloc();
  const std::size_t length = bytes_.Size() - before;
  if (length > std::numeric_limits<std::uint32_t>::max()) throw std::bad_alloc();
  pieces_.push_back(static_cast<std::uint32_t>(length));
}

}  // namespace zantrel::compact
