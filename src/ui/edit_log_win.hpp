// The log view on Windows: the main window's read-only "EDIT" control.
//
// A whole append from another thread is sent to the control's parent window as
// one message (RunAppendMessage()) and carried out by the owner thread, so appends
// never interleave and no lock is taken (a lock would deadlock against the owner
// thread's own appends). The owner thread must keep serving messages while a
// worker logs. A destroyed window makes the append a no-op.
//
// Trap: any program may post any message to our window, a registered one too. The
// message's lParam is therefore never trusted: it is run only when it is one of
// this log's own appends still waiting in RunAppend (RunPendingAppend looks it up
// under the registry's lock first); anything else is ignored.
#pragma once

#include <windows.h>

#include <functional>
#include <mutex>
#include <vector>

#include "base/log.hpp"

namespace zantrel {

// Sent to the log control's parent: lParam names a pending append of its log.
UINT RunAppendMessage();

class EditLogControl final : public LogControl {
 public:
  explicit EditLogControl(HWND edit) : edit_(edit) {}
  std::size_t Length() override;
  void Clear() override;
  void Select(std::size_t start, std::size_t end) override;
  void ReplaceSelection(const std::wstring& text) override;
  bool RunAppend(const std::function<void()>& append) override;
  HWND Handle() const { return edit_; }

  // Owner thread, on RunAppendMessage(): runs the append `lParam` names when it is
  // one of ours and still pending, at most once; returns whether it ran.
  bool RunPendingAppend(LPARAM lParam);

 private:
  HWND edit_;
  std::mutex pendingMutex_;
  // Appends whose senders wait in SendMessageW: each stays alive until its sender
  // has taken it out again.
  std::vector<const std::function<void()>*> pending_;
};

}  // namespace zantrel
