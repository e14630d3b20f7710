// The drop road: files dropped on the main window reach job intake.
// Main thread (inside the window procedure). OnDropFiles owns the drop handle from
// its first line and releases it on every path, an escaping exception included.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <memory>
#include <string>
#include <type_traits>
#include <vector>

namespace zantrel {

class CWndMain;

struct DropFinisher {
  void operator()(HDROP drop) const noexcept { DragFinish(drop); }
};
// The owner of a shell drop handle.
using UniqueDrop = std::unique_ptr<std::remove_pointer_t<HDROP>, DropFinisher>;

void OnDropFiles(CWndMain& window, HDROP drop);
// The dropped paths in the shell's order; false when the drop holds nothing.
bool GetDroppedFiles(HDROP drop, std::vector<std::wstring>& files);

}  // namespace zantrel
