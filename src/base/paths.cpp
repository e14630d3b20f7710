#include "base/paths.hpp"

#include <vector>

namespace zantrel {
namespace {

bool IsSeparator(wchar_t c, PathSyntax syntax) {
  return c == L'/' || (syntax == PathSyntax::Windows && c == L'\\');
}

bool HasDrive(std::wstring_view path, PathSyntax syntax) {
  return syntax == PathSyntax::Windows && path.size() >= 2 && path[1] == L':';
}

// Device paths ("\\?\...") name objects, not files: the system takes them as given.
bool IsDevicePath(std::wstring_view path) {
  return path.size() >= 4 && IsSeparator(path[0], PathSyntax::Windows) &&
         IsSeparator(path[1], PathSyntax::Windows) && path[2] == L'?' &&
         IsSeparator(path[3], PathSyntax::Windows);
}

// Length of the root of a path that begins with two separators: "\\server\share"
// and the separators after it. ".." never climbs above it.
std::size_t UncRootLength(std::wstring_view path) {
  const auto sep = [](wchar_t c) { return IsSeparator(c, PathSyntax::Windows); };
  std::size_t i = 2;
  while (i < path.size() && !sep(path[i])) ++i;  // server
  while (i < path.size() && sep(path[i])) ++i;
  while (i < path.size() && !sep(path[i])) ++i;  // share
  while (i < path.size() && sep(path[i])) ++i;
  return i;
}

bool SameDriveLetter(wchar_t a, wchar_t b) {
  const auto upper = [](wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; };
  return upper(a) == upper(b);
}

// The full form of a path that is already anchored at a root ("C:\..." or
// "\\server\share\..."): separators become '\' and run together, "." and ".."
// go (never above the root), a name followed by a separator loses one trailing
// dot, and unless the path ends in a separator its trailing dots and blanks go.
// `endsInSeparator` is the caller's path's, not the anchored one's.
std::wstring CollapseWindowsPath(std::wstring_view full, bool endsInSeparator) {
  std::size_t rootLength = 0;
  if (full.size() >= 2 && IsSeparator(full[0], PathSyntax::Windows) &&
      IsSeparator(full[1], PathSyntax::Windows)) {
    rootLength = UncRootLength(full);
  } else if (HasDrive(full, PathSyntax::Windows)) {
    rootLength = full.size() >= 3 && IsSeparator(full[2], PathSyntax::Windows) ? 3 : 2;
  } else if (!full.empty() && IsSeparator(full[0], PathSyntax::Windows)) {
    rootLength = 1;  // a current directory without a root of its own
  }
  std::wstring out;
  for (std::size_t i = 0; i < rootLength; ++i) {
    const wchar_t c = IsSeparator(full[i], PathSyntax::Windows) ? L'\\' : full[i];
    // Runs of separators after the leading pair of a share collapse to one.
    if (c == L'\\' && i >= 2 && out.back() == L'\\') continue;
    out += c;
  }
  const std::size_t rootEnd = out.size();
  std::vector<std::wstring> parts;
  const std::wstring_view rest = full.substr(rootLength);
  std::size_t start = 0;
  for (std::size_t i = 0; i <= rest.size(); ++i) {
    if (i < rest.size() && !IsSeparator(rest[i], PathSyntax::Windows)) continue;
    std::wstring part(rest.substr(start, i - start));
    start = i + 1;
    if (part.empty() || part == L".") continue;
    if (part == L"..") {
      if (!parts.empty()) parts.pop_back();
      continue;
    }
    // A trap of the platform: "a.\b" names the folder "a".
    if (i < rest.size() && part.back() == L'.') part.pop_back();
    parts.push_back(std::move(part));
  }
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0 || (!out.empty() && out.back() != L'\\')) out += L'\\';
    out += parts[i];
  }
  if (endsInSeparator) {
    if (!parts.empty()) out += L'\\';
  } else {
    while (out.size() > rootEnd && (out.back() == L'.' || out.back() == L' ')) out.pop_back();
  }
  return out;
}

// What the system's full-path resolution gives for `path` with the current
// directory `cwd` (itself a full path, with or without a trailing separator).
std::wstring FullWindowsPath(std::wstring_view path, std::wstring_view cwd) {
  const auto sep = [](wchar_t c) { return IsSeparator(c, PathSyntax::Windows); };
  if (IsDevicePath(path)) return std::wstring(path);
  // A bare drive names that drive's current directory, written as a folder.
  const bool endsInSeparator =
      (!path.empty() && sep(path.back())) || (path.size() == 2 && HasDrive(path, PathSyntax::Windows));
  std::wstring full;
  if (path.size() >= 2 && sep(path[0]) && sep(path[1])) {
    full = path;  // "\\server\share\..."
  } else if (HasDrive(path, PathSyntax::Windows)) {
    if (path.size() >= 3 && sep(path[2])) {
      full = path;  // "C:\..."
    } else if (HasDrive(cwd, PathSyntax::Windows) && SameDriveLetter(path[0], cwd[0])) {
      full = std::wstring(cwd) + L'\\' + std::wstring(path.substr(2));  // "C:x" on the current drive
    } else {
      // "D:x" elsewhere: that drive's own current directory is not known here, and
      // a drive without one resolves from its root.
      full = std::wstring(path.substr(0, 2)) + L'\\' + std::wstring(path.substr(2));
    }
  } else if (!path.empty() && sep(path[0])) {
    // "\x" hangs from the root of the current directory: its drive or its share.
    if (HasDrive(cwd, PathSyntax::Windows)) {
      full = std::wstring(cwd.substr(0, 2)) + std::wstring(path);
    } else if (cwd.size() >= 2 && sep(cwd[0]) && sep(cwd[1])) {
      full = std::wstring(cwd.substr(0, UncRootLength(cwd))) + L'\\' + std::wstring(path);
    } else {
      full = path;
    }
  } else {
    full = std::wstring(cwd) + L'\\' + std::wstring(path);
  }
  return CollapseWindowsPath(full, endsInSeparator);
}

}  // namespace

