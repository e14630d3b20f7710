// The compact merge path against the whole tree: the same jobs through both, and
// the saved bytes, every log line and the outcome must be the same.
#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "comments/progress.hpp"
#include "engine/libxml/attribute_bound.hpp"
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

std::vector<std::wstring> Masked(std::vector<std::wstring> lines) {
  for (auto& line : lines)
    for (const wchar_t* head : {L"開始時間：", L"終了時間："})
      if (line.rfind(head, 0) == 0) line = head;
  return lines;
}

// Runs the jobs one after another in a fresh tick state (the last reported
// percentages carry from job to job), catching as the worker thread does.
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
    Outcome outcome;
    {
      test::LogCapture log;
      try {
        outcome.finished = RunMergeJob(dir / L"convert.xsl", &AppendLog, dir / L"out.xml", inputs, path);
      } catch (const ComError& error) {
        WriteComErrorReport(error, &AppendLog);
      } catch (const std::exception& error) {
        WriteCallTextErrorReport(error, &AppendLog);
      }
      outcome.log = Masked(log.Lines());
    }
    if (PathExists(dir / L"out.xml")) outcome.saved = test::ReadFile(dir / L"out.xml");
    outcomes.push_back(std::move(outcome));
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

const std::string kSheetHead =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">\n";
const std::string kCopy =
    "  <xsl:template match=\"@*|node()\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/>"
    "</xsl:copy></xsl:template>\n  <xsl:template match=\"processing-instruction('xml')\"/>\n";

