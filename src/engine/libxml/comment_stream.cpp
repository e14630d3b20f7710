// Reading comments as a stream on libxml2 (engine/comment_stream.hpp).
//
// Per chat the arena gets libxml2's own dump of it, so escaping and attribute
// order are the serialiser's. The base keeps its tree without its chats: each run
// of adjacent chats becomes two empty marker elements, and the appended chats get
// one more pair at the end of packet; each end finds its places by them. Nothing
// about libxml2's layout rules is restated here.
#include "engine/comment_stream.hpp"

#include <libxml/tree.h>
#include <libxml/xmlIO.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <random>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "engine/comment_vocabulary.hpp"
#include "engine/documents.hpp"
#include "engine/libxml/chat_dump.hpp"
#include "engine/libxml/document.hpp"
#include "engine/libxml/owners.hpp"
#include "engine/libxml/xml_stream.hpp"

namespace zantrel::xml {
namespace {

// Thrown by the observer: the document leaves the shapes read here / the read
// is no longer wanted.
struct NotReproducible {};
struct Stopped {};

bool IsNamed(const xmlNode* node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

// What makes an element a comment and which attribute is its number, read alike
// from a node and from a start tag. As the chat list matches names: an
// unprefixed "chat" in any namespace, below the top element; its number is the
// `no` attribute in no namespace.
bool IsChatName(const xmlChar* name, const xmlChar* prefix) {
  return prefix == nullptr && xmlStrEqual(name, BAD_CAST kChatName);
}
bool IsCommentPlace(const xmlNode* parent) { return parent != nullptr && parent->type == XML_ELEMENT_NODE; }
bool IsNumberAttribute(const xmlChar* name, bool inNamespace) {
  return !inNamespace && xmlStrEqual(name, BAD_CAST kNoName);
}

bool IsChat(const xmlNode* node) {
  return node != nullptr && node->type == XML_ELEMENT_NODE &&
         IsChatName(node->name, node->ns != nullptr ? node->ns->prefix : nullptr);
}

bool UsesNamespaces(const xmlNode* element) {
  if (element->ns != nullptr || element->nsDef != nullptr) return true;
  for (const xmlAttr* a = element->properties; a != nullptr; a = a->next)
    if (a->ns != nullptr) return true;
  return false;
}

// The `no` text as GetAttribute finds it (none when absent): a view into the tree
// where it is one text, else into `scratch`.
std::optional<std::string_view> NumberText(const xmlNode* chat, XmlCharPtr& scratch) {
  for (const xmlAttr* a = chat->properties; a != nullptr; a = a->next) {
    if (!IsNumberAttribute(a->name, a->ns != nullptr)) continue;
    const xmlNode* text = a->children;
    if (text != nullptr && text->type == XML_TEXT_NODE && text->next == nullptr && text->content != nullptr)
      return std::string_view(reinterpret_cast<const char*>(text->content));
    scratch.reset(xmlNodeListGetString(chat->doc, a->children, 1));
    return scratch ? std::string_view(reinterpret_cast<const char*>(scratch.get())) : std::string_view();
  }
  return std::nullopt;
}

// Sees each chat as the parser closes it, hands it on, and shrinks the tree so
// that at most one chat is whole at any time. `runHeads` is the base's: its chats
// must be children of packet, and the first of each run stays as a place.
//
// A chat that holds only text is taken as its source bytes, without a node,
// where the input allows: those bytes are appended as they stand where the
// serialiser would write them so, else parsed on their own and written as any
// chat; after such a chat the next ones are read as nodes for a while, so a file
// written otherwise throughout costs no more than before.
class ChatStream final : public ElementEndObserver {
 public:
  ChatStream(ChatDump& dump, ChatReceiver& receiver, const StopFlag* stop, std::vector<xmlNode*>* runHeads)
      : dump_(dump), receiver_(receiver), stop_(stop), runHeads_(runHeads) {}

  void ElementEnded(xmlNode* element) override {
    if (stop_ != nullptr && stop_->Requested()) throw Stopped{};
    if (UsesNamespaces(element)) throw NotReproducible{};
    // The comments are the chats below the top element; the top element itself is
    // never one, whatever its name.
    if (!IsChat(element) || !IsCommentPlace(element->parent)) return;
    // Only text inside: such a chat serialises the same at any level and layout,
    // and nothing in it is a chat of its own.
    for (const xmlNode* c = element->children; c != nullptr; c = c->next)
      if (c->type != XML_TEXT_NODE) throw NotReproducible{};
    if (base() && !UnderPacket(element->parent)) throw NotReproducible{};
    const bool follows = Follows(element->prev);
    if (base() && !follows) runHeads_->push_back(element);
    XmlCharPtr scratch;
    const std::optional<std::string_view> number = NumberText(element, scratch);
    receiver_.Chat({number, dump_.Append(element), base() && !follows});
    if (follows) {
      xmlUnlinkNode(element);
      NodePtr gone(element);
    } else {
      xmlFreeNodeList(element->children);
      element->children = element->last = nullptr;
      xmlFreePropList(element->properties);
      element->properties = nullptr;
    }
  }

  bool TakesAsSource(const StartTag& tag) override {
    if (!IsChatName(tag.name, tag.prefix) || !IsCommentPlace(tag.parent)) return false;
    if (asNodes_ > 0) {
      --asNodes_;
      return false;
    }
    // A base chat the node would be refused for is left to the node.
    if (base() && !UnderPacket(tag.parent)) return false;
    number_.reset();
    for (int i = 0; i < tag.attributeCount; ++i) {
      const xmlChar* const* a = tag.attributes + i * 5;  // name, prefix, uri, value, value end
      if (!IsNumberAttribute(a[0], a[2] != nullptr)) continue;
      const std::string_view value(reinterpret_cast<const char*>(a[3]), static_cast<std::size_t>(a[4] - a[3]));
      // Trap: the parser hands over '&' in a value as "&#38;", for the node to
      // resolve; only the node reads such a number.
      if (value.find('&') != std::string_view::npos) return false;
      number_.emplace(value);
    }
    follows_ = Follows(tag.parent->last);
    if (base() && !follows_) {
      // The run's place, as the emptied first chat is when read as a node.
      xmlNode* head = xmlNewDocNode(tag.parent->doc, nullptr, BAD_CAST kChatName, nullptr);
      if (head == nullptr) throw std::bad_alloc();
      if (xmlAddChild(tag.parent, head) == nullptr) {
        NodePtr gone(head);
        throw std::bad_alloc();
      }
      runHeads_->push_back(head);
    }
    return true;
  }

  void SourceEnded(std::string_view source) override {
    if (stop_ != nullptr && stop_->Requested()) throw Stopped{};
    if (source.empty()) throw NotReproducible{};
    std::uint32_t length = 0;
    if (dump_.TakesSourceAsItStands(source)) {
      length = dump_.AppendSource(source);
    } else {
      const DocPtr parsed = ParseSource(source);
      xmlNode* chat = parsed ? xmlDocGetRootElement(parsed.get()) : nullptr;
      if (chat == nullptr) throw NotReproducible{};
      length = dump_.Append(chat);
      asNodes_ = kAsNodesAfterOther;
    }
    const std::optional<std::string_view> number = number_;
    receiver_.Chat({number, length, base() && !follows_});
  }

  void SourceHoldsMore() override { throw NotReproducible{}; }

 private:
  // Chats read as nodes after one whose source the serialiser would write otherwise.
  static constexpr int kAsNodesAfterOther = 64;

  bool base() const noexcept { return runHeads_ != nullptr; }

  // Base chats stay where they are: only children of packet can be placed (and
  // removed) as the whole tree does.
  static bool UnderPacket(const xmlNode* parent) {
    const xmlNode* root = xmlDocGetRootElement(parent->doc);
    return parent == root && IsNamed(root, kPacketName) && root->ns == nullptr;
  }

  // Trap: the parser decides whether blank text is ignorable from its parent's
  // first and last child, and keeps appending text to a last child that is
  // text; so the first chat of a run stays (emptied) as an element, and only a
  // chat whose previous sibling is such a stand-in goes entirely.
  bool Follows(const xmlNode* prev) const {
    return prev != nullptr && (base() ? !runHeads_->empty() && prev == runHeads_->back() : IsChat(prev));
  }

  ChatDump& dump_;
  ChatReceiver& receiver_;
  const StopFlag* stop_;
  std::vector<xmlNode*>* runHeads_;
  // The chat taken as its source, between its start and its end.
  std::optional<std::string> number_;
  bool follows_ = false;
  int asNodes_ = 0;
};

// Loads `path` through `stream`. False when the document is not read so.
bool LoadStreamed(const std::wstring& path, DocumentHandle& doc, ChatStream& stream) {
  if (!PathExists(path)) return false;  // LoadDocument would parse the path as text
  if (CreateDocument(doc) < 0) throw CallTextError(kNoDocument);
  bool loaded = false;
  try {
    loaded = LoadObserved(doc, path, stream);
  } catch (const NotReproducible&) {
    return false;
  }
  if (!loaded) throw CallTextError(kNotLoaded, LoadRefusal(doc));
  // A plain copy hands over only a source without namespaces.
  return IsNamespaceFree(doc);
}

// Trap: the serialiser writes an empty text (an input's empty CDATA section) as
// nothing, so a tree parsed again would lack it; an empty CDATA section written
// in its place parses back to it.
void KeepEmptyTexts(xmlNode* element) {
  for (xmlNode* c = element->children; c != nullptr;) {
    xmlNode* next = c->next;
    if (c->type == XML_TEXT_NODE && (c->content == nullptr || *c->content == 0)) {
      xmlNode* cdata = xmlNewCDataBlock(c->doc, BAD_CAST "", 0);
      if (cdata == nullptr) throw std::bad_alloc();
      xmlReplaceNode(c, cdata);
      NodePtr gone(c);
    } else if (c->type == XML_ELEMENT_NODE) {
      KeepEmptyTexts(c);
    }
    c = next;
  }
}

// The base as read, without its chats: what both ends start from. Each run of
// adjacent chats becomes two empty marker elements (or goes, when none of its
// chats stays), and the appended chats get one more pair at the end of packet.
class BaseWithoutChats {
 public:
  BaseWithoutChats() {
    std::random_device random;
    const auto token = (std::uint64_t{random()} << 32) ^ random();
    marker_ = "zantrel-run-" + std::to_string(token) + "-";
  }

  bool Read(const std::wstring& path, const Sheet& sheet, Arena& bytes, ChatReceiver& receiver) {
    path_ = path;
    ChatDump dump(bytes, sheet);
    ChatStream stream(dump, receiver, nullptr, &heads_);
    if (!LoadStreamed(path, doc_, stream)) return false;
    dump.Finish();
    const xmlNode* root = xmlDocGetRootElement(xml::Tree(doc_));
    // Merging needs /packet; without it the whole tree fails there in its own words.
    return IsNamed(root, kPacketName) && root->ns == nullptr;
  }

  // Trap: texts on both sides of a run that goes would be one text once the
  // document is parsed again, where the whole tree keeps two. (Runs are never
  // next to each other: something that is no chat stands between two.)
  bool TextsWouldJoin(const std::vector<std::size_t>& keptPerRun) const {
    for (std::size_t r = 0; r < heads_.size(); ++r) {
      if (r < keptPerRun.size() && keptPerRun[r] > 0) continue;
      const xmlNode* prev = heads_[r]->prev;
      const xmlNode* next = heads_[r]->next;
      if (prev != nullptr && next != nullptr && xmlNodeIsText(prev) && xmlNodeIsText(next)) return true;
    }
    return false;
  }

  // The markers in the tree; `perPlace_` then counts the chats at each pair, in
  // document order.
  void PlaceMarkers(const std::vector<std::size_t>& keptPerRun, std::size_t appended) {
    xmlDoc* doc = xml::Tree(doc_);
    for (std::size_t r = 0; r < heads_.size(); ++r) {
      if (r >= keptPerRun.size() || keptPerRun[r] == 0) {
        xmlUnlinkNode(heads_[r]);
        NodePtr gone(heads_[r]);
        continue;
      }
      xmlNodeSetName(heads_[r], BAD_CAST Marker('a').c_str());
      AddMarker(heads_[r], 'b', doc, false);
      perPlace_.push_back(keptPerRun[r]);
    }
    heads_.clear();
    if (appended > 0) {
      xmlNode* packet = xmlDocGetRootElement(doc);
      AddMarker(packet, 'a', doc, true);
      AddMarker(packet, 'b', doc, true);
      perPlace_.push_back(appended);
    }
  }

  // Walks the places of `text`, the serialised base with its markers, in order:
  // `visit(before, between, chats)` with the text before the place, what the
  // serialiser wrote between its two markers (as it writes it between two
  // sibling chats there) and how many chats it takes. Answers the text after the
  // last place.
  template <typename Visit>
  std::string_view ForEachPlace(std::string_view text, const Visit& visit) const {
    // Trap: `"<" + Marker(...)` inserts at the front, which GCC 12 at -O3 takes
    // for an overlapping copy (-Wrestrict); appending says the same without it.
    const std::string first = std::string("<").append(Marker('a')).append("/>");
    const std::string second = std::string("<").append(Marker('b')).append("/>");
    for (const std::size_t chats : perPlace_) {
      const std::size_t a = text.find(first);
      const std::size_t b = a == std::string_view::npos ? a : text.find(second, a + first.size());
      if (b == std::string_view::npos) NoPlace();
      visit(text.substr(0, a), text.substr(a + first.size(), b - a - first.size()), chats);
      text.remove_prefix(b + second.size());
    }
    if (text.find(first) != std::string_view::npos) NoPlace();
    return text;
  }

  DocumentHandle doc_;
  std::wstring path_;
  std::vector<xmlNode*> heads_;        // the first chat of each run, emptied; owned by the tree
  std::vector<std::size_t> perPlace_;  // chats at each marker pair, in document order

 private:
  // A marker as the last child of `at`, or right after it.
  void AddMarker(xmlNode* at, char which, xmlDoc* doc, bool asChild) const {
    xmlNode* marker = xmlNewDocNode(doc, nullptr, BAD_CAST Marker(which).c_str(), nullptr);
    if (marker == nullptr) throw std::bad_alloc();
    if ((asChild ? xmlAddChild(at, marker) : xmlAddNextSibling(at, marker)) == nullptr) {
      NodePtr gone(marker);
      throw std::bad_alloc();
    }
  }

  std::string Marker(char which) const { return marker_ + which; }
  [[noreturn]] static void NoPlace() { throw ComError(kEFail, L"the comments have no place in the output"); }

  std::string marker_;
};

// At saving, the serialiser's text between the two markers of a pair is exactly
// what it writes between two sibling chats, so a run's chats are joined with it.
class LibxmlSplicedBase final : public SplicedBase {
 public:
  bool Read(const std::wstring& path, const Sheet& sheet, Arena& bytes, ChatReceiver& receiver) {
    return base_.Read(path, sheet, bytes, receiver);
  }

  void PlaceComments(const std::vector<std::size_t>& keptPerRun, std::size_t appended) override {
    base_.PlaceMarkers(keptPerRun, appended);
  }

  const DocumentHandle& Tree() const noexcept override { return base_.doc_; }

  void Save(const DocumentHandle& result, const std::wstring& path, const Arena& bytes,
            const std::vector<std::uint32_t>& lengths) const override {
    SaveSpliced(result, path, [&](std::string_view text, const SpliceWrite& write) {
      std::size_t offset = 0;  // into the arena, in document order
      std::size_t piece = 0;
      write(base_.ForEachPlace(text, [&](std::string_view before, std::string_view between, std::size_t chats) {
        write(before);
        for (std::size_t k = 0; k < chats; ++k, ++piece) {
          if (k > 0) write(between);
          bytes.Read(offset, lengths.at(piece), write);
          offset += lengths[piece];
        }
      }));
    });
  }

 private:
  BaseWithoutChats base_;
};

// The base is written as text without indentation, so nothing stands between two
// chats and each place's chats are one stretch of the arena; the parser takes
// the text up to the appended chats' place, then each input's kept bytes, then
// the rest.
class LibxmlRebuiltTree final : public RebuiltTree {
 public:
  bool Read(const std::wstring& path, const Sheet& sheet, Arena& bytes, ChatReceiver& receiver) {
    return base_.Read(path, sheet, bytes, receiver);
  }

  bool Begin(const std::vector<std::size_t>& keptPerRun, const Arena& bytes,
             const std::vector<std::uint32_t>& lengths) override {
    if (base_.TextsWouldJoin(keptPerRun)) return false;
    // A place for the appended chats even if none come: written without
    // indentation, an empty place adds nothing.
    base_.PlaceMarkers(keptPerRun, 1);
    base_.perPlace_.back() = 0;
    KeepEmptyTexts(xmlDocGetRootElement(xml::Tree(base_.doc_)));
    xmlChar* dumped = nullptr;
    int size = 0;
    xmlDocDumpFormatMemoryEnc(xml::Tree(base_.doc_), &dumped, &size, "UTF-8", 0);
    const XmlCharPtr owned(dumped);
    if (!owned) throw ComError(kEOutOfMemory);
    const std::string_view text(reinterpret_cast<const char*>(dumped), static_cast<std::size_t>(size));
    pushed_.emplace(WideToNative(base_.path_));
    std::size_t offset = 0;
    std::size_t piece = 0;
    // Nothing stands between a place's markers here: its chats go one after another.
    tail_ = base_.ForEachPlace(text, [&](std::string_view before, std::string_view, std::size_t chats) {
      pushed_->Push(before, base_.path_);
      std::size_t length = 0;
      for (std::size_t k = 0; k < chats; ++k) length += lengths.at(piece++);
      Add(bytes, offset, offset + length, base_.path_);
      offset += length;
    });  // after the appended chats
    base_.doc_.reset();  // all of it is in the parser now
    return true;
  }

  void Add(const Arena& bytes, std::size_t begin, std::size_t end, const std::wstring& from) override {
    bytes.Read(begin, end - begin, [&](std::string_view part) { pushed_->Push(part, from); });
  }

  DocumentHandle Finish() override {
    pushed_->Push(tail_, base_.path_);
    DocumentHandle merged = pushed_->Finish(base_.path_);
    pushed_.reset();
    return merged;
  }

 private:
  BaseWithoutChats base_;
  std::optional<PushedDocument> pushed_;  // the merged tree while it is built
  std::string tail_;                      // the base's text after the appended chats
};

template <typename End>
std::unique_ptr<End> StreamBase(const std::wstring& path, const Sheet& sheet, Arena& bytes, ChatReceiver& receiver) {
  auto base = std::make_unique<End>();
  if (!base->Read(path, sheet, bytes, receiver)) return nullptr;
  return base;
}

}  // namespace

bool CanStreamComments() noexcept { return true; }

StreamOutcome StreamComments(const std::wstring& path, const Sheet& sheet, Arena& bytes, ChatReceiver& receiver,
                             const StopFlag& stop) {
  ChatDump dump(bytes, sheet);
  ChatStream stream(dump, receiver, &stop, nullptr);
  DocumentHandle doc;  // made, shrunk and freed on this thread
  try {
    if (!LoadStreamed(path, doc, stream)) return StreamOutcome::NotReproducible;
  } catch (const Stopped&) {
    return StreamOutcome::Stopped;
  }
  dump.Finish();
  return StreamOutcome::Read;
}

std::unique_ptr<SplicedBase> StreamSplicedBase(const std::wstring& path, const Sheet& sheet, Arena& bytes,
                                               ChatReceiver& receiver) {
  return StreamBase<LibxmlSplicedBase>(path, sheet, bytes, receiver);
}

std::unique_ptr<RebuiltTree> StreamRebuiltBase(const std::wstring& path, const Sheet& sheet, Arena& bytes,
                                               ChatReceiver& receiver) {
  return StreamBase<LibxmlRebuiltTree>(path, sheet, bytes, receiver);
}

}  // namespace zantrel::xml
