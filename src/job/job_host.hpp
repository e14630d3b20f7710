// What job intake and the worker need of the program's front end (the main window
// on Windows, the command-line program elsewhere).
//
// Threads: SavePattern, StyleSheetPath, AskSavePath and JobWorkers are called on
// the main thread during intake. RequestClose and ReportFailureReason are called
// on a worker thread and must not block on the main thread (post, don't send).
#pragma once

#include <string>

namespace zantrel {

class Workers;

class JobHost {
 public:
  virtual ~JobHost() = default;
  // The "save" setting loaded at start-up (empty when unset).
  virtual std::wstring SavePattern() const = 0;
  // Full path of "convert.xsl" beside the executable.
  virtual std::wstring StyleSheetPath() const = 0;
  // The save question: a chosen path ending in ".xml", or empty when cancelled.
  virtual std::wstring AskSavePath(const std::wstring& seed) = 0;
  // The workers that run this front end's jobs (owned by the entry function).
  virtual Workers& JobWorkers() = 0;
  // Auto-exit: ask the front end to close; served later on its own thread.
  virtual void RequestClose() = 0;
  // Why a job failed, when its error says (engine/errors.hpp): once per failed
  // job, after the log has the failure. Only a front end with a channel for it
  // beside the log takes it.
  virtual void ReportFailureReason(const std::wstring& reason) noexcept { (void)reason; }
};

}  // namespace zantrel
