// The save-location dialog: the chosen path ending in ".xml", or empty when the
// user cancels. Opens in the seed's folder with its name filled in; a new file
// name is accepted (its folder must exist) and overwriting asks first.
// Main thread; modal.
#pragma once

#include <windows.h>

#include <string>

namespace zantrel {

std::wstring AskSavePath(const std::wstring& seed, HWND owner);

}  // namespace zantrel
