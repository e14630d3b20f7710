// The compact merge path against the whole tree: the same jobs through both, and
// the saved bytes, every log line and the outcome must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/byte_arena.hpp"
#include "base/paths.hpp"
#include "base/read_ahead.hpp"
#include "base/text.hpp"
#include "comments/operations.hpp"
#include "comments/progress.hpp"
#include "engine/errors.hpp"
#include "engine/libxml/chat_dump.hpp"
#include "job/merge_job.hpp"
#include "random_jobs.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::Job;
using test::JobMaker;
using test::Sheet;

using test::TempDir;
using test::WriteFile;


// What a job leaves behind: its log (time texts masked), the saved bytes or
// nothing, and whether the driver went through.
struct Outcome {
  std::vector<std::wstring> log;
  std::optional<std::string> saved;
  bool finished = false;
  bool operator==(const Outcome&) const = default;
};

// Runs one job on files already in `dir`, catching as the worker thread does.
Outcome RunJob(const TempDir& dir, const std::vector<std::wstring>& inputs, MergePath path,
               LogCallback logTo = &AppendLog) {
  Outcome outcome;
  {
    test::LogCapture log;
    try {
      outcome.finished = RunMergeJob(dir / L"convert.xsl", logTo, dir / L"out.xml", inputs, path);
    } catch (...) {
      WriteCurrentErrorReport(&AppendLog);
    }
    outcome.log = test::MaskTimes(log.Lines());
  }
  if (PathExists(dir / L"out.xml")) outcome.saved = test::ReadFile(dir / L"out.xml");
  std::remove(WideToNative(dir / L"out.xml").c_str());
  return outcome;
}

// Runs the jobs one after another in a fresh tick state (the last reported
// percentages carry from job to job).
std::vector<Outcome> RunJobs(const std::vector<Job>& jobs, MergePath path) {
  ResetProgressTicks();
  std::vector<Outcome> outcomes;
  for (const Job& job : jobs) {
    TempDir dir;
    WriteFile(dir / L"convert.xsl", job.sheet);
    std::vector<std::wstring> inputs;
    for (std::size_t i = 0; i < job.files.size(); ++i) {
      inputs.push_back(dir / (L"in" + std::to_wstring(i) + L".xml"));
      WriteFile(inputs.back(), job.files[i]);
    }
    outcomes.push_back(RunJob(dir, inputs, path));
  }
  return outcomes;
}

std::string Describe(const std::vector<Job>& jobs, const std::vector<Outcome>& a, const std::vector<Outcome>& b) {
  std::string text;
  for (std::size_t j = 0; j < jobs.size(); ++j) {
    text += "--- job " + std::to_string(j) + "\n";
    for (const auto& f : jobs[j].files) text += "[" + f + "]\n";
    for (const auto* o : {&a[j], &b[j]}) {
      text += o == &a[j] ? "compact:\n" : "whole tree:\n";
      for (const auto& l : o->log) text += WideToUtf8(l) + "\n";
      text += o->saved ? *o->saved : std::string("(not saved)\n");
    }
  }
  return text;
}



// Hundreds of random jobs, in pairs so that the carried tick state is compared too.
TEST(CompactMerge, SameBytesLogsAndOutcomeAsTheWholeTree) {
  constexpr int kPairs = 200;
  for (int pair = 0; pair < kPairs; ++pair) {
    JobMaker maker(static_cast<unsigned>(pair) * 7919u + 13u);
    const std::vector<Job> jobs = {maker.Make(), maker.Make()};
    const auto compact = RunJobs(jobs, MergePath::Compact);
    const auto whole = RunJobs(jobs, MergePath::WholeTree);
    ASSERT_EQ(compact, whole) << "seed pair " << pair << "\n" << Describe(jobs, compact, whole);
  }
}

