// The compact merge path on libxml2, inside: the object a job holds and the
// observer that sees each chat of an input as the parser closes it. Internal to
// job/compact_merge*_libxml.cpp; see compact_merge.hpp for the contract.
//
// The later inputs are read on two threads (parse_ahead.hpp): each is parsed and
// its chats serialised with their numbers, then settled in input order by the
// thread that finished: the first copy of each number is kept, its bytes moved
// down within the blocks they were read into. The number set, the kept bytes and
// their lengths are touched by the job's thread while it reads the base, by
// settling from then until the last input is taken, and by the job's thread
// again afterwards.
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

#include <atomic>
#include <cstdint>
#include <exception>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "comments/progress.hpp"
#include "engine/libxml/owners.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "job/compact_merge.hpp"
#include "job/compact_store.hpp"
#include "job/parse_ahead.hpp"

namespace zantrel::compact {

// Thrown by an observer when a document leaves the shapes handled here, or when
// a read ahead is no longer wanted.
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

// Serialises chats as the output will hold them, onto the end of an arena.
class ChatDump {
 public:
  ChatDump(Arena& into, const std::string& outputEncoding) : into_(into), encoding_(outputEncoding) {}
  // The length of the bytes appended for `chat`. They are in the arena only after
  // Finish.
  std::uint32_t Append(xmlNode* chat);
  void Finish();

 private:
  Arena& into_;
  const std::string& encoding_;  // of the sheet's xsl:output; "" for none
  xml::OutputBufferPtr out_;
};

// A later input as read ahead of its turn, before any of its chats is decided.
struct ReadInput {
  explicit ReadInput(BlockPool& pool) : bytes(pool) {}

  struct Chat {
    std::int64_t number;
    std::uint32_t length;  // of its bytes
  };
  enum class Outcome { Read, NotCompact, Failed } outcome = Outcome::Read;
  std::exception_ptr failure;  // Failed: what loading or settling it threw
  Tally tally;
  std::vector<Chat> chats;  // every chat before the first malformed number
  Arena bytes;              // their serialised bytes, one after another
  // Once settled (its chats decided, the bytes of the kept ones moved to the job's):
  std::size_t keptBefore = 0;  // chats of the merged document before this input
  std::size_t firstPiece = 0;  // its first kept chat among the job's pieces
  std::size_t keptPieces = 0;
};

class CompactMergeLibxml;

// Sees each chat of one input as the parser closes it, and shrinks the tree so
// that at most one chat is whole at any time. The base's chats are decided (and
// kept when first copies) by the job as they come; a later input's are only
// serialised, to be decided when the input is settled.
class Intake final : public xml::ElementEndObserver {
 public:
  explicit Intake(CompactMergeLibxml& job) : job_(&job) {}
  Intake(ReadInput& into, ChatDump& dump, const std::atomic<bool>& stop)
      : read_(&into), dump_(&dump), stop_(&stop) {}
  void ElementEnded(xmlNode* element) override;
  const Tally& Result() const noexcept { return tally_; }

 private:
  CompactMergeLibxml* job_ = nullptr;  // the base's
  ReadInput* read_ = nullptr;          // a later input's
  ChatDump* dump_ = nullptr;
  const std::atomic<bool>* stop_ = nullptr;
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
    dump_.emplace(bytes_, outputEncoding_);
  }

  bool LoadBase() override;
  bool Merge(std::size_t index, LogCallback log, TickState& tickState) override;
  DocumentHandle WholeTree(std::size_t next, const TickState& ticks) override;
  bool ApplyStyleSheet(const std::wstring& styleSheetPath, const DocumentHandle& destination) override;
  void UpdateLastRes(const DocumentHandle& destination) override;
  void Save(const DocumentHandle& destination, const std::wstring& path) override;

  // --- for Intake, on the base ---
  // True when `number` is a first copy; the chat that has it is then kept.
  bool Accept(std::int64_t number);
  void Keep(xmlNode* chat) { pieces_.push_back(dump_->Append(chat)); }
  void StartRun(xmlNode* head) { runs_.push_back({head, pieces_.size(), 0}); }
  void EndRun() { runs_.back().pieces = pieces_.size() - runs_.back().firstPiece; }

 private:
  struct Run {
    xmlNode* head;  // base runs: the emptied first chat, later the first marker
    std::size_t firstPiece;
    std::size_t pieces;
  };

  // Loads input `index` through `intake`. False when it is not handled here.
  bool Load(std::size_t index, DocumentHandle& doc, Intake& intake) const;
  // Reads a later input ahead, on either thread; failures are in the result.
  ReadInput ReadAhead(std::size_t index, const std::atomic<bool>& stop) noexcept;
  // Decides a read input's chats, in input order, on either thread (never two at
  // once). False when the job stops at this input.
  bool Settle(ReadInput& read) noexcept;
  void MarkRuns();
  std::string MarkerName(char which) const { return marker_ + which; }

  // Read by both threads: never changed.
  const std::vector<std::wstring> inputs_;
  const std::string outputEncoding_;  // of the sheet's xsl:output; "" for none
  std::string marker_;

  BlockPool pool_;       // outlives every arena below and in ahead_
  DocumentHandle base_;  // the base without its chats
  Tally baseTally_;
  std::vector<Run> runs_;  // base runs, then the appended one
  Arena bytes_{pool_};
  std::vector<std::uint32_t> pieces_;  // length of each kept chat's bytes
  std::optional<ChatDump> dump_;        // serialises the base's kept chats into bytes_
  NumberSet seen_;
  std::int64_t lastNumber_ = 0;  // of the last kept chat
  std::size_t kept_ = 0;         // chats of the merged document so far
  // Declared last: its threads read the members above until it is gone.
  std::optional<ParseAhead<ReadInput>> ahead_;
};

}  // namespace zantrel::compact
