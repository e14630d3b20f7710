#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "base/byte_arena.hpp"
#include "comments/number_set.hpp"

namespace zantrel {
namespace {

constexpr std::size_t kBlock = BlockPool::kBlock;

std::string Contents(const Arena& arena) {
  std::string all;
  arena.Read(0, arena.Size(), [&](std::string_view part) { all.append(part); });
  return all;
}

// Bytes that differ from piece to piece, so a piece moved to the wrong place shows.
std::string PieceBytes(std::size_t index, std::size_t length) {
  std::string bytes(length, '\0');
  for (std::size_t k = 0; k < length; ++k) bytes[k] = static_cast<char>('a' + (index * 7 + k) % 26);
  return bytes;
}

TEST(ArenaMover, RandomPiecesAgreeWithACopy) {
  std::mt19937 random(7);
  BlockPool pool;
  Arena target(pool);
  std::string expected;
  for (int round = 0; round < 12; ++round) {
    Arena source(pool);
    std::vector<std::size_t> lengths;
    std::vector<bool> keep;
    std::string kept;
    const int pieces = 1 + static_cast<int>(random() % 40);
    for (int i = 0; i < pieces; ++i) {
      const std::size_t length = random() % 4 == 0 ? random() % (kBlock + 100) : 1 + random() % 5000;
      const std::string piece = PieceBytes(random(), length);
      lengths.push_back(length);
      keep.push_back(random() % 3 != 0);
      source.Append(piece);
      if (keep.back()) kept += piece;
    }
    Arena moved(std::move(source));  // the source is left empty, not with stale sizes
    ASSERT_EQ(source.Size(), 0u);
    Arena::Mover move(target, moved);
    for (std::size_t i = 0; i < lengths.size(); ++i) keep[i] ? move.Keep(lengths[i]) : move.Skip(lengths[i]);
    move.Finish();
    expected += kept;
    ASSERT_EQ(target.Size(), expected.size()) << "round " << round;
    ASSERT_TRUE(Contents(target) == expected) << "round " << round;
  }
}

TEST(NumberSet, AnswersAsAnOrderedSetDoes) {
  struct Case {
    const char* name;
    std::vector<std::int64_t> numbers;
  };
  std::vector<std::int64_t> sequence;
  for (std::int64_t n = 1; n <= 5000; ++n) sequence.push_back(n % 1700);  // in order, with repeats
  std::vector<std::int64_t> strided;
  for (std::int64_t n = 0; n < 5000; ++n) strided.push_back((n % 2500) * 4096);  // one per would-be group
  std::vector<std::int64_t> extremes = {std::numeric_limits<std::int64_t>::min(), 0, -1,
                                        std::numeric_limits<std::int64_t>::max(),
                                        std::numeric_limits<std::int64_t>::min(), 7, -8, 8, -1, 0};
  std::mt19937_64 random(3);
  std::vector<std::int64_t> scattered;
  for (int n = 0; n < 20000; ++n) scattered.push_back(static_cast<std::int64_t>(random() % 15000) - 7000);
  const Case cases[] = {{"in sequence", sequence},
                        {"strided", strided},
                        {"extremes", extremes},
                        {"scattered", scattered}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    NumberSet set;
    std::set<std::int64_t> reference;
    for (const std::int64_t n : c.numbers) ASSERT_EQ(set.Insert(n), reference.insert(n).second) << n;
  }
}

}  // namespace
}  // namespace zantrel
