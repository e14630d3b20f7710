#include "ui/wnd_main_win.hpp"

#include <shellapi.h>

#include "base/app_info.hpp"
#include "base/log.hpp"
#include "base/paths.hpp"
#include "ui/drop_win.hpp"
#include "ui/save_dialog_win.hpp"
#include "ui/window_settings_win.hpp"

namespace zantrel {

CWndMain::CWndMain(std::wstring className, std::wstring settingsPath)
    : className_(std::move(className)),
      title_(className_ + L" - Ver." + GetAppInfo().version + L" Test"),
      settingsPath_(std::move(settingsPath)),
      styleSheetPath_(GetAppInfo().styleSheetPath) {
  SetLogTarget(nullptr);
}

CWndMain::~CWndMain() {
  if (hwnd_ != nullptr) SendMessageW(hwnd_, WM_CLOSE, 0, 0);
  // The control object goes with us: nothing may log into it afterwards.
  if (log_ && GetLogTarget() == log_.get()) SetLogTarget(nullptr);
}

LRESULT CWndMain::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == RunAppendMessage()) {
    // A worker's log line, appended here in one piece; a forged one does nothing.
    if (log_) log_->RunPendingAppend(lParam);
    return 0;
  }
  switch (message) {
    case WM_CREATE:
      return OnCreate(hwnd, *reinterpret_cast<CREATESTRUCTW*>(lParam));
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_SIZE:
      OnSize(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      return 0;
    case WM_CLOSE:
      OnClose();
      return 0;
    case WM_NOTIFY:
    case WM_COMMAND:
    case WM_LBUTTONDOWN:
      return 0;
    case WM_DROPFILES:
      OnDropFiles(*this, reinterpret_cast<HDROP>(wParam));
      return 0;
    default:
      return DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT CWndMain::OnCreate(HWND hwnd, const CREATESTRUCTW& create) {
  DragAcceptFiles(hwnd, TRUE);
  HWND edit = CreateWindowExW(0, L"EDIT", nullptr, 0x503008C4, 0, 0, 0, 0, hwnd, nullptr, create.hInstance,
                              nullptr);
  if (edit == nullptr) return -1;
  log_ = std::make_unique<EditLogControl>(edit);
  SetLogTarget(log_.get());
  closeTarget_ = hwnd;
  // The font lives until the process ends, as the control uses it to the last.
  HFONT font = CreateFontW(14, 0, 0, 0, FW_THIN, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET, 0, 0, 0,
                           VARIABLE_PITCH | FF_SWISS, L"Tahoma");
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
  return 0;
}

void CWndMain::OnSize(int width, int height) {
  HWND edit = LogControlHandle();
  if (edit == nullptr) return;
  RECT rect{};
  GetWindowRect(edit, &rect);
  SetWindowPos(edit, nullptr, 0, 0, width, rect.bottom - rect.top, SWP_NOMOVE | SWP_NOZORDER);
  GetWindowRect(edit, &rect);
  SetWindowPos(edit, nullptr, 0, 0, rect.right - rect.left, height, SWP_NOMOVE | SWP_NOZORDER);
}

void CWndMain::OnClose() {
  SaveSettings(settingsPath_, *this);
  DestroyWindow(hwnd_);
  hwnd_ = nullptr;
}

std::wstring CWndMain::AskSavePath(const std::wstring& seed) { return zantrel::AskSavePath(seed, hwnd_); }

void CWndMain::RequestClose() { PostMessageW(closeTarget_, WM_CLOSE, 0, 0); }

bool RegisterWndClass(CWndMain& object) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW existing{};
  existing.cbSize = sizeof existing;
  if (GetClassInfoExW(instance, object.ClassName().c_str(), &existing)) return true;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.style = CS_VREDRAW | CS_HREDRAW;
  wc.lpfnWndProc = &StaticWndProc;
  wc.hInstance = instance;
  wc.hIcon = LoadIconW(instance, L"ICON_SOFT_MAIN");
  wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
  wc.lpszClassName = object.ClassName().c_str();
  return RegisterClassExW(&wc) != 0;
}

bool CreateWnd(CWndMain& object) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  object.hwnd_ = CreateWindowExW(0, object.ClassName().c_str(), object.Title().c_str(), WS_OVERLAPPEDWINDOW,
                                 CW_USEDEFAULT, 0, object.DefaultWidth(), object.DefaultHeight(), nullptr,
                                 nullptr, instance, &object);
  return object.hwnd_ != nullptr;
}

}  // namespace zantrel
