// Worker threads on POSIX: std::thread, joined when the workers go.
#include <mutex>
#include <system_error>
#include <thread>

#include "job/worker.hpp"

namespace zantrel {

namespace {

class PlatformThreadList final : public Workers::Threads {
 public:
  bool Launch(std::function<void()> body) override {
    try {
      const std::lock_guard lock(mutex_);
      // Room first: a joinable thread must never be dropped by a failing push_back.
      threads_.reserve(threads_.size() + 1);
      threads_.emplace_back(std::move(body));
      return true;
    } catch (const std::system_error&) {
      return false;
    }
  }

  // Also the workers a finishing worker's host may still start.
  void JoinAll() override {
    for (;;) {
      std::thread thread;
      {
        const std::lock_guard lock(mutex_);
        if (threads_.empty()) return;
        thread = std::move(threads_.back());
        threads_.pop_back();
      }
      thread.join();
    }
  }

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
};

}  // namespace

std::unique_ptr<Workers::Threads> Workers::PlatformThreads() { return std::make_unique<PlatformThreadList>(); }

}  // namespace zantrel
