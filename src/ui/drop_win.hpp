// The drop road: files dropped on the main window reach job intake.
// Main thread (inside the window procedure). OnDropFiles owns the drop handle from
// its first line and releases it on every path, an escaping exception included.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>
#include <vector>

#include "base/scoped_win.hpp"

namespace zantrel {

class CWndMain;

void OnDropFiles(CWndMain& window, HDROP drop);
// The dropped paths in the shell's order; false when the drop holds nothing.
bool GetDroppedFiles(HDROP drop, std::vector<std::wstring>& files);

}  // namespace zantrel
