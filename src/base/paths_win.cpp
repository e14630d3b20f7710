// Windows forms of the platform path operations.
#include <windows.h>

#include "base/paths.hpp"

namespace zantrel {

std::wstring GetModulePath() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return n == 0 ? std::wstring() : std::wstring(buffer, n);
}

std::wstring GetCurrentDirectoryPath() {
  const DWORD n = GetCurrentDirectoryW(0, nullptr);
  if (n == 0) return {};
  std::wstring buffer(n, L'\0');
  const DWORD written = GetCurrentDirectoryW(n, buffer.data());
  buffer.resize(written);
  return buffer;
}

std::wstring MakeAbsolutePath(std::wstring_view path) {
  if (path.empty()) return GetCurrentDirectoryPath();  // as _wfullpath has it
  const std::wstring terminated(path);
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetFullPathNameW(terminated.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.assign(n, L'\0');  // n counts the terminator when the buffer was short
  }
}

bool PathExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint64_t FileSize(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  return (std::uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

std::wstring AnsiToWide(std::string_view text) {
  const std::string terminated(text);
  const int n = MultiByteToWideChar(CP_ACP, 0, terminated.c_str(), -1, nullptr, 0);
  if (n == 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, terminated.c_str(), -1, wide.data(), n) == 0) return {};
  wide.resize(static_cast<std::size_t>(n - 1));  // the terminator
  return wide;
}

}  // namespace zantrel
