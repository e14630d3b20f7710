// The argument list: every command-line argument after the program path, options
// included, as the platform splits them. Options are never removed from it.
//
// "-hide" (window never shown; implies auto-exit), "-autoexit", "save=<pattern>"
// (last one wins). Matching is exact and case-sensitive. Stateless; main thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zantrel {

using ArgumentList = std::vector<std::wstring>;

#ifdef _WIN32
// The process's arguments: the command line split by the shell's rules.
ArgumentList GetCommandArgs();
// The command line as typed.
std::wstring GetRawCommandLine();
#else
// The arguments main() received (argv[0] is the program). Bytes that are not
// UTF-8 round-trip (NativeToWide).
ArgumentList GetCommandArgs(int argc, const char* const* argv);
// The command line as typed: program and arguments, those with blanks or empty
// ones in double quotes.
std::wstring GetRawCommandLine(int argc, const char* const* argv);
#endif

bool HasOption(const ArgumentList& args, std::wstring_view option);
bool IsHidden(const ArgumentList& args);
bool IsAutoExit(const ArgumentList& args);
// The text after `key` of the last argument that starts with it, else the default.
std::wstring GetOptionValue(const ArgumentList& args, std::wstring_view key,
                            const std::wstring& defaultValue);

// Joins arguments the way GetRawCommandLine shows them.
std::wstring JoinCommandLine(const std::vector<std::wstring>& argv);

}  // namespace zantrel
