// The libraries' error messages, collected per thread while a component call runs.
//
// An ErrorScope lives on the stack of one component call, on the calling thread:
// while it lives, whatever libxml2 / libxslt report on that thread is kept (at most
// a few kilobytes) instead of reaching stderr; scopes nest, the innermost
// collects. The handlers below are what the libraries call; they never throw
// (collect, return, then the caller throws). Description() turns what was
// collected into the description of the ComError the caller raises, Reason()
// into the line that tells a person where and why.
//
// Codes of the back end: a failed parse is no error (load answers false), unless
// memory ran out (E_OUTOFMEMORY, as any failure for want of memory). Other
// failures raise ComError with E_FAIL (E_POINTER for an empty handle, E_INVALIDARG
// for a node that is not where the call needs it, E_OUTOFMEMORY for allocation),
// the Windows system text of that code as message text, and the messages the
// libraries reported during the call as description.
#pragma once

#include <string>
#include <vector>

#include "engine/errors.hpp"

namespace zantrel::xml {

// The first error reported in a scope, with its place when it has one.
struct FirstError {
  bool seen = false;
  std::string file;  // the library's name of the document; empty: the scope's own
  int line = 0;      // 0: no place
  int column = 0;
  std::string message;
};

struct ErrorText {
  std::string text;
  FirstError first;
  bool outOfMemory = false;  // a library said its memory ran out
};

// Gathers what the libraries report during one component call on this thread.
class ErrorScope {
 public:
  ErrorScope();
  ErrorScope(const ErrorScope&) = delete;
  ErrorScope& operator=(const ErrorScope&) = delete;
  ~ErrorScope();

  // The collected messages as one line (a log line each is the rule), without
  // libxslt's template stack dump; `fallback` when the libraries said nothing.
  std::wstring Description(const wchar_t* fallback) const;
  // True when a library reported that its memory ran out during the call.
  bool OutOfMemory() const noexcept { return errors_.outOfMemory; }
  // The error a failed call raises: the out-of-memory error when that is what the
  // libraries reported, else E_FAIL with Description(fallback).
  ComError Failure(const wchar_t* fallback) const;

  // Why the call failed, as one line: "name:line: message" from libxslt's first
  // error and the place it names; else "name:line:column: message" from the first
  // error, its place left out when it has none; else "name: fallback". `name`
  // stands for the document where the library names none.
  std::wstring Reason(const std::wstring& name, const char* fallback) const;
  // The first error's message alone, without a place ("not well-formed" when the
  // libraries said nothing).
  std::wstring FirstMessage() const;

 private:
  // The collected text as lines, up to libxslt's template stack dump.
  std::vector<std::string> Lines() const;

  ErrorText errors_;
  ErrorText* previous_;
};

// Adds to the innermost scope of this thread; nothing without one. Never throws.
void AppendError(const char* message) noexcept;
// The same for the program's own refusal at a place of the document being parsed.
void AppendError(const char* message, int line, int column) noexcept;

// libxml2's / libxslt's generic error hook: formats, then AppendError.
void GenericErrorHandler(void* ctx, const char* format, ...);

}  // namespace zantrel::xml
