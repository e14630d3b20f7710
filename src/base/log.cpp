#include "base/log.hpp"

#include <atomic>
#include <mutex>
#include <string_view>

#include "base/text.hpp"

namespace zantrel {
namespace {

std::atomic<LogControl*> g_target{nullptr};
std::mutex g_appendMutex;

constexpr std::wstring_view kRaw = L"%RAW%";
constexpr std::wstring_view kChange = L"%CHANGE%";

void AppendTo(LogControl& control, const std::wstring& text) {
  std::wstring line = text;
  std::size_t n = control.Length();
  if (n >= kLogLimit) {
    control.Clear();  // the whole log goes; appends stay O(1) in control calls
    n = 0;
  }
  control.Select(n, n);
  if (std::wstring_view(line).substr(0, kRaw.size()) == kRaw) {
    line.erase(0, kRaw.size());
  } else if (std::wstring_view(line).substr(0, kChange.size()) == kChange) {
    line.erase(0, kChange.size());
    const std::size_t m = Utf16Length(line);
    // A replacement longer than the whole log replaces the whole log.
    control.Select(m > n ? 0 : n - m, n);
  } else {
    line += L"\r\n";
  }
  control.ReplaceSelection(line);
}

}  // namespace

void SetLogTarget(LogControl* control) { g_target.store(control); }

LogControl* GetLogTarget() { return g_target.load(); }

void AppendLog(const std::wstring& text) {
  try {
    LogControl* control = g_target.load();
    if (control == nullptr) return;
    const std::function<void()> append = [&] { AppendTo(*control, text); };
    if (!control->RunAppend(append)) {
      std::lock_guard<std::mutex> lock(g_appendMutex);
      append();
    }
  } catch (...) {
    // A log line that cannot be built (out of memory) is dropped: logging must
    // never turn into a failure of its own.
  }
}

}  // namespace zantrel
