#include <gtest/gtest.h>

#include "base/args.hpp"
#include "base/settings.hpp"
#include "base/text.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

TEST(ArgumentList, OptionsAreExactAndCaseSensitive) {
  struct Case {
    ArgumentList args;
    bool hidden, autoExit;
  };
  const Case cases[] = {
      {{}, false, false},
      {{L"-hide"}, true, true},
      {{L"-autoexit"}, false, true},
      {{L"a.xml", L"-HIDE", L"/hide", L"-hide=", L" -hide"}, false, false},
      {{L"-AUTOEXIT", L"autoexit"}, false, false},
      {{L"x", L"-autoexit", L"-hide"}, true, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(IsHidden(c.args), c.hidden);
    EXPECT_EQ(IsAutoExit(c.args), c.autoExit);
  }
}

TEST(ArgumentList, LastSaveValueWins) {
  struct Case {
    ArgumentList args;
    std::wstring value;
  };
  const Case cases[] = {
      {{}, L"dflt"},
      {{L"save=a", L"save=b"}, L"b"},
      {{L"save=a", L"save="}, L""},
      {{L"xsave=a", L"SAVE=b", L" save=c"}, L"dflt"},
      {{L"save=save=x"}, L"save=x"},
      {{L"save=$title ($date).xml"}, L"$title ($date).xml"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetOptionValue(c.args, L"save=", L"dflt"), c.value);
}

TEST(ArgumentList, RawCommandLineQuotesBlanksAndEmptyArguments) {
  EXPECT_EQ(JoinCommandLine({L"/opt/z/zantrel", L"a.xml", L"my file.xml", L"", L"save=x y", L"tab\t.xml"}),
            L"/opt/z/zantrel a.xml \"my file.xml\" \"\" \"save=x y\" \"tab\t.xml\"");
}

TEST(ArgumentList, ArgumentBytesRoundTrip) {
  // Names from other systems: Latin-1, code page 932, a cut UTF-8 sequence, an
  // encoded surrogate; and plain UTF-8 that must decode as text.
  const char* const argv[] = {"/opt/z/zantrel", "caf\xe9[1].xml", "\x83\x65\x83\x58\x83\x67.xml",
                              "\xe6\x97", "\xed\xb2\x80", "夏.xml", "save=$title.xml"};
  const ArgumentList args = GetCommandArgs(static_cast<int>(std::size(argv)), argv);
  ASSERT_EQ(args.size(), std::size(argv) - 1);
  for (std::size_t i = 0; i < args.size(); ++i) EXPECT_EQ(WideToNative(args[i]), argv[i + 1]) << i;
  EXPECT_EQ(args[4], L"夏.xml");
  EXPECT_EQ(args[5], L"save=$title.xml");
  // The log line shows what cannot be decoded as replacement characters.
  EXPECT_EQ(WideToUtf8(GetRawCommandLine(static_cast<int>(std::size(argv)), argv)),
            "/opt/z/zantrel caf\uFFFD[1].xml \uFFFDe\uFFFDX\uFFFDg.xml \uFFFD\uFFFD "
            "\uFFFD\uFFFD\uFFFD 夏.xml save=$title.xml");
}

TEST(Settings, FindsTheSaveKeyAsTheIniRoutinesDo) {
  struct Case {
    const char* name;
    std::wstring content;
    std::optional<std::wstring> value;
  };
  const Case cases[] = {
      {"plain", L"[main]\nsave=D:\\m\\$title.xml\n", L"D:\\m\\$title.xml"},
      {"case and blanks", L"[ MAIN ]\r\n  SAVE =  x.xml  \r\n", L"x.xml"},
      // Quotes go only in matching pairs.
      {"quoted", L"[main]\nsave=\" a b \"\n", L" a b "},
      {"single quoted", L"[main]\nsave='o.xml'\n", L"o.xml"},
      {"quotes that differ", L"[main]\nsave=\"o.xml'\n", L"\"o.xml'"},
      {"a lone quote", L"[main]\nsave=\"\n", L"\""},
      {"empty quotes", L"[main]\nsave=''\n", L""},
      {"other section", L"[other]\nsave=no\n[main]\nleft=1\n", std::nullopt},
      {"first wins", L"[main]\nsave=1\nsave=2\n", L"1"},
      {"comment", L"[main]\n;save=x\n", std::nullopt},
      {"japanese", L"[main]\nsave=$title_結合済み.xml\n", L"$title_結合済み.xml"},
      {"empty value", L"[main]\nsave=\n", L""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(FindIniValue(c.content, L"main", L"save"), c.value);
  }
}

TEST(Settings, ReadsUtf8Utf16AndTheJapaneseAnsiCodePage) {
  test::TempDir dir;
  const std::wstring pattern = L"保存/$title.xml";
  test::WriteFile(dir / L"utf8.ini", "\xEF\xBB\xBF[main]\nsave=" + WideToUtf8(pattern) + "\nwidth=500\n");
  test::WriteFile(dir / L"utf16.ini", test::Utf16WithBom(WideToUtf16(L"[main]\r\nsave=" + pattern + L"\r\n")));
  // "～\保存\$title_①.xml" in code page 932: its trail bytes include 0x5C, which
  // must stay a byte of the character, not end it.
  test::WriteFile(dir / L"ansi.ini", "[main]\r\nsave=\x81\x60\\\x95\xdb\x91\xb6\\$title_\x87\x40.xml\r\n");
  EXPECT_EQ(LoadSavePattern(dir / L"utf8.ini"), pattern);
  EXPECT_EQ(LoadSavePattern(dir / L"utf16.ini"), pattern);
  EXPECT_EQ(LoadSavePattern(dir / L"ansi.ini"), L"～\\保存\\$title_①.xml");
  EXPECT_EQ(DecodeIniBytes("\x83\x5c"), L"ソ");  // a trail byte that is '\\' in ASCII
  EXPECT_EQ(LoadSavePattern(dir / L"missing.ini"), L"");
  EXPECT_EQ(IniFile(dir / L"utf8.ini", L"main").ReadInt(L"", L"width", 400), 500);
  EXPECT_EQ(IniFile(dir / L"utf8.ini", L"main").ReadInt(L"", L"left", INT32_MIN), INT32_MIN);
}

}  // namespace
}  // namespace zantrel
