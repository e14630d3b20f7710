// The COM component keeps its own trees: jobs there always take the whole tree.
#include "job/compact_merge.hpp"

namespace zantrel {

std::unique_ptr<CompactMerge> CompactMerge::ForJob(const std::wstring&, const std::vector<std::wstring>&) {
  return nullptr;
}

}  // namespace zantrel
