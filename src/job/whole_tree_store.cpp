// The whole tree: every input a document, merged into the base node by node.
#include <exception>
#include <optional>

#include "base/read_ahead.hpp"
#include "comments/operations.hpp"
#include "job/comment_store.hpp"

namespace zantrel {
namespace {

// An input's document, or what its load threw.
struct LoadedInput {
  DocumentHandle doc;
  std::exception_ptr failure;
};

void Silent(const std::wstring&) {}

class WholeTreeStore final : public CommentStore {
 public:
  WholeTreeStore(const MergeInputs& job, std::size_t merged) : job_(job) {
    // The later inputs are read one ahead while this thread merges, and freed off
    // it; each still fails the job where it is taken.
    ahead_.emplace(1, job.paths.size(), 1, xml::DocumentsMoveBetweenThreads(),
                   [this](std::size_t index, StopFlag& stop) { return Load(index, stop); });
    if (merged == 0) return;
    // Built again as the job had it, without log lines; the ticks go against a
    // copy that nobody sees.
    LoadDocument(job.paths[0], base_);
    TickState scratch = job.progress;
    for (std::size_t i = 1; i < merged; ++i) MergeInput(i, &Silent, scratch);
  }

  Step LoadBase() override {
    LoadDocument(job_.paths[0], base_);
    return Step::Done;
  }
  Step Merge(std::size_t index, LogCallback log) override {
    MergeInput(index, log, job_.progress);
    return Step::Done;
  }
  void Transform(const DocumentHandle& destination) override {
    ahead_.reset();  // every input is merged
    // The merged base is not read again: the component may hand its tree over.
    ApplyStyleSheet(job_.sheet, base_, destination, xml::SourceAfter::Released);
    base_.reset();
  }
  void UpdateLastRes(const DocumentHandle& destination) override { zantrel::UpdateLastRes(destination); }
  void Save(const DocumentHandle& destination, const std::wstring& path) override {
    SaveDocument(destination, path);
  }

 private:
  LoadedInput Load(std::size_t index, StopFlag& stop) const noexcept {
    LoadedInput loaded;
    try {
      LoadDocument(job_.paths[index], loaded.doc, &stop);
    } catch (...) {
      loaded.doc.reset();
      loaded.failure = std::current_exception();
      stop.Request();  // the job ends at this input: nothing after it is wanted
    }
    return loaded;
  }

  void MergeInput(std::size_t index, LogCallback log, TickState& ticks) {
    LoadedInput added = ahead_->Take(index);
    if (added.failure) std::rethrow_exception(added.failure);
    MergeComments(added.doc, base_, index_, log, ticks);
    ahead_->Dispose(std::move(added));
  }

  const MergeInputs& job_;
  DocumentHandle base_;
  // What the job knows of the base's chats: the removal after each merge looks
  // only at the chats that merge appended.
  CommentIndex index_;
  // Declared last: its helper reads the members above until it is gone.
  std::optional<ReadAhead<LoadedInput>> ahead_;
};

}  // namespace

std::unique_ptr<CommentStore> OpenWholeTree(const MergeInputs& job, std::size_t merged) {
  return std::make_unique<WholeTreeStore>(job, merged);
}

}  // namespace zantrel
