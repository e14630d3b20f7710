// The process's arguments from the kernel's record of them, so that any part of
// the program can ask without main() handing argv around.
#include <fstream>
#include <iterator>

#include "app/args.hpp"
#include "job/text.hpp"

namespace zantrel {
namespace {

std::vector<std::wstring> ProcessArgv() {
  std::ifstream in("/proc/self/cmdline", std::ios::binary);
  const std::string raw((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::wstring> argv;
  std::size_t start = 0;
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '\0') {
      argv.push_back(Utf8ToWide(std::string_view(raw).substr(start, i - start)));
      start = i + 1;
    }
  }
  return argv;
}

}  // namespace

ArgumentList GetCommandArgs() {
  std::vector<std::wstring> argv = ProcessArgv();
  if (argv.empty()) return {};
  return ArgumentList(argv.begin() + 1, argv.end());
}

std::wstring GetRawCommandLine() { return JoinCommandLine(ProcessArgv()); }

}  // namespace zantrel
