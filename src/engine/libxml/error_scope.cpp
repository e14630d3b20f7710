#include "engine/libxml/error_scope.hpp"

#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "base/text.hpp"

namespace zantrel::xml {
namespace {

// At most this much library error text is kept per call: a hostile file must not
// grow it without bound.
constexpr std::size_t kMaxErrorText = 4096;

// Collected per thread while a call runs, never thrown from a callback.
thread_local ErrorText* t_errors = nullptr;

// libxslt reports its own failed allocations only in words, through the generic
// hook (the structured one carries a code instead).
bool SaysOutOfMemory(const char* message) {
  return message != nullptr && (std::strstr(message, "malloc failed") != nullptr ||
                                std::strstr(message, "Memory allocation failed") != nullptr ||
                                std::strstr(message, "out of memory") != nullptr);
}

void StructuredErrorHandler(void* /*ctx*/, xmlErrorPtr error) {
  if (error == nullptr || error->level == XML_ERR_WARNING) return;
  if (error->code == XML_ERR_NO_MEMORY && t_errors != nullptr) t_errors->outOfMemory = true;
  if (error->line > 0) {
    char head[32];
    std::snprintf(head, sizeof head, "line %d: ", error->line);
    AppendError(head);
  }
  AppendError(error->message);
}

}  // namespace

void AppendError(const char* message) noexcept {
  if (t_errors == nullptr || message == nullptr) return;
  std::string& text = t_errors->text;
  if (text.size() >= kMaxErrorText) return;
  try {
    text.append(message, std::min(std::strlen(message), kMaxErrorText - text.size()));
  } catch (...) {
    // Called from inside the libraries: nothing may leave; the text is lost.
  }
}

void GenericErrorHandler(void* /*ctx*/, const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  if (SaysOutOfMemory(buf) && t_errors != nullptr) t_errors->outOfMemory = true;
  AppendError(buf);
}

ErrorScope::ErrorScope() : previous_(t_errors) {
  t_errors = &errors_;
  xmlSetStructuredErrorFunc(nullptr, &StructuredErrorHandler);
  xmlSetGenericErrorFunc(nullptr, &GenericErrorHandler);
}

ErrorScope::~ErrorScope() { t_errors = previous_; }

ComError ErrorScope::Failure(const wchar_t* fallback) const {
  if (errors_.outOfMemory) return ComError(kEOutOfMemory);
  return ComError(kEFail, Description(fallback));
}

std::wstring ErrorScope::Description(const wchar_t* fallback) const {
  std::string joined;
  std::size_t start = 0;
  const std::string& text = errors_.text;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line == "Templates:" || line == "Variables:") break;
    if (line.empty()) continue;
    if (!joined.empty()) joined += " / ";
    joined += line;
  }
  return joined.empty() ? std::wstring(fallback) : Utf8ToWide(joined);
}

}  // namespace zantrel::xml
