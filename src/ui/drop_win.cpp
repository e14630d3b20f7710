#include "ui/drop_win.hpp"

#include "base/log.hpp"
#include "job/intake.hpp"
#include "ui/wnd_main_win.hpp"

namespace zantrel {

bool GetDroppedFiles(HDROP drop, std::vector<std::wstring>& files) {
  files.clear();
  const UINT count = DragQueryFileW(drop, 0xFFFFFFFF, nullptr, 0);
  if (count < 1) return false;
  files.assign(count, std::wstring());
  for (UINT i = 0; i < count; ++i) {
    const UINT length = DragQueryFileW(drop, i, nullptr, 0);
    std::vector<wchar_t> buffer(length + 2, L'\0');
    DragQueryFileW(drop, i, buffer.data(), length + 1);
    files[i] = buffer.data();
  }
  return true;
}

void OnDropFiles(CWndMain& window, HDROP drop) {
  const UniqueDrop owner(drop);
  std::vector<std::wstring> files;
  if (GetDroppedFiles(drop, files)) {
    if (files.size() >= 2) {
      SubmitJob(MakeJobRequest(std::move(files)), window);
    } else {
      AppendLog(L"結合するファイルを2つ以上一緒にD&Dして下さい");
    }
  }
}

}  // namespace zantrel
