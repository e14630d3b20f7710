// Worker threads on Windows: started with the run-time library's thread start,
// each in its own COM apartment; when the workers go, every one finishes its job.
#include <windows.h>
#include <process.h>

#include <mutex>
#include <vector>

#include "base/scoped_win.hpp"
#include "job/worker.hpp"

namespace zantrel {
namespace {

using Body = std::function<void()>;

unsigned __stdcall ThreadEntry(void* argument) {
  const std::unique_ptr<Body> body(static_cast<Body*>(argument));
  const ScopedComInit com;
  (*body)();
  return 0;
}

class PlatformThreadList final : public Workers::Threads {
 public:
  bool Launch(Body body) override {
    auto owned = std::make_unique<Body>(std::move(body));
    const std::lock_guard lock(mutex_);
    threads_.reserve(threads_.size() + 1);
    unsigned id = 0;
    ScopedHandle thread(reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, &ThreadEntry, owned.get(), 0, &id)));
    if (!thread) return false;
    (void)owned.release();  // the thread owns its body now
    threads_.push_back(std::move(thread));
    return true;
  }

  void JoinAll() override {
    for (;;) {
      ScopedHandle thread;
      {
        const std::lock_guard lock(mutex_);
        if (threads_.empty()) return;
        thread = std::move(threads_.back());
        threads_.pop_back();
      }
      // Keep serving this thread's messages while waiting: a worker may still be
      // sending to a window of this thread, and must never wait on us for ever.
      HANDLE handle = thread.get();
      for (;;) {
        const DWORD woke = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_ALLINPUT);
        if (woke == WAIT_OBJECT_0) break;
        // Trap: a failed wait is no sign that the thread ended; only the thread's
        // own state says so.
        DWORD code = 0;
        if (woke != WAIT_OBJECT_0 + 1 && !(GetExitCodeThread(handle, &code) && code == STILL_ACTIVE)) break;
        if (woke != WAIT_OBJECT_0 + 1) Sleep(10);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      }
    }
  }

 private:
  std::mutex mutex_;
  std::vector<ScopedHandle> threads_;
};

}  // namespace

std::unique_ptr<Workers::Threads> Workers::PlatformThreads() { return std::make_unique<PlatformThreadList>(); }

}  // namespace zantrel
