// Where the compact merge path keeps what it holds per comment: the serialised
// bytes of the kept comments in an append-only arena of fixed blocks (nothing is
// copied when it grows), and the numbers seen so far in an open-addressing set (a
// fraction of an ordered set's memory).
//
// Used by one job's thread; each object owns its memory. Only allocation throws.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

namespace zantrel {

// Append-only bytes in fixed blocks: no copy of what is held when it grows.
class Arena {
 public:
  void Append(std::string_view bytes) {
    while (!bytes.empty()) {
      if (blocks_.empty() || used_ == kBlock) {
        blocks_.push_back(std::make_unique<char[]>(kBlock));
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

 private:
  static constexpr std::size_t kBlock = std::size_t{4} << 20;
  std::vector<std::unique_ptr<char[]>> blocks_;
  std::size_t used_ = 0;
  std::size_t size_ = 0;
};

// The numbers seen so far.
class NumberSet {
 public:
  // True when the number was not there yet.
  bool Insert(std::int64_t number) {
    if (number == kEmpty) return !std::exchange(hasEmptyKey_, true);
    if ((count_ + 1) * 2 > slots_.size()) Grow();
    const bool added = Place(slots_, number);
    count_ += added ? 1 : 0;
    return added;
  }

 private:
  static constexpr std::int64_t kEmpty = std::numeric_limits<std::int64_t>::min();

  static std::size_t Hash(std::int64_t number) noexcept {
    auto x = static_cast<std::uint64_t>(number) + 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::size_t>(x ^ (x >> 31));
  }
  static bool Place(std::vector<std::int64_t>& slots, std::int64_t number) {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = Hash(number) & mask;; i = (i + 1) & mask) {
      if (slots[i] == number) return false;
      if (slots[i] == kEmpty) {
        slots[i] = number;
        return true;
      }
    }
  }
  void Grow() {
    std::vector<std::int64_t> bigger(slots_.empty() ? 1024 : slots_.size() * 2, kEmpty);
    for (const std::int64_t n : slots_)
      if (n != kEmpty) Place(bigger, n);
    slots_.swap(bigger);
  }

  std::vector<std::int64_t> slots_;
  std::size_t count_ = 0;
  bool hasEmptyKey_ = false;
};

}  // namespace zantrel
