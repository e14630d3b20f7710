// The compact merge path on libxml2.
//
// Per kept comment the job holds its serialised bytes (libxml2's own dump of the
// chat, so escaping and attribute order are the serialiser's) in an append-only
// arena, their length, and its number in a hash set. The base document stays a
// tree without its chats: each run of adjacent chats becomes two empty marker
// elements, and the chats appended by merging get one more pair at the end of
// packet. The base tree goes through the real style-sheet step and last_res
// update; at saving, the serialiser's text between the two markers of a pair is
// exactly what it writes between two sibling chats, so the run's pieces are joined
// with it. Nothing about libxml2's layout rules is restated here.
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>

#include <boost/lexical_cast.hpp>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <random>
#include <string_view>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "comments/operations.hpp"
#include "comments/progress.hpp"
#include "comments/vocabulary.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "job/compact_merge.hpp"

namespace zantrel {
namespace {

// --- the compact path's only contact with the progress ticks ---
// Every tick goes through here, computed from the same counts the whole-tree
// operations use, so a change in how tick state is kept is followed in one place.
namespace ticks {

void Merge(TickState& state, std::size_t end, std::size_t count, LogCallback log) {
  ProgressTicksBefore(state.merge, end, count, log);
}
void Removal(TickState& state, std::size_t end, std::size_t count, LogCallback log) {
  ProgressTicksBefore(state.removal, end, count, log);
}

}  // namespace ticks

void Silent(const std::wstring&) {}

struct FreeNode {
  void operator()(xmlNode* p) const noexcept { xmlFreeNode(p); }
};
struct CloseOutput {
  void operator()(xmlOutputBuffer* p) const noexcept { xmlOutputBufferClose(p); }
};
struct FreeXmlChar {
  void operator()(xmlChar* p) const noexcept { xmlFree(p); }
};
using NodePtr = std::unique_ptr<xmlNode, FreeNode>;
using OutputPtr = std::unique_ptr<xmlOutputBuffer, CloseOutput>;
using XmlCharPtr = std::unique_ptr<xmlChar, FreeXmlChar>;

// Thrown by an observer when a document leaves the shapes handled here.
struct NotCompact {};

// Append-only bytes in fixed blocks: no copy of what is held when it grows.
class Arena {
 public:
  void Append(std::string_view bytes) {
    while (!bytes.empty()) {
      if (blocks_.empty() || used_ == kBlock) {
        blocks_.push_back(std::make_unique<char[]>(kBlock));
        used_ = 0;
      }
      const std::size_t n = std::min(bytes.size(), kBlock - used_);
      std::memcpy(blocks_.back().get() + used_, bytes.data(), n);
      used_ += n;
      size_ += n;
      bytes.remove_prefix(n);
    }
  }
  std::size_t Size() const noexcept { return size_; }
  // Hands [begin, begin + length) to `write`, in one or more parts.
  template <typename Write>
  void Read(std::size_t begin, std::size_t length, Write&& write) const {
    while (length > 0) {
      const std::size_t block = begin / kBlock;
      const std::size_t offset = begin % kBlock;
      const std::size_t n = std::min(length, kBlock - offset);
      write(std::string_view(blocks_[block].get() + offset, n));
      begin += n;
      length -= n;
    }
  }

 private:
  static constexpr std::size_t kBlock = std::size_t{4} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;
  std::size_t size_ = 0;
};

// The numbers seen so far: open addressing, a fraction of an ordered set's memory.
class NumberSet {
 public:
  // True when the number was not there yet.
  bool Insert(std::int64_t number) {
    if (number == kEmpty) return !std::exchange(hasEmptyKey_, true);
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const bool added = Place(slots_, number);
    count_ += added ? 1 : 0;
    return added;
  }

 private:
  static constexpr std::int64_t kEmpty = std::numeric_limits<std::int64_t>::min();

