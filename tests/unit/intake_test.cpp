#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "job/intake.hpp"
#include "base/paths.hpp"
#include "base/text.hpp"
#include "job/naming.hpp"
#include "job/save_question.hpp"
#include "job/worker.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::CurrentDirectory;
using test::FakeHost;
using test::TempDir;
using test::WriteFile;

TEST(FilterInputFiles, KeepsExistingXmlItemsInOrder) {
  TempDir dir;
  for (const wchar_t* name : {L"b.XML", L"a.xml", L"c.txt", L"x.xml.bak", L"y.bak.xml", L"w.\uFF38\uFF2D\uFF2C"})
    WriteFile(dir / name, "<packet/>");
  ::mkdir(WideToUtf8(dir / L"folder.xml").c_str(), 0755);
  CurrentDirectory cd(dir.path());
  std::vector<std::wstring> accepted;
  EXPECT_TRUE(FilterInputFiles({L"b.XML", L"-autoexit", L"a.xml", L"c.txt", L"missing.xml", L"x.xml.bak",
                                L"y.bak.xml", L"folder.xml", L"w.\uFF38\uFF2D\uFF2C", L"save=out.xml",
                                L"./a.xml", L"sub/../a.xml"},
                               accepted));
  const std::wstring d = dir.path();
  EXPECT_EQ(accepted, (std::vector<std::wstring>{d + L"b.XML", d + L"a.xml", d + L"y.bak.xml",
                                                  d + L"folder.xml", d + L"a.xml", d + L"a.xml"}));
  EXPECT_FALSE(FilterInputFiles({L"-hide"}, accepted));
  EXPECT_TRUE(accepted.empty());
}

// "link/.." is where the kernel goes: the parent of the link's target.
TEST(MakeAbsolutePath, DotDotAfterASymbolicLinkGoesWhereTheKernelGoes) {
  TempDir dir;
  test::MakeDirectory(dir / L"deep");
  test::MakeDirectory(dir / L"deep/sub");
  test::MakeDirectory(dir / L"plain");
  const std::string base = WideToNative(dir.path());
  ASSERT_EQ(::symlink("deep/sub", (base + "sl").c_str()), 0);
  ASSERT_EQ(::symlink((base + "deep/sub").c_str(), (base + "abs").c_str()), 0);
  ASSERT_EQ(::symlink("sl", (base + "chain").c_str()), 0);
  ASSERT_EQ(::symlink("plain", (base + "dl").c_str()), 0);
  CurrentDirectory cd(dir.path());
  // The temporary folder itself may lie behind a link: compare with its real path.
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(base.c_str(), nullptr), &std::free);
  const std::wstring r = NativeToWide(std::string(real.get()) + "/");
  struct Case {
    std::wstring path, absolute;
  };
  const Case cases[] = {
      {L"sl/../a.xml", r + L"deep/a.xml"},
      {L"./sl/./../a.xml", r + L"deep/a.xml"},
      {L"abs/../a.xml", r + L"deep/a.xml"},
      {L"chain/../a.xml", r + L"deep/a.xml"},
      {L"sl/../../a.xml", r + L"a.xml"},
      {L"dl/../a.xml", r + L"a.xml"},
      {L"sl/a.xml", r + L"sl/a.xml"},  // no "..": the link stays as written
      {L"plain/../a.xml", r + L"a.xml"},  // no link: by name, as before
      {L"missing/../a.xml", r + L"a.xml"},  // the kernel has no answer: by name
      {L"sl/..", r + L"deep"},
  };
  for (const auto& c : cases) EXPECT_EQ(MakeAbsolutePath(c.path), c.absolute) << WideToUtf8(c.path);
}

TEST(SortInputFiles, StableByUtf16CodeUnits) {
  std::vector<std::wstring> files = {L"/a/z.xml", L"/B/a.xml", L"/a/Z.xml", L"/a/a.xml", L"/a/z.xml",
                                     L"/a/\u65E5.xml", L"/a/\U0001F600.xml", L"/a/\uFF21.xml"};
  SortInputFiles(files);
  EXPECT_EQ(files, (std::vector<std::wstring>{L"/B/a.xml", L"/a/Z.xml", L"/a/a.xml", L"/a/z.xml", L"/a/z.xml",
                                              L"/a/\u65E5.xml", L"/a/\U0001F600.xml", L"/a/\uFF21.xml"}));
}

