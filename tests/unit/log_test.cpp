#include <gtest/gtest.h>

#include <thread>

#include "base/log.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

struct ProtocolCase {
  const char* name;
  std::wstring before;                 // log text before the appends
  std::vector<std::wstring> appends;
  std::wstring after;
};

class LogProtocol : public ::testing::TestWithParam<ProtocolCase> {};

TEST_P(LogProtocol, ProducesExpectedText) {
  const ProtocolCase& c = GetParam();
  test::LogCapture log;
  if (!c.before.empty()) AppendLog(L"%RAW%" + c.before);
  for (const auto& text : c.appends) AppendLog(text);
  EXPECT_EQ(log.Text(), c.after);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LogProtocol,
    ::testing::Values(
        ProtocolCase{"PlainLine", L"", {L"abc"}, L"abc\r\n"},
        ProtocolCase{"RawContinuesLine", L"", {L"%RAW%abc", L"def"}, L"abcdef\r\n"},
        ProtocolCase{"BareRawAddsNothing", L"x", {L"%RAW%"}, L"x"},
        ProtocolCase{"EmptyTextIsLineEnd", L"", {L""}, L"\r\n"},
        ProtocolCase{"ChangeOverwritesTail", L"done 10%", {L"%CHANGE%50%"}, L"done 50%"},
        ProtocolCase{"MarkerOnlyAtStart", L"", {L"a%RAW%b"}, L"a%RAW%b\r\n"},
        ProtocolCase{"RawBeforeChangeRemovesOnlyRaw", L"", {L"%RAW%%CHANGE%x"}, L"%CHANGE%x"},
        ProtocolCase{"MarkersAreCaseSensitive", L"", {L"%raw%x"}, L"%raw%x\r\n"},
        // Longer than the whole log: the whole log is replaced.
        ProtocolCase{"ChangeLongerThanLog", L"ab", {L"%CHANGE%wxyz"}, L"wxyz"},
        ProtocolCase{"ChangeCountsUtf16Units", L"a\U0001F600", {L"%CHANGE%xyz"}, L"xyz"}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(LogBound, EmptiesOnlyAtSixteenThousandUnits) {
  struct Case {
    std::size_t existing;
    std::wstring expected;
  };
  for (const Case& c : {Case{15999, std::wstring(15999, L'x') + L"new\r\n"},
                        Case{16000, L"new\r\n"}, Case{16500, L"new\r\n"}}) {
    test::LogCapture log;
    AppendLog(L"%RAW%" + std::wstring(c.existing, L'x'));
    AppendLog(L"new");
    EXPECT_EQ(log.Text(), c.expected) << "existing " << c.existing;
  }
}

TEST(LogBound, SupplementaryCharactersCountTwice) {
  test::LogCapture log;
  std::wstring faces;
  for (int i = 0; i < 8000; ++i) faces += L"\U0001F600";  // 16000 UTF-16 units
  AppendLog(L"%RAW%" + faces);
  AppendLog(L"new");
  EXPECT_EQ(log.Text(), L"new\r\n");
}

TEST(LogTarget, AppendsWithoutATargetGoNowhere) {
  test::LogCapture log;
  AppendLog(L"kept");
  SetLogTarget(nullptr);
  AppendLog(L"lost");  // must neither crash nor reach the former target
  EXPECT_EQ(log.Text(), L"kept\r\n");
}

TEST(LogConcurrency, AppendsFromManyThreadsStayWhole) {
  test::LogCapture log;
  constexpr int kThreads = 4;
  constexpr int kLines = 300;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) AppendLog(L"T" + std::to_wstring(t) + L"-" + std::to_wstring(i));
    });
  }
  for (auto& thread : threads) thread.join();
  // The log may have been emptied at the bound; every line left must be whole and
  // each thread's lines in order.
  std::vector<int> next(kThreads, -1);
  for (const auto& line : log.Lines()) {
    ASSERT_EQ(line[0], L'T') << "torn line";
    const int t = std::stoi(line.substr(1));
    const int i = std::stoi(line.substr(line.find(L'-') + 1));
    ASSERT_GT(i, next[static_cast<std::size_t>(t)]);
    next[static_cast<std::size_t>(t)] = i;
  }
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(next[static_cast<std::size_t>(t)], kLines - 1);
}

}  // namespace
}  // namespace zantrel
