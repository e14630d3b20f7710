// The workers of a program and the job record each one runs.
//
// StartMergeJob (main thread) copies everything a job needs into a record of the
// job's own and has the host's Workers run it on a thread of its own, so a second
// job never disturbs a running one. The worker runs the merge job driver, writes
// any error that escapes it to the log (WriteCurrentErrorReport), counts whether
// the file was saved, and with auto-exit asks the host to close. Nothing a job
// throws ends the process; a thread that cannot start makes Start answer false.
//
// Workers is owned by the program's entry function and outlives the front end's
// use of it; its destructor (or Finish) waits for every worker, so a save is never
// cut off. On Windows the wait keeps serving the calling thread's messages: a
// worker may still be sending to a window of that thread.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/log.hpp"
#include "job/job_host.hpp"

namespace zantrel {

struct MergeJob {
  std::vector<std::wstring> inputs;  // absolute, sorted; at least two
  std::wstring outputPath;           // never empty
  std::wstring styleSheetPath;
  JobHost* owner = nullptr;          // outlives the worker (Workers waits)
  bool exitWhenDone = false;
  LogCallback log = nullptr;
};

class Workers {
 public:
  Workers();
  ~Workers();  // waits for every worker
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Runs the job on a new thread; false when no thread could be started.
  bool Start(std::unique_ptr<MergeJob> job);
  // Waits for every worker; then the outcome for scripts: 0 every job saved, 1 a
  // job did not save, 2 no job ran.
  int Finish();
  // Jobs ended so far (saved or not).
  int Ended() const { return saved_.load() + failed_.load(); }

  // The threads themselves: the platform part (worker_posix.cpp / worker_win.cpp).
  class Threads {
   public:
    virtual ~Threads() = default;
    virtual bool Launch(std::function<void()> body) = 0;
    // Joins every thread, also those launched meanwhile.
    virtual void JoinAll() = 0;
  };
  static std::unique_ptr<Threads> PlatformThreads();

 private:
  // Runs the job and counts its outcome (on the worker's thread).
  void Run(const MergeJob& job) noexcept;
  int ExitCode() const;

  std::unique_ptr<Threads> threads_;
  std::atomic<int> saved_{0};
  std::atomic<int> failed_{0};
};

bool StartMergeJob(const std::vector<std::wstring>& inputs, JobHost& host,
                   const std::wstring& outputPath, bool autoExit);

// The worker's body: true when the output file was saved.
bool MergeThreadProc(const MergeJob& job);

}  // namespace zantrel
