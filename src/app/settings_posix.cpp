#include <fstream>
#include <iterator>

#include "app/settings.hpp"
#include "job/text.hpp"

namespace zantrel {

std::wstring IniFile::ReadString(const std::wstring& section, const std::wstring& key,
                                 const std::wstring& defaultText) const {
  std::ifstream in(WideToUtf8(path_), std::ios::binary);
  if (!in) return defaultText;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return FindIniValue(DecodeIniBytes(bytes), Section(section), key).value_or(defaultText);
}

}  // namespace zantrel
