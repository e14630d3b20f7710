// Worker threads on Windows: started with the run-time library's thread start,
// each in its own COM apartment; at program end every worker finishes its job.
#include <windows.h>
#include <objbase.h>
#include <process.h>

#include <mutex>
#include <vector>

#include "job/worker.hpp"

namespace zantrel {
namespace {

struct WorkerThreadSlot {
  std::mutex mutex;
  std::vector<HANDLE> threads;
};

WorkerThreadSlot& Slot() {
  static WorkerThreadSlot slot;
  return slot;
}

unsigned __stdcall ThreadEntry(void* argument) {
  std::unique_ptr<MergeJob> job(static_cast<MergeJob*>(argument));
  CoInitialize(nullptr);
  MergeThreadProc(*job);
  CoUninitialize();
  return 0;
}

}  // namespace

bool LaunchWorker(std::unique_ptr<MergeJob> job) {
  std::lock_guard<std::mutex> lock(Slot().mutex);
  Slot().threads.reserve(Slot().threads.size() + 1);
  unsigned id = 0;
  const auto handle = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ThreadEntry, job.get(), 0, &id));
  if (handle == nullptr) return false;
  (void)job.release();  // the thread owns its record now
  Slot().threads.push_back(handle);
  return true;
}

void WaitForWorkers() {
  for (;;) {
    HANDLE thread = nullptr;
    {
      std::lock_guard<std::mutex> lock(Slot().mutex);
      if (Slot().threads.empty()) return;
      thread = Slot().threads.back();
      Slot().threads.pop_back();
    }
    // Keep serving this thread's messages while waiting: a worker may still be
    // sending to a window of this thread, and must never wait on us for ever.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    }
    CloseHandle(thread);
  }
}

}  // namespace zantrel
