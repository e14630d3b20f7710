// Application constants: program name, version, where the executable, its style
// sheet and its settings file are. Filled once on first use (before any worker
// starts) and read-only afterwards; any thread may read them.
#pragma once

#include <string>
#include <vector>

namespace zantrel {

struct AppInfo {
  std::wstring programName;       // "Zantrel"
  std::wstring version;           // the project's version, "0.10"
  std::wstring moduleDirectory;   // with its trailing separator, or empty
  std::wstring settingsFileName;  // "Zantrel.ini"
  // Where the settings file and "convert.xsl" are looked for, in order: beside
  // the program first (a build folder, the Windows layout), then where an
  // installation puts them (see locations_*.cpp).
  std::vector<std::wstring> settingsCandidates;
  std::vector<std::wstring> styleSheetCandidates;
  std::wstring settingsPath;      // the first candidate that exists, else the first
  std::wstring styleSheetPath;    // likewise
};

const AppInfo& GetAppInfo();

// The places above for a program in `moduleDirectory` (platform part).
std::vector<std::wstring> SettingsCandidates(const std::wstring& moduleDirectory,
                                             const std::wstring& fileName);
std::vector<std::wstring> StyleSheetCandidates(const std::wstring& moduleDirectory);

// The first of `candidates` that names an existing file, else the first one.
std::wstring FirstExisting(const std::vector<std::wstring>& candidates);

}  // namespace zantrel
