// What job intake and the worker need of the program's front end (the main window
// on Windows, the command-line program elsewhere).
//
// Threads: SavePattern, StyleSheetPath and AskSavePath are called on the main
// thread during intake. JobFinished and RequestClose are called on a worker thread
// and must not block on the main thread (post, don't send).
#pragma once

#include <string>

namespace zantrel {

class JobHost {
 public:
  virtual ~JobHost() = default;
  // The "save" setting loaded at start-up (empty when unset).
  virtual std::wstring SavePattern() const = 0;
  // Full path of "convert.xsl" beside the executable.
  virtual std::wstring StyleSheetPath() const = 0;
  // The save question: a chosen path ending in ".xml", or empty when cancelled.
  virtual std::wstring AskSavePath(const std::wstring& seed) = 0;
  // A job ended: `saved` is true when its output file was written.
  virtual void JobFinished(bool saved) = 0;
  // Auto-exit: ask the front end to close; served later on its own thread.
  virtual void RequestClose() = 0;
};

}  // namespace zantrel