// Jobs the random ones do not make, each on its own: numbers at the edges of what
// reads as a number, no chats at all, and the compact form stepping aside at each
// step where it can.
TEST(CompactMerge, ShapesOneByOne) {
  const std::string plain = test::ReadFile(ZANTREL_STYLE_SHEET);
  // The bundled sheet, and one of one's own that marks every text node it meets;
  // the same two writing Shift_JIS for the rows that need another encoding.
  const std::string mark = "  <xsl:template match=\"text()\">[<xsl:value-of select=\".\"/>]</xsl:template>\n";
  const std::string sjis = "<xsl:output method=\"xml\" encoding=\"Shift_JIS\"/>\n";
  const std::vector<std::string> utf8Sheets = {plain, Sheet("", mark)};
  const std::vector<std::string> sjisSheets = {Sheet(sjis), Sheet(sjis, mark)};
  struct Case {
    const char* name;
    std::vector<std::string> files;
    const std::vector<std::string>* sheets = nullptr;  // none: the UTF-8 ones
  };
  // Chats written as the serialiser writes them, copied as they stand, and chats
  // written otherwise, parsed and written again, side by side in one file.
  const auto asWritten = [](int from, int to) {
    std::string chats;
    for (int n = from; n < to; ++n)
      chats += "<chat no=\"" + std::to_string(n) + "\" mail=\"a&amp;b\">t&lt;" + std::to_string(n) + "</chat>\n";
    return chats;
  };
  const std::string otherwise =
      "<chat no='200'>q</chat><chat no=\"201\"></chat><chat  no=\"202\">a\r\nb</chat>"
      "<chat no=\"203\">&apos;<![CDATA[x]]></chat><chat no=\"204\" m=\"a\tb\" >c</chat>";
  const Case cases[] = {
      {"chats copied and chats written again, in the same files",
       {"<packet><thread/>" + asWritten(1, 4) + "<chat no='4'>q</chat>" + asWritten(5, 80) + asWritten(3, 6) + "t" +
            "<chat no=\"90\">x</chat >" + asWritten(91, 95) + "</packet>",
        "<packet>" + asWritten(60, 70) + otherwise + asWritten(70, 150) + "<chat no=\"151\" m=\"&#10;\"/>" +
            asWritten(150, 160) + "</packet>"}},
      {"a chat longer than a read, its start tag across two reads",
       {"<packet><thread/>" + asWritten(1, 3) + "</packet>",
        "<packet>" + asWritten(1, 800) + "<chat no=\"900\" mail=\"" + std::string(100000, 'v') + "\">" +
            std::string(150000, 'w') + "</chat>" + asWritten(901, 3000) + "</packet>"}},
      {"a comment inside a chat of the base",
       {"<packet><thread/>" + asWritten(1, 3) + "<chat no=\"3\">a<!--c-->b</chat></packet>",
        "<packet>" + asWritten(3, 5) + "</packet>"}},
      {"an instruction, then an element, inside a later chat",
       {"<packet><thread/>" + asWritten(1, 3) + "</packet>", "<packet><chat no=\"3\">x<?pi y?></chat></packet>",
        "<packet>" + asWritten(2, 4) + "<chat no=\"4\"><b/></chat></packet>"}},
      // The places where the base's chats stand are kept apart, each with what
      // stays of its run; the rebuilt tree takes them in order, once.
      {"the base's chats in several runs, one of them gone",
       {"<packet><thread/><chat no=\"1\"/><chat no=\"2\"/><x/><chat no=\"3\"/><chat no=\"2\"/>t<chat no=\"1\"/>"
        "<y/><chat no=\"4\"/></packet>",
        "<packet><chat no=\"4\"/><chat no=\"5\"/></packet>"}},
      // last_res is the number of the last comment kept, not of a later copy.
      {"a later copy of the last kept number",
       {"<packet><thread/><chat no=\"5\"/><chat no=\"3\"/></packet>",
        "<packet><chat no=\"3\"/><chat no=\"9\"/><chat no=\"5\"/></packet>", "<packet><chat no=\"3\"/></packet>"}},
      {"a top element named chat",
       {"<packet><thread/><chat no=\"1\"/></packet>", "<chat no=\"7\"><chat no=\"2\">x</chat></chat>",
        "<chat no=\"8\">only text</chat>"}},
      // Characters are escaped by the output's encoding, not by the input's.
      {"an output encoding other than the inputs'",
       {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><packet><thread/><chat no=\"1\" mail=\"\x89\xd4\">\x89\xd4"
        "</chat></packet>",
        "<packet><chat no=\"2\" mail=\"花😀\">花😀</chat></packet>"},
       &sjisSheets},
      {"an input encoding other than the output's",
       {"<packet><thread/><chat no=\"1\"/></packet>",
        "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><packet><chat no=\"2\" mail=\"\x89\xd4\">\x89\xd4</chat>"
        "</packet>"}},
      // Texts on both sides of a chat that goes: two texts in the whole tree, which
      // a tree parsed again from bytes would join (a sheet of one's own sees it).
      {"texts on both sides of a chat that goes",
       {"<packet><thread/><chat no=\"1\"/>x<chat no=\"1\"/>y</packet>", "<packet><chat no=\"3\"/></packet>"}},
      // Empty CDATA sections are empty texts in the whole tree, which the
      // serialiser writes as nothing.
      {"an empty CDATA as a chat's only child, in the base and later",
       {"<packet><thread/><chat no=\"1\"><![CDATA[]]></chat></packet>",
        "<packet><chat no=\"2\"><![CDATA[]]></chat><chat no=\"3\">a<![CDATA[]]>b<![CDATA[c]]></chat></packet>"}},
      {"empty CDATA in the base: in thread, between runs, after the chats",
       {"<packet><thread><![CDATA[]]></thread><chat no=\"1\"/><![CDATA[]]><chat no=\"2\"/><![CDATA[]]></packet>",
        "<packet><chat no=\"3\"/></packet>"}},
      {"an empty CDATA beside a run that goes",
       {"<packet><thread/><chat no=\"1\"/>x<chat no=\"1\"/><![CDATA[]]><chat no=\"2\"/><![CDATA[]]>"
        "<chat no=\"2\"/><![CDATA[]]></packet>",
        "<packet><chat no=\"3\"/></packet>"}},
      // Values and texts the serialiser writes longer than they were read.
      {"values that grow when written again",
       {"<packet><thread/></packet>",
        "<packet><chat no='1' mail='" + std::string(3000, '"') + "'>" + std::string(3000, '>') +
            "</chat><chat no=\"2\" mail=\"&#9;&#10;&#13;&lt;&amp;&quot;'\">\t&#13;\r\n&lt;&amp;\"</chat></packet>"}},
      {"no chats at all: last_res fails, the file is saved",
       {"<packet><thread/></packet>", "<packet/>"}},
      {"numbers at the edges of plain digits",
       {"<packet><thread/><chat no=\"000000000000000000042\"/><chat no=\"42\"/>"
        "<chat no=\"999999999999999999\"/><chat no=\"9223372036854775807\"/></packet>",
        "<packet><chat no=\"&#52;&#50;\"/><chat no=\"4&amp;\"/></packet>",
        "<packet><chat no=\"-0\"/><chat no=\"0\"/><chat no=\"+9223372036854775807\"/></packet>"}},
      {"a number one past the largest",
       {"<packet><thread/><chat no=\"1\"/></packet>", "<packet><chat no=\"9223372036854775808\"/></packet>"}},
      {"an empty number", {"<packet><thread/><chat no=\"1\"/></packet>", "<packet><chat no=\"\"/></packet>"}},
      {"at the base", {"<packet xmlns:x=\"u\"><thread/><chat no=\"1\"/><chat no=\"2\"/></packet>",
                       "<packet><chat no=\"2\"/><chat no=\"3\"/></packet>", "<packet><chat no=\"3\"/></packet>"}},
      {"at the first later file, a third follows",
       {"<packet><thread/><chat no=\"1\"/><chat no=\"2\"/></packet>",
        "<p xmlns:x=\"u\"><chat no=\"2\" x:a=\"1\"/><chat no=\"3\"/></p>", "<packet><chat no=\"3\"/><chat no=\"4\"/></packet>"}},
      {"at a later file, after two were merged",
       {"<packet><thread/><chat no=\"1\"/><chat no=\"2\"/></packet>", "<packet><chat no=\"2\"/><chat no=\"3\"/></packet>",
        "<packet><chat no=\"3\"/><chat no=\"4\"/></packet>", "<packet><chat no=\"4\"/><chat no=\"5\"><b>x</b></chat></packet>",
        "<packet><chat no=\"5\"/><chat no=\"6\"/></packet>"}},
  };
  for (const auto& c : cases) {
    const std::vector<std::string>& sheets = c.sheets != nullptr ? *c.sheets : utf8Sheets;
    for (std::size_t s = 0; s < sheets.size(); ++s) {
      SCOPED_TRACE(std::string(c.name) + (s > 0 ? ", own sheet" : ""));
      const std::vector<Job> jobs = {{c.files, sheets[s]}};
      const auto compact = RunJobs(jobs, MergePath::Compact);
      const auto whole = RunJobs(jobs, MergePath::WholeTree);
      EXPECT_EQ(compact, whole) << Describe(jobs, compact, whole);
    }
  }
}

