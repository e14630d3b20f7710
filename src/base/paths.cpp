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
