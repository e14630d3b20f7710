// Application constants: program name, version, where the executable and its
// settings file are. Filled once on first use (before any worker starts) and
// read-only afterwards; any thread may read them.
#pragma once

#include <string>

namespace zantrel {

struct AppInfo {
  std::wstring programName;       // "Zantrel"
  std::wstring version;           // "0.10"
  std::wstring moduleDirectory;   // with its trailing separator, or empty
  std::wstring settingsFileName;  // "Zantrel.ini"
  std::wstring settingsPath;      // moduleDirectory + settingsFileName
  std::wstring styleSheetPath;    // moduleDirectory + "convert.xsl"
};

const AppInfo& GetAppInfo();

}  // namespace zantrel