TEST(OutputNaming, WorkedExamples) {
  // The worked examples of the naming rules, with a Linux current directory.
  struct Case {
    std::wstring pattern, firstName, output;
  };
  const Case cases[] = {
      {L"/logs/$title.xml", L"Title[2008-05-01].xml", L"/logs/Title.xml"},
      {L"$title_$date.xml", L"Title[2008-05-01].xml", L"/work/Title_2008-05-01.xml"},
      {L"/m/$file_all.xml", L"Title[2008-05-01].xml", L"/m/Title[2008-05-01]_all.xml"},
      {L"/m/$date-$title.xml", L"Show[05][06].xml", L"/m/06-Show[05].xml"},
      {L"/m/$title.xml", L"plain.xml", L"/m/$title.xml"},
      {L"/m/$file.xml", L"plain.xml", L"/m/plain.xml"},
      {L"/m/$title ($date).xml", L"[123].xml", L"/m/123 ($date).xml"},
      {L"/m/$title.xml", L"Title[2008].XML", L"/m/$title.xml"},
      {L"out", L"any.xml", L"/work/out"},
      {L"/$file.xml", L"x$title[1].xml", L"/xx$title[1].xml"},  // inserted text is not read again
      {L"/m/$title-$title-$date.xml", L"T[].xml", L"/m/T-T-$date.xml"},
      {L"sub/../$title.xml", L"日本語[二].xml", L"/work/日本語.xml"},
  };
  TempDir dir;
  ::mkdir(WideToUtf8(dir / L"work").c_str(), 0755);
  // "/work" stands for the current directory: the test maps it to a real folder.
  const std::wstring work = dir / L"work";
  CurrentDirectory cd(work);
  for (const auto& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.pattern + L" | " + c.firstName));
    FakeHost host;
    test::LogCapture log;
    std::wstring expected = c.output;
    if (expected.rfind(L"/work/", 0) == 0) expected = work + expected.substr(5);
    EXPECT_EQ(BuildOutputPath(L"/in/" + c.firstName, L"/in/seed.xml", host, c.pattern), expected);
    EXPECT_EQ(log.Lines(), std::vector<std::wstring>{L"保存先 : " + expected});
  }
}

TEST(OutputNaming, SaveArgumentBeatsSettingWhichBeatsTheQuestion) {
  FakeHost host;
  host.pattern = L"/set/$file.xml";
  host.dialogAnswer = L"/asked/out.xml";
  test::LogCapture log;
  EXPECT_EQ(BuildOutputPath(L"/in/A[1].xml", L"/in/0.xml", host, L"/arg/$title.xml"), L"/arg/A.xml");
  EXPECT_EQ(BuildOutputPath(L"/in/A[1].xml", L"/in/0.xml", host, L""), L"/set/A[1].xml");
  host.pattern.clear();
  EXPECT_EQ(BuildOutputPath(L"/in/A[1].xml", L"/in/0.xml", host, L""), L"/asked/out.xml");
  EXPECT_EQ(host.askedWith, L"/in/0.xml");  // the question starts from the sorted first file
  host.dialogAnswer.clear();
  EXPECT_EQ(BuildOutputPath(L"/in/A[1].xml", L"/in/0.xml", host, L""), L"");
  EXPECT_EQ(log.Lines().back(), L"保存先 : ");
}

TEST(SubmitJob, RefusalsWriteOneLineAndHonourAutoExit) {
  TempDir dir;
  WriteFile(dir / L"only.xml", "<packet/>");
  CurrentDirectory cd(dir.path());
  struct Case {
    const char* name;
    ArgumentList args;
    std::wstring pattern;
    std::vector<std::wstring> lines;
    int closeRequests;
  };
  const Case cases[] = {
      {"nothing usable", {L"-autoexit", L"x.txt"}, L"", {L"有効なファイルが入力されていません"}, 1},
      {"nothing usable, no auto-exit", {L"x.txt"}, L"", {L"有効なファイルが入力されていません"}, 0},
      {"no output path", {L"-hide", L"only.xml"}, L"",
       {L"対象 : only.xml", L"保存先 : ", L"保存先パスが設定されていません"}, 1},
      {"one usable file", {L"only.xml", L"-hide"}, L"out.xml",
       {L"対象 : only.xml", L"保存先 : " + dir.path() + L"out.xml", L"ファイルが1つしか指定されませんでした"}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FakeHost host;
    host.pattern = c.pattern;
    test::LogCapture log;
    EXPECT_FALSE(SubmitJob(MakeJobRequest(c.args), host));
    EXPECT_EQ(log.Lines(), c.lines);
    EXPECT_EQ(host.closeRequests, c.closeRequests);
  }
}

TEST(SaveQuestion, AnswersOnATerminal) {
  TempDir dir;
  WriteFile(dir / L"exists.xml", "x");
  struct Case {
    const char* name;
    std::string input;
    std::wstring result;
  };
  const Case cases[] = {
      {"empty answer cancels", "\n", L""},
      {"end of input cancels", "", L""},
      {"relative name in the seed's folder", "merged\n", dir / L"merged.xml"},
      {"other extension replaced", "merged.txt\n", dir / L"merged.xml"},
      {"double extension folded", "merged.xml.xml\n", dir / L"merged.xml"},
      {"missing folder asks again", "nowhere/out\nok\n", dir / L"ok.xml"},
      {"overwrite declined then accepted", "exists\nn\nexists\ny\n", dir / L"exists.xml"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::string input = c.input;
    std::FILE* in = ::fmemopen(input.data(), input.size(), "r");
    if (input.empty()) in = std::fopen("/dev/null", "r");
    ASSERT_NE(in, nullptr);
    char* prompt = nullptr;
    std::size_t promptSize = 0;
    std::FILE* out = ::open_memstream(&prompt, &promptSize);
    EXPECT_EQ(AskSavePathOnTerminal(dir / L"seed.xml", in, out), c.result);
    std::fclose(in);
    std::fclose(out);
    EXPECT_NE(std::string(prompt, promptSize).find("seed.xml"), std::string::npos);
    std::free(prompt);
  }
}

}  // namespace
}  // namespace zantrel
