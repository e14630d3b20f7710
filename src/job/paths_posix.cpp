// POSIX forms of the platform path operations.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "job/paths.hpp"
#include "job/text.hpp"

namespace zantrel {

std::wstring GetModulePath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= buf.size()) return {};
  buf.resize(static_cast<std::size_t>(n));
  return Utf8ToWide(buf);
}

std::wstring GetCurrentDirectoryPath() {
  std::string buf(4096, '\0');
  if (::getcwd(buf.data(), buf.size()) == nullptr) return {};
  buf.resize(std::char_traits<char>::length(buf.c_str()));
  return Utf8ToWide(buf);
}

bool PathExists(const std::wstring& path) {
  struct stat st {};
  return ::stat(WideToUtf8(path).c_str(), &st) == 0;
}

std::wstring AnsiToWide(std::string_view text) {
  // The system code page here is UTF-8; bytes that are not UTF-8 become U+FFFD,
  // as the Windows conversion substitutes its default character.
  return Utf8ToWide(text);
}

}  // namespace zantrel
