// Reads a job's inputs ahead of their turn on a helper thread and hands them out
// in order; a caller waiting for an input the helper is still reading reads the
// next one itself. Each input is settled in order (by the settle hook on
// whichever thread finished it, or as it is taken), and at most `window` inputs
// are claimed and not yet settled. A stop flag, raised by the destructor, a
// halting settle or a parse hook, ends the read under way at its next element.
// (ARCHITECTURE.md, Threads.)
//
// Threads: one caller constructs, calls Open, Take, Dispose and Finish, and
// destroys; the helper is the object's own; the hooks run on either thread, never
// throw, and settles never overlap. Ownership: a taken result is the caller's; a
// disposed one is dropped on the helper; the rest go with the object. The state
// the settles change is handed in by Open and back by Finish: in between, only
// the settle hook reaches it. Failures: without a helper thread the caller reads
// everything itself; Take throws std::logic_error out of order or after a halt or
// stop, std::bad_alloc when no room is left; Finish throws std::logic_error before
// every input is taken.
// Test seam: readAheadTestHook, when set, runs on the reading thread before each
// parse, so a test can hold a read, watch its stop flag or raise it; it must not
// throw; null in the programs.
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

// Set by tests only (see above); one load per input read when unset.
inline std::atomic<void (*)(std::size_t index, StopFlag& stop)> readAheadTestHook{nullptr};

// The state of a read-ahead that settles nothing.
struct NoSettling {};

template <typename Result, typename State = NoSettling>
class ReadAhead {
 public:
  using Parse = std::function<Result(std::size_t index, StopFlag& stop)>;
  // False: settle nothing further (the job stops at this input).
  using Settle = std::function<bool(std::size_t index, Result& result, State& state)>;

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

  // Settling may begin, on `state`, which is the settles' alone from now on.
  void Open(State state) {
    std::unique_lock<std::mutex> lock(mutex_);
    state_.emplace(std::move(state));
    open_ = true;
    SettleReady(lock);
  }

  // Once every input is taken, so settled: the state, the caller's again.
  State Finish() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!state_ || expected_ != end_ || settled_ != end_ || settling_)
      throw std::logic_error("the settling state is handed back once every input is taken");
    State state = std::move(*state_);
    state_.reset();
    return state;
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
    if (const auto hook = readAheadTestHook.load(std::memory_order_acquire)) hook(slot->first, stop_);
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
      const bool goOn = settle_(found->first, *found->second, *state_);
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
  std::optional<State> state_;                          // between Open and Finish
  bool open_;
  bool settling_ = false;
  bool halted_ = false;  // a settle answered false
  bool stopping_ = false;
  std::thread helper_;
};

}  // namespace zantrel
