// The compact merge path on libxml2, inside: the object a job holds and the
// observer that sees each chat of an input as the parser closes it. Internal to
// job/compact_merge*_libxml.cpp; see compact_merge.hpp for the contract.
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
#pragma once

#include <libxml/tree.h>

#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "comments/progress.hpp"
#include "engine/libxml/owners.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "job/compact_merge.hpp"
#include "job/compact_store.hpp"

namespace zantrel::compact {

// Thrown by an observer when a document leaves the shapes handled here.
struct NotCompact {};

// The number of one chat in an input, and where a malformed one stops the walk.
struct Tally {
  std::size_t chats = 0;                   // every chat, in document order
  std::optional<std::size_t> malformedAt;  // index of the first malformed `no`
  std::string malformedText;
};

inline bool IsNamed(const xmlNode* node, const char* name) {
  return node != nullptr && node->type == XML_ELEMENT_NODE && xmlStrEqual(node->name, BAD_CAST name);
}

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
  xml::OutputBufferPtr dump_;                     // serialises kept chats into bytes_
  NumberSet seen_;
  std::int64_t lastNumber_ = 0;  // of the last kept chat
  std::size_t kept_ = 0;         // chats of the merged document so far
};

}  // namespace zantrel::compact
