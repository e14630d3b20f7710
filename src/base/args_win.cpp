// The argument list from the process command line, split by the shell's rules.
#include <windows.h>
#include <shellapi.h>

#include "base/args.hpp"
#include "base/scoped_win.hpp"

namespace zantrel {

ArgumentList GetCommandArgs() {
  int count = 0;
  const UniqueLocal<LPWSTR> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!argv) return {};  // cannot be split: no arguments
  ArgumentList args;
  for (int i = 1; i < count; ++i) args.emplace_back(argv.get()[i]);
  return args;
}

std::wstring GetRawCommandLine() { return GetCommandLineW(); }

}  // namespace zantrel
