#include "base/args.hpp"

#include <algorithm>

namespace zantrel {

bool HasOption(const ArgumentList& args, std::wstring_view option) {
  return std::find(args.begin(), args.end(), option) != args.end();
}

bool IsHidden(const ArgumentList& args) { return HasOption(args, L"-hide"); }

bool IsAutoExit(const ArgumentList& args) {
  return IsHidden(args) || HasOption(args, L"-autoexit");
}

std::wstring GetOptionValue(const ArgumentList& args, std::wstring_view key,
                            const std::wstring& defaultValue) {
  std::wstring value = defaultValue;
  for (const auto& arg : args)
    if (std::wstring_view(arg).substr(0, key.size()) == key) value = arg.substr(key.size());
  return value;
}

std::wstring JoinCommandLine(const std::vector<std::wstring>& argv) {
  std::wstring line;
  for (const auto& arg : argv) {
    if (!line.empty()) line += L' ';
    const bool quote = arg.empty() || arg.find_first_of(L" \t") != std::wstring::npos;
    line += quote ? L'"' + arg + L'"' : arg;
  }
  return line;
}

}  // namespace zantrel
