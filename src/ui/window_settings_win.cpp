#include "ui/window_settings_win.hpp"

#include "base/settings.hpp"
#include "ui/wnd_main_win.hpp"

namespace zantrel {
namespace {

constexpr int kUnset = CW_USEDEFAULT;

RECT WindowRect(HWND hwnd) {
  RECT rect{};
  GetWindowRect(hwnd, &rect);
  return rect;
}

}  // namespace

bool LoadSettings(CWndMain& window, const std::wstring& settingsPath) {
  const IniFile ini(settingsPath, L"main");
  const int left = ini.ReadInt(L"", L"left", kUnset);
  const int top = ini.ReadInt(L"", L"top", kUnset);
  const int width = ini.ReadInt(L"", L"width", window.DefaultWidth());
  const int height = ini.ReadInt(L"", L"height", window.DefaultHeight());
  HWND hwnd = window.Handle();

  RECT r = WindowRect(hwnd);
  SetWindowPos(hwnd, nullptr, 0, 0, width, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
  r = WindowRect(hwnd);
  SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, height, SWP_NOMOVE | SWP_NOZORDER);

  // Either coordinate missing centres the window: a lone one would put it off-screen.
  if (left == kUnset || top == kUnset) {
    CenterWindow(hwnd);
  } else {
    r = WindowRect(hwnd);
    SetWindowPos(hwnd, nullptr, left, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    r = WindowRect(hwnd);
    SetWindowPos(hwnd, nullptr, r.left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  }
  window.SetSavePattern(ini.ReadString(L"", L"save", L""));
  return true;
}

bool SaveSettings(const std::wstring& settingsPath, CWndMain& window) {
  HWND hwnd = window.Handle();
  if (hwnd == nullptr) return false;
  const IniFile ini(settingsPath, L"main");
  WINDOWPLACEMENT placement{};
  placement.length = sizeof placement;
  if (GetWindowPlacement(hwnd, &placement)) {
    const RECT& r = placement.rcNormalPosition;
    ini.WriteInt(L"", L"left", r.left);
    ini.WriteInt(L"", L"top", r.top);
    ini.WriteInt(L"", L"width", r.right - r.left);
    ini.WriteInt(L"", L"height", r.bottom - r.top);
  }
  ini.WriteString(L"", L"save", window.SavePattern());
  return true;
}

void CenterWindow(HWND hwnd) {
  RECT r = WindowRect(hwnd);
  const int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  SetWindowPos(hwnd, nullptr, x, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  r = WindowRect(hwnd);
  const int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(hwnd, nullptr, r.left, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}

}  // namespace zantrel
