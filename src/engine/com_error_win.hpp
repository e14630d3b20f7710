// The COM error kind on Windows is the platform's own _com_error: the result
// code, the component's error object (source of the description) and the
// system's message text for the code. Thrown by value; not a std::exception.
#pragma once

#include <windows.h>
#include <comdef.h>

#include <cstdint>
#include <string>

namespace zantrel {

using HResult = HRESULT;
using ComError = _com_error;

inline constexpr HResult kSOk = S_OK;
inline constexpr HResult kEPointer = static_cast<HResult>(0x80004003);
inline constexpr HResult kEFail = static_cast<HResult>(0x80004005);
inline constexpr HResult kEOutOfMemory = static_cast<HResult>(0x8007000E);
inline constexpr HResult kEInvalidArg = static_cast<HResult>(0x80070057);

// A ComError whose error object carries `description` (as a component would).
ComError MakeComError(HResult code, const std::wstring& description);

// After a failed call on `object` through interface `iid`: raises the error with
// the component's error object when the object says it supplies one.
[[noreturn]] void ThrowComError(HResult code, IUnknown* object, REFIID iid);

}  // namespace zantrel
