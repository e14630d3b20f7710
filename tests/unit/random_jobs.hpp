// Random merge jobs of every shape the tool meets, the odd ones included, for
// comparing the two ways of holding comments (compact_merge_test.cpp).
#pragma once

#include <random>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace zantrel::test {

// One job: input files (bytes) and the style sheet it runs with.
struct Job {
  std::vector<std::string> files;
  std::string sheet;
};

std::string Sheet(const std::string& output, const std::string& extra = {}) {
  return SheetText(output + kIdentity + extra);
}

// Random comment files of every shape the tool meets, the odd ones included.
class JobMaker {
 public:
  // Long enough to cross the parser's buffer edges, far short of its size limits,
  // which the rebuilt tree's own test crosses without writing files.
  static constexpr std::size_t kLongValue = 70000;

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
      default: return ReadFile(ZANTREL_STYLE_SHEET);
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
    if (Chance(5)) return Chance(50) ? "<![CDATA[<raw> & ]]>" : "<![CDATA[]]>";  // the empty one is an empty text
    return sjis ? kSjis[Pick(6)] : kUtf8[Pick(11)];
  }

  // `odd`: the file may hold chats with more than text inside.
  std::string Chat(bool sjis, bool odd, bool namespaces, bool malformed = false) {
    std::string attrs;
    if (Chance(30)) attrs += " vpos=\"" + std::to_string(Pick(9999)) + "\"";
    if (malformed || !Chance(4)) attrs += " no=\"" + Number(malformed) + "\"";
    if (Chance(20)) attrs += " mail=\"" + std::string(sjis ? "\x89\xd4" : "花 &quot;&amp;&lt;&#10;") + "\"";
    // A value that grows when written again, each of its characters escaped.
    if (Chance(2)) attrs += " name='" + std::string(kLongValue, Chance(50) ? '"' : '>') + "'";
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
      else if (r < 23) out += (Chance(50) ? "<![CDATA[cdata]]>" : "<![CDATA[]]>") + nl;
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

}  // namespace zantrel::test
