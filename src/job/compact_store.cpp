// The compact form: each kept comment held as its saved bytes, in an arena in
// document order, with its length; the base as a tree without its chats
// (engine/comment_stream.hpp). The later inputs are read on two threads: each is
// read with its chats serialised, then settled in input order by the thread that
// finished it: the first copy of each number is kept, its bytes moved down within
// the blocks they were read into, so kept bytes are held once. The log lines and
// ticks come from the counts, by the same rules the whole tree follows.
#include <exception>
#include <optional>
#include <string>
#include <thread>

#include "base/byte_arena.hpp"
#include "base/read_ahead.hpp"
#include "comments/operations.hpp"
#include "comments/vocabulary.hpp"
#include "engine/comment_stream.hpp"
#include "job/comment_store.hpp"

namespace zantrel {
namespace {

// An input as read, before and after its chats are decided.
struct ReadInput final : xml::ChatReceiver {
  explicit ReadInput(BlockPool& pool) : bytes(pool) {}

  struct Pending {
    std::int64_t number;
    std::uint32_t length;  // of its bytes
    bool startsRun;
  };
  enum class Outcome { Read, NotCompact, Failed } outcome = Outcome::Read;
  std::exception_ptr failure;  // Failed: what reading or settling it threw
  std::size_t chats = 0;       // every chat, in document order
  std::optional<std::size_t> malformedAt;  // index of the first malformed number
  std::string malformedText;
  std::vector<Pending> decided;  // the chats before the first malformed number, to be decided
  Arena bytes;                // the bytes of every chat, one after another
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
  explicit CompactStore(const MergeInputs& job)
      : job_(job), sheet_(*job.sheet.Ready()), ownSheet_(!job.sheet.CopiesItsSource()) {}

  bool LoadBase() override {
    // The later inputs are read while the base is.
    ahead_.emplace(
        1, job_.paths.size(), 2, true,
        [this](std::size_t index, StopFlag& stop) { return ReadLater(index, stop); },
        [this](std::size_t index, ReadInput& read) { return Settle(read, index); });
    ReadInput read(pool_);
    base_ = xml::StreamBase(job_.paths[0], sheet_, read.bytes, read);
    if (!base_) return false;
    (void)Settle(read, 0);
    if (read.outcome == ReadInput::Outcome::Failed) std::rethrow_exception(read.failure);
    // A sheet of one's own gets the merged document as a tree, built as the
    // inputs are decided.
    if (ownSheet_) {
      if (!base_->BeginMergedTree(keptPerRun_, bytes_, lengths_)) return false;
      Fed();
    }
    baseChats_ = read.chats;
    baseMalformedAt_ = read.malformedAt;
    baseMalformedText_ = std::move(read.malformedText);
    merged_ = 1;
    ahead_->Open();
    return true;
  }

  bool Merge(std::size_t index, LogCallback log) override {
    ReadInput read = ahead_->Take(index);
    if (read.outcome == ReadInput::Outcome::Failed) std::rethrow_exception(read.failure);
    if (read.outcome == ReadInput::Outcome::NotCompact) return false;
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
    LogMergeByCounts(index_, before + read.chats, read.chats, read.keptAfter, malformedAt, job_.progress, log);
    if (malformedAt) (void)CommentNumberOf(std::string_view(*malformedText));  // throws as the whole tree does
    appended_ += read.keptAfter - read.keptBefore;
    merged_ = index + 1;
    return true;
  }

  void Transform(const DocumentHandle& destination) override {
    ahead_.reset();  // every input is settled: what they changed is this thread's again
    if (!ownSheet_) {
      // The small base is the whole result; the kept bytes join it when it is saved.
      base_->PlaceComments(keptPerRun_, appended_);
      ApplyStyleSheet(job_.sheet, base_->Tree(), destination, xml::SourceAfter::Released);
      return;
    }
    // The merged tree is gone as soon as the transform is done.
    DocumentHandle merged = base_->FinishMergedTree();
    base_.reset();
    bytes_.Clear();
    pool_.Release();
    lengths_ = {};
    ApplyStyleSheet(job_.sheet, merged, destination, xml::SourceAfter::Released);
    // Freeing a large tree takes a while: on a thread of its own, beside the save.
    try {
      freeing_ = std::thread([tree = std::move(merged)]() mutable { tree.reset(); });
    } catch (const std::exception&) {
      // No thread to be had: `merged` is freed here.
    }
  }

