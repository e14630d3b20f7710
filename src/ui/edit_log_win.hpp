// The log view on Windows: the main window's read-only "EDIT" control.
//
// Each operation is one synchronous message to the control, carried out by the
// thread that owns it, which serialises appends from every thread; AppendLog
// therefore takes no lock for it (a lock would deadlock against the main
// thread's own appends). The owner thread must keep serving messages while a
// worker logs. A destroyed control makes every operation a no-op.
#pragma once

#include <windows.h>

#include "ui/log.hpp"

namespace zantrel {

class EditLogControl final : public LogControl {
 public:
  explicit EditLogControl(HWND edit) : edit_(edit) {}
  std::size_t Length() override;
  void Clear() override;
  void Select(std::size_t start, std::size_t end) override;
  void ReplaceSelection(const std::wstring& text) override;
  bool SerialisesItself() const override { return true; }
  HWND Handle() const { return edit_; }

 private:
  HWND edit_;
};

}  // namespace zantrel
