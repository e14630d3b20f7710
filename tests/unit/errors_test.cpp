#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <stdexcept>

#include "engine/errors.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

TEST(ComMessage, SystemTextLosesItsFinalLineEndOnly) {
  struct Case {
    std::optional<std::wstring> system;
    std::uint32_t code;
    std::wstring expected;
  };
  const Case cases[] = {
      {L"Access is denied.\r\n", 0x80070005u, L"Access is denied."},
      {L"Only a line feed\n", 0x80070005u, L"Only a line feed"},
      {L"Inner\r\nlines\r\n", 0x80070005u, L"Inner\r\nlines"},
      {L"\n", 0x80070005u, L"\n"},  // a single character is kept as it is
      {std::nullopt, 0x80040205u, L"IDispatch error #5"},
      {std::nullopt, 0x8004FFFFu, L"IDispatch error #65023"},
      {std::nullopt, 0x80040200u, L"Unknown error 0x80040200"},  // below the range
      {std::nullopt, 0x00000001u, L"Unknown error 0x1"},
      {L"", 0x80004005u, L"Unknown error 0x80004005"},
  };
  for (const auto& c : cases) {
    std::optional<std::wstring_view> system;
    if (c.system) system = *c.system;
    EXPECT_EQ(FormatComMessage(static_cast<HResult>(c.code), system), c.expected) << std::hex << c.code;
  }
}

TEST(ComErrorReport, DescriptionLineOnlyWhenThereIsOne) {
  test::LogCapture log;
  WriteComErrorReport(ComError(kEPointer), &AppendLog);
  WriteComErrorReport(ComError(kEFail, L"line 3: bad"), &AppendLog);
  WriteComErrorReport(ComError(kEFail, L""), &AppendLog);  // empty still gives a line
  EXPECT_EQ(log.Lines(), (std::vector<std::wstring>{L"Invalid pointer", L"Unspecified error",
                                                     L"line 3: bad", L"Unspecified error", L""}));
}

// What escapes a job, of whatever kind, is reported as the worker reports it.
TEST(CurrentErrorReport, EveryKindOfFailureGivesItsLines) {
  using Lines = std::vector<std::wstring>;
  const auto report = [](const std::function<void()>& raise) {
    test::LogCapture log;
    try {
      raise();
    } catch (...) {
      WriteCurrentErrorReport(&AppendLog);
    }
    return log.Lines();
  };
  EXPECT_EQ(report([] { throw std::bad_alloc(); }),
            Lines{L"Not enough memory resources are available to complete this operation."});
  EXPECT_EQ(report([] { throw ComError(kEFail, L"why"); }), (Lines{L"Unspecified error", L"why"}));
  EXPECT_EQ(report([] { throw CallTextError("pDoc->load()[loadXML()]"); }), Lines{L"pDoc->load()[loadXML()]"});
  EXPECT_EQ(report([] { throw std::runtime_error("\xE6\x97\xA5\xE6\x9C\xAC"); }), Lines{L"日本"});
  EXPECT_EQ(report([] { throw 42; }), Lines{L"Unspecified error"});
}

}  // namespace
}  // namespace zantrel
