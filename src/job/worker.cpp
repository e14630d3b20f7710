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
  if (!LaunchWorker(std::move(job))) {
    AppendLog(L"ジョブを開始できませんでした");
    return false;
  }
  return true;
}

unsigned MergeThreadProc(const MergeJob& job) {
  bool saved = false;
  try {
    saved = RunMergeJob(job.styleSheetPath, job.log, job.outputPath, job.inputs);
  } catch (const ComError& error) {
    WriteComErrorReport(error, job.log);
  } catch (const std::exception& error) {
    WriteCallTextErrorReport(error, job.log);
  }
  job.owner->JobFinished(saved);
  if (job.exitWhenDone) job.owner->RequestClose();
  return 0;
}

}  // namespace zantrel
