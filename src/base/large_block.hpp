// Large blocks of memory for bulk bytes, from the C library. Trap: asking for
// huge pages made the kernel zero 2 MiB at a time ahead of the writes, out of
// the cache; on the machines measured that cost more than the page faults it
// saved, so a block is made of ordinary pages, each zeroed just before it is
// first written.
//
// Any thread. The returned pointer owns the block. Throws std::bad_alloc when no
// memory is to be had; the contents are not initialised.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace zantrel {

struct LargeBlockFree {
  void operator()(char* block) const noexcept { std::free(block); }
};
using LargeBlock = std::unique_ptr<char[], LargeBlockFree>;

inline LargeBlock AllocateLargeBlock(std::size_t size) {
  LargeBlock block(static_cast<char*>(std::malloc(size)));
  if (!block) throw std::bad_alloc();
  return block;
}

}  // namespace zantrel
