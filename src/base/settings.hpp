// The settings file "Zantrel.ini" beside the executable, section "main".
//
// IniFile reads one key per call from the file, as the platform's INI routines do:
// section and key names ignore ASCII case, the value is trimmed of blanks and of
// one pair of enclosing quotes, a missing file, section or key gives the default.
// The file may be UTF-8 (with or without a byte-order mark) or UTF-16LE with one.
// Main thread; never throws except on allocation failure.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zantrel {

class IniFile {
 public:
  IniFile(std::wstring path, std::wstring defaultSection)
      : path_(std::move(path)), defaultSection_(std::move(defaultSection)) {}

  std::int32_t ReadInt(const std::wstring& section, const std::wstring& key,
                       std::int32_t defaultValue) const;
  std::wstring ReadString(const std::wstring& section, const std::wstring& key,
                          const std::wstring& defaultText) const;
#ifdef _WIN32
  // Writing exists where a window keeps settings; a new file is made UTF-16.
  bool WriteInt(const std::wstring& section, const std::wstring& key, std::int32_t value) const;
  bool WriteString(const std::wstring& section, const std::wstring& key,
                   const std::wstring& value) const;
#endif

 private:
#ifdef _WIN32
  void EnsureUnicodeFile() const;
#endif
  const std::wstring& Section(const std::wstring& section) const {
    return section.empty() ? defaultSection_ : section;
  }
  std::wstring path_;
  std::wstring defaultSection_;
};

// The value of `key` in `section` of an INI text, or nothing.
std::optional<std::wstring> FindIniValue(std::wstring_view content, std::wstring_view section,
                                         std::wstring_view key);

// Decodes an INI file's bytes: UTF-16LE with BOM, else UTF-8 with or without BOM,
// else code page 932 (the ANSI code page of Japanese Windows).
std::wstring DecodeIniBytes(std::string_view bytes);

// The output-name pattern ("save"), empty when not set.
std::wstring LoadSavePattern(const std::wstring& settingsPath);

}  // namespace zantrel
