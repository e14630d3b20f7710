// What a job knows about the chats of its merged document: the numbers met so far
// (the first copy of each number wins) and how many of the leading chats are known
// to be distinct and kept. With it, the duplicate removal after a merge looks only
// at the chats that merge appended, which keeps a whole job linear in its size.
//
// Owned by the job, one per merged document, and used by one thread at a time.
// It describes the document only while nothing but the merge steps change it; they
// keep it up to date, and leave it not Known() where they cannot: after a failure,
// or when a removed chat took counted chats with it. An index not Known() makes
// the next removal walk every chat. Only allocation throws.
#pragma once

#include <cstddef>
#include <cstdint>

#include "comments/number_set.hpp"

namespace zantrel {

// How many of the merged document's leading chats are known distinct and kept:
// all the removal's walk and ticks need. The compact form keeps only this on the
// job's thread, its numbers being held by the thread that settles the inputs.
class KnownChats {
 public:
  bool Known() const noexcept { return known_; }
  // Leading chats known distinct and kept.
  std::size_t Count() const noexcept { return count_; }
  // While a merge and its removal change the document: nothing is known until
  // Confirm. A failure in between leaves it so.
  void Suspend() noexcept { known_ = false; }
  // The document now holds `count` chats, each with its number known.
  void Confirm(std::size_t count) noexcept {
    known_ = true;
    count_ = count;
  }

 protected:
  void Reset() noexcept {
    known_ = false;
    count_ = 0;
  }

 private:
  bool known_ = false;
  std::size_t count_ = 0;
};

// The same with the numbers met so far, for the whole tree's merge.
class CommentIndex : public KnownChats {
 public:
  CommentIndex() = default;
  CommentIndex(const CommentIndex&) = delete;
  CommentIndex& operator=(const CommentIndex&) = delete;

  // True for a first copy: its number was not met yet.
  bool Insert(std::int64_t number) { return seen_.Insert(number); }
  // Room for `more` numbers, so that inserting them cannot fail.
  void Reserve(std::size_t more) { seen_.Reserve(more); }
  // Back to a fresh index, for a walk over every chat.
  void Forget() {
    Reset();
    seen_ = NumberSet();
  }

 private:
  NumberSet seen_;
};

}  // namespace zantrel
