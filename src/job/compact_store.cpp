// The compact form: each kept comment held as its saved bytes, in an arena in
// document order, with its length; the base read without its chats
// (engine/comment_stream.hpp). The later inputs are read on two threads: each is
// read with its chats serialised, then settled in input order by the thread that
// finished it: the first copy of each number is kept, its bytes moved down within
// the blocks they were read into, so kept bytes are held once, and the end
// (compact_end.hpp) takes them. The log lines and ticks come from the counts, by
// the same rules the whole tree follows, on the job's thread alone.
#include <exception>
#include <optional>
#include <stdexcept>
#include <string>

#include "base/byte_arena.hpp"
#include "base/read_ahead.hpp"
#include "comments/operations.hpp"
#include "engine/comment_vocabulary.hpp"
#include "job/comment_store.hpp"
#include "job/compact_end.hpp"

namespace zantrel {
namespace {

// An input as read, before and after its chats are decided: made by the thread
// that reads it, handed through the read-ahead to the job's thread.
struct ReadInput final : xml::ChatReceiver {
  explicit ReadInput(BlockPool& pool) : bytes(pool) {}

  struct Pending {
    std::int64_t number;
    std::uint32_t length;  // of its bytes
    bool startsRun;
  };
  // Stopped: the read was no longer wanted because something else ended the job.
  enum class Outcome { Read, NotCompact, Stopped, Failed } outcome = Outcome::Read;
  std::exception_ptr failure;  // Failed: what reading or settling it threw
  std::size_t chats = 0;       // every chat, in document order
  std::optional<std::size_t> malformedAt;  // index of the first malformed number
  std::string malformedText;
  std::vector<Pending> decided;  // the chats before the first malformed number, to be decided
  Arena bytes;                   // the bytes of every chat, one after another
  // Once settled: the merged document's chats before and after this input.
  std::size_t keptBefore = 0;
  std::size_t keptAfter = 0;

  void Chat(const xml::StreamedChat& chat) override {
    const std::size_t index = chats++;
    if (malformedAt) return;  // the job stops there: what follows is never decided
    const std::optional<std::int64_t> number = TryCommentNumberOf(chat.number);
    if (!number) {
      malformedAt = index;
      malformedText = std::string(*chat.number);
      return;
    }
    decided.push_back({*number, chat.length, chat.startsRun});
  }
};

class CompactStore final : public CommentStore {
 public:
  CompactStore(const MergeInputs& job, std::unique_ptr<CompactEnd> end)
      : job_(job), sheet_(*job.sheet.Ready()), settling_(std::in_place, pool_, std::move(end)) {}

  Step LoadBase() override {
    Settling& settling = *settling_;
    // The later inputs are read while the base is; settling waits for Open.
    ahead_.emplace(
        1, job_.paths.size(), 2, true,
        [this](std::size_t index, StopFlag& stop) { return ReadLater(index, stop); },
        [this](std::size_t index, ReadInput& read, Settling& into) { return Settle(read, index, into); });
    ReadInput read(pool_);
    if (!settling.end->ReadBase(job_.paths[0], sheet_, read.bytes, read)) return Step::NeedsWholeTree;
    (void)Settle(read, 0, settling);
    if (read.outcome == ReadInput::Outcome::Failed) std::rethrow_exception(read.failure);
    if (!settling.end->BaseSettled(settling.kept)) return Step::NeedsWholeTree;
    baseChats_ = read.chats;
    baseMalformedAt_ = read.malformedAt;
    baseMalformedText_ = std::move(read.malformedText);
    ahead_->Open(std::move(settling));
    settling_.reset();
    return Step::Done;
  }

