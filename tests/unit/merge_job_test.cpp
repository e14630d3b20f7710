#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "comments/progress.hpp"
#include "job/merge_job.hpp"
#include "job/worker.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::CommentXml;
using test::TempDir;
using test::WriteFile;
using Lines = std::vector<std::wstring>;

// Job logs kept as golden files in tests/golden (ZANTREL_GOLDEN_DIR): UTF-8, one
// log line per line, "<time>" for a time text. kAnyText: a line in the system's
// or the component's own words (they differ between platforms), not empty.
constexpr wchar_t kAnyTime[] = L"<time>";
constexpr wchar_t kAnyText[] = L"<text>";

std::vector<std::wstring> GoldenLog(const std::string& name) {
  const std::wstring path = std::wstring(ZANTREL_GOLDEN_DIR) + Utf8ToWide(name);
  std::wstring text = Utf8ToWide(test::ReadFile(path));
  EXPECT_FALSE(text.empty()) << "no golden log " << name;
  std::vector<std::wstring> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1)
    lines.push_back(text.substr(start, end - start));
  return lines;
}

// Runs a job as the worker thread does (catch clauses included), in this thread,
// between two readings of the clock.
struct JobRun {
  Lines lines;
  bool saved = false;
  std::time_t before = 0, after = 0;
};

// `freshProcess`: the last reported percentages start as in a new process; false
// leaves them as earlier jobs left them.
JobRun RunJob(const std::wstring& styleSheet, const std::wstring& output,
              const std::vector<std::wstring>& inputs, bool freshProcess = true) {
  if (freshProcess) ResetProgressTicks();
  test::LogCapture log;
  test::FakeHost host;
  MergeJob job{inputs, output, styleSheet, &host, true, &AppendLog};
  const std::time_t before = std::time(nullptr);
  const bool saved = MergeThreadProc(job);
  const std::time_t after = std::time(nullptr);
  EXPECT_EQ(host.closeRequests, 1);  // auto-exit asks to close whatever happened
  return {log.Lines(), saved, before, after};
}

// A time text is the local time of a second the job ran in: month and day from 1,
// hours from 0 to 23, each field as a plain number.
bool IsTimeOfTheJob(const std::wstring& text, const JobRun& run) {
  for (std::time_t t = run.before; t <= run.after; ++t) {
    const std::tm local = *std::localtime(&t);
    if (text == std::to_wstring(local.tm_mon + 1) + L"月" + std::to_wstring(local.tm_mday) + L"日" +
                    std::to_wstring(local.tm_hour) + L"時" + std::to_wstring(local.tm_min) + L"分" +
                    std::to_wstring(local.tm_sec) + L"秒")
      return true;
  }
  return false;
}

void ExpectLog(const JobRun& run, const std::vector<std::wstring>& expected) {
  const Lines& actual = run.lines;
  ASSERT_EQ(actual.size(), expected.size()) << WideToUtf8([&] {
    std::wstring all;
    for (const auto& l : actual) all += l + L"\n";
    return all;
  }());
  for (std::size_t i = 0; i < actual.size(); ++i) {
    if (expected[i] == kAnyText) {
      EXPECT_FALSE(actual[i].empty()) << "line " << i;
      continue;
    }
    const std::size_t mark = expected[i].find(kAnyTime);
    if (mark == std::wstring::npos) {
      EXPECT_EQ(WideToUtf8(actual[i]), WideToUtf8(expected[i])) << "line " << i;
    } else {
      EXPECT_EQ(WideToUtf8(actual[i].substr(0, mark)), WideToUtf8(expected[i].substr(0, mark))) << "line " << i;
      EXPECT_TRUE(IsTimeOfTheJob(actual[i].substr(mark), run)) << WideToUtf8(actual[i]);
    }
  }
}

class MergeJobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFile(dir / L"convert.xsl", test::ReadFile(ZANTREL_STYLE_SHEET));
    WriteFile(dir / L"a.xml", CommentXml({1, 2, 3}));
    WriteFile(dir / L"b.xml", CommentXml({3, 4}));
    WriteFile(dir / L"c.xml", CommentXml({4, 5}));
  }
  std::wstring Sheet() const { return dir / L"convert.xsl"; }
  std::wstring Out() const { return dir / L"out.xml"; }
  TempDir dir;
};

TEST_F(MergeJobTest, ThreeInputsGoldenLog) {
  const JobRun run = RunJob(Sheet(), Out(), {dir / L"a.xml", dir / L"b.xml", dir / L"c.xml"});
  // Ticks: 2 chats -> 50; 5 chats -> 20 40 60 80; 2 chats -> 0 50; 6 chats -> 0 50.
  ExpectLog(run, GoldenLog("three_inputs.log"));
  EXPECT_TRUE(run.saved);
  EXPECT_EQ(test::ChatNumbersOfFile(Out()), (std::vector<std::string>{"1", "2", "3", "4", "5"}));
  EXPECT_EQ(test::LastRes(test::ParseDocument(test::ReadFile(Out()))), std::optional<std::string>("5"));
}

TEST_F(MergeJobTest, EarlyStopsAndFailuresWriteTheirLinesAndSaveNothing) {
  test::MakeDirectory(dir / L"folder.xml");
  WriteFile(dir / L"bad.xml", "<packet><chat no=\"1\"></packet>");
  WriteFile(dir / L"root.xml", "<root><chat no=\"1\"/></root>");
  WriteFile(dir / L"notxslt.xsl", "<root/>");
  WriteFile(dir / L"dup.xml", "<packet><thread/><chat no=\"x\"/></packet>");
  const Lines head = {L"", L"------------------------------", L"変換開始", L"読み込み：a.xml"};
  const auto with = [&](Lines tail) {
    Lines all = head;
    all.insert(all.end(), tail.begin(), tail.end());
    return all;
  };
  struct Case {
    const char* name;
    std::vector<std::wstring> inputs;
    std::wstring sheet;
    std::wstring output;
    Lines expected;
    bool underWine = true;  // false: Wine's COM component accepts it
  };
  const Case cases[] = {
      {"second of three missing", {dir / L"a.xml", dir / L"gone.xml", dir / L"c.xml"}, Sheet(), Out(),
       {L"ファイルが見つかりませんでした : gone.xml"}},
      {"a directory as input", {dir / L"a.xml", dir / L"folder.xml"}, Sheet(), Out(),
       with({L"読み込み：folder.xml", L"pDoc->load()[loadXML()]"})},
      {"malformed input", {dir / L"a.xml", dir / L"bad.xml"}, Sheet(), Out(), GoldenLog("second_input_malformed.log")},
      // Later inputs may be read ahead; a failure still shows at its own turn.
      {"third input malformed", {dir / L"a.xml", dir / L"b.xml", dir / L"bad.xml"}, Sheet(), Out(),
       with({L"読み込み：b.xml", L"コメント結合中...| 完了", L"重複コメントの削除中...|||| 完了",
             L"( 1 / 2 完了)", L"読み込み：bad.xml", L"pDoc->load()[loadXML()]"})},
      // The next input is being read ahead when the first fails: the job stops there.
      {"first input malformed", {dir / L"bad.xml", dir / L"a.xml", dir / L"b.xml"}, Sheet(), Out(),
       {L"", L"------------------------------", L"変換開始", L"読み込み：bad.xml",
        L"pDoc->load()[loadXML()]"}},
      {"base root is not packet", {dir / L"root.xml", dir / L"a.xml"}, Sheet(), Out(),
       {L"", L"------------------------------", L"変換開始", L"読み込み：root.xml", L"読み込み：a.xml",
        L"コメント結合中...selectSingleNode( \"/packet\")"}},
      {"malformed no", {dir / L"a.xml", dir / L"dup.xml"}, Sheet(), Out(),
       with({L"読み込み：dup.xml", L"コメント結合中... 完了",
             L"重複コメントの削除中...||bad lexical cast: source type value could not be interpreted as target"})},
      {"not a style sheet", {dir / L"a.xml", dir / L"b.xml"}, dir / L"notxslt.xsl", Out(),
       with({L"読み込み：b.xml", L"コメント結合中...| 完了", L"重複コメントの削除中...|||| 完了",
             L"( 1 / 1 完了)", L"XSLT読み込み：notxslt.xsl", L"XSLT適用中...", L"Unspecified error", kAnyText}),
       false},
      {"output folder missing", {dir / L"a.xml", dir / L"b.xml"}, Sheet(), dir / L"none/out.xml",
       with({L"読み込み：b.xml", L"コメント結合中...| 完了", L"重複コメントの削除中...|||| 完了",
             L"( 1 / 1 完了)", L"XSLT読み込み：convert.xsl", L"XSLT適用中...", L"last_res値の設定",
             L"保存：out.xml", kAnyText, dir / L"none/out.xml"})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.underWine && test::RunningUnderWine()) continue;
    const JobRun run = RunJob(c.sheet, c.output, c.inputs);
    ExpectLog(run, c.expected);
    EXPECT_FALSE(run.saved);
    EXPECT_FALSE(PathExists(Out()));
    EXPECT_FALSE(PathExists(dir / L"none"));
  }
}

