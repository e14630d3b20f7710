// The log view on Windows: the main window's read-only "EDIT" control.
//
// A whole append from another thread is sent to the control's parent window as
// one message (kRunAppendMessage) and carried out by the owner thread, so appends
// never interleave and no lock is taken (a lock would deadlock against the owner
// thread's own appends). The owner thread must keep serving messages while a
// worker logs. A destroyed window makes the append a no-op.
#pragma once

#include <windows.h>

#include "base/log.hpp"

namespace zantrel {

// Sent to the log control's parent: lParam points to a std::function<void()> to run.
inline constexpr UINT kRunAppendMessage = WM_APP + 1;

class EditLogControl final : public LogControl {
 public:
  explicit EditLogControl(HWND edit) : edit_(edit) {}
  std::size_t Length() override;
  void Clear() override;
  void Select(std::size_t start, std::size_t end) override;
  void ReplaceSelection(const std::wstring& text) override;
  bool RunAppend(const std::function<void()>& append) override;
  HWND Handle() const { return edit_; }

 private:
  HWND edit_;
};

}  // namespace zantrel
