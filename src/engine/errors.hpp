// The two error kinds with which every failure of a job travels to the log.
//
//   ComError      a failed call of the XML component: code, message text, optional
//                 description. Reported as the message text line, then the
//                 description line when there is one (an empty one still counts).
//   CallTextError the program's own checks: a fixed ASCII text naming the failing
//                 call, e.g. "pDoc->load()[loadXML()]". Reported as one line.
//
// Any other std::exception (a conversion error) is reported like a call-text
// error: its what() text as one line; std::bad_alloc as the out-of-memory ComError.
//
// Either kind may also carry a reason, for a person rather than for the log: where
// and why an input or a style sheet was refused ("b.xml:1:95: ..."). It is no
// part of the report or of what(), so the log reads the same with or without it.
// Any thread; the report functions and CurrentFailureReason never throw.
#pragma once

#include <exception>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "base/log.hpp"

#if defined(_WIN32)
#include "engine/com_error_win.hpp"
#else
#include "engine/com_error_posix.hpp"
#endif

namespace zantrel {

class CallTextError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  CallTextError(const char* callText, const std::wstring& reason);

  // Empty when the failing call gave none.
  const std::wstring& Reason() const noexcept;

 private:
  // Shared, so that copying the exception cannot throw.
  std::shared_ptr<const std::wstring> reason_;
};

// The message text of a code: the system's text without a final line feed (and
// the carriage return before it), or when there is none "IDispatch error #n" for
// 0x80040201..0x8004FFFF and "Unknown error 0x%lX" for every other code.
std::wstring FormatComMessage(HResult code, std::optional<std::wstring_view> systemText);

std::vector<std::wstring> ComErrorReport(const ComError& error);
void WriteComErrorReport(const ComError& error, LogCallback log);
void WriteCallTextErrorReport(const std::exception& error, LogCallback log);
// Inside a catch block: the report of the exception being handled, whatever its
// type (one of no standard type as an unspecified failure).
void WriteCurrentErrorReport(LogCallback log) noexcept;
// Inside a catch block: the reason the exception being handled carries, or an
// empty text (another kind of exception, a COM error of the system's component).
// Valid until that catch block ends.
const std::wstring& CurrentFailureReason() noexcept;

}  // namespace zantrel
