#include "engine/libxml/error_scope.hpp"

#include <libxml/xmlerror.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/paths.hpp"
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

// The first error is kept with its place. Trap: some messages go on, after a line
// break, with text of the document itself ("CData section not finished\n..."):
// only the first line is the message.
void NoteFirst(const char* file, int line, int column, const char* message) noexcept {
  if (t_errors == nullptr || t_errors->first.seen || message == nullptr) return;
  try {
    FirstError& first = t_errors->first;
    first.file = file == nullptr ? "" : file;
    first.line = line;
    first.column = column;
    first.message.assign(message, std::strcspn(message, "\r\n"));
    while (!first.message.empty() && first.message.back() == ' ') first.message.pop_back();
    first.seen = true;
  } catch (...) {
    // Called from inside the libraries: nothing may leave; the place is lost.
  }
}

void StructuredErrorHandler(void* /*ctx*/, xmlErrorPtr error) {
  if (error == nullptr || error->level == XML_ERR_WARNING) return;
  if (error->code == XML_ERR_NO_MEMORY && t_errors != nullptr) t_errors->outOfMemory = true;
  NoteFirst(error->file, error->line, error->int2, error->message);
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

void AppendError(const char* message, int line, int column) noexcept {
  NoteFirst(nullptr, line, column, message);
  AppendError(message);
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
  for (const std::string& line : Lines()) {
    if (!joined.empty()) joined += " / ";
    joined += line;
  }
  return joined.empty() ? std::wstring(fallback) : Utf8ToWide(joined);
}

std::wstring ErrorScope::Reason(const std::wstring& name, const char* fallback) const {
  // "name:line:column: message", leaving out what is not known.
  const auto placed = [](const std::wstring& where, int line, int column, const std::string& message) {
    std::wstring text = where;
    if (line > 0) text += (text.empty() ? L"" : L":") + std::to_wstring(line);
    if (line > 0 && column > 0) text += L":" + std::to_wstring(column);
    return (text.empty() ? L"" : text + L": ") + Utf8ToWide(message);
  };
  // libxslt names the place on a line of its own before its message:
  // "compilation error: file F line N element E", likewise "runtime error: ...".
  const std::vector<std::string> lines = Lines();
  const auto isPlace = [](const std::string& line) {
    return line.find(" error: file ") != std::string::npos && line.rfind(" line ") != std::string::npos;
  };
  const auto place = std::find_if(lines.begin(), lines.end(), isPlace);
  if (place != lines.end()) {
    const std::size_t fileAt = place->find(" error: file ") + 13;
    const std::size_t lineAt = place->rfind(" line ");
    const std::wstring file = NativeToWide(place->substr(fileAt, lineAt - fileAt));
    const int line = std::atoi(place->c_str() + lineAt + 6);
    const auto message = std::find_if_not(place + 1, lines.end(), isPlace);
    return placed(GetFileNamePart(file), line, 0,
                  message != lines.end() ? *message : place != lines.begin() ? place[-1] : *place);
  }
  const FirstError& first = errors_.first;
  if (first.seen)
    return placed(first.file.empty() ? name : GetFileNamePart(NativeToWide(first.file)), first.line,
                  first.column, first.message);
  return placed(name, 0, 0, lines.empty() ? std::string(fallback) : lines.front());
}

std::wstring ErrorScope::FirstMessage() const {
  if (errors_.first.seen) return Utf8ToWide(errors_.first.message);
  const std::vector<std::string> lines = Lines();
  return Utf8ToWide(lines.empty() ? std::string("not well-formed") : lines.front());
}

std::vector<std::string> ErrorScope::Lines() const {
  std::vector<std::string> lines;
  std::size_t start = 0;
  const std::string& text = errors_.text;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    start = end + 1;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    if (line == "Templates:" || line == "Variables:") break;
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

}  // namespace zantrel::xml
