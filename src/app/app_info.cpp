#include "app/app_info.hpp"

#include "job/paths.hpp"

namespace zantrel {

const AppInfo& GetAppInfo() {
  static const AppInfo info = [] {
    AppInfo a;
    a.programName = L"Zantrel";
    a.version = L"0.10";
    a.moduleDirectory = GetModuleDirectory();
    a.settingsFileName = L"Zantrel.ini";
    a.settingsPath = a.moduleDirectory + a.settingsFileName;
    a.styleSheetPath = a.moduleDirectory + L"convert.xsl";
    return a;
  }();
  return info;
}

}  // namespace zantrel
