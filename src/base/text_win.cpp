// Windows forms of the text conversions that need the system's converters.
#include <windows.h>

#include <climits>

#include "base/text.hpp"

namespace zantrel {

std::wstring Cp932ToWide(std::string_view bytes) {
  if (bytes.empty() || bytes.size() > INT_MAX) return {};
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(932, 0, bytes.data(), size, nullptr, 0);
  if (n <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  if (MultiByteToWideChar(932, 0, bytes.data(), size, wide.data(), n) != n) return {};
  return wide;
}

}  // namespace zantrel
