#include "base/settings.hpp"

#include <cwchar>

#include "base/paths.hpp"
#include "base/text.hpp"

namespace zantrel {
namespace {

std::wstring_view Trim(std::wstring_view text) {
  const auto blank = [](wchar_t c) { return c == L' ' || c == L'\t' || c == L'\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

bool EqualsIgnoringCase(std::wstring_view a, std::wstring_view b) {
  return ToLowerCopy(a) == ToLowerCopy(b);
}

}  // namespace

std::optional<std::wstring> FindIniValue(std::wstring_view content, std::wstring_view section,
                                         std::wstring_view key) {
  bool inSection = false;
  while (!content.empty()) {
    const std::size_t end = content.find(L'\n');
    std::wstring_view line = Trim(content.substr(0, end));
    content = end == std::wstring_view::npos ? std::wstring_view() : content.substr(end + 1);
    if (line.empty() || line.front() == L';') continue;
    if (line.front() == L'[') {
      const std::size_t close = line.find(L']');
      inSection = close != std::wstring_view::npos &&
                  EqualsIgnoringCase(Trim(line.substr(1, close - 1)), section);
      continue;
    }
    if (!inSection) continue;
    const std::size_t eq = line.find(L'=');
    if (eq == std::wstring_view::npos || !EqualsIgnoringCase(Trim(line.substr(0, eq)), key))
      continue;
    std::wstring_view value = Trim(line.substr(eq + 1));
    if (value.size() >= 2 && (value.front() == L'"' || value.front() == L'\'') &&
        value.back() == value.front())
      value = value.substr(1, value.size() - 2);
    return std::wstring(value);
  }
  return std::nullopt;
}

std::wstring DecodeIniBytes(std::string_view bytes) {
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
      static_cast<unsigned char>(bytes[1]) == 0xFE) {
    std::u16string units;
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      units += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    return Utf16ToWide(units);
  }
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  if (IsValidUtf8(bytes)) return Utf8ToWide(bytes);
  // Neither UTF-16 nor UTF-8: a file written in the ANSI code page of Japanese
  // Windows and copied over.
  return Cp932ToWide(bytes);
}

std::wstring LoadSavePattern(const std::wstring& settingsPath) {
  return IniFile(settingsPath, L"main").ReadString(L"", L"save", L"");
}

}  // namespace zantrel
