#include "base/text.hpp"

#include <algorithm>
#include <cwchar>

namespace zantrel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
// What DecodeUtf8 answers for a byte that starts no valid sequence.
constexpr char32_t kInvalid = 0xFFFFFFFF;
// Lone low surrogates U+DC80..U+DCFF stand for the bytes 0x80..0xFF that are not UTF-8.
constexpr char32_t kEscapeBase = 0xDC00;

// Decodes one code point from UTF-8; advances i. Overlongs, surrogates and
// out-of-range values give kInvalid and consume one byte.
char32_t DecodeUtf8(std::string_view s, std::size_t& i) {
  const auto b0 = static_cast<unsigned char>(s[i]);
  if (b0 < 0x80) {
    ++i;
    return b0;
  }
  int extra = 0;
  char32_t cp = 0;
  char32_t min = 0;
  if ((b0 & 0xE0) == 0xC0) {
    extra = 1; cp = b0 & 0x1F; min = 0x80;
  } else if ((b0 & 0xF0) == 0xE0) {
    extra = 2; cp = b0 & 0x0F; min = 0x800;
  } else if ((b0 & 0xF8) == 0xF0) {
    extra = 3; cp = b0 & 0x07; min = 0x10000;
  } else {
    ++i;
    return kInvalid;
  }
  if (i + static_cast<std::size_t>(extra) >= s.size()) {
    ++i;
    return kInvalid;
  }
  for (int k = 1; k <= extra; ++k) {
    const auto b = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
    if ((b & 0xC0) != 0x80) {
      ++i;
      return kInvalid;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++i;
    return kInvalid;
  }
  i += static_cast<std::size_t>(extra) + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Walks the code points of a wide string, joining surrogate pairs where wchar_t
// is 16 bits wide; a lone surrogate becomes U+FFFD.
template <bool kKeepLoneSurrogates = false, typename F>
void ForEachCodePoint(std::wstring_view text, F&& f) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto cp = static_cast<char32_t>(text[i]);
    if constexpr (sizeof(wchar_t) == 2) {
      if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size()) {
        const auto lo = static_cast<char32_t>(text[i + 1]);
        if (lo >= 0xDC00 && lo <= 0xDFFF) {
          cp = 0x10000 + ((cp - 0xD800) << 10) + (lo - 0xDC00);
          ++i;
        }
      }
    }
    if (cp > 0x10FFFF || (!kKeepLoneSurrogates && cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    f(cp);
  }
}

void AppendWide(std::wstring& out, char32_t cp) {
  if constexpr (sizeof(wchar_t) == 2) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<wchar_t>(0xD800 + (cp >> 10));
      out += static_cast<wchar_t>(0xDC00 + (cp & 0x3FF));
      return;
    }
  }
  out += static_cast<wchar_t>(cp);
}

}  // namespace

std::string WideToUtf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t cp) { AppendUtf8(out, cp); });
  return out;
}

std::wstring Utf8ToWide(std::string_view text) {
  std::wstring out;
  Utf8ToWide(text, out);
  return out;
}

void Utf8ToWide(std::string_view text, std::wstring& out) {
  out.clear();
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t cp = DecodeUtf8(text, i);
    AppendWide(out, cp == kInvalid ? kReplacement : cp);
  }
}

std::wstring NativeToWide(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t at = i;
    const char32_t cp = DecodeUtf8(bytes, i);
    if (cp == kInvalid) {
      out += static_cast<wchar_t>(kEscapeBase + static_cast<unsigned char>(bytes[at]));
    } else {
      AppendWide(out, cp);
    }
  }
  return out;
}

std::string WideToNative(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  ForEachCodePoint<true>(text, [&](char32_t cp) {
    if (cp >= kEscapeBase + 0x80 && cp <= kEscapeBase + 0xFF) {
      out += static_cast<char>(cp - kEscapeBase);
    } else {
      AppendUtf8(out, cp);  // any other lone surrogate becomes U+FFFD
    }
  });
  return out;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();)
    if (DecodeUtf8(bytes, i) == kInvalid) return false;
  return true;
}

std::u16string WideToUtf16(std::wstring_view text) {
  std::u16string out;
  out.reserve(text.size());
  ForEachCodePoint(text, [&](char32_t cp) {
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp);
    }
  });
  return out;
}

std::wstring Utf16ToWide(std::u16string_view text) {
  std::wstring out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<char32_t>(text[i + 1]) - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacement;
    }
    AppendWide(out, cp);
  }
  return out;
}

std::size_t Utf16Length(std::wstring_view text) {
#if WCHAR_MAX <= 0xFFFF
  return text.size();
#else
  std::size_t n = text.size();
  for (wchar_t c : text)
    if (static_cast<char32_t>(c) >= 0x10000) ++n;
  return n;
#endif
}

bool Utf16Less(std::wstring_view a, std::wstring_view b) {
#if WCHAR_MAX <= 0xFFFF
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [](wchar_t x, wchar_t y) {
                                        return static_cast<char16_t>(x) < static_cast<char16_t>(y);
                                      });
#else
  // Comparing the UTF-16 forms differs from comparing code points only where a
  // supplementary character meets U+E000..U+FFFF: compare lead surrogates first.
  const std::size_t n = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < n; ++i) {
    if (a[i] == b[i]) continue;
    const auto lead = [](wchar_t c) -> char32_t {
      const auto cp = static_cast<char32_t>(c);
      return cp >= 0x10000 ? 0xD800 + ((cp - 0x10000) >> 10) : cp;
    };
    const char32_t la = lead(a[i]);
    const char32_t lb = lead(b[i]);
    if (la != lb) return la < lb;
    // Same lead surrogate: the trail surrogates order like the code points.
    return static_cast<char32_t>(a[i]) < static_cast<char32_t>(b[i]);
  }
  return a.size() < b.size();
#endif
}

}  // namespace zantrel
