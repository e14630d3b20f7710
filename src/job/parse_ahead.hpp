// Reads a job's later inputs on two threads and hands the results over in input
// order. A helper thread parses ahead; a caller waiting for an input that is still
// being parsed parses the next one itself instead of idling. Only the input the
// caller asked for last and the one after it are parsed or held, so memory stays
// bounded by two inputs' results.
//
// Threads: one caller (the job's thread) constructs, calls Take and destroys; the
// helper is the object's own. `parse` runs on either thread, for each index once,
// and must not throw: it returns its failure inside the result. It is told to
// give up through the flag it gets, which is set when the object goes.
// Ownership: a taken result belongs to the caller; results never taken are
// dropped with the object. Failures: no thread to be had means the caller parses
// every input itself; Take throws only std::logic_error for an index out of order.
// The destructor waits for the parses under way, which see the flag, and never
// throws.
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

  // Parses `first`, `first + 1`, ... up to `end` (exclusive).
  ParseAhead(std::size_t first, std::size_t end, Parse parse)
      : parse_(std::move(parse)), expected_(first), need_(first), next_(first), end_(end) {
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

  // The result for input `index`; indexes are taken in order, each once.
  Result Take(std::size_t index) {
    std::unique_lock<std::mutex> lock(mutex_);
    if (index != expected_ || index >= end_) throw std::logic_error("inputs are taken in order, each once");
    ++expected_;
    need_ = index;
    changed_.notify_all();  // the helper may claim one further now
    while (true) {
      if (const auto found = ready_.find(index); found != ready_.end() && found->second) {
        Result result = std::move(*found->second);
        ready_.erase(found);
        return result;
      }
      if (Claimable()) {
        Fill(lock, Claim());
      } else {
        changed_.wait(lock);
      }
    }
  }

 private:
  // With mutex_ held. Trap: the bound counts from the input the caller needs, not
  // from the ones parsed, or a fast helper would run ahead by the whole job.
  bool Claimable() const noexcept { return !stopping_ && next_ < end_ && next_ <= need_ + 1; }

  using Slot = typename std::map<std::size_t, std::optional<Result>>::iterator;

  // With mutex_ held: claims the next input. Its place is made first, so a parsed
  // result can always be filed.
  Slot Claim() {
    const Slot slot = ready_.try_emplace(next_).first;
    ++next_;
    return slot;
  }

  // Parses a claimed input with the lock released and files the result.
  void Fill(std::unique_lock<std::mutex>& lock, Slot slot) {
    lock.unlock();
    Result result = parse_(slot->first, stop_);
    lock.lock();
    slot->second.emplace(std::move(result));
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
  std::atomic<bool> stop_{false};
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t expected_;  // the index Take must be asked for next
  std::size_t need_;      // the index Take was last asked for: the caller works on it
  std::size_t next_;  // the next index to claim
  const std::size_t end_;
  std::map<std::size_t, std::optional<Result>> ready_;  // claimed, not yet taken: at most two
  bool stopping_ = false;
  std::thread helper_;
};

}  // namespace zantrel