PathParts SplitPath(std::wstring_view path, PathSyntax syntax) {
  PathParts parts;
  if (HasDrive(path, syntax)) {
    parts.drive = std::wstring(path.substr(0, 2));
    path.remove_prefix(2);
  }
  std::size_t lastSep = std::wstring_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i)
    if (IsSeparator(path[i], syntax)) lastSep = i;
  const std::size_t nameStart = lastSep == std::wstring_view::npos ? 0 : lastSep + 1;
  parts.directory = std::wstring(path.substr(0, nameStart));
  const std::wstring_view last = path.substr(nameStart);
  const std::size_t dot = last.rfind(L'.');
  if (dot == std::wstring_view::npos) {
    parts.name = std::wstring(last);
  } else {
    parts.name = std::wstring(last.substr(0, dot));
    parts.extension = std::wstring(last.substr(dot));
  }
  return parts;
}

std::wstring GetFileNamePart(std::wstring_view path, PathSyntax syntax) {
  PathParts p = SplitPath(path, syntax);
  return p.name + p.extension;
}

std::wstring GetDirectoryPart(std::wstring_view path, PathSyntax syntax) {
  PathParts p = SplitPath(path, syntax);
  return p.drive + p.directory;
}

std::wstring GetExtensionPart(std::wstring_view path, PathSyntax syntax) {
  return SplitPath(path, syntax).extension;
}

std::wstring RemoveExtension(std::wstring_view path, PathSyntax syntax) {
  const std::wstring ext = GetExtensionPart(path, syntax);
  return std::wstring(path.substr(0, path.size() - ext.size()));
}

std::wstring EnsureExtension(std::wstring_view path, std::wstring_view extension,
                             PathSyntax syntax) {
  if (ToLowerCopy(GetExtensionPart(path, syntax)) == ToLowerCopy(extension))
    return std::wstring(path);
  return std::wstring(path) + std::wstring(extension);
}

bool IsAbsolutePath(std::wstring_view path, PathSyntax syntax) {
  if (syntax == PathSyntax::Windows)
    return (!path.empty() && path[0] == L'\\') || HasDrive(path, syntax);
  return !path.empty() && path[0] == L'/';
}

std::wstring MakeAbsolutePath(std::wstring_view path, std::wstring_view currentDirectory,
                              PathSyntax syntax) {
  if (syntax == PathSyntax::Windows) return FullWindowsPath(path, currentDirectory);
  if (IsAbsolutePath(path, syntax)) return std::wstring(path);
  const wchar_t sep = syntax == PathSyntax::Windows ? L'\\' : L'/';
  std::wstring joined(currentDirectory);
  if (!joined.empty() && !IsSeparator(joined.back(), syntax)) joined += sep;
  joined += path;

  // Resolve "." and ".." by name, as a full-path resolution does.
  std::wstring_view rest = joined;
  std::wstring prefix;
  if (HasDrive(rest, syntax)) {
    prefix = std::wstring(rest.substr(0, 2));
    rest.remove_prefix(2);
  }
  std::vector<std::wstring_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= rest.size(); ++i) {
    if (i == rest.size() || IsSeparator(rest[i], syntax)) {
      const std::wstring_view part = rest.substr(start, i - start);
      if (part == L"..") {
        if (!parts.empty()) parts.pop_back();
      } else if (!part.empty() && part != L".") {
        parts.push_back(part);
      }
      start = i + 1;
    }
  }
  std::wstring out = prefix;
  for (const auto& part : parts) {
    out += sep;
    out += part;
  }
  // Keep a trailing separator the caller wrote ("dir/" stays a directory path).
  if (out.empty() || (!path.empty() && IsSeparator(path.back(), syntax))) out += sep;
  return out;
}

std::wstring ToLowerCopy(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out)
    if (c >= L'A' && c <= L'Z') c = static_cast<wchar_t>(c - L'A' + L'a');
  return out;
}

std::wstring GetModuleDirectory() { return GetDirectoryPart(GetModulePath()); }

}  // namespace zantrel
