#include "ui/wnd_base_win.hpp"

namespace zantrel {
namespace {

// A dialog keeps its procedure in the dialog slot (DWLP_DLGPROC, the 64-bit form
// of index 4); an ordinary window has no such slot and reads 0 there.
constexpr int kDialogProcSlot = static_cast<int>(DWLP_DLGPROC);

bool HasDialogProc(HWND hwnd) { return GetWindowLongPtrW(hwnd, kDialogProcSlot) != 0; }

int HookSlot(int dialog) { return dialog != 0 ? kDialogProcSlot : GWLP_WNDPROC; }

}  // namespace

LRESULT CALLBACK StaticWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* object = static_cast<CWndBase*>(GetPropW(hwnd, kWndBaseProp));
  if (object == nullptr) {
    if (message == WM_NCCREATE || message == WM_CREATE) {
      object = static_cast<CWndBase*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    } else if (message == WM_INITDIALOG) {
      object = reinterpret_cast<CWndBase*>(lParam);
    }
    if (object != nullptr) Attach(*object, hwnd);
  }
  if (object == nullptr) {
    // Before WM_NCCREATE (WM_GETMINMAXINFO) and after the binding is gone.
    if (HasDialogProc(hwnd)) return 0;
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }
  LRESULT result = 0;
  try {
    result = object->WindowProc(hwnd, message, wParam, lParam);
  } catch (...) {
    // Trap: an exception must never unwind into the system's message dispatch,
    // which cannot pass it on (the process would end). The message counts as
    // handled; a creation message that failed makes the creation fail.
    result = message == WM_CREATE ? -1 : 0;
  }
  if (message == WM_DESTROY) Detach(*object);
  return result;
}

bool Attach(CWndBase& object, HWND hwnd) {
  if (hwnd == nullptr) return false;
  object.hwnd_ = hwnd;
  object.dialog_ = HasDialogProc(hwnd) ? 1 : 0;
  SetPropW(hwnd, kWndBaseProp, &object);
  const int slot = HookSlot(object.dialog_);
  const auto current = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hwnd, slot));
  if (current != &StaticWndProc) {
    object.previousProc_ = current;
    SetWindowLongPtrW(hwnd, slot, reinterpret_cast<LONG_PTR>(&StaticWndProc));
  }
  return true;
}

bool Detach(CWndBase& object) {
  if (object.hwnd_ == nullptr) return false;
  if (object.previousProc_ != nullptr)
    SetWindowLongPtrW(object.hwnd_, HookSlot(object.dialog_),
                      reinterpret_cast<LONG_PTR>(object.previousProc_));
  RemovePropW(object.hwnd_, kWndBaseProp);
  return true;
}

LRESULT CWndBase::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (previousProc_ != nullptr) return CallWindowProcW(previousProc_, hwnd, message, wParam, lParam);
  if (dialog_ != 0) return 0;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace zantrel
