#include <gtest/gtest.h>

#include "base/text.hpp"

namespace zantrel {
namespace {

TEST(Text, Utf8RoundTripsEveryPlane) {
  const std::wstring text = L"aé日本\U0001F600";
  EXPECT_EQ(WideToUtf8(text), "a\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80");
  EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
  EXPECT_EQ(Utf16ToWide(WideToUtf16(text)), text);
  EXPECT_EQ(Utf16Length(text), 6u);
}

TEST(Text, MalformedUtf8BecomesReplacementCharacters) {
  struct Case {
    std::string bytes;
    std::wstring text;
  };
  for (const Case& c : {Case{"\xFF", L"\uFFFD"}, Case{"a\xC3", L"a\uFFFD"},
                        Case{"\xC0\xAF", L"\uFFFD\uFFFD"},           // overlong '/'
                        Case{"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},  // a surrogate
                        Case{"\xE6\x97", L"\uFFFD\uFFFD"}}) {
    EXPECT_EQ(Utf8ToWide(c.bytes), c.text);
  }
}

}  // namespace
}  // namespace zantrel