TEST_F(MergeJobTest, FailingLastResIsLoggedAndTheFileStillSaved) {
  // A style sheet that drops `thread`, under the bundled sheet's name.
  test::MakeDirectory(dir / L"nothread");
  WriteFile(dir / L"nothread/convert.xsl", test::SheetText(test::kIdentity + "<xsl:template match=\"thread\"/>"));
  const JobRun run = RunJob(dir / L"nothread/convert.xsl", Out(), {dir / L"a.xml", dir / L"b.xml"});
  ExpectLog(run, GoldenLog("style_sheet_drops_thread.log"));
  EXPECT_TRUE(run.saved);
  EXPECT_EQ(test::ChatNumbersOfFile(Out()), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(MergeJobTest, ASavedJobDoesNotHideOneThatFailed) {
  // Scripts act on the process's outcome: 1 once any job did not save.
  test::LogCapture log;
  test::FakeHost host;
  Workers workers;
  const auto job = [&](const std::wstring& second, const std::wstring& output) {
    return std::make_unique<MergeJob>(MergeJob{{dir / L"a.xml", second}, output, Sheet(), &host, false, &AppendLog});
  };
  ASSERT_TRUE(workers.Start(job(dir / L"b.xml", Out())));
  ASSERT_TRUE(workers.Start(job(dir / L"missing.xml", dir / L"out2.xml")));
  EXPECT_EQ(workers.Finish(), 1);
  EXPECT_TRUE(PathExists(Out()));
}

TEST_F(MergeJobTest, InputNamedAsOutputIsReplacedOnlyOnSuccess) {
  const std::string original = test::ReadFile(dir / L"a.xml");
  WriteFile(dir / L"bad.xml", "<packet>");
  RunJob(Sheet(), dir / L"a.xml", {dir / L"a.xml", dir / L"bad.xml"});
  EXPECT_EQ(test::ReadFile(dir / L"a.xml"), original);
  const JobRun run = RunJob(Sheet(), dir / L"a.xml", {dir / L"a.xml", dir / L"b.xml"});
  EXPECT_TRUE(run.saved);
  EXPECT_EQ(test::ChatNumbersOfFile(dir / L"a.xml"), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST_F(MergeJobTest, JobsOneAfterAnotherCarryTheLastPercentagesOn) {
  // The first job of a process skips the 0 % ticks; the next one starts from the
  // 50 % of merging and the 80 % of removal that the first left, so it has them.
  const JobRun first = RunJob(Sheet(), Out(), {dir / L"a.xml", dir / L"b.xml"});
  ExpectLog(first, GoldenLog("two_inputs.log"));
  EXPECT_EQ(MergeProgress().load(), 50);
  EXPECT_EQ(RemovalProgress().load(), 80);
  const JobRun second = RunJob(Sheet(), Out(), {dir / L"a.xml", dir / L"b.xml"}, false);
  // The same log with one more tick in either progress line.
  Lines expected = GoldenLog("two_inputs.log");
  for (auto& line : expected) {
    if (line == L"コメント結合中...| 完了") line = L"コメント結合中...|| 完了";
    if (line == L"重複コメントの削除中...|||| 完了") line = L"重複コメントの削除中...||||| 完了";
  }
  ExpectLog(second, expected);
  EXPECT_TRUE(first.saved && second.saved);
}

// Two threads that take turns at every log entry of their jobs, so that each job's
// ticks fall between the other's.
class TakingTurns {
 public:
  // Blocks until it is `party`'s turn or the other party has finished.
  void Wait(int party) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return turn_ == party || finished_[1 - party]; });
  }
  // Hands the turn to the other party and waits for it to come back.
  void Pass(int party) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      turn_ = 1 - party;
    }
    changed_.notify_all();
    Wait(party);
  }
  void Finish(int party) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      finished_[party] = true;
      turn_ = 1 - party;
    }
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int turn_ = 0;
  bool finished_[2] = {false, false};
};

