// The settings file through the platform's INI routines.
#include <windows.h>

#include <vector>

#include "base/settings.hpp"

namespace zantrel {

std::wstring IniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& defaultText) const {
  // A result of exactly size - 1 may have been cut: read again with more room.
  for (DWORD size = 256;; size += 256) {
    std::vector<wchar_t> buffer(size + 1, L'\0');
    const DWORD n = GetPrivateProfileStringW(Section(section).c_str(), key.c_str(), defaultText.c_str(),
                                             buffer.data(), size, path_.c_str());
    if (n != size - 1) return std::wstring(buffer.data());
  }
}

std::int32_t IniFile::ReadInt(const std::wstring& section, const std::wstring& key,
                              std::int32_t defaultValue) const {
  return static_cast<std::int32_t>(
      GetPrivateProfileIntW(Section(section).c_str(), key.c_str(), defaultValue, path_.c_str()));
}

bool IniFile::WriteString(const std::wstring& section, const std::wstring& key,
                          const std::wstring& value) const {
  EnsureUnicodeFile();
  return WritePrivateProfileStringW(Section(section).c_str(), key.c_str(), value.c_str(), path_.c_str()) != 0;
}

bool IniFile::WriteInt(const std::wstring& section, const std::wstring& key, std::int32_t value) const {
  return WriteString(section, key, std::to_wstring(value));
}

void IniFile::EnsureUnicodeFile() const {
  // Trap: a new file written by the INI routines is ANSI and loses Japanese text.
  // A file that starts with a UTF-16LE byte-order mark is kept in UTF-16.
  HANDLE file = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;  // exists already, or cannot be made
  const unsigned char bom[] = {0xFF, 0xFE};
  DWORD written = 0;
  WriteFile(file, bom, sizeof bom, &written, nullptr);
  CloseHandle(file);
}

}  // namespace zantrel
