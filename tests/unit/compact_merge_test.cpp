// The compact merge path against the whole tree: the same jobs through both, and
// the saved bytes, every log line and the outcome must be the same.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/byte_arena.hpp"
#include "base/paths.hpp"
#include "base/text.hpp"
#include "comments/progress.hpp"
#include "engine/errors.hpp"
#include "job/merge_job.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::TempDir;
using test::WriteFile;

// One job: input files (bytes) and the style sheet it runs with.
struct Job {
  std::vector<std::string> files;
  std::string sheet;
};

// What a job leaves behind: its log (time texts masked), the saved bytes or
// nothing, and whether the driver went through.
struct Outcome {
  std::vector<std::wstring> log;
  std::optional<std::string> saved;
  bool finished = false;
  bool operator==(const Outcome&) const = default;
};

// Runs one job on files already in `dir`, catching as the worker thread does.
Outcome RunJob(const TempDir& dir, const std::vector<std::wstring>& inputs, MergePath path) {
  Outcome outcome;
  {
    test::LogCapture log;
    try {
      outcome.finished = RunMergeJob(dir / L"convert.xsl", &AppendLog, dir / L"out.xml", inputs, path);
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

std::string Sheet(const std::string& output, const std::string& extra = {}) {
  return test::SheetText(output + test::kIdentity + extra);
}

// Random comment files of every shape the tool meets, the odd ones included.
class JobMaker {
 public:
  explicit JobMaker(unsigned seed) : random_(seed) {}

  Job Make() {
    Job job;
    const int files = 2 + Pick(4);
    for (int f = 0; f < files; ++f) job.files.push_back(File(f == 0));
    job.sheet = MakeSheet();
    return job;
  }

 private:
  int Pick(int n) { return static_cast<int>(random_() % static_cast<unsigned>(n)); }
  bool Chance(int percent) { return Pick(100) < percent; }

  std::string MakeSheet() {
    switch (Pick(16)) {
      case 0: return Sheet("<xsl:output method=\"xml\" encoding=\"Shift_JIS\" indent=\"yes\"/>\n");
      case 1: return Sheet("<xsl:output method=\"xml\" indent=\"yes\"/>\n");
      case 2: return Sheet("<xsl:output method=\"xml\" encoding=\"UTF-8\" indent=\"no\"/>\n");
      case 3: return Sheet("<xsl:output encoding=\"UTF-8\" omit-xml-declaration=\"yes\" indent=\"yes\"/>\n");
      // Sheets of one's own: the merged document is built as a tree for them.
      case 4:  // drops a comment and an attribute
        return Sheet("<xsl:output method=\"xml\" encoding=\"UTF-8\" indent=\"yes\"/>\n",
                     "  <xsl:template match=\"chat[@no='3']\"/><xsl:template match=\"@mail\"/>\n");
      case 5:  // renames the comments
        return Sheet("<xsl:output method=\"xml\" encoding=\"Shift_JIS\"/>\n",
                     "  <xsl:template match=\"chat\"><c><xsl:apply-templates select=\"@*|node()\"/></c>"
                     "</xsl:template>\n");
      case 6:  // sorts them, and marks every text node it meets
        return Sheet("<xsl:output method=\"xml\" indent=\"yes\"/>\n",
                     "  <xsl:template match=\"packet\"><xsl:copy><xsl:apply-templates select=\"@*|thread\"/>"
                     "<xsl:apply-templates select=\"node()[not(self::thread)]\"><xsl:sort select=\"@no\" "
                     "data-type=\"number\"/></xsl:apply-templates></xsl:copy></xsl:template>\n"
                     "  <xsl:template match=\"text()\">[<xsl:value-of select=\".\"/>]</xsl:template>\n");
      default: return test::ReadFile(ZANTREL_STYLE_SHEET);
    }
  }

  std::string Number(bool malformed) {
    if (malformed) return Chance(50) ? "x" + std::to_string(Pick(9)) : " " + std::to_string(Pick(9));
    const int r = Pick(100);
    if (r < 10) return "00" + std::to_string(Pick(30));        // leading zeros
    if (r < 12) return "+" + std::to_string(Pick(30));
    if (r < 14) return "-" + std::to_string(Pick(3));
    if (r < 15) return "4294967297";
    return std::to_string(Pick(40));
  }

  std::string Text(bool sjis) {
    static const char* const kUtf8[] = {"始まった！", "花火", "①髙", "ドーン", "a&amp;b", "&lt;x&gt;",
                                        "&#13;cr", "tab\there", "'q' \"d\"", "~\\", "  "};
    static const char* const kSjis[] = {"\x8e\x6e\x82\xdc\x82\xc1\x82\xbd\x81\x49", "\x89\xd4\x89\xce",
                                        "\x87\x40\xee\xe0", "\x83\x68\x81\x5b\x83\x93", "a&amp;b", "~\\"};
    if (Chance(15)) return "";
    if (Chance(5)) return "<![CDATA[<raw> & ]]>";
    return sjis ? kSjis[Pick(6)] : kUtf8[Pick(11)];
  }

  // `odd`: the file may hold chats with more than text inside.
  std::string Chat(bool sjis, bool odd, bool namespaces, bool malformed = false) {
    std::string attrs;
    if (Chance(30)) attrs += " vpos=\"" + std::to_string(Pick(9999)) + "\"";
    if (malformed || !Chance(4)) attrs += " no=\"" + Number(malformed) + "\"";
    if (Chance(20)) attrs += " mail=\"" + std::string(sjis ? "\x89\xd4" : "花 &quot;&amp;&lt;&#10;") + "\"";
    if (namespaces && Chance(30)) attrs += " x:odd=\"1\"";
    if (odd && Chance(3)) attrs += " xml:lang=\"ja\"";
    const std::string head = "<chat" + attrs;
    const int shape = odd ? Pick(100) : 23 + Pick(77);
    if (shape < 15) return head + "/>";
    if (shape < 18) return head + "><b>bold</b>" + Text(sjis) + "</chat>";
    if (shape < 20) return head + "><!-- note -->" + Text(sjis) + "</chat>";
    if (shape < 21) return head + "><?pi data?></chat>";
    if (shape < 23) return head + ">" + Text(sjis) + Chat(sjis, odd, namespaces) + "</chat>";
    if (shape < 35) return head + "/>";
    return head + ">" + Text(sjis) + "</chat>";
  }

  std::string File(bool base) {
    if (Chance(2)) return "";                                        // empty file
    if (Chance(2)) return "<packet><chat no=\"1\">cut";              // malformed
    const bool sjis = Chance(15);
    const bool namespaces = Chance(4);
    const bool odd = Chance(6);  // chats holding elements, comments, chats
    const bool mixed = Chance(8);  // text, comments and groups between the chats
    const bool pretty = Chance(60);
    const std::string nl = pretty ? "\n  " : "";
    std::string out;
    if (sjis) {
      out += "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n";
    } else if (Chance(70)) {
      out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    } else if (Chance(20)) {
      out += "\xEF\xBB\xBF";
    }
    if (Chance(5)) out += "<!-- before -->\n";
    if (Chance(3)) out += "<?top here?>\n";
    // The top element is never a comment of its own, whatever its name.
    std::string root = "packet";
    if (Chance(4)) root = base ? "root" : Chance(50) ? "chat" : "log";
    out += "<" + root;
    if (root == "chat" && Chance(70)) out += " no=\"" + Number(Chance(20)) + "\"";
    if (root == "chat" && Chance(50)) return out + ">" + Text(sjis) + "</chat>\n";
    if (namespaces) out += Chance(50) ? " xmlns:x=\"urn:x\"" : " xmlns=\"urn:d\"";
    if (Chance(10)) out += " version=\"20061206\"";
    out += ">";
    const bool threadLast = Chance(10);
    const std::string thread = Chance(92) ? "<thread thread=\"1\" last_res=\"" + std::to_string(Pick(99)) +
                                                "\" ticket=\"0x1\"/>"
                                          : "";
    if (!threadLast) out += nl + thread;
    const bool duplicatesOnly = Chance(5);
    const int chats = duplicatesOnly ? 3 : Pick(Chance(10) ? 60 : 25);
    const int malformedAt = Chance(8) ? Pick(chats + 1) : -1;
    for (int c = 0; c < chats; ++c) {
      out += nl;
      const int r = mixed ? Pick(100) : 100;
      if (r < 10) out += "<!-- between -->" + nl;
      else if (r < 15) out += "<?keep this?>" + nl;
      else if (r < 20) out += "text under packet" + nl;
      else if (r < 23) out += "<![CDATA[cdata]]>" + nl;
      if (duplicatesOnly) {
        out += "<chat no=\"1\">dup</chat>";
      } else if (mixed && Chance(base ? 5 : 20)) {
        out += "<group>" + Chat(sjis, odd, namespaces) + "</group>";
      } else {
        out += Chat(sjis, odd, namespaces, c == malformedAt);
      }
    }
    if (threadLast) out += nl + thread;
    if (mixed && Chance(30)) out += "tail text";
    out += (pretty ? "\n" : "") + std::string("</") + root + ">";
    if (Chance(5)) out += "\n<!-- after -->";
    out += "\n";
    return out;
  }

  std::mt19937 random_;
};

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
  struct Case {
    const char* name;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      // Texts on both sides of a chat that goes: two texts in the whole tree, which
      // a tree parsed again from bytes would join (a sheet of one's own sees it).
      {"texts on both sides of a chat that goes",
       {"<packet><thread/><chat no=\"1\"/>x<chat no=\"1\"/>y</packet>", "<packet><chat no=\"3\"/></packet>"}},
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
  // The bundled sheet, and one of one's own that marks every text node it meets.
  const std::string own = Sheet("", "  <xsl:template match=\"text()\">[<xsl:value-of select=\".\"/>]</xsl:template>\n");
  for (const auto& c : cases) {
    for (const std::string* sheet : {&plain, &own}) {
      SCOPED_TRACE(std::string(c.name) + (sheet == &own ? ", own sheet" : ""));
      const std::vector<Job> jobs = {{c.files, *sheet}};
      const auto compact = RunJobs(jobs, MergePath::Compact);
      const auto whole = RunJobs(jobs, MergePath::WholeTree);
      EXPECT_EQ(compact, whole) << Describe(jobs, compact, whole);
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

// A failing input ends the job at its own line, on either way: the input read
// ahead on the other thread meanwhile stops at its next element, not at its end.
TEST(CompactMerge, AFailureDoesNotWaitForTheInputReadAhead) {
  TempDir dir;
  WriteFile(dir / L"convert.xsl", test::ReadFile(ZANTREL_STYLE_SHEET));
  // The base takes long enough to read for the helper to be reading input 3 when
  // input 2 fails; input 3 takes far longer to read than the rest.
  WriteFile(dir / L"base.xml", test::CommentRange(1, 20000));
  WriteFile(dir / L"good.xml", test::CommentRange(20000, 5000));
  WriteFile(dir / L"bad.xml", "<packet><chat no=\"1\"></packet>");
  std::vector<test::Chat> chats(10000, test::Chat{"7", "x"});
  chats.push_back({"x", "x"});
  WriteFile(dir / L"number.xml", test::CommentXml(chats));
  std::string refs;
  for (int c = 0; c < 1000; ++c) refs += "&#12354;";
  std::string big = "<packet>";
  for (int i = 0; i < 8000; ++i) big += "<a>" + refs + "</a>";
  WriteFile(dir / L"big.xml", big + "</packet>");
  using Clock = std::chrono::steady_clock;
  Clock::duration took{};
  const auto run = [&](const std::wstring& second, MergePath path) {
    const auto start = Clock::now();
    const Outcome outcome = RunJob(dir, {dir / L"base.xml", dir / second, dir / L"big.xml"}, path);
    took = Clock::now() - start;
    return outcome;
  };
  const std::pair<std::wstring, std::wstring> failures[] = {
      {L"bad.xml", L"pDoc->load()[loadXML()]"},
      {L"number.xml", L"bad lexical cast: source type value could not be interpreted as target"}};
  for (const MergePath path : {MergePath::Compact, MergePath::WholeTree}) {
    SCOPED_TRACE(path == MergePath::Compact ? "compact" : "whole tree");
    ASSERT_TRUE(run(L"good.xml", path).saved);
    const Clock::duration whole = took;
    for (const auto& [second, error] : failures) {
      SCOPED_TRACE(WideToUtf8(second));
      Clock::duration quickest = Clock::duration::max();  // of two, should a stall slow one
      for (int attempt = 0; attempt < 2; ++attempt) {
        const Outcome failed = run(second, path);
        quickest = std::min(quickest, took);
        EXPECT_FALSE(failed.finished || failed.saved);
        ASSERT_FALSE(failed.log.empty());
        EXPECT_TRUE(failed.log.back().ends_with(error)) << WideToUtf8(failed.log.back());
        EXPECT_NE(std::find(failed.log.begin(), failed.log.end(), L"読み込み：" + second), failed.log.end());
        EXPECT_EQ(std::find(failed.log.begin(), failed.log.end(), L"読み込み：big.xml"), failed.log.end());
      }
      // Waiting for input 3 would take about as long as the job that reads it.
      EXPECT_LT(quickest * 3, whole);
    }
  }
}

}  // namespace
}  // namespace zantrel
