// POSIX: beside the program first (a build folder), then the installed layout:
// <prefix>/bin/zantrel reads <prefix>/share/zantrel/convert.xsl, and the user's
// settings live in $XDG_CONFIG_HOME/zantrel/ (by default ~/.config/zantrel/).
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

#include "base/app_info.hpp"
#include "base/text.hpp"

namespace zantrel {
namespace {

// The user's configuration folder with a trailing '/', or empty.
std::wstring ConfigHome() {
  // Only an absolute $XDG_CONFIG_HOME counts; a relative one is to be ignored.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/')
    return NativeToWide(xdg) + L"/";
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* entry = ::getpwuid(::getuid());
    home = entry == nullptr ? nullptr : entry->pw_dir;
  }
  if (home == nullptr || home[0] == '\0') return {};
  return NativeToWide(home) + L"/.config/";
}

}  // namespace

std::vector<std::wstring> SettingsCandidates(const std::wstring& moduleDirectory,
                                             const std::wstring& fileName) {
  std::vector<std::wstring> candidates{moduleDirectory + fileName};
  if (const std::wstring config = ConfigHome(); !config.empty())
    candidates.push_back(config + L"zantrel/" + fileName);
  return candidates;
}

std::vector<std::wstring> StyleSheetCandidates(const std::wstring& moduleDirectory) {
  return {moduleDirectory + L"convert.xsl", moduleDirectory + L"../share/zantrel/convert.xsl"};
}

}  // namespace zantrel
