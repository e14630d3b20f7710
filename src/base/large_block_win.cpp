#include <cstdlib>
#include <new>

#include "base/large_block.hpp"

namespace zantrel {

// Huge pages need a privilege on Windows that a desktop tool does not have.
LargeBlock AllocateLargeBlock(std::size_t size) {
  LargeBlock block(static_cast<char*>(std::malloc(size)));
  if (!block) throw std::bad_alloc();
  return block;
}

}  // namespace zantrel
