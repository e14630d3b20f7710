// The worker thread and its job record.
//
// StartMergeJob (main thread) copies everything a job needs into a record of the
// job's own and starts one worker thread on it, so a second job never disturbs a
// running one. The worker runs the merge job driver, writes an escaping error to
// the log (the COM error report, or a std::exception's text as one line), tells
// the host whether the file was saved, and with auto-exit asks the host to close.
// WaitForWorkers (main thread, at program end) lets every started worker finish
// its job: a save is never cut off.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "job/job_host.hpp"
#include "base/log.hpp"

namespace zantrel {

struct MergeJob {
  std::vector<std::wstring> inputs;  // absolute, sorted; at least two
  std::wstring outputPath;           // never empty
  std::wstring styleSheetPath;
  JobHost* owner = nullptr;          // outlives the worker (see WaitForWorkers)
  bool exitWhenDone = false;
  LogCallback log = nullptr;
};

bool StartMergeJob(const std::vector<std::wstring>& inputs, JobHost& host,
                   const std::wstring& outputPath, bool autoExit);

// The worker's body; returns 0 in every case.
unsigned MergeThreadProc(const MergeJob& job);

// --- platform part (worker_posix.cpp / worker_win.cpp) ---
// Starts a thread that runs MergeThreadProc on the record it now owns.
bool LaunchWorker(std::unique_ptr<MergeJob> job);
void WaitForWorkers();

}  // namespace zantrel
