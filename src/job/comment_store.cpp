// The one place that chooses how a job holds its comments, and hands a job the
// compact form cannot follow to the whole tree (comment_store.hpp).
#include "job/comment_store.hpp"

#include <cstdint>
#include <stdexcept>

#include "base/paths.hpp"
#include "engine/comment_stream.hpp"
#include "job/compact_end.hpp"

namespace zantrel {
namespace {

// Later inputs from this size on are held compactly whatever the sheet: as trees
// they would take about ten times as much memory.
constexpr std::uint64_t kLargeInputs = std::uint64_t{64} << 20;

bool LaterInputsLarge(const std::vector<std::wstring>& paths) {
  std::uint64_t total = 0;
  for (std::size_t i = 1; i < paths.size(); ++i) total += FileSize(paths[i]);
  return total >= kLargeInputs;
}

std::unique_ptr<CommentStore> OpenStore(const MergeInputs& job, MergePath preferred) {
  // The one place that asks the kind of sheet: a plain copy takes the small base
  // through the transform and the kept bytes into the saved file; any other
  // sheet needs the merged document as one tree.
  const bool plainCopy = job.sheet.CopiesItsSource();
  const bool compact = preferred != MergePath::WholeTree && xml::CanStreamComments() &&
                       job.sheet.Ready() != nullptr &&
                       (preferred == MergePath::Compact || plainCopy || LaterInputsLarge(job.paths));
  if (!compact) return OpenWholeTree(job, 0);
  return OpenCompact(job, plainCopy ? SplicingEnd() : RebuildingEnd());
}

}  // namespace

JobComments::JobComments(const MergeInputs& job, MergePath preferred)
    : job_(job), store_(OpenStore(job, preferred)) {}

template <typename Run>
void JobComments::Take(const Run& step) {
  if (step(*store_) == Step::Done) return;
  // The whole tree needs the memory more: the compact store goes first.
  store_.reset();
  store_ = OpenWholeTree(job_, merged_);
  if (step(*store_) != Step::Done) throw std::logic_error("the whole tree follows every job");
}

void JobComments::LoadBase() {
  Take([](CommentStore& store) { return store.LoadBase(); });
  merged_ = 1;
}

void JobComments::Merge(std::size_t index, LogCallback log) {
  Take([&](CommentStore& store) { return store.Merge(index, log); });
  merged_ = index + 1;
}

}  // namespace zantrel