std::string Sheet(const std::string& output, const std::string& extra = {}) {
  return kSheetHead + output + kCopy + extra + "</xsl:stylesheet>\n";
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

// The shapes the path must get right, each on its own.
TEST(CompactMerge, ShapesOneByOne) {
  const std::string plain = test::ReadFile(ZANTREL_STYLE_SHEET);
  struct Case {
    const char* name;
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {"duplicates across files and inside the base",
       {"<packet><thread/><chat no=\"1\">a</chat><chat no=\"1\">b</chat><chat no=\"2\"/></packet>",
        "<packet><chat no=\"2\">c</chat><chat no=\"007\">d</chat></packet>",
        "<packet><chat no=\"7\">e</chat><chat>f</chat><chat no=\"0\">g</chat></packet>"}},
      {"malformed number in the base fails at the first removal",
       {"<packet><thread/><chat no=\"1\"/><chat no=\"1e3\"/></packet>", "<packet><chat no=\"2\"/></packet>"}},
      {"malformed number in the third file fails at its own tick",
       {"<packet><thread/><chat no=\"1\"/></packet>",
        "<packet><chat no=\"2\"/><chat no=\"3\"/></packet>",
        "<packet><chat no=\"4\"/><chat no=\"5\"/><chat no=\" 6\"/><chat no=\"7\"/></packet>"}},
      {"a duplicate nested below packet in the base",
       {"<packet><thread/><chat no=\"1\"/><g><chat no=\"1\"/></g></packet>", "<packet><chat no=\"2\"/></packet>"}},
      {"chats nested in chats", {"<packet><thread/></packet>", "<p><chat no=\"1\">a<chat no=\"2\">b</chat>c</chat></p>"}},
      {"text under packet turns the layout off",
       {"<packet>lead<thread/><chat no=\"1\">a</chat>x<chat no=\"2\"/></packet>",
        "<packet><chat no=\"3\">b</chat></packet>"}},
      {"texts on both sides of a chat that goes",
       {"<packet><thread/><chat no=\"1\"/>x<chat no=\"1\"/>y</packet>", "<packet><chat no=\"3\"/></packet>"}},
      {"runs split by comments and a thread after the chats",
       {"<packet><chat no=\"1\"/><!--c--><chat no=\"2\"/><chat no=\"1\"/><?pi x?><chat no=\"2\"/><thread/></packet>",
        "<packet><chat no=\"3\"/></packet>"}},
      {"blank text before the end of packet",
       {"<packet><thread/><chat no=\"1\"/> </packet>", "<packet><chat no=\"1\"/> </packet>"}},
      {"no chats at all: last_res fails, the file is saved",
       {"<packet><thread/></packet>", "<packet/>"}},
      {"no thread: last_res fails", {"<packet><chat no=\"1\"/></packet>", "<packet><chat no=\"2\"/></packet>"}},
      {"namespaces in an added file", {"<packet><thread/></packet>", "<p xmlns:x=\"u\"><chat no=\"1\" x:a=\"1\"/></p>"}},
      {"Shift_JIS in, UTF-8 out",
       {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?><packet><thread/><chat no=\"1\" mail=\"\x89\xd4\">"
        "\x89\xd4\x89\xce ~\\</chat></packet>",
        "<?xml version=\"1.0\" encoding=\"SJIS\"?><packet><chat no=\"2\">\x87\x40\xee\xe0</chat></packet>"}},
      {"an empty and a duplicate-only file", {"<packet><thread/><chat no=\"1\"/></packet>", "<packet><chat no=\"1\"/></packet>", ""}},
      {"numbers at the edges of plain digits",
       {"<packet><thread/><chat no=\"000000000000000000042\"/><chat no=\"42\"/>"
        "<chat no=\"999999999999999999\"/><chat no=\"9223372036854775807\"/></packet>",
        "<packet><chat no=\"&#52;&#50;\"/><chat no=\"4&amp;\"/></packet>",
        "<packet><chat no=\"-0\"/><chat no=\"0\"/><chat no=\"+9223372036854775807\"/></packet>"}},
      {"a number one past the largest",
       {"<packet><thread/><chat no=\"1\"/></packet>", "<packet><chat no=\"9223372036854775808\"/></packet>"}},
      {"an empty number", {"<packet><thread/><chat no=\"1\"/></packet>", "<packet><chat no=\"\"/></packet>"}},
      {"base root is not packet", {"<root><chat no=\"1\"/></root>", "<packet><chat no=\"2\"/></packet>"}},
      {"a chat at the top of a later file",
       {"<packet><thread last_res=\"2\"/><chat no=\"1\">a</chat></packet>", "<chat no=\"7\">root</chat>",
        "<chat no=\"x\"><chat no=\"8\">in</chat></chat>"}},
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

// Inputs reach the parser in pieces, each through the attribute bound first: the
// scan must answer as on the whole bytes wherever the pieces are cut.
TEST(AttributeScan, SameAnswerWhereverThePiecesAreCut) {
  const auto ucs4 = [](const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string{'\0', '\0', '\0', c};
    return out;
  };
  const auto ebcdic = [](const std::string& ascii) {
    std::string out;
    for (char c : ascii) {
      switch (c) {
        case '<': out += '\x4C'; break;
        case '>': out += '\x6E'; break;
        case '"': out += '\x7F'; break;
        case '?': out += '\x6F'; break;
        case '/': out += '\x61'; break;
        case 'x': out += '\xA7'; break;
        case 'm': out += '\x94'; break;
        default: out += '\xC1'; break;
      }
    }
    return out;
  };
  // Those of the load test, and the constructs a cut can fall into.
  std::vector<test::AttributeCase> cases = test::AttributeBoundCases();
  const test::AttributeCase more[] = {
      {"UCS-4", ucs4("<?xml" + test::Attributes(4097) + "?><p/>"), false},
      {"UCS-4 in a tag", ucs4("<p" + test::Attributes(4097) + "/>"), true},
      {"EBCDIC", ebcdic("<?xm?><p" + test::Attributes(4097) + "/>"), true},
      {"after a comment", "<packet><!-- -- - ->--><x" + test::Attributes(4097) + "></packet>", true},
      {"after CDATA", "<packet><![CDATA[]]]]]><x" + test::Attributes(4097) + "></packet>", true},
      {"after one", "<packet><??? ?? ?><x" + test::Attributes(4097) + "></packet>", true},
      {"other <!", "<packet><!-x<!DOC<![CDAT<x" + test::Attributes(4097) + "></packet>", true},
      {"'<' ends a tag", "<packet" + test::Attributes(3000) + "<x" + test::Attributes(3000) + "/>", false},
      {"unclosed value", "<packet a='" + test::Attributes(5000) + "/>", false},
      {"end tags", "</packet" + test::Attributes(5000) + ">", false},
      {"short", "<a", false},
  };
  cases.insert(cases.end(), std::begin(more), std::end(more));
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& bytes = c.content;
    ASSERT_EQ(xml::TooManyAttributes(bytes), c.tooMany);
    xml::AttributeScan bytewise;
    for (const char b : bytes) bytewise.Feed(std::string_view(&b, 1));
    EXPECT_EQ(bytewise.TooMany(), c.tooMany);
    // Two pieces, cut at every place within the first and last 200 bytes and
    // around the value that passes the bound, every 101st elsewhere (the rest of a
    // case repeats the same few bytes).
    const std::size_t quote = [&] {
      std::size_t at = 0;
      for (int n = 0; n < 4097 * 2 && at != std::string::npos; ++n) at = bytes.find_first_of("\"'\x7F", at + 1);
      return at == std::string::npos ? bytes.size() : at;
    }();
    for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
      const bool near = cut < 200 || cut + 200 > bytes.size() || (cut + 200 > quote && cut < quote + 200);
      if (!near && cut % 101 != 0) continue;
      xml::AttributeScan scan;
      scan.Feed(std::string_view(bytes).substr(0, cut));
      scan.Feed(std::string_view(bytes).substr(cut));
      ASSERT_EQ(scan.TooMany(), c.tooMany) << "cut at " << cut;
    }
  }
}

}  // namespace
}  // namespace zantrel
