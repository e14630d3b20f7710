// Windows: the program's files lie beside it, as the zip unpacks them.
#include "base/app_info.hpp"

namespace zantrel {

std::vector<std::wstring> SettingsCandidates(const std::wstring& moduleDirectory,
                                             const std::wstring& fileName) {
  return {moduleDirectory + fileName};
}

std::vector<std::wstring> StyleSheetCandidates(const std::wstring& moduleDirectory) {
  return {moduleDirectory + L"convert.xsl"};
}

}  // namespace zantrel