// A chat's bytes are counted in 32 bits: one longer fails the job as memory
// running out does, on either end, and one just short of it is kept whole.
TEST(CompactMerge, AChatOverTheLengthLimitFailsOnEitherEnd) {
  struct Limit {
    Limit() { xml::maxChatBytes = 200; }
    ~Limit() { xml::maxChatBytes = std::numeric_limits<std::uint32_t>::max(); }
  } limit;
  // `<chat no="2">` and `</chat>` around the text: 20 bytes.
  for (const std::string& sheet : {test::ReadFile(ZANTREL_STYLE_SHEET), Sheet("", "<xsl:template match=\"@mail\"/>")}) {
    for (const std::size_t text : {std::size_t{180}, std::size_t{181}}) {
      SCOPED_TRACE(std::to_string(text) + (sheet.find("@mail") != std::string::npos ? ", own sheet" : ""));
      const Job job = {{test::CommentXml({1}), "<packet><chat no=\"2\">" + std::string(text, 'x') + "</chat></packet>"},
                       sheet};
      const Outcome compact = RunJobs({job}, MergePath::Compact)[0];
      if (text == 180) {
        EXPECT_EQ(compact, RunJobs({job}, MergePath::WholeTree)[0]);
      } else {
        EXPECT_FALSE(compact.saved || compact.finished);
        ASSERT_FALSE(compact.log.empty());
        EXPECT_EQ(compact.log.back(), ComError(kEOutOfMemory).ErrorMessage());
      }
    }
  }
}

