// The COM error kind where there is no COM: a result code, a message text and an
// optional description, thrown by value like the platform's _com_error and, like
// it, not derived from std::exception (catch it first).
//
// Where the parts come from on this platform:
//   - codes: the Windows HRESULT values for the same failures (E_POINTER, E_FAIL,
//     E_OUTOFMEMORY, E_INVALIDARG, or FACILITY_WIN32 codes for file errors), so
//     scripts and tests see one set of numbers on both builds;
//   - message text: the operating system's text for the failure (strerror) for
//     file errors, otherwise the system text of the HRESULT from a small table;
//   - description: libxml2's / libxslt's own error message, or the file path that
//     failed, standing where the component's error object would be.
// Any thread; immutable after construction.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zantrel {

using HResult = std::int32_t;

inline constexpr HResult kSOk = 0;
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000E);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057);

class ComError {
 public:
  explicit ComError(HResult code, std::optional<std::wstring> description = std::nullopt);
  // A file-system failure: the code in Windows terms, the system's text for errno.
  static ComError FromErrno(int error, std::wstring description);

  // The same error with why it happened, for a person (where in which file); the
  // report leaves it out (engine/errors.hpp).
  ComError WithReason(std::wstring reason) const;

  HResult Error() const noexcept { return code_; }
  const std::wstring& ErrorMessage() const noexcept { return message_; }
  const std::optional<std::wstring>& Description() const noexcept { return description_; }
  const std::wstring& Reason() const noexcept { return reason_; }

 private:
  ComError(HResult code, std::wstring message, std::optional<std::wstring> description);

  HResult code_;
  std::wstring message_;
  std::optional<std::wstring> description_;
  std::wstring reason_;  // empty: none
};

}  // namespace zantrel