// Each thread's log entries go to a list of its own (plain pointers: nothing to
// destroy at thread exit).
thread_local std::vector<std::wstring>* t_entries = nullptr;
thread_local int t_party = -1;
TakingTurns* g_turns = nullptr;

void OwnLog(const std::wstring& text) {
  t_entries->push_back(text);
  if (g_turns != nullptr) g_turns->Pass(t_party);
}

TEST_F(MergeJobTest, TwoJobsAtOnceEachTickAsIfAlone) {
  // Different sizes: the two jobs' percentages differ at almost every chat.
  WriteFile(dir / L"p1.xml", test::CommentRange(1, 300));
  WriteFile(dir / L"p2.xml", test::CommentRange(151, 300));
  WriteFile(dir / L"p3.xml", test::CommentRange(400, 61));
  WriteFile(dir / L"q1.xml", test::CommentRange(1, 200));
  WriteFile(dir / L"q2.xml", test::CommentRange(101, 350));
  struct Job {
    std::vector<std::wstring> inputs;
    std::wstring output;
  };
  const Job jobs[2] = {{{dir / L"p1.xml", dir / L"p2.xml", dir / L"p3.xml"}, dir / L"p.xml"},
                       {{dir / L"q1.xml", dir / L"q2.xml"}, dir / L"q.xml"}};
  const auto run = [&](int party, Lines& entries) {
    t_entries = &entries;
    t_party = party;
    const bool saved = RunMergeJob(Sheet(), &OwnLog, jobs[party].output, jobs[party].inputs);
    t_entries = nullptr;
    return saved;
  };

  Lines alone[2];
  for (int party = 0; party < 2; ++party) {
    ResetProgressTicks();
    ASSERT_TRUE(run(party, alone[party]));
  }

  ResetProgressTicks();
  TakingTurns turns;
  g_turns = &turns;
  Lines together[2];
  bool saved[2] = {false, false};
  std::vector<std::thread> threads;
  for (int party = 0; party < 2; ++party) {
    threads.emplace_back([&, party] {
      const test::ComponentThread component;
      turns.Wait(party);
      saved[party] = run(party, together[party]);
      turns.Finish(party);
    });
  }
  for (auto& thread : threads) thread.join();
  g_turns = nullptr;

  for (int party = 0; party < 2; ++party) {
    SCOPED_TRACE(party == 0 ? "first job" : "second job");
    EXPECT_TRUE(saved[party]);
    EXPECT_GT(std::count(alone[party].begin(), alone[party].end(), L"%RAW%|"), 20);  // ticks to disturb
    EXPECT_EQ(test::MaskTimes(together[party]), test::MaskTimes(alone[party]));
  }
}

}  // namespace
}  // namespace zantrel
