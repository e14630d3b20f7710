#include "base/app_info.hpp"

#include "base/paths.hpp"

// The one version of the project, from CMake's project(VERSION).
#define ZANTREL_WIDE_(text) L##text
#define ZANTREL_WIDE(text) ZANTREL_WIDE_(text)

namespace zantrel {

std::wstring FirstExisting(const std::vector<std::wstring>& candidates) {
  for (const auto& path : candidates)
    if (PathExists(path)) return path;
  return candidates.empty() ? std::wstring() : candidates.front();
}

const AppInfo& GetAppInfo() {
  static const AppInfo info = [] {
    AppInfo a;
    a.programName = L"Zantrel";
    a.version = ZANTREL_WIDE(ZANTREL_VERSION);
    a.moduleDirectory = GetModuleDirectory();
    a.settingsFileName = L"Zantrel.ini";
    a.settingsCandidates = SettingsCandidates(a.moduleDirectory, a.settingsFileName);
    a.styleSheetCandidates = StyleSheetCandidates(a.moduleDirectory);
    a.settingsPath = FirstExisting(a.settingsCandidates);
    a.styleSheetPath = FirstExisting(a.styleSheetCandidates);
    return a;
  }();
  return info;
}

}  // namespace zantrel
