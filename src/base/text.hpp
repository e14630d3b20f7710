// Text conversions at the platform boundary.
//
// All program text is std::wstring (UTF-16 on Windows, UTF-32 elsewhere). These
// helpers cross to UTF-8 (file names and XML on POSIX) and count UTF-16 code units
// where the tool's rules do (log bound, path order). Pure functions, any thread.
// Invalid input never throws: malformed sequences become U+FFFD, except in the
// lossless NativeToWide / WideToNative pair.
#pragma once

#include <string>
#include <string_view>

namespace zantrel {

std::string WideToUtf8(std::wstring_view text);
std::wstring Utf8ToWide(std::string_view text);
// The same into `out`, reusing its storage (for hot loops).
void Utf8ToWide(std::string_view text, std::wstring& out);

std::u16string WideToUtf16(std::wstring_view text);
std::wstring Utf16ToWide(std::u16string_view text);

// Text that the system hands over as bytes: arguments, file names, the current
// directory. Valid UTF-8 decodes as usual; each byte of an invalid sequence
// becomes the lone surrogate U+DC80 + (byte - 0x80), which no decoded text holds,
// and WideToNative turns those back into the same bytes. So every byte string
// round-trips, and a name that is not UTF-8 still names its file. Other text
// leaving the program (the log) goes through WideToUtf8: the escapes show as U+FFFD.
std::wstring NativeToWide(std::string_view bytes);
std::string WideToNative(std::wstring_view text);

bool IsValidUtf8(std::string_view bytes);

// Bytes of code page 932 (what Windows calls Shift_JIS) as wide text; undecodable
// bytes become U+FFFD. Platform part: text_posix.cpp / text_win.cpp.
std::wstring Cp932ToWide(std::string_view bytes);

// Number of UTF-16 code units the text occupies.
std::size_t Utf16Length(std::wstring_view text);

// Plain code-unit order of the UTF-16 forms: what a wide-string compare gives on
// Windows. Characters beyond the BMP sort as their surrogates, i.e. below U+E000.
bool Utf16Less(std::wstring_view a, std::wstring_view b);

}  // namespace zantrel
