// The log line protocol: the one road by which every part of the program talks to
// the user.
//
// AppendLog(text): a plain text becomes a line ("\r\n" is added); a text that
// begins with "%RAW%" continues the current line; one that begins with "%CHANGE%"
// overwrites the same number of characters at the end. When the log holds 16000
// UTF-16 units or more before an append, it is emptied first.
//
// Threads: AppendLog may be called from any thread; each append is whole (its
// length, select and replace steps are never interleaved with another append).
// By default a process-wide lock covers it. A control owned by a window thread
// instead has the whole append carried out on that thread (a lock there would
// deadlock against the window thread's own appends).
//
// Ownership: the process-wide target is borrowed; whoever sets it keeps it alive
// until it is reset to null and no worker can still log. Without a target every
// call does nothing. Never throws.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace zantrel {

using LogCallback = void (*)(const std::wstring&);

inline constexpr std::size_t kLogLimit = 16000;

// The four operations the protocol needs of a log view, in UTF-16 code units.
class LogControl {
 public:
  virtual ~LogControl() = default;
  virtual std::size_t Length() = 0;
  virtual void Clear() = 0;
  virtual void Select(std::size_t start, std::size_t end) = 0;
  virtual void ReplaceSelection(const std::wstring& text) = 0;
  // Runs `append` serialised with every other append and returns true, or returns
  // false to have AppendLog run it under its lock.
  virtual bool RunAppend(const std::function<void()>& append) {
    (void)append;
    return false;
  }
};

void SetLogTarget(LogControl* control);
LogControl* GetLogTarget();

void AppendLog(const std::wstring& text);

}  // namespace zantrel
