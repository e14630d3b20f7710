// The one place that chooses how a job holds its comments (comment_store.hpp).
#include "job/comment_store.hpp"

#include <cstdint>

#include "base/paths.hpp"
#include "engine/comment_stream.hpp"

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

}  // namespace

std::unique_ptr<CommentStore> OpenCommentStore(const MergeInputs& job, MergePath preferred) {
  const bool compact =
      preferred != MergePath::WholeTree && xml::CanStreamComments() && job.sheet.Ready() != nullptr &&
      (preferred == MergePath::Compact || job.sheet.CopiesItsSource() || LaterInputsLarge(job.paths));
  return compact ? OpenCompact(job) : OpenWholeTree(job, 0);
}

}  // namespace zantrel
