#include <cerrno>
#include <cstring>

#include "base/text.hpp"
#include "engine/errors.hpp"

namespace zantrel {
namespace {

// The Windows system texts of the codes this build raises.
std::optional<std::wstring_view> SystemText(HResult code) {
  switch (static_cast<std::uint32_t>(code)) {
    case 0x80004003u: return L"Invalid pointer\r\n";
    case 0x80004005u: return L"Unspecified error\r\n";
    case 0x8007000Eu: return L"Not enough memory resources are available to complete this operation.\r\n";
    case 0x80070057u: return L"The parameter is incorrect.\r\n";
    default: return std::nullopt;
  }
}

// errno in Windows terms, so a failure has the same code on both builds.
HResult HResultFromErrno(int error) {
  std::uint32_t win32 = 0;
  switch (error) {
    case ENOENT: win32 = 3; break;          // ERROR_PATH_NOT_FOUND
    case EACCES:
    case EPERM:
    case EISDIR: win32 = 5; break;          // ERROR_ACCESS_DENIED
    case EROFS: win32 = 19; break;          // ERROR_WRITE_PROTECT
    case ENOSPC:
    case EDQUOT:
    case EFBIG: win32 = 112; break;         // ERROR_DISK_FULL
    case ENAMETOOLONG: win32 = 206; break;  // ERROR_FILENAME_EXCED_RANGE
    default: return kEFail;
  }
  return static_cast<HResult>(0x80070000u | win32);
}

}  // namespace

ComError::ComError(HResult code, std::optional<std::wstring> description)
    : ComError(code, FormatComMessage(code, SystemText(code)), std::move(description)) {}

ComError::ComError(HResult code, std::wstring message, std::optional<std::wstring> description)
    : code_(code), message_(std::move(message)), description_(std::move(description)) {}

ComError ComError::WithReason(std::wstring reason) const {
  ComError error(*this);
  error.reason_ = std::move(reason);
  return error;
}

ComError ComError::FromErrno(int error, std::wstring description) {
  // Out of memory reads the same wherever it happens.
  if (error == ENOMEM) return ComError(kEOutOfMemory, std::move(description));
  char buf[256] = {};
  // The GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(error, buf, sizeof buf);
  return ComError(HResultFromErrno(error), FormatComMessage(HResultFromErrno(error), Utf8ToWide(text)),
                  std::move(description));
}

}  // namespace zantrel
