// POSIX forms of the platform path operations. File names are bytes: they become
// wide text losslessly (NativeToWide) and go back to the same bytes.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/paths.hpp"
#include "base/text.hpp"

namespace zantrel {
namespace {

// Resolves "." and ".." of `path` (absolute, '/'-separated) the way the kernel
// walks it. Trap: "link/.." is the parent of the link's target, not the folder
// holding the link, so a lexical ".." would name another file. Where the kernel
// has no answer (a part that does not exist), ".." goes by name as it always did.
std::string ResolveLikeTheKernel(const std::string& path) {
  std::string out;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    const std::string part = path.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    if (part != "..") {
      out += '/';
      out += part;
      continue;
    }
    struct stat st {};
    if (!out.empty() && ::lstat(out.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      std::unique_ptr<char, decltype(&std::free)> real(::realpath(out.c_str(), nullptr), &std::free);
      if (real != nullptr) out = real.get();
    }
    out.erase(out.empty() ? 0 : out.rfind('/'));  // "/.." is "/"
  }
  return out.empty() ? "/" : out;
}

}  // namespace

std::wstring GetModulePath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return {};
  buf.resize(static_cast<std::size_t>(n));
  return NativeToWide(buf);
}

std::wstring GetCurrentDirectoryPath() {
  std::string buf(4096, '\0');
  if (::getcwd(buf.data(), buf.size()) == nullptr) return {};
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  return NativeToWide(buf);
}

std::wstring MakeAbsolutePath(std::wstring_view path) {
  if (IsAbsolutePath(path)) return std::wstring(path);
  const std::wstring cwd = GetCurrentDirectoryPath();
  if (cwd.empty()) return {};
  std::string resolved = ResolveLikeTheKernel(WideToNative(cwd) + "/" + WideToNative(path));
  // Keep a trailing separator the caller wrote ("dir/" stays a directory path).
  if (!path.empty() && path.back() == L'/' && resolved.back() != '/') resolved += '/';
  return NativeToWide(resolved);
}

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return ::stat(WideToNative(path).c_str(), &st) == 0;
}

std::uint64_t FileSize(const std::wstring& path) {
  struct stat st {};
  if (::stat(WideToNative(path).c_str(), &st) != 0 || st.st_size < 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::wstring AnsiToWide(std::string_view text) {
  // The system code page here is UTF-8; bytes that are not UTF-8 become U+FFFD,
  // as the Windows conversion substitutes its default character.
  return Utf8ToWide(text);
}

}  // namespace zantrel
