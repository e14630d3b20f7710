// The compact merge path on libxml2: loading, merging, the hand-over to the whole
// tree, the style-sheet step, last_res and saving (compact_merge_libxml.hpp).
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>

#include <boost/lexical_cast.hpp>
#include <algorithm>
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
#include "engine/libxml/owners.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "job/compact_merge_libxml.hpp"

namespace zantrel::compact {
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

}  // namespace

bool CompactMergeLibxml::Load(std::size_t index, DocumentHandle& doc, Intake& intake) const {
  const std::wstring& path = inputs_[index];
  if (!PathExists(path)) return false;  // LoadDocument would parse the path as text
  if (CreateDomDocument(doc) < 0)
    throw CallTextError("pDoc.CreateInstance( __uuidof( MSXML2::DOMDocument ) )");
  bool loaded = false;
  try {
    loaded = xml::LoadObserved(doc, path, intake);
  } catch (const NotCompact&) {
    return false;
  }
  if (!loaded) throw CallTextError("pDoc->load()[loadXML()]", xml::LoadRefusal(doc));
  // The transform hands over only a source without namespaces.
  return xml::IsNamespaceFree(doc);
}

ReadInput CompactMergeLibxml::ReadAhead(std::size_t index, const std::atomic<bool>& stop) noexcept {
  ReadInput read(pool_);
  try {
    ChatDump dump(read.bytes, outputEncoding_);
    Intake intake(read, dump, stop);
    DocumentHandle doc;  // made, shrunk and freed on this thread
    if (!Load(index, doc, intake)) read.outcome = ReadInput::Outcome::NotCompact;
    dump.Finish();
    read.tally = intake.Result();
  } catch (...) {
    read.outcome = ReadInput::Outcome::Failed;
    read.failure = std::current_exception();
  }
  return read;
}

bool CompactMergeLibxml::Settle(ReadInput& read) noexcept {
  if (read.outcome != ReadInput::Outcome::Read) return false;
  try {
    read.keptBefore = kept_;
    read.firstPiece = pieces_.size();
    // Room first, so the loop below cannot fail halfway.
    const std::size_t needed = pieces_.size() + read.chats.size();
    if (pieces_.capacity() < needed) pieces_.reserve(std::max(needed, 2 * pieces_.capacity()));
    seen_.Reserve(read.chats.size());
    // The first copy of each number is kept, its bytes moved onto the kept ones.
    Arena::Mover move(bytes_, read.bytes);
    for (const ReadInput::Chat& chat : read.chats) {
      if (Accept(chat.number)) {
        pieces_.push_back(chat.length);
        move.Keep(chat.length);
      } else {
        move.Skip(chat.length);
      }
    }
    move.Finish();
    read.keptPieces = pieces_.size() - read.firstPiece;
    read.chats = {};
    // A malformed number fails the job at this input: read nothing further.
    return !read.tally.malformedAt;
  } catch (...) {
    read.outcome = ReadInput::Outcome::Failed;
    read.failure = std::current_exception();
    return false;
  }
}

bool CompactMergeLibxml::LoadBase() {
  // The later inputs are read while the base is.
  ahead_.emplace(
      1, inputs_.size(),
      [this](std::size_t index, const std::atomic<bool>& stop) { return ReadAhead(index, stop); },
      [this](std::size_t, ReadInput& read) { return Settle(read); });
  Intake intake(*this);
  if (!Load(0, base_, intake)) return false;
  dump_->Finish();
  const xmlNode* root = xmlDocGetRootElement(xml::Tree(base_));
  // Merging needs /packet; without it the whole tree fails there in its own words.
  if (!IsNamed(root, "packet") || root->ns != nullptr) return false;
  baseTally_ = intake.Result();
  MarkRuns();
  ahead_->Open();
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
      xml::NodePtr gone(run.head);
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
  ReadInput read = ahead_->Take(index);
  if (read.outcome == ReadInput::Outcome::Failed) std::rethrow_exception(read.failure);
  if (read.outcome == ReadInput::Outcome::NotCompact) return false;
  const std::size_t keptBefore = read.keptBefore;
  const Tally& tally = read.tally;

  // The lines and ticks MergeComments writes for these counts. The removal after
  // the first merge walks every chat of the base; later ones start after the
  // chats already known, with the ticks of those computed from the same counts.
  log(kMergeHeading);
  ticks::Merge(tickState, tally.chats, tally.chats, log);
  log(kDone);
  log(kRemovalHeading);
  const bool first = index == 1;
  const std::size_t known = first ? 0 : keptBefore;
  const std::size_t walked = (first ? baseTally_.chats : 0) + tally.chats;
  std::optional<std::size_t> failsAt;
  std::string malformed;
  if (first && baseTally_.malformedAt) {
    failsAt = *baseTally_.malformedAt;
    malformed = baseTally_.malformedText;
  } else if (tally.malformedAt) {
    failsAt = known + (first ? baseTally_.chats : 0) + *tally.malformedAt;
    malformed = tally.malformedText;
  }
  ticks::Removal(tickState, failsAt.value_or(known + walked), known + walked, log);
  if (failsAt) {
    // Thrown by the same conversion as the whole tree's, for the same text.
    (void)boost::lexical_cast<std::int64_t>(Utf8ToWide(malformed));
  }
  log(kDone);
  if (read.keptPieces > 0) {
    if (runs_.empty() || runs_.back().head != nullptr) runs_.push_back({nullptr, read.firstPiece, 0});
    runs_.back().pieces = read.firstPiece + read.keptPieces - runs_.back().firstPiece;
  }
  return true;
}

DocumentHandle CompactMergeLibxml::WholeTree(std::size_t next, const TickState& ticks) {
  ahead_.reset();
  base_.reset();
  dump_.reset();
  runs_ = {};
  bytes_.Clear();
  pool_.Release();  // the whole tree needs the memory more
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
  ahead_.reset();  // every input is settled: the kept bytes are the job's alone again
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

}  // namespace zantrel::compact

namespace zantrel {

std::unique_ptr<CompactMerge> CompactMerge::ForJob(const std::wstring& styleSheetPath,
                                                   const std::vector<std::wstring>& inputs) {
  DocumentHandle sheet;
  if (CreateDomDocument(sheet) < 0 || !xml::Load(sheet, styleSheetPath, xml::LoadPolicy::StyleSheet))
    return nullptr;
  std::optional<std::string> encoding = xml::PlainCopyOutputEncoding(sheet);
  if (!encoding) return nullptr;
  return std::make_unique<compact::CompactMergeLibxml>(inputs, std::move(*encoding));
}

}  // namespace zantrel
