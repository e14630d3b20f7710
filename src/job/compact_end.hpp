// What the compact form does with the comments it keeps (compact_store.cpp): the
// reading and settling of the inputs is one core; the end, chosen once when the
// store opens, is what becomes of the kept bytes. Internal to job/.
//
//   splice    (a plain copy) the small base goes through the real transform, and
//             the kept bytes are written between its markers at saving;
//   rebuilt   (a sheet of one's own) the merged document is pushed to a parser as
//             the inputs settle, and becomes one tree for the transform.
//
// Threads: the Settling (the kept bytes, the numbers, the end and what it builds)
// belongs to one side at a time: the job's thread while it reads the base, then
// the read-ahead's settle hook (on either of its threads, never two at once),
// then the job's thread again once every input is settled. Failures throw what
// the job reports (CallTextError, ComError, std::bad_alloc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/byte_arena.hpp"
#include "comments/number_set.hpp"
#include "engine/comment_stream.hpp"
#include "engine/documents.hpp"

namespace zantrel {

// The comments kept so far, in document order.
struct Kept {
  explicit Kept(BlockPool& blocks) : pool(&blocks), bytes(blocks) {}
  BlockPool* pool;                      // outlives the arena
  Arena bytes;                          // each kept chat's bytes, one after another
  std::vector<std::uint32_t> lengths;   // of each kept chat
  std::vector<std::size_t> keptPerRun;  // of each run of the base's chats
  std::optional<std::int64_t> lastNumber;
};

class CompactEnd {
 public:
  virtual ~CompactEnd() = default;
  // Job's thread, first: input 0 read with its chats onto `bytes` through
  // `receiver`. False: the base is no document this form reproduces.
  virtual bool ReadBase(const std::wstring& path, const xml::Sheet& sheet, Arena& bytes,
                        xml::ChatReceiver& receiver) = 0;
  // Job's thread: the base's chats are settled into `kept`. False, having
  // changed nothing, where this end cannot follow the job.
  virtual bool BaseSettled(Kept& kept) = 0;
  // Settle hook: a later input's chats are settled into `kept`, in input order.
  virtual void InputSettled(Kept& kept, const std::wstring& path) = 0;
  // Job's thread, once every input is settled.
  virtual void Transform(Kept& kept, const StyleSheet& sheet, const DocumentHandle& destination) = 0;
  virtual void UpdateLastRes(const Kept& kept, const DocumentHandle& destination) = 0;
  virtual void Save(const Kept& kept, const DocumentHandle& destination, const std::wstring& path) = 0;
};

// What the settling side owns between the base and the last input.
struct Settling {
  Settling(BlockPool& pool, std::unique_ptr<CompactEnd> chosen) : kept(pool), end(std::move(chosen)) {}
  Kept kept;
  NumberSet seen;  // the numbers kept: the first copy of each wins
  std::unique_ptr<CompactEnd> end;
};

std::unique_ptr<CompactEnd> SplicingEnd();
std::unique_ptr<CompactEnd> RebuildingEnd();

struct MergeInputs;
class CommentStore;
// The compact store over the end chosen for the job (compact_store.cpp).
std::unique_ptr<CommentStore> OpenCompact(const MergeInputs& job, std::unique_ptr<CompactEnd> end);

}  // namespace zantrel