// Kept bytes over several arena blocks (4 MiB each), moved down with copies
// skipped between them on both sides of the block edges.
TEST(CompactMerge, KeptBytesAcrossSeveralBlocks) {
  constexpr int k = 22000;
  const auto file = [](int from, int to, int step) {
    std::vector<test::Chat> chats;
    for (int n = from; n < to; n += step)
      chats.push_back({std::to_string(n), std::string(static_cast<std::size_t>(40 + n % 83), static_cast<char>('a' + n % 26))});
    return test::CommentXml(chats);
  };
  // The base holds the even numbers below 2k; the next file every number of
  // [k, 3k), so its first half alternates copies and new chats.
  const std::vector<Job> jobs = {
      {{file(0, 2 * k, 2), file(k, 3 * k, 1), file(5 * k / 2, 7 * k / 2, 1)}, test::ReadFile(ZANTREL_STYLE_SHEET)}};
  const Outcome compact = RunJobs(jobs, MergePath::Compact)[0];
  const Outcome whole = RunJobs(jobs, MergePath::WholeTree)[0];
  ASSERT_TRUE(compact.saved && whole.saved);
  EXPECT_GT(whole.saved->size(), BlockPool::kBlock * 3 / 2);
  EXPECT_EQ(compact.log, whole.log);
  const auto [differs, _] = std::mismatch(compact.saved->begin(), compact.saved->end(), whole.saved->begin(),
                                          whole.saved->end());
  EXPECT_EQ(differs - compact.saved->begin(), static_cast<std::ptrdiff_t>(compact.saved->size()))
      << "the saved files differ from this byte on; sizes " << compact.saved->size() << " and " << whole.saved->size();
}

// A failing input ends the job at its own line, on either way, and the read of the
// input after it, held by the test, is told to stop rather than waited for.
struct HeldRead {
  std::mutex mutex;
  std::condition_variable changed;
  bool failingWaits = false;  // the failing read waits until the later one is under way
  bool entered = false;
  bool stopped = false;
};
HeldRead* held = nullptr;

