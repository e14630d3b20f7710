// The read-ahead both ways of holding comments use: with a settle hook (two
// unsettled at most, settled in order by either thread) and without one (one
// input ahead, settled as taken); with a helper thread and without.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "base/read_ahead.hpp"

namespace zantrel {
namespace {

using Ahead = ReadAhead<std::string, std::vector<std::size_t>>;

std::string Parsed(std::size_t index) { return "input " + std::to_string(index); }

// Counts inputs claimed and not yet settled (taken, without a settle hook).
struct Watch {
  std::mutex mutex;
  std::condition_variable changed;  // a parse was filed
  std::multiset<std::size_t> parsed;
  std::vector<std::size_t> settled;
  std::atomic<int> held{0};
  std::atomic<int> mostHeld{0};
  std::atomic<int> settling{0};

  void Claimed() {
    const int now = ++held;
    int seen = mostHeld.load();
    while (now > seen && !mostHeld.compare_exchange_weak(seen, now)) {
    }
  }
};

TEST(ReadAhead, EveryInputReadOnceAndSettledInOrderWithinItsWindow) {
  for (const bool settleHook : {true, false}) {
    for (const bool helper : {true, false}) {
      for (const std::size_t end : {1u, 2u, 9u}) {
        SCOPED_TRACE(testing::Message() << "settle hook " << settleHook << ", helper " << helper << ", end " << end);
        const std::size_t window = settleHook ? 2 : 1;
        Watch watch;
        Ahead::Settle settle;
        if (settleHook) {
          settle = [&](std::size_t index, std::string& result, std::vector<std::size_t>& settled) {
            EXPECT_EQ(++watch.settling, 1) << "two settles at once";
            settled.push_back(index);  // the state handed in, the settles' alone
            {
              std::lock_guard<std::mutex> lock(watch.mutex);
              watch.settled.push_back(index);
            }
            result += " settled";
            --watch.held;
            --watch.settling;
            return true;
          };
        }
        Ahead ahead(
            1, end, window, helper,
            [&](std::size_t index, StopFlag&) {
              watch.Claimed();
              std::this_thread::sleep_for(std::chrono::milliseconds(index % 3));
              {
                std::lock_guard<std::mutex> lock(watch.mutex);
                watch.parsed.insert(index);
              }
              watch.changed.notify_all();
              return Parsed(index);
            },
            settle);
        if (settleHook) {
          // Nothing settles before the caller opens (it may still be busy with its own
          // state), not even what the helper has read meanwhile: all it may read.
          const std::size_t readable = helper ? std::min(window, end - 1) : 0;
          {
            // A read that never comes is a hang, which the test's time limit fails.
            std::unique_lock<std::mutex> lock(watch.mutex);
            watch.changed.wait(lock, [&] { return watch.parsed.size() >= readable; });
            EXPECT_EQ(watch.parsed.size(), readable);
            EXPECT_TRUE(watch.settled.empty());
          }
          ahead.Open({});
          if (end > 1) {
            EXPECT_THROW(ahead.Finish(), std::logic_error) << "handed back before every input is taken";
          }
        }
        for (std::size_t i = 1; i < end; ++i) {
          // Without a hook an input settles as it is taken: counted off before, as
          // the helper may claim the next one the moment it is.
          if (!settleHook) --watch.held;
          EXPECT_EQ(ahead.Take(i), Parsed(i) + (settleHook ? " settled" : ""));
          std::this_thread::sleep_for(std::chrono::milliseconds(1));  // the job's work on it
        }
        EXPECT_LE(watch.mostHeld.load(), static_cast<int>(window));
        std::lock_guard<std::mutex> lock(watch.mutex);
        EXPECT_EQ(watch.parsed.size(), end - 1);
        EXPECT_EQ(std::set<std::size_t>(watch.parsed.begin(), watch.parsed.end()).size(), watch.parsed.size());
        if (settleHook) {
          std::vector<std::size_t> inOrder;
          for (std::size_t i = 1; i < end; ++i) inOrder.push_back(i);
          EXPECT_EQ(watch.settled, inOrder);
          EXPECT_EQ(ahead.Finish(), inOrder);  // the state comes back as the settles left it
        }
      }
    }
  }
}

TEST(ReadAhead, GoingAwayStopsTheParseUnderWayAndDropsWhatWasNotTaken) {
  std::atomic<bool> started{false};
  std::atomic<bool> sawStop{false};
  auto alive = std::make_shared<int>(0);
  {
    ReadAhead<std::shared_ptr<int>> ahead(1, 4, 2, true, [&](std::size_t index, StopFlag& stop) {
      if (index == 3) {
        started = true;
        // A parse that would never end on its own.
        while (!stop.Requested()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        sawStop = true;
      }
      return alive;
    });
    ahead.Dispose(ahead.Take(1));
    while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(sawStop);
  EXPECT_EQ(alive.use_count(), 1);  // the disposed, the untaken and the stopped one are gone
}

}  // namespace
}  // namespace zantrel