  void UpdateLastRes(const DocumentHandle& destination) override {
    // The result holds the comments itself where the sheet is one's own.
    if (ownSheet_) {
      zantrel::UpdateLastRes(destination);
    } else {
      zantrel::UpdateLastRes(destination, lastNumber_);
    }
  }

  void Save(const DocumentHandle& destination, const std::wstring& path) override {
    if (ownSheet_) {
      SaveDocument(destination, path);
    } else {
      base_->Save(destination, path, bytes_, lengths_);
    }
  }

  ~CompactStore() override {
    if (freeing_.joinable()) freeing_.join();
  }

  std::unique_ptr<CommentStore> StepAside() override {
    // The whole tree needs the memory more.
    ahead_.reset();
    base_.reset();
    bytes_.Clear();
    pool_.Release();
    lengths_ = {};
    return OpenWholeTree(job_, merged_);
  }

 private:
  // A later input read ahead, on either thread; failures travel in the result.
  ReadInput ReadLater(std::size_t index, StopFlag& stop) noexcept {
    ReadInput read(pool_);
    try {
      if (xml::StreamComments(job_.paths[index], sheet_, read.bytes, read, stop) != xml::StreamOutcome::Read)
        read.outcome = ReadInput::Outcome::NotCompact;
    } catch (...) {
      read.outcome = ReadInput::Outcome::Failed;
      read.failure = std::current_exception();
    }
    return read;
  }

  // Decides a read input's chats, in input order, on either thread (never two at
  // once): the first copy of each number stays. False when the job stops at it.
  bool Settle(ReadInput& read, std::size_t index) noexcept {
    const bool base = index == 0;
    if (read.outcome != ReadInput::Outcome::Read) return false;
    try {
      read.keptBefore = lengths_.size();
      // Room first, so the loop below cannot fail halfway.
      lengths_.reserve(lengths_.size() + read.decided.size());
      index_.Reserve(read.decided.size());
      if (base) keptPerRun_.reserve(read.decided.size());
      Arena::Mover move(bytes_, read.bytes);
      for (const ReadInput::Pending& chat : read.decided) {
        if (base && chat.startsRun) keptPerRun_.push_back(0);
        if (!index_.Insert(chat.number)) {
          move.Skip(chat.length);
          continue;
        }
        lengths_.push_back(chat.length);
        move.Keep(chat.length);
        lastNumber_ = chat.number;
        if (base) ++keptPerRun_.back();
      }
      move.Finish();
      if (ownSheet_ && !base) {
        base_->AddToMergedTree(bytes_, fed_, bytes_.Size(), job_.paths[index]);
        Fed();
      }
      read.keptAfter = lengths_.size();
      read.decided = {};
      return !read.malformedAt;
    } catch (...) {
      read.outcome = ReadInput::Outcome::Failed;
      read.failure = std::current_exception();
      return false;
    }
  }

  // The kept bytes so far are in the merged tree: their blocks can go.
  void Fed() noexcept {
    fed_ = bytes_.Size();
    bytes_.FreeBefore(fed_);
  }

  const MergeInputs& job_;
  const xml::Sheet& sheet_;
  const bool ownSheet_;  // the sheet needs the merged document as a tree
  std::size_t fed_ = 0;  // kept bytes already in that tree
  std::unique_ptr<xml::StreamedBase> base_;
  std::size_t baseChats_ = 0;
  std::optional<std::size_t> baseMalformedAt_;
  std::string baseMalformedText_;
  std::size_t merged_ = 0;    // inputs merged so far, the base included
  std::size_t appended_ = 0;  // chats kept from the later inputs
  // Changed by settling, on either thread, from LoadBase until the last input is
  // taken (base_ too, where it builds the merged tree); by this thread alone
  // before and after. (The index's known count is this thread's throughout.)
  BlockPool pool_;  // outlives every arena below and in ahead_
  Arena bytes_{pool_};
  std::vector<std::uint32_t> lengths_;
  CommentIndex index_;
  std::vector<std::size_t> keptPerRun_;
  std::optional<std::int64_t> lastNumber_;
  std::thread freeing_;  // frees the merged tree after the transform
  // Declared last: its threads use the members above until it is gone.
  std::optional<ReadAhead<ReadInput>> ahead_;
};

}  // namespace

std::unique_ptr<CommentStore> OpenCompact(const MergeInputs& job) { return std::make_unique<CompactStore>(job); }

}  // namespace zantrel
