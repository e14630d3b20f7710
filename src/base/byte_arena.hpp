// Bytes in bulk: an append-only arena of fixed blocks (nothing is copied when it
// grows) whose blocks pass through a pool from arenas that are done to arenas
// that grow, so memory once touched is used again.
//
// An arena is used by one thread at a time; the pool by any, and it must outlive
// the arenas that use it. Only allocation throws (std::bad_alloc).
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "base/large_block.hpp"

namespace zantrel {

// Blocks of a fixed size passed from arenas that are done to arenas that grow,
// so memory once touched is used again instead of new pages being faulted in.
// Any thread.
class BlockPool {
 public:
  static constexpr std::size_t kBlock = std::size_t{4} << 20;
  using Block = LargeBlock;

  Block Get() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!free_.empty()) {
        Block block = std::move(free_.back());
        free_.pop_back();
        return block;
      }
    }
    return AllocateLargeBlock(kBlock);  // not zeroed: every byte is written before it is read
  }
  // Frees the blocks kept for reuse.
  void Release() noexcept {
    std::vector<Block> gone;
    std::lock_guard<std::mutex> lock(mutex_);
    gone.swap(free_);
  }
  void Put(Block block) noexcept {
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      free_.push_back(std::move(block));
    } catch (...) {
      // No room to keep it: it is freed instead.
    }
  }

 private:
  std::mutex mutex_;
  std::vector<Block> free_;
};

// Append-only bytes in fixed blocks from a pool: no copy of what is held when it
// grows, and the blocks go back to the pool with the arena. One thread at a time.
class Arena {
 public:
  explicit Arena(BlockPool& pool) : pool_(&pool) {}
  // Trap: a defaulted move would leave the source's sizes behind its emptied blocks.
  Arena(Arena&& other) noexcept
      : pool_(other.pool_),
        blocks_(std::move(other.blocks_)),
        used_(std::exchange(other.used_, 0)),
        size_(std::exchange(other.size_, 0)) {
    other.blocks_.clear();
  }
  Arena& operator=(Arena&&) = delete;
  ~Arena() { Clear(); }

  void Append(std::string_view bytes) {
    while (!bytes.empty()) {
      if (blocks_.empty() || used_ == kBlock) {
        blocks_.reserve(blocks_.size() + 1);  // so that a taken block always has its place
        blocks_.push_back(pool_->Get());
        used_ = 0;
      }
      const std::size_t n = std::min(bytes.size(), kBlock - used_);
      std::memcpy(blocks_.back().get() + used_, bytes.data(), n);
      used_ += n;
      size_ += n;
      bytes.remove_prefix(n);
    }
  }
  std::size_t Size() const noexcept { return size_; }
  // Hands [begin, begin + length) to `write`, in one or more parts.
  template <typename Write>
  void Read(std::size_t begin, std::size_t length, Write&& write) const {
    while (length > 0) {
      const std::size_t block = begin / kBlock;
      const std::size_t offset = begin % kBlock;
      const std::size_t n = std::min(length, kBlock - offset);
      write(std::string_view(blocks_[block].get() + offset, n));
      begin += n;
      length -= n;
    }
  }
  // Moves chosen pieces of another arena onto the end of this one, in order, and
  // takes over that arena's blocks: the pieces move down within those blocks, so
  // no byte is held twice and no new memory is touched. The source's bytes are
  // its pieces one after another; each is kept or skipped, in order. Nothing
  // changes until Finish, which empties the source.
  class Mover {
   public:
    Mover(Arena& target, Arena& source) : target_(target), source_(source) {
      target_.blocks_.reserve(target_.blocks_.size() + source_.blocks_.size());  // Finish cannot fail
      if (!target_.blocks_.empty() && target_.used_ < kBlock) {
        write_ = target_.blocks_.back().get();
        writeAt_ = target_.used_;
      } else {
        inSource_ = true;  // no room at the target's end: writing starts in the source
        write_ = source_.blocks_.empty() ? nullptr : source_.blocks_.front().get();
      }
    }
    Mover(const Mover&) = delete;
    Mover& operator=(const Mover&) = delete;

    void Skip(std::size_t length) noexcept { read_ += length; }
    void Keep(std::size_t length) noexcept {
      // Trap: the write position never passes the read position (it starts
      // before the source and moves only by what was read), so a block is
      // written only where it has been read; within a block the two may overlap.
      moved_ += length;
      while (length > 0) {
        if (writeAt_ == kBlock) {
          write_ = source_.blocks_[inSource_ ? ++writeBlock_ : writeBlock_].get();
          inSource_ = true;
          writeAt_ = 0;
        }
        const std::size_t readAt = read_ % kBlock;
        const std::size_t n = std::min({length, kBlock - writeAt_, kBlock - readAt});
        std::memmove(write_ + writeAt_, source_.blocks_[read_ / kBlock].get() + readAt, n);
        writeAt_ += n;
        read_ += n;
        length -= n;
      }
    }

    void Finish() noexcept {
      if (moved_ > 0) {
        if (inSource_)
          for (std::size_t b = 0; b <= writeBlock_; ++b) target_.blocks_.push_back(std::move(source_.blocks_[b]));
        target_.used_ = writeAt_;
      }
      target_.size_ += moved_;
      source_.Clear();  // the blocks not taken over go back to the pool
    }

   private:
    Arena& target_;
    Arena& source_;
    bool inSource_ = false;      // writing in the source's blocks (else the target's last)
    char* write_ = nullptr;      // the block written in
    std::size_t writeBlock_ = 0;  // its index in the source, once inSource_
    std::size_t writeAt_ = 0;
    std::size_t read_ = 0;  // into the source
    std::size_t moved_ = 0;
  };

  // Frees the blocks that lie wholly before `offset`, which will not be read
  // again: their memory goes back to the system, not to the pool.
  void FreeBefore(std::size_t offset) noexcept {
    for (std::size_t b = 0; b < offset / kBlock && b < blocks_.size(); ++b) blocks_[b].reset();
  }

  // Empties the arena, its blocks back to the pool.
  void Clear() noexcept {
    for (BlockPool::Block& block : blocks_)
      if (block) pool_->Put(std::move(block));  // null where a Mover took it over or it was freed
    blocks_.clear();
    used_ = size_ = 0;
  }

 private:
  static constexpr std::size_t kBlock = BlockPool::kBlock;
  BlockPool* pool_;
  std::vector<BlockPool::Block> blocks_;
  std::size_t used_ = 0;
  std::size_t size_ = 0;
};

}  // namespace zantrel
