// The main window's settings in "Zantrel.ini", section "main": position and size
// (read at start-up, written at close) and the output-name pattern "save".
// Main thread only. Failures to write are silent; the window carries on.
#pragma once

#include <windows.h>

#include <string>

namespace zantrel {

class CWndMain;

bool LoadSettings(CWndMain& window, const std::wstring& settingsPath);
bool SaveSettings(const std::wstring& settingsPath, CWndMain& window);
void CenterWindow(HWND hwnd);

}  // namespace zantrel