// Read hook: input 2 is held until its stop flag is raised.
void HoldTheLaterRead(std::size_t index, StopFlag& stop) {
  std::unique_lock<std::mutex> lock(held->mutex);
  if (index == 1 && held->failingWaits) held->changed.wait(lock, [] { return held->entered; });
  if (index != 2) return;
  held->entered = true;
  held->changed.notify_all();
  // A stop that never comes is a hang, which the test's time limit fails.
  while (!stop.Requested()) held->changed.wait_for(lock, std::chrono::milliseconds(1));  // the flag has no signal
  held->stopped = stop.Requested();
}

// The whole tree reads input 2 only once input 1 is taken: its merge waits for it.
void LogOnceTheLaterReadIsUnderWay(const std::wstring& line) {
  if (line == kMergeHeading) {
    std::unique_lock<std::mutex> lock(held->mutex);
    held->changed.wait(lock, [] { return held->entered; });
  }
  AppendLog(line);
}

TEST(CompactMerge, AFailureStopsTheInputReadAheadInsteadOfWaitingForIt) {
  TempDir dir;
  WriteFile(dir / L"convert.xsl", test::ReadFile(ZANTREL_STYLE_SHEET));
  WriteFile(dir / L"base.xml", test::CommentRange(1, 50));
  WriteFile(dir / L"bad.xml", "<packet><chat no=\"1\"></packet>");
  WriteFile(dir / L"number.xml", test::CommentXml(std::vector<test::Chat>{{"7", "x"}, {"x", "x"}}));
  WriteFile(dir / L"later.xml", test::CommentRange(60, 50));
  struct Case {
    MergePath path;
    const wchar_t* second;
    const wchar_t* error;
    bool laterRead;  // false: the failed read itself stopped the read-ahead first
  };
  const Case cases[] = {
      {MergePath::Compact, L"bad.xml", L"pDoc->load()[loadXML()]", true},
      {MergePath::Compact, L"number.xml", L"bad lexical cast: source type value could not be interpreted as target", true},
      {MergePath::WholeTree, L"bad.xml", L"pDoc->load()[loadXML()]", false},
      {MergePath::WholeTree, L"number.xml", L"bad lexical cast: source type value could not be interpreted as target", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideToUtf8(c.second) + (c.path == MergePath::Compact ? ", compact" : ", whole tree"));
    HeldRead state;
    state.failingWaits = c.path == MergePath::Compact;  // two inputs are read at once there
    held = &state;
    readAheadTestHook = &HoldTheLaterRead;
    const Outcome failed = RunJob(dir, {dir / L"base.xml", dir / c.second, dir / L"later.xml"}, c.path,
                                  &LogOnceTheLaterReadIsUnderWay);
    readAheadTestHook = nullptr;
    EXPECT_FALSE(failed.finished || failed.saved);
    ASSERT_FALSE(failed.log.empty());
    EXPECT_TRUE(failed.log.back().ends_with(c.error)) << WideToUtf8(failed.log.back());
    EXPECT_NE(std::find(failed.log.begin(), failed.log.end(), L"読み込み：" + std::wstring(c.second)), failed.log.end());
    EXPECT_EQ(std::find(failed.log.begin(), failed.log.end(), L"読み込み：later.xml"), failed.log.end());
    EXPECT_EQ(state.entered, c.laterRead);
    EXPECT_EQ(state.stopped, c.laterRead);
  }
}

// A read stopped while nothing failed (which no job does today) is no reason to
// read the job again as a whole tree: the job fails.
TEST(CompactMerge, AStoppedReadEndsTheJobInsteadOfRunningItAgain) {
  TempDir dir;
  WriteFile(dir / L"convert.xsl", test::ReadFile(ZANTREL_STYLE_SHEET));
  WriteFile(dir / L"base.xml", test::CommentRange(1, 5));
  WriteFile(dir / L"later.xml", test::CommentRange(3, 5));
  readAheadTestHook = [](std::size_t, StopFlag& stop) { stop.Request(); };
  const Outcome stopped = RunJob(dir, {dir / L"base.xml", dir / L"later.xml"}, MergePath::Compact);
  readAheadTestHook = nullptr;
  EXPECT_FALSE(stopped.finished || stopped.saved);
  ASSERT_FALSE(stopped.log.empty());
  EXPECT_EQ(stopped.log.back(), L"an input was taken whose reading had been stopped");
}

}  // namespace
}  // namespace zantrel
