// The process's arguments as main() received them: bytes, made wide losslessly so
// that a file name that is not UTF-8 still names its file.
#include "base/args.hpp"
#include "base/text.hpp"

namespace zantrel {
namespace {

std::vector<std::wstring> WideArgv(int argc, const char* const* argv) {
  std::vector<std::wstring> wide;
  for (int i = 0; i < argc && argv[i] != nullptr; ++i) wide.push_back(NativeToWide(argv[i]));
  return wide;
}

}  // namespace

ArgumentList GetCommandArgs(int argc, const char* const* argv) {
  std::vector<std::wstring> wide = WideArgv(argc, argv);
  if (wide.empty()) return {};
  return ArgumentList(wide.begin() + 1, wide.end());
}

std::wstring GetRawCommandLine(int argc, const char* const* argv) {
  return JoinCommandLine(WideArgv(argc, argv));
}

}  // namespace zantrel
