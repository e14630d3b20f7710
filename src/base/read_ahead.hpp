// Reads a job's inputs ahead of their turn and hands them out in order. A helper
// thread parses ahead while the job works; a caller waiting for an input the
// helper is still parsing parses the next one itself instead of idling.
//
// Settling is an input's in-order step. With a settle hook, whichever thread
// finishes a parse settles every input next in order that is parsed (never two
// at once, and only after Open), so neither thread waits for the other to do it;
// without one, an input settles when it is taken. At most `window` inputs are
// claimed and not yet settled at any time, which bounds the memory they hold.
// The stop flag ends the parse under way at its next check: the destructor raises
// it, and so do a settle that halts and a parse hook that asks for it (a failed
// input: no later one is wanted).
//
// Threads: one caller (the job's thread) constructs, calls Open, Take and Dispose,
// and destroys; the helper is the object's own. `parse` runs once per index on
// either thread, `settle` once per index on either thread. Neither may throw:
// failures travel inside the result. Between Open and the last Take the caller
// must leave alone what `settle` changes.
// Ownership: a taken result belongs to the caller; a disposed one is dropped on
// the helper (freeing there keeps the two threads off each other's allocator);
// results never taken are dropped with the object.
// Failures: without a helper thread (none wanted, or none to be had) the caller
// parses every input itself. Take throws std::logic_error for an index out of
// order or one after a halt or a stop, and std::bad_alloc when no room is left to
// claim an input. The destructor waits for the parse under way and never throws.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <condition_variable>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace zantrel {

// Whether a read is still wanted; a parse looks at it between elements.
class StopFlag {
 public:
  bool Requested() const noexcept { return flag_.load(std::memory_order_relaxed); }
  void Request() noexcept { flag_.store(true, std::memory_order_relaxed); }

 private:
  std::atomic<bool> flag_{false};
};

template <typename Result>
class ReadAhead {
 public:
  using Parse = std::function<Result(std::size_t index, StopFlag& stop)>;
  // False: settle nothing further (the job stops at this input).
  using Settle = std::function<bool(std::size_t index, Result& result)>;

  // Reads `first`, `first + 1`, ... up to `end` (exclusive).
  ReadAhead(std::size_t first, std::size_t end, std::size_t window, bool helper, Parse parse,
            Settle settle = nullptr)
      : parse_(std::move(parse)),
        settle_(std::move(settle)),
        window_(window),
        expected_(first),
        next_(first),
        settled_(first),
        end_(end),
        open_(!settle_) {
    if (!helper) return;
    try {
      helper_ = std::thread([this] { Help(); });
    } catch (const std::exception&) {
      // No thread to be had: Take parses each input itself, only slower.
    }
  }
  ReadAhead(const ReadAhead&) = delete;
  ReadAhead& operator=(const ReadAhead&) = delete;
  ~ReadAhead() {
    stop_.Request();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    if (helper_.joinable()) helper_.join();
  }

  // Settling may begin: the caller's state that `settle` changes is ready.
  void Open() {
    std::unique_lock<std::mutex> lock(mutex_);
    open_ = true;
    SettleReady(lock);
  }

  // The settled result for input `index`; indexes are taken in order, each once.
  Result Take(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (index != expected_ || index >= end_ || !open_) throw std::logic_error("inputs are taken in order, each once");
    ++expected_;
    while (true) {
      SettleReady(lock);
      const auto found = slots_.find(index);
      const bool parsed = found != slots_.end() && found->second;
      if (parsed && (!settle_ || settled_ > index)) {
        Result result = std::move(*found->second);
        slots_.erase(found);
        if (!settle_) {
          ++settled_;  // settles as it is taken
          changed_.notify_all();
        }
        return result;
      }
      // Trap: an input never claimed will not come once reading has stopped.
      if (halted_ || (stop_.Requested() && found == slots_.end()))
        throw std::logic_error("no input is read after one that stopped the job");
      if (Claimable()) {
        Fill(lock, Claim());
      } else {
        changed_.wait(lock);
      }
    }
  }

  // Drops a result the caller is done with, on the helper when there is one.
  void Dispose(Result result) noexcept {
    if (!helper_.joinable()) return;  // dropped here
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      unwanted_.push_back(std::move(result));
    } catch (...) {
      return;  // no room to queue it: dropped here
    }
    changed_.notify_all();
  }

 private:
  using Slot = typename std::map<std::size_t, std::optional<Result>>::iterator;

  // With mutex_ held. Trap: the bound counts inputs claimed and not yet settled;
  // counting up to the one the caller takes instead would idle the helper
  // whenever the caller parses an input of its own.
  bool Claimable() const noexcept {
    return !stopping_ && !halted_ && !stop_.Requested() && next_ < end_ && next_ - settled_ < window_;
  }

  // With mutex_ held: claims the next input. Its place is made first, so a parsed
  // result can always be filed.
  Slot Claim() {
    const Slot slot = slots_.try_emplace(next_).first;
    ++next_;
    return slot;
  }

  // Parses a claimed input with the lock released and files the result.
  void Fill(std::unique_lock<std::mutex>& lock, Slot slot) {
    lock.unlock();
    Result result = parse_(slot->first, stop_);
    lock.lock();
    slot->second.emplace(std::move(result));
    SettleReady(lock);
    changed_.notify_all();
  }

  // With mutex_ held: settles the inputs that are next in order and parsed, unless
  // another thread is doing so.
  void SettleReady(std::unique_lock<std::mutex>& lock) {
    if (!settle_ || settling_ || !open_) return;
    settling_ = true;
    while (!halted_ && !stopping_) {
      const auto found = slots_.find(settled_);
      if (found == slots_.end() || !found->second) break;
      lock.unlock();
      const bool goOn = settle_(found->first, *found->second);
      lock.lock();
      ++settled_;
      if (!goOn) {
        halted_ = true;
        stop_.Request();  // the parse under way is not wanted any more
      }
      changed_.notify_all();  // a caller may be waiting for just this one
    }
    settling_ = false;
    changed_.notify_all();
  }

  void Help() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return stopping_ || !unwanted_.empty() || Claimable(); });
      if (!unwanted_.empty()) {
        std::vector<Result> dropping = std::move(unwanted_);
        unwanted_.clear();
        lock.unlock();
        dropping.clear();
        lock.lock();
        continue;
      }
      if (stopping_) return;
      Slot slot;
      try {
        slot = Claim();
      } catch (...) {
        return;  // no room to claim one: the caller parses the rest itself
      }
      Fill(lock, slot);
    }
  }

  const Parse parse_;
  const Settle settle_;
  const std::size_t window_;
  StopFlag stop_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t expected_;  // the index Take must be asked for next
  std::size_t next_;      // the next index to claim
  std::size_t settled_;   // every index below is settled
  const std::size_t end_;
  std::map<std::size_t, std::optional<Result>> slots_;  // claimed, not yet taken
  std::vector<Result> unwanted_;                        // disposed of, not yet dropped
  bool open_;
  bool settling_ = false;
  bool halted_ = false;  // a settle answered false
  bool stopping_ = false;
  std::thread helper_;
};

}  // namespace zantrel
