#include <cwchar>
#include <fstream>
#include <iterator>

#include "base/settings.hpp"
#include "base/text.hpp"

namespace zantrel {

std::wstring IniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& defaultText) const {
  std::ifstream in(WideToNative(path_), std::ios::binary);
  if (!in) return defaultText;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return FindIniValue(DecodeIniBytes(bytes), Section(section), key).value_or(defaultText);
}

std::int32_t IniFile::ReadInt(const std::wstring& section, const std::wstring& key,
                              std::int32_t defaultValue) const {
  const std::wstring text = ReadString(section, key, L"");
  if (text.empty()) return defaultValue;
  // Leading digits count, as with the platform routine; a value without any is 0.
  wchar_t* end = nullptr;
  const long long value = std::wcstoll(text.c_str(), &end, 10);
  return static_cast<std::int32_t>(value);
}

}  // namespace zantrel
