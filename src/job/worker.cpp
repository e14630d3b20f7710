#include "job/worker.hpp"

#include "engine/errors.hpp"
#include "job/merge_job.hpp"

namespace zantrel {

bool StartMergeJob(const std::vector<std::wstring>& inputs, JobHost& host,
                   const std::wstring& outputPath, bool autoExit) {
  if (inputs.size() < 2) {
    AppendLog(L"ファイルが1つしか指定されませんでした");
    return false;
  }
  auto job = std::make_unique<MergeJob>();
  job->inputs = inputs;
  job->outputPath = outputPath;
  job->styleSheetPath = host.StyleSheetPath();
  job->owner = &host;
  job->exitWhenDone = autoExit;
  job->log = &AppendLog;
  if (!host.JobWorkers().Start(std::move(job))) {
    AppendLog(L"ジョブを開始できませんでした");
    return false;
  }
  return true;
}

bool MergeThreadProc(const MergeJob& job) {
  bool saved = false;
  try {
    saved = RunMergeJob(job.styleSheetPath, job.log, job.outputPath, job.inputs);
  } catch (...) {
    WriteCurrentErrorReport(job.log);
    if (const std::wstring& reason = CurrentFailureReason(); !reason.empty())
      job.owner->ReportFailureReason(reason);
  }
  if (job.exitWhenDone) {
    try {
      job.owner->RequestClose();
    } catch (...) {
      // The outcome stands; the front end ends by its own road.
    }
  }
  return saved;
}

Workers::Workers() : threads_(PlatformThreads()) {}

Workers::~Workers() { threads_->JoinAll(); }

bool Workers::Start(std::unique_ptr<MergeJob> job) {
  try {
    return threads_->Launch([this, record = std::shared_ptr<MergeJob>(std::move(job))] { Run(*record); });
  } catch (...) {
    return false;  // no thread (or no memory for one): the caller reports it
  }
}

int Workers::Finish() {
  threads_->JoinAll();
  return ExitCode();
}

void Workers::Run(const MergeJob& job) noexcept {
  bool saved = false;
  try {
    saved = MergeThreadProc(job);
  } catch (...) {
    // Nothing may end the process from a worker: the job counts as failed.
  }
  (saved ? saved_ : failed_).fetch_add(1);
}

int Workers::ExitCode() const {
  if (saved_.load() + failed_.load() == 0) return 2;
  return failed_.load() == 0 ? 0 : 1;
}

}  // namespace zantrel
