// Binds a program object to a platform window: every message for the window
// reaches the object's virtual WindowProc.
//
// The binding is the window property "CWndBaseProp" holding the object's address,
// set when the first creation message arrives (WM_NCCREATE, WM_CREATE or
// WM_INITDIALOG) and removed right after the object has handled WM_DESTROY.
// Messages before the binding or after it go to DefWindowProcW. Main thread only;
// the object must outlive its window. No exception leaves StaticWndProc: one that
// escapes a WindowProc ends that message (0; -1 for WM_CREATE, 0 for WM_NCCREATE
// so that creation fails).
#pragma once

#include <windows.h>

#include <string>

namespace zantrel {

class CWndBase {
 public:
  CWndBase() = default;
  CWndBase(const CWndBase&) = delete;
  CWndBase& operator=(const CWndBase&) = delete;
  virtual ~CWndBase() = default;

  virtual LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND Handle() const { return hwnd_; }

 protected:
  friend bool Attach(CWndBase& object, HWND hwnd);
  friend bool Detach(CWndBase& object);
  friend bool CreateWnd(class CWndMain& object);

  HWND hwnd_ = nullptr;
  WNDPROC previousProc_ = nullptr;
  int dialog_ = 0;
};

LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
bool Attach(CWndBase& object, HWND hwnd);
bool Detach(CWndBase& object);

inline constexpr wchar_t kWndBaseProp[] = L"CWndBaseProp";

}  // namespace zantrel
