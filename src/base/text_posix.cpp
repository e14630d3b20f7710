// POSIX forms of the text conversions that need the system's converters.
#include <iconv.h>

#include <cerrno>
#include <memory>

#include "base/text.hpp"

namespace zantrel {
namespace {

struct CloseIconv {
  void operator()(void* cd) const noexcept { ::iconv_close(static_cast<iconv_t>(cd)); }
};

}  // namespace

std::wstring Cp932ToWide(std::string_view bytes) {
  // glibc's CP932 is the Windows table: 0x5C and 0x7E stay '\' and '~', and the
  // NEC and IBM extensions (①, Ⅲ, ㈱, 髙) are there.
  const iconv_t cd = ::iconv_open("WCHAR_T", "CP932");
  if (cd == reinterpret_cast<iconv_t>(-1)) return Utf8ToWide(bytes);
  const std::unique_ptr<void, CloseIconv> owner(cd);
  std::wstring out;
  std::wstring chunk(256, L'\0');
  std::size_t at = 0;
  while (at < bytes.size()) {
    char* in = const_cast<char*>(bytes.data() + at);
    std::size_t inLeft = bytes.size() - at;
    char* dst = reinterpret_cast<char*>(chunk.data());
    std::size_t dstLeft = chunk.size() * sizeof(wchar_t);
    const std::size_t rc = ::iconv(cd, &in, &inLeft, &dst, &dstLeft);
    const int error = rc == static_cast<std::size_t>(-1) ? errno : 0;
    out.append(chunk.data(), (chunk.size() * sizeof(wchar_t) - dstLeft) / sizeof(wchar_t));
    at = bytes.size() - inLeft;
    if (error == EILSEQ || error == EINVAL) {
      out += L'\uFFFD';  // an undecodable or cut-off byte
      ++at;
    } else if (error != 0 && error != E2BIG) {
      break;
    }
  }
  return out;
}

}  // namespace zantrel
