#include "engine/errors.hpp"

#include <cstdio>
#include <new>

#include "base/paths.hpp"

namespace zantrel {

std::wstring FormatComMessage(HResult code, std::optional<std::wstring_view> systemText) {
  if (systemText && !systemText->empty()) {
    std::wstring text(*systemText);
    if (text.size() > 1 && text.back() == L'\n') {
      text.pop_back();
      if (!text.empty() && text.back() == L'\r') text.pop_back();
    }
    return text;
  }
  const auto ucode = static_cast<std::uint32_t>(code);
  wchar_t buf[32];
  if (ucode >= 0x80040201u && ucode <= 0x8004FFFFu) {
    std::swprintf(buf, 32, L"IDispatch error #%d", static_cast<int>((ucode & 0xFFFFu) - 0x200u));
  } else {
    std::swprintf(buf, 32, L"Unknown error 0x%0lX", static_cast<unsigned long>(ucode));
  }
  return buf;
}

CallTextError::CallTextError(const char* callText, const std::wstring& reason)
    : std::runtime_error(callText), reason_(std::make_shared<const std::wstring>(reason)) {}

namespace {
const std::wstring kNoReason;
}  // namespace

const std::wstring& CallTextError::Reason() const noexcept { return reason_ ? *reason_ : kNoReason; }

#if !defined(_WIN32)
std::vector<std::wstring> ComErrorReport(const ComError& error) {
  std::vector<std::wstring> lines;
  if (!error.ErrorMessage().empty()) lines.push_back(error.ErrorMessage());
  if (error.Description()) lines.push_back(*error.Description());
  return lines;
}
#endif

void WriteComErrorReport(const ComError& error, LogCallback log) {
  try {
    for (const auto& line : ComErrorReport(error)) log(line);
  } catch (...) {
  }
}

void WriteCallTextErrorReport(const std::exception& error, LogCallback log) {
  try {
    log(AnsiToWide(error.what()));
  } catch (...) {
  }
}

void WriteCurrentErrorReport(LogCallback log) noexcept {
  try {
    try {
      throw;
    } catch (const ComError& error) {
      WriteComErrorReport(error, log);
    } catch (const std::bad_alloc&) {
      WriteComErrorReport(ComError(kEOutOfMemory), log);
    } catch (const std::exception& error) {
      WriteCallTextErrorReport(error, log);
    } catch (...) {
      WriteComErrorReport(ComError(kEFail), log);
    }
  } catch (...) {
    // Not even the report could be made (no memory for it): nothing is written.
  }
}

const std::wstring& CurrentFailureReason() noexcept {
  try {
    throw;  // the same exception object: it lives on while the caller's handler runs
  } catch (const CallTextError& error) {
    return error.Reason();
#if !defined(_WIN32)
  } catch (const ComError& error) {
    return error.Reason();
#endif
  } catch (...) {
    return kNoReason;
  }
}

}  // namespace zantrel
