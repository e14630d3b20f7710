// The log line protocol: the one road by which every part of the program talks to
// the user.
//
// AppendLog(text): a plain text becomes a line ("\r\n" is added); a text that
// begins with "%RAW%" continues the current line; one that begins with "%CHANGE%"
// overwrites the same number of characters at the end. When the log holds 16000
// UTF-16 units or more before an append, it is emptied first.
//
// Threads: AppendLog may be called from any thread. Targets that do not serialise
// their operations themselves are driven under one process-wide lock covering the
// whole append (read length .. replace). The Win32 edit control serialises through
// its owner thread's message queue and must not be locked (a lock would deadlock
// against the main thread's own appends).
//
// Ownership: the process-wide target is borrowed; whoever sets it keeps it alive
// until it is reset to null and no worker can still log. Without a target every
// call does nothing. Never throws.
#pragma once

#include <cstddef>
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
  // True when the control itself serialises each operation with every other.
  virtual bool SerialisesItself() const { return false; }
};

void SetLogTarget(LogControl* control);
LogControl* GetLogTarget();

void AppendLog(const std::wstring& text);

}  // namespace zantrel
