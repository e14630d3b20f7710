// The comment numbers met so far, in an open-addressing set: a fraction of an
// ordered set's memory, and cache-friendly for numbers in sequence.
//
// One thread at a time. Only allocation throws (std::bad_alloc).
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace zantrel {

class NumberSet {
 public:
  NumberSet() {
    std::random_device random;
    seed_ = (std::uint64_t{random()} << 32) ^ random();
  }

  // Makes room for `more` numbers, so that inserting them cannot fail.
  void Reserve(std::size_t more) {
    while ((count_ + more + 1) * 2 > slots_.size()) Grow();
  }

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
  static constexpr unsigned kGroupBits = 3;  // 8 numbers: one cache line of slots

  // Comment numbers mostly come in sequence: eight consecutive numbers lie in
  // consecutive slots, so a thread in order costs one cache miss per eight. The
  // groups are scattered by a seeded mix, so a file cannot choose numbers that
  // all collide.
  std::size_t Home(std::int64_t number) const noexcept {
    const auto u = static_cast<std::uint64_t>(number);
    auto x = (u >> kGroupBits) ^ seed_;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    return static_cast<std::size_t>((x << kGroupBits) | (u & ((1u << kGroupBits) - 1)));
  }
  bool Place(std::vector<std::int64_t>& slots, std::int64_t number) const {
    const std::size_t mask = slots.size() - 1;
    for (std::size_t i = Home(number) & mask;; i = (i + 1) & mask) {
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
  std::uint64_t seed_ = 0;
  bool hasEmptyKey_ = false;
};

}  // namespace zantrel
