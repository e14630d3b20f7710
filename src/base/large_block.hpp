// Large blocks of memory for bulk bytes, held in as few pages as the system
// allows: where it can, a block lies on huge-page boundaries and asks for huge
// pages, so filling it costs a handful of page faults instead of one per 4 KiB.
//
// Any thread. The returned pointer owns the block. Throws std::bad_alloc when no
// memory is to be had; the contents are not initialised.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>

namespace zantrel {

// Both platforms allocate with the C library, so one deleter serves.
struct LargeBlockFree {
  void operator()(char* block) const noexcept { std::free(block); }
};
using LargeBlock = std::unique_ptr<char[], LargeBlockFree>;

LargeBlock AllocateLargeBlock(std::size_t size);

}  // namespace zantrel
