// Reads a job's later inputs on two threads and settles them in input order. A
// helper thread parses ahead; a caller waiting for an input that is still being
// parsed parses the next one itself instead of idling. Whichever thread finishes
// a parse settles every input that is next in order and parsed (the job's
// in-order step, such as deciding which comments stay), so neither thread waits
// for the other to do it. At most two inputs are parsed and not yet settled at
// any time, which bounds the memory they hold.
//
// Threads: one caller (the job's thread) constructs, calls Open and Take, and
// destroys; the helper is the object's own. `parse` runs on either thread, once
// per index, and `settle` on either thread, once per index, in index order and
// never two at once, only after Open. Neither may throw: failures travel inside
// the result; `settle` answers false to settle nothing further (the job stops at
// that input). Between Open and the last Take the caller must leave alone what
// `settle` changes.
// Ownership: a taken result belongs to the caller; results never taken are
// dropped with the object. Failures: no thread to be had means the caller parses
// every input itself; Take throws std::logic_error for an index out of order or
// one after a halt, and std::bad_alloc when no room is left to claim an input. The destructor raises the flag `parse` is given, waits for
// the parse under way and never throws.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>

namespace zantrel {

template <typename Result>
class ParseAhead {
 public:
  using Parse = std::function<Result(std::size_t index, const std::atomic<bool>& stop)>;
  using Settle = std::function<bool(std::size_t index, Result& result)>;

  // Parses and settles `first`, `first + 1`, ... up to `end` (exclusive).
  ParseAhead(std::size_t first, std::size_t end, Parse parse, Settle settle)
      : parse_(std::move(parse)),
        settle_(std::move(settle)),
        expected_(first),
        next_(first),
        settled_(first),
        end_(end) {
    try {
      helper_ = std::thread([this] { Help(); });
    } catch (const std::exception&) {
      // No thread to be had: Take parses each input itself, only slower.
    }
  }
  ParseAhead(const ParseAhead&) = delete;
  ParseAhead& operator=(const ParseAhead&) = delete;
  ~ParseAhead() {
    stop_ = true;
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
      if (settled_ > index) {
        const auto found = slots_.find(index);
        Result result = std::move(*found->second);
        slots_.erase(found);
        return result;
      }
      if (halted_) throw std::logic_error("no input is settled after one that stopped the job");
      if (Claimable()) {
        Fill(lock, Claim());
      } else {
        changed_.wait(lock);
      }
    }
  }

 private:
  using Slot = typename std::map<std::size_t, std::optional<Result>>::iterator;

  // With mutex_ held. Trap: the bound counts inputs parsed or being parsed and not
  // yet settled; counting from the one the caller takes instead would idle the
  // helper whenever the caller parses an input of its own.
  bool Claimable() const noexcept {
    return !stopping_ && !halted_ && next_ < end_ && next_ - settled_ < 2;
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
    if (settling_ || !open_) return;
    settling_ = true;
    while (!halted_ && !stopping_) {
      const auto found = slots_.find(settled_);
      if (found == slots_.end() || !found->second) break;
      lock.unlock();
      const bool goOn = settle_(found->first, *found->second);
      lock.lock();
      ++settled_;
      halted_ = !goOn;
      changed_.notify_all();  // a caller may be waiting for just this one
    }
    settling_ = false;
    changed_.notify_all();
  }

  void Help() noexcept {
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
      changed_.wait(lock, [this] { return stopping_ || Claimable(); });
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
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t expected_;  // the index Take must be asked for next
  std::size_t next_;      // the next index to claim
  std::size_t settled_;   // every index below is settled
  const std::size_t end_;
  std::map<std::size_t, std::optional<Result>> slots_;  // claimed, not yet taken
  bool open_ = false;
  bool settling_ = false;
  bool halted_ = false;  // a settle answered false
  bool stopping_ = false;
  std::thread helper_;
};

}  // namespace zantrel
