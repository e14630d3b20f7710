#include <sys/mman.h>

#include <cstdlib>
#include <new>

#include "base/large_block.hpp"

namespace zantrel {
namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;

}  // namespace

LargeBlock AllocateLargeBlock(std::size_t size) {
  // Trap: aligned_alloc wants a size that is a multiple of the alignment.
  const std::size_t rounded = (size + kHugePage - 1) / kHugePage * kHugePage;
  LargeBlock block(static_cast<char*>(std::aligned_alloc(kHugePage, rounded)));
  if (!block) throw std::bad_alloc();
  // Only advice: where huge pages are off, the block is simply made of small ones.
  (void)::madvise(block.get(), rounded, MADV_HUGEPAGE);
  return block;
}

}  // namespace zantrel
