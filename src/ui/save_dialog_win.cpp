#include "ui/save_dialog_win.hpp"

#include <commdlg.h>

#include "base/paths.hpp"

namespace zantrel {

std::wstring AskSavePath(const std::wstring& seed, HWND owner) {
  wchar_t file[MAX_PATH] = {};
  const std::wstring name = GetFileNamePart(seed).substr(0, MAX_PATH - 1);
  name.copy(file, name.size());
  const std::wstring folder = GetDirectoryPart(seed);
  static const wchar_t kFilter[] = L"コメントファイル (*.xml)\0*.xml\0";
  OPENFILENAMEW ofn{};
  ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kFilter;
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = folder.c_str();
  // A new name is fine; its folder must exist, and overwriting asks first.
  ofn.Flags = OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
  if (!GetSaveFileNameW(&ofn) || file[0] == L'\0') return {};
  return EnsureExtension(RemoveExtension(file), L".xml");
}

}  // namespace zantrel
