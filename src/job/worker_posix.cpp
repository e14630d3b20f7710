#include <mutex>
#include <thread>

#include "job/worker.hpp"

namespace zantrel {
namespace {

// Every worker started in this process; joined at program end.
struct WorkerThreadSlot {
  std::mutex mutex;
  std::vector<std::thread> threads;
};

WorkerThreadSlot& Slot() {
  static WorkerThreadSlot slot;
  return slot;
}

}  // namespace

bool LaunchWorker(std::unique_ptr<MergeJob> job) {
  try {
    std::lock_guard<std::mutex> lock(Slot().mutex);
    // Room first: a joinable thread must never be dropped by a failing push_back.
    Slot().threads.reserve(Slot().threads.size() + 1);
    Slot().threads.emplace_back([record = std::move(job)] { MergeThreadProc(*record); });
    return true;
  } catch (const std::system_error&) {
    return false;
  }
}

void WaitForWorkers() {
  for (;;) {
    std::thread thread;
    {
      std::lock_guard<std::mutex> lock(Slot().mutex);
      if (Slot().threads.empty()) return;
      thread = std::move(Slot().threads.back());
      Slot().threads.pop_back();
    }
    thread.join();
  }
}

}  // namespace zantrel
