// What a job knows about the chats of its base document: how many of the leading
// chats are known to be distinct and kept, and their numbers. With it, the
// duplicate removal after a merge looks only at the chats that merge appended,
// which keeps a whole job linear in its size.
//
// Owned by the job, one per base document, and used on the job's thread only.
// It describes the base only while nothing but MergeComments changes that
// document; MergeComments keeps it up to date, and leaves it empty (not Known())
// where it cannot: after a failure, or when a removed chat took counted chats
// with it. An empty index makes the next removal walk every chat. Never throws
// but for allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory_resource>
#include <set>

namespace zantrel {

class CommentIndex {
 public:
  CommentIndex() = default;
  CommentIndex(const CommentIndex&) = delete;
  CommentIndex& operator=(const CommentIndex&) = delete;

  bool Known() const noexcept { return known_; }
  // Leading chats of the base known distinct and kept.
  std::size_t Count() const noexcept { return count_; }
  // False when the number was there already.
  bool Insert(std::int64_t number) { return seen_.insert(number).second; }

  // While a merge and its removal change the base: the numbers stay, but nothing
  // is known until Confirm. A failure in between leaves it so.
  void Suspend() noexcept { known_ = false; }
  // The base now holds `count` chats, each with its number in the set.
  void Confirm(std::size_t count) noexcept {
    known_ = true;
    count_ = count;
  }
  // Back to a fresh index, for a walk over every chat.
  void Forget() {
    known_ = false;
    count_ = 0;
    seen_.clear();
  }

 private:
  bool known_ = false;
  std::size_t count_ = 0;
  // Numbers are only ever added between Forget()s: their nodes come from one
  // growing pool.
  std::pmr::monotonic_buffer_resource pool_;
  std::pmr::set<std::int64_t> seen_{&pool_};
};

}  // namespace zantrel