  Step Merge(std::size_t index, LogCallback log) override {
    ReadInput read = ahead_->Take(index);
    switch (read.outcome) {
      case ReadInput::Outcome::Read:
        break;
      case ReadInput::Outcome::NotCompact:
        return Step::NeedsWholeTree;
      case ReadInput::Outcome::Failed:
        std::rethrow_exception(read.failure);
      case ReadInput::Outcome::Stopped:
        // Never a reason to read it again. A failure that stops the reading halts
        // the settling at its own input, which is taken, and fails the job, first.
        throw std::logic_error("an input was taken whose reading had been stopped");
    }
    // The first merge's removal walks every chat of the base, the later ones only
    // the appended chats: a malformed number is met where the whole tree meets it.
    const bool first = index == 1;
    const std::size_t before = first ? baseChats_ : read.keptBefore;
    std::optional<std::size_t> malformedAt;
    const std::string* malformedText = &read.malformedText;
    if (first && baseMalformedAt_) {
      malformedAt = baseMalformedAt_;
      malformedText = &baseMalformedText_;
    } else if (read.malformedAt) {
      malformedAt = before + *read.malformedAt;
    }
    LogMergeByCounts(known_, before + read.chats, read.chats, read.keptAfter, malformedAt, job_.progress, log);
    if (malformedAt) (void)CommentNumberOf(std::string_view(*malformedText));  // throws as the whole tree does
    return Step::Done;
  }

  void Transform(const DocumentHandle& destination) override {
    // Every input is settled: what settling owned is this thread's again.
    settling_.emplace(ahead_->Finish());
    ahead_.reset();
    settling_->end->Transform(settling_->kept, job_.sheet, destination);
  }
  void UpdateLastRes(const DocumentHandle& destination) override {
    settling_->end->UpdateLastRes(settling_->kept, destination);
  }
  void Save(const DocumentHandle& destination, const std::wstring& path) override {
    settling_->end->Save(settling_->kept, destination, path);
  }

 private:
  // A later input read ahead, on either thread; failures travel in the result.
  ReadInput ReadLater(std::size_t index, StopFlag& stop) noexcept {
    ReadInput read(pool_);
    try {
      switch (xml::StreamComments(job_.paths[index], sheet_, read.bytes, read, stop)) {
        case xml::StreamOutcome::Read:
          break;
        case xml::StreamOutcome::NotReproducible:
          read.outcome = ReadInput::Outcome::NotCompact;
          break;
        case xml::StreamOutcome::Stopped:
          read.outcome = ReadInput::Outcome::Stopped;
          break;
      }
    } catch (...) {
      read.outcome = ReadInput::Outcome::Failed;
      read.failure = std::current_exception();
    }
    return read;
  }

  // Decides a read input's chats into `into`, in input order, on the side that
  // owns it: the first copy of each number stays. False when the job stops at it.
  bool Settle(ReadInput& read, std::size_t index, Settling& into) const noexcept {
    if (read.outcome != ReadInput::Outcome::Read) return false;
    try {
      Kept& kept = into.kept;
      const bool base = index == 0;
      read.keptBefore = kept.lengths.size();
      // Room first, so the loop below cannot fail halfway.
      kept.lengths.reserve(kept.lengths.size() + read.decided.size());
      into.seen.Reserve(read.decided.size());
      if (base) kept.keptPerRun.reserve(read.decided.size());
      Arena::Mover move(kept.bytes, read.bytes);
      for (const ReadInput::Pending& chat : read.decided) {
        if (base && chat.startsRun) kept.keptPerRun.push_back(0);
        if (!into.seen.Insert(chat.number)) {
          move.Skip(chat.length);
          continue;
        }
        kept.lengths.push_back(chat.length);
        move.Keep(chat.length);
        kept.lastNumber = chat.number;
        if (base) ++kept.keptPerRun.back();
      }
      move.Finish();
      if (!base) into.end->InputSettled(kept, job_.paths[index]);
      read.keptAfter = kept.lengths.size();
      read.decided = {};
      return !read.malformedAt;
    } catch (...) {
      read.outcome = ReadInput::Outcome::Failed;
      read.failure = std::current_exception();
      return false;
    }
  }

  const MergeInputs& job_;
  const xml::Sheet& sheet_;
  BlockPool pool_;  // outlives every arena below and in ahead_
  // The job's thread's own: what the log needs.
  std::size_t baseChats_ = 0;
  std::optional<std::size_t> baseMalformedAt_;
  std::string baseMalformedText_;
  KnownChats known_;
  // This thread's until the base is settled, the read-ahead's until every input
  // is, this thread's again after.
  std::optional<Settling> settling_;
  // Declared last: its threads use the pool and the settling it holds until it is gone.
  std::optional<ReadAhead<ReadInput, Settling>> ahead_;
};

}  // namespace

std::unique_ptr<CommentStore> OpenCompact(const MergeInputs& job, std::unique_ptr<CompactEnd> end) {
  return std::make_unique<CompactStore>(job, std::move(end));
}

}  // namespace zantrel
