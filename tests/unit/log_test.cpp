#include <gtest/gtest.h>

#include <thread>

#include "base/log.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

TEST(LogProtocol, MarkersAtTheStartOfAnAppend) {
  struct Case {
    const char* name;
    std::wstring before;  // log text before the appends
    std::vector<std::wstring> appends;
    std::wstring after;
  };
  const Case cases[] = {
      {"plain line", L"", {L"abc"}, L"abc\r\n"},
      {"raw continues the line", L"", {L"%RAW%abc", L"def"}, L"abcdef\r\n"},
      {"bare raw adds nothing", L"x", {L"%RAW%"}, L"x"},
      {"empty text is a line end", L"", {L""}, L"\r\n"},
      {"change overwrites the tail", L"done 10%", {L"%CHANGE%50%"}, L"done 50%"},
      {"a marker only at the start", L"", {L"a%RAW%b"}, L"a%RAW%b\r\n"},
      {"raw before change removes only raw", L"", {L"%RAW%%CHANGE%x"}, L"%CHANGE%x"},
      {"markers are case-sensitive", L"", {L"%raw%x"}, L"%raw%x\r\n"},
      {"a change longer than the log replaces it all", L"ab", {L"%CHANGE%wxyz"}, L"wxyz"},
      {"a change counts UTF-16 units", L"a\U0001F600", {L"%CHANGE%xyz"}, L"xyz"},
  };
  for (const Case& c : cases) {
    test::LogCapture log;
    if (!c.before.empty()) AppendLog(L"%RAW%" + c.before);
    for (const auto& text : c.appends) AppendLog(text);
    EXPECT_EQ(log.Text(), c.after) << c.name;
  }
}

TEST(LogBound, EmptiesOnlyAtSixteenThousandUtf16Units) {
  struct Case {
    std::wstring existing, expected;
  };
  std::wstring faces;
  for (int i = 0; i < 8000; ++i) faces += L"\U0001F600";  // 16000 UTF-16 units
  for (const Case& c : {Case{std::wstring(15999, L'x'), std::wstring(15999, L'x') + L"new\r\n"},
                        Case{std::wstring(16000, L'x'), L"new\r\n"}, Case{std::wstring(16500, L'x'), L"new\r\n"},
                        Case{faces, L"new\r\n"}}) {
    test::LogCapture log;
    AppendLog(L"%RAW%" + c.existing);
    AppendLog(L"new");
    EXPECT_EQ(log.Text(), c.expected) << "existing " << c.existing.size();
  }
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