  static std::size_t Hash(std::int64_t number) noexcept {
    auto x = static_cast<std::uint64_t>(number) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::size_t>(x ^ (x >> 31));
  }
  static bool Place(std::vector<std::int64_t>& slots, std::int64_t number) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = Hash(number) & mask;; i = (i + 1) & mask) {
      if (slots[i] == number) return false;
      if (slots[i] == kEmpty) {
        slots[i] = number;
        return true;
      }
    }
  }
  void Grow() {
    std::vector<std::int64_t> bigger(slots_.empty() ? 1024 : slots_.size() * 2, kEmpty);
    for (const std::int64_t n : slots_)
      if (n != kEmpty) Place(bigger, n);
    slots_.swap(bigger);
  }

  std::vector<std::int64_t> slots_;
  std::size_t count_ = 0;
  bool hasEmptyKey_ = false;
};

bool IsNamed(const xmlNode* node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

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
    XmlCharPtr text(xmlNodeListGetString(chat->doc, a->children, 1));
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

// The number of one chat in an input, and where a malformed one stops the walk.
struct Tally {
  std::size_t chats = 0;                   // every chat, in document order
  std::optional<std::size_t> malformedAt;  // index of the first malformed `no`
  std::string malformedText;
};

class CompactMergeLibxml;

// Sees each chat of one input as the parser closes it: decides it, keeps its
// bytes when it is a first copy, and shrinks the tree so that at most one chat is
// whole at any time.
class Intake final : public xml::ElementEndObserver {
 public:
  Intake(CompactMergeLibxml& job, bool base) : job_(job), base_(base) {}
  void ElementEnded(xmlNode* element) override;
  const Tally& Result() const noexcept { return tally_; }

 private:
  CompactMergeLibxml& job_;
  const bool base_;
  Tally tally_;
  xmlNode* runHead_ = nullptr;  // base only: the marker-to-be of the current run
};

class CompactMergeLibxml final : public CompactMerge {
 public:
  CompactMergeLibxml(std::vector<std::wstring> inputs, std::string outputEncoding)
      : inputs_(std::move(inputs)), outputEncoding_(std::move(outputEncoding)) {
    std::random_device random;
    const auto token = (std::uint64_t{random()} << 32) ^ random();
    marker_ = "zantrel-run-" + std::to_string(token) + "-";
  }

  bool LoadBase() override;
  bool Merge(std::size_t index, LogCallback log, TickState& tickState) override;
  DocumentHandle WholeTree(std::size_t next, const TickState& ticks) override;
  bool ApplyStyleSheet(const std::wstring& styleSheetPath, const DocumentHandle& destination) override;
  void UpdateLastRes(const DocumentHandle& destination) override;
  void Save(const DocumentHandle& destination, const std::wstring& path) override;

  // --- for Intake ---
  // Decides one chat in walk order: true when it is kept (a first copy).
  bool Decide(const xmlNode* chat, Tally& tally);
  void Keep(xmlNode* chat);
  void StartRun(xmlNode* head) { runs_.push_back({head, pieces_.size(), 0}); }
  void EndRun() { runs_.back().pieces = pieces_.size() - runs_.back().firstPiece; }

 private:
  struct Run {
    xmlNode* head;  // base runs: the emptied first chat, later the first marker
    std::size_t firstPiece;
    std::size_t pieces;
  };

  // Loads one input through an Intake. Empty when the input is not handled here.
  std::optional<Tally> Load(std::size_t index, DocumentHandle& doc, bool base);
  void MarkRuns();
  std::string MarkerName(char which) const { return marker_ + which; }

  std::vector<std::wstring> inputs_;
  std::string outputEncoding_;  // of the sheet's xsl:output; "" for none
  std::string marker_;

  DocumentHandle base_;  // the base without its chats
  Tally baseTally_;
  std::vector<Run> runs_;  // base runs, then the appended one
  Arena bytes_;
  std::vector<std::uint32_t> pieces_;  // length of each kept chat's bytes
  OutputPtr dump_;                     // serialises kept chats into bytes_
  NumberSet seen_;
  std::int64_t lastNumber_ = 0;  // of the last kept chat
  std::size_t kept_ = 0;         // chats of the merged document so far
};

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
    NodePtr gone(element);
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

std::optional<Tally> CompactMergeLibxml::Load(std::size_t index, DocumentHandle& doc, bool base) {
  const std::wstring& path = inputs_[index];
  if (!PathExists(path)) return std::nullopt;  // LoadDocument would parse the path as text
  if (CreateDomDocument(doc) < 0)
    throw CallTextError("pDoc.CreateInstance( __uuidof( MSXML2::DOMDocument ) )");
  Intake intake(*this, base);
  bool loaded = false;
  try {
    loaded = xml::LoadObserved(doc, path, intake);
  } catch (const NotCompact&) {
    return std::nullopt;
  }
  if (!loaded) throw CallTextError("pDoc->load()[loadXML()]");
  // The transform hands over only a source without namespaces.
  if (!xml::IsNamespaceFree(doc)) return std::nullopt;
  return intake.Result();
}

bool CompactMergeLibxml::LoadBase() {
  const std::optional<Tally> tally = Load(0, base_, true);
  if (!tally) return false;
  const xmlNode* root = xmlDocGetRootElement(xml::Tree(base_));
  // Merging needs /packet; without it the whole tree fails there in its own words.
  if (!IsNamed(root, "packet") || root->ns != nullptr) return false;
  baseTally_ = *tally;
  MarkRuns();
  return true;
}

// Each base run becomes a pair of empty marker elements, or goes when none of its
// chats was kept.
void CompactMergeLibxml::MarkRuns() {
  xmlDoc* doc = xml::Tree(base_);
  const std::string first = MarkerName('a');
  const std::string second = MarkerName('b');
  std::vector<Run> marked;
  for (Run& run : runs_) {
    if (run.pieces == 0) {
      xmlUnlinkNode(run.head);
      NodePtr gone(run.head);
      continue;
    }
    xmlNodeSetName(run.head, BAD_CAST first.c_str());
    xmlNode* pair = xmlNewDocNode(doc, nullptr, BAD_CAST second.c_str(), nullptr);
    if (pair == nullptr || xmlAddNextSibling(run.head, pair) == nullptr) throw std::bad_alloc();
    marked.push_back(run);
  }
  runs_.swap(marked);
}

bool CompactMergeLibxml::Merge(std::size_t index, LogCallback log, TickState& tickState) {
  const std::size_t keptBefore = kept_;
  const std::size_t firstPiece = pieces_.size();
  DocumentHandle added;
  const std::optional<Tally> tally = Load(index, added, false);
  if (!tally) return false;
  added.reset();

  // The lines and ticks MergeComments writes for these counts. The removal after
  // the first merge walks every chat of the base; later ones start after the
  // chats already known, with the ticks of those computed from the same counts.
  log(kMergeHeading);
  ticks::Merge(tickState, tally->chats, tally->chats, log);
  log(kDone);
  log(kRemovalHeading);
  const bool first = index == 1;
  const std::size_t known = first ? 0 : keptBefore;
  const std::size_t walked = (first ? baseTally_.chats : 0) + tally->chats;
  std::optional<std::size_t> failsAt;
  std::string malformed;
  if (first && baseTally_.malformedAt) {
    failsAt = *baseTally_.malformedAt;
    malformed = baseTally_.malformedText;
  } else if (tally->malformedAt) {
    failsAt = known + (first ? baseTally_.chats : 0) + *tally->malformedAt;
    malformed = tally->malformedText;
  }
  ticks::Removal(tickState, failsAt.value_or(known + walked), known + walked, log);
  if (failsAt) {
    // Thrown by the same conversion as the whole tree's, for the same text.
    (void)boost::lexical_cast<std::int64_t>(Utf8ToWide(malformed));
  }
  log(kDone);
  if (pieces_.size() > firstPiece) {
    if (runs_.empty() || runs_.back().head != nullptr) runs_.push_back({nullptr, firstPiece, 0});
    runs_.back().pieces = pieces_.size() - runs_.back().firstPiece;
  }
  return true;
}

DocumentHandle CompactMergeLibxml::WholeTree(std::size_t next, const TickState& ticks) {
  base_.reset();
  dump_.reset();
  runs_ = {};
  bytes_ = Arena();
  pieces_ = {};
  seen_ = NumberSet();
  TickState scratch = ticks;  // the rebuild's ticks show nowhere and change nothing
  CommentIndex index;
  DocumentHandle base;
  LoadDocument(inputs_[0], base);
  for (std::size_t i = 1; i < next; ++i) {
    DocumentHandle added;
    LoadDocument(inputs_[i], added);
    MergeComments(added, base, index, &Silent, scratch);
  }
  return base;
}

bool CompactMergeLibxml::ApplyStyleSheet(const std::wstring& styleSheetPath,
                                         const DocumentHandle& destination) {
  xmlDoc* doc = xml::Tree(base_);
  if (!runs_.empty() && runs_.back().head == nullptr) {
    // The appended chats follow everything packet holds.
    xmlNode* packet = xmlDocGetRootElement(doc);
    for (const char which : {'a', 'b'}) {
      xmlNode* marker = xmlNewDocNode(doc, nullptr, BAD_CAST MarkerName(which).c_str(), nullptr);
      if (marker == nullptr || xmlAddChild(packet, marker) == nullptr) throw std::bad_alloc();
      if (which == 'a') runs_.back().head = marker;
    }
  }
  zantrel::ApplyStyleSheet(styleSheetPath, base_, destination, xml::SourceAfter::Released);
  // The plain copy hands the tree over and leaves the source empty; a sheet that
  // changed since the start transformed it instead.
  return xmlDocGetRootElement(xml::Tree(base_)) == nullptr;
}

void CompactMergeLibxml::UpdateLastRes(const DocumentHandle& destination) {
  if (kept_ == 0) {
    zantrel::UpdateLastRes(destination);  // no chat: fails as there
    return;
  }
  // The last chat stands in for a moment where the whole tree has it, so the
  // update reads and fails exactly as there.
  DocumentHandle holder;
  if (CreateDomDocument(holder) < 0 ||
      !xml::LoadXml(holder, L"<chat no=\"" + boost::lexical_cast<std::wstring>(lastNumber_) + L"\"/>",
                    xml::LoadPolicy::Input))
    throw ComError(kEOutOfMemory);
  xml::Node root;
  (void)xml::GetDocumentElement(destination, root);
  xml::Node chat;
  (void)xml::GetDocumentElement(holder, chat);
  xml::AppendChild(root, chat);
  struct Remove {
    const xml::Node& root;
    const xml::Node& chat;
    ~Remove() {
      try {
        xml::RemoveChild(root, chat);
      } catch (...) {
        // It was appended just above; nothing can keep it from leaving.
      }
    }
  } remove{root, chat};
  zantrel::UpdateLastRes(destination);
}

void CompactMergeLibxml::Save(const DocumentHandle& destination, const std::wstring& path) {
  const std::string first = "<" + MarkerName('a') + "/>";
  const std::string second = "<" + MarkerName('b') + "/>";
  xml::SaveSpliced(destination, path, [&](std::string_view text, const xml::SpliceWrite& write) {
    std::size_t offset = 0;  // into the arena, in piece order
    std::size_t piece = 0;
    for (const Run& run : runs_) {
      const std::size_t a = text.find(first);
      const std::size_t b = a == std::string_view::npos ? a : text.find(second, a + first.size());
      if (b == std::string_view::npos) throw ComError(kEFail, L"the comments have no place in the output");
      // What the serialiser writes between two sibling chats at this place.
      const std::string_view between = text.substr(a + first.size(), b - a - first.size());
      write(text.substr(0, a));
      for (std::size_t k = 0; k < run.pieces; ++k, ++piece) {
        if (k > 0) write(between);
        bytes_.Read(offset, pieces_[piece], write);
        offset += pieces_[piece];
      }
      text.remove_prefix(b + second.size());
    }
    if (text.find(first) != std::string_view::npos) throw ComError(kEFail, L"the comments have no place in the output");
    write(text);
  });
}

}  // namespace

std::unique_ptr<CompactMerge> CompactMerge::ForJob(const std::wstring& styleSheetPath,
                                                   const std::vector<std::wstring>& inputs) {
  DocumentHandle sheet;
  if (CreateDomDocument(sheet) < 0 || !xml::Load(sheet, styleSheetPath, xml::LoadPolicy::StyleSheet))
    return nullptr;
  std::optional<std::string> encoding = xml::PlainCopyOutputEncoding(sheet);
  if (!encoding) return nullptr;
  return std::make_unique<CompactMergeLibxml>(inputs, std::move(*encoding));
}

}  // namespace zantrel
