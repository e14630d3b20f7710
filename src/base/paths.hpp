// Path and text helpers: taking paths apart, making them absolute, lower-casing.
//
// Stateless; any thread. Every splitting helper exists for both path syntaxes so
// that the Windows rules stay testable on Linux; the one-argument forms use the
// syntax of the platform the program runs on. Nothing here throws except on
// allocation failure; platform failures give the empty string.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zantrel {

enum class PathSyntax {
  Windows,  // drive "C:", '\\' and '/' both separate, "\x" and "C:..." are absolute
  Posix,    // '/' separates, "/x" is absolute
};

#ifdef _WIN32
inline constexpr PathSyntax kNativePathSyntax = PathSyntax::Windows;
#else
inline constexpr PathSyntax kNativePathSyntax = PathSyntax::Posix;
#endif

struct PathParts {
  std::wstring drive;      // "C:" or empty
  std::wstring directory;  // up to and including the last separator
  std::wstring name;       // final component without its extension
  std::wstring extension;  // from the last dot of the final component, dot included
};

PathParts SplitPath(std::wstring_view path, PathSyntax syntax = kNativePathSyntax);

// b.xml for C:\a\b.xml
std::wstring GetFileNamePart(std::wstring_view path, PathSyntax syntax = kNativePathSyntax);
// C:\a\ for C:\a\b.xml; empty for b.xml
std::wstring GetDirectoryPart(std::wstring_view path, PathSyntax syntax = kNativePathSyntax);
// ".xml"; empty when the final component has no dot
std::wstring GetExtensionPart(std::wstring_view path, PathSyntax syntax = kNativePathSyntax);
// the path without the extension of its final component
std::wstring RemoveExtension(std::wstring_view path, PathSyntax syntax = kNativePathSyntax);
// path + extension, unless path already ends in it (ASCII case ignored)
std::wstring EnsureExtension(std::wstring_view path, std::wstring_view extension,
                             PathSyntax syntax = kNativePathSyntax);

// True when `path` is anchored: Windows "C:..." or "\\...", POSIX "/...".
bool IsAbsolutePath(std::wstring_view path, PathSyntax syntax = kNativePathSyntax);
// By name alone, no file system access; `currentDirectory` is a full path.
// Windows: the full path the system's own resolution (_wfullpath) gives: "\\x"
// hangs from the current drive or share, "C:x" from the current directory on the
// same drive and from the root of another, ".." stops at "C:\" or "\\server\share\".
// POSIX: `path` unchanged when absolute; else joined to `currentDirectory` with "."
// and ".." resolved by name.
std::wstring MakeAbsolutePath(std::wstring_view path, std::wstring_view currentDirectory,
                              PathSyntax syntax);
// The same against the process's current directory (empty on failure). Windows
// resolves it as the system does; on POSIX ".." is resolved as the kernel does:
// the parent of a symbolic link is the parent of what it points to, so the result
// names the file the path names.
std::wstring MakeAbsolutePath(std::wstring_view path);

// Only "A" to "Z" are lowered: full-width letters and the rest stay.
std::wstring ToLowerCopy(std::wstring_view text);

// Narrow text of the system's code page (UTF-8 on POSIX) as wide text.
std::wstring AnsiToWide(std::string_view text);

// --- platform operations (paths_posix.cpp / paths_win.cpp) ---

// The executable's full path, or empty.
std::wstring GetModulePath();
// Directory of the executable with its trailing separator, or empty.
std::wstring GetModuleDirectory();
std::wstring GetCurrentDirectoryPath();
// True when the path names any existing entry, a directory included.
bool PathExists(const std::wstring& path);
// The size of the file the path names (a link followed), or 0 when there is none.
std::uint64_t FileSize(const std::wstring& path);

}  // namespace zantrel
