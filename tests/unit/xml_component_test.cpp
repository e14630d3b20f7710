#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <unistd.h>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "comments/vocabulary.hpp"
#include "engine/documents.hpp"
#include "engine/xml_component.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::ParseDocument;
using test::TempDir;
using test::WriteFile;

std::string CallText(const std::function<void()>& f) {
  try {
    f();
  } catch (const CallTextError& e) {
    return e.what();
  }
  return "(no call-text error)";
}

std::optional<HResult> ComCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const ComError& e) {
    return e.Error();
  }
  return std::nullopt;
}

TEST(LoadDocument, RefusesWhatIsNotAPlainWellFormedDocument) {
  TempDir dir;
  const std::wstring secret = dir / L"secret.txt";
  WriteFile(secret, "TOP-SECRET");
  struct Case {
    const char* name;
    std::string content;
  };
  const std::string secretUrl = WideToUtf8(secret);
  const Case cases[] = {
      {"malformed", "<packet><chat no=\"1\"></packet>"},
      {"empty file", ""},
      {"text only", "hello"},
      {"two roots", "<packet/><packet/>"},
      {"internal DTD", "<!DOCTYPE packet [<!ENTITY a \"x\">]><packet>&a;</packet>"},
      {"external DTD", "<!DOCTYPE packet SYSTEM \"" + secretUrl + "\"><packet/>"},
      {"external entity",
       "<!DOCTYPE packet [<!ENTITY s SYSTEM \"file://" + secretUrl + "\">]><packet>&s;</packet>"},
      {"billion laughs",
       "<!DOCTYPE p [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;&a;&a;\">"
       "<!ENTITY c \"&b;&b;&b;&b;&b;&b;&b;&b;&b;&b;\"><!ENTITY d \"&c;&c;&c;&c;&c;&c;&c;&c;&c;&c;\">]>"
       "<packet>&d;&d;&d;&d;&d;&d;&d;&d;&d;</packet>"},
      {"invalid UTF-8", "<packet><chat no=\"1\">\xFF\xFE</chat></packet>"},
      {"nested past the parser's limit", [] {
         std::string s;
         for (int i = 0; i < 5000; ++i) s += "<a>";
         for (int i = 0; i < 5000; ++i) s += "</a>";
         return s;
       }()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring path = dir / L"input.xml";
    WriteFile(path, c.content);
    xml::DocumentHandle doc;
    EXPECT_EQ(CallText([&] { LoadDocument(path, doc); }), "pDoc->load()[loadXML()]");
  }
}

TEST(LoadDocument, AcceptsUtf16WithByteOrderMark) {
  TempDir dir;
  const std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><packet><chat no=\"7\">日本</chat></packet>";
  WriteFile(dir / L"u16.xml", test::Utf16LeWithBom(text));
  xml::DocumentHandle doc;
  LoadDocument(dir / L"u16.xml", doc);
  EXPECT_EQ(test::ChatNumbers(doc), std::vector<std::string>{"7"});
}

TEST(LoadDocument, PathThatNamesNothingIsParsedAsText) {
  xml::DocumentHandle doc;
  LoadDocument(L"<packet><chat no=\"3\"/></packet>", doc);
  EXPECT_EQ(test::ChatNumbers(doc), std::vector<std::string>{"3"});
  EXPECT_EQ(CallText([&] { LoadDocument(L"/no/such/file.xml", doc); }), "pDoc->load()[loadXML()]");
}

TEST(LoadDocument, DirectoryAndFifoFailWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(::mkdir(WideToUtf8(dir / L"x.xml").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo(WideToUtf8(dir / L"pipe.xml").c_str(), 0644), 0);
  xml::DocumentHandle doc;
  EXPECT_EQ(CallText([&] { LoadDocument(dir / L"x.xml", doc); }), "pDoc->load()[loadXML()]");
  EXPECT_EQ(CallText([&] { LoadDocument(dir / L"pipe.xml", doc); }), "pDoc->load()[loadXML()]");
}

TEST(ExternalEntities, NoConnectionIsMade) {
  // A listener on loopback counts connections; a document pointing at it must not
  // reach it.
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  socklen_t len = sizeof addr;
  ::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len);
  ASSERT_EQ(::listen(listener, 4), 0);
  const std::string url = "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)) + "/x";

  xml::DocumentHandle doc;
  ASSERT_GE(xml::CreateDocument(doc), 0);
  EXPECT_FALSE(xml::LoadXml(doc, Utf8ToWide("<!DOCTYPE p SYSTEM \"" + url + "\"><p/>"), xml::LoadPolicy::Input));
  EXPECT_FALSE(xml::LoadXml(doc, Utf8ToWide("<!DOCTYPE p [<!ENTITY e SYSTEM \"" + url + "\">]><p>&e;</p>"),
                            xml::LoadPolicy::Input));
  // A style sheet may not read the network either.
  xml::DocumentHandle sheet, source, dest;
  ASSERT_GE(xml::CreateDocument(sheet), 0);
  ASSERT_GE(xml::CreateDocument(dest), 0);
  source = ParseDocument("<packet/>");
  ASSERT_TRUE(xml::LoadXml(sheet, Utf8ToWide(
      "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">"
      "<xsl:template match=\"/\"><r><xsl:copy-of select=\"document('" + url + "')\"/></r></xsl:template>"
      "</xsl:stylesheet>"), xml::LoadPolicy::StyleSheet));
  try {
    xml::TransformNodeToObject(source, sheet, dest);
  } catch (const ComError&) {
  }

  ::fcntl(listener, F_SETFL, O_NONBLOCK);
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "a connection reached the listener";
  ::close(listener);
}

// The style sheet runs in a sandbox: no file writing, no runaway recursion.
TEST(ApplyStyleSheet, HostileStyleSheetsFailWithoutSideEffects) {
  TempDir dir;
  const std::string target = WideToUtf8(dir / L"written.xml");
  struct Case {
    const char* name;
    std::string body;
  };
  const Case cases[] = {
      {"xsl:document", "<xsl:template match=\"/\"><xsl:document href=\"" + target +
                           "\"><x/></xsl:document><r/></xsl:template>"},
      {"exsl:document", "<xsl:template match=\"/\"><exsl:document href=\"" + target +
                            "\"><x/></exsl:document><r/></xsl:template>"},
      {"endless recursion",
       "<xsl:template match=\"/\"><xsl:call-template name=\"f\"/></xsl:template>"
       "<xsl:template name=\"f\"><x><xsl:call-template name=\"f\"/></x></xsl:template>"},
      {"terminate", "<xsl:template match=\"/\"><xsl:message terminate=\"yes\">stop</xsl:message></xsl:template>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring sheetPath = dir / L"sheet.xsl";
    WriteFile(sheetPath,
              "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\" "
              "xmlns:exsl=\"http://exslt.org/common\" extension-element-prefixes=\"exsl\">" +
                  c.body + "</xsl:stylesheet>");
    const xml::DocumentHandle source = ParseDocument("<packet/>");
    xml::DocumentHandle dest;
    ASSERT_GE(CreateDomDocument(dest), 0);
    const auto code = ComCode([&] { ApplyStyleSheet(sheetPath, source, dest); });
    EXPECT_EQ(code, std::optional<HResult>(kEFail));
    EXPECT_FALSE(PathExists(dir / L"written.xml"));
  }
}

TEST(ApplyStyleSheet, CallTextErrorsAndEmptyDestination) {
  TempDir dir;
  const xml::DocumentHandle source = ParseDocument("<packet/>");
  xml::DocumentHandle dest;
  ASSERT_GE(CreateDomDocument(dest), 0);
  EXPECT_EQ(CallText([&] { ApplyStyleSheet(dir / L"missing.xsl", source, dest); }), "pXslt->loadXML()");
  WriteFile(dir / L"bad.xsl", "<xsl:stylesheet");
  EXPECT_EQ(CallText([&] { ApplyStyleSheet(dir / L"bad.xsl", source, dest); }), "pXslt->loadXML()");
  xml::DocumentHandle empty;
  EXPECT_EQ(ComCode([&] { ApplyStyleSheet(ZANTREL_STYLE_SHEET, source, empty); }),
            std::optional<HResult>(kEPointer));
  // Not XSLT at all: loads, then fails to apply with the library's description.
  WriteFile(dir / L"plain.xsl", "<root/>");
  try {
    ApplyStyleSheet(dir / L"plain.xsl", source, dest);
    FAIL() << "applied a document that is no style sheet";
  } catch (const ComError& e) {
    EXPECT_EQ(e.ErrorMessage(), L"Unspecified error");
    ASSERT_TRUE(e.Description());
    EXPECT_FALSE(e.Description()->empty());
  }
}

TEST(ApplyStyleSheet, BundledSheetCopiesAndSavesUtf8WithDeclaration) {
  TempDir dir;
  const xml::DocumentHandle source =
      ParseDocument("<?xml version=\"1.0\"?><packet><thread/><chat no=\"1\">日本 &amp; &lt;</chat></packet>");
  xml::DocumentHandle dest;
  ASSERT_GE(CreateDomDocument(dest), 0);
  ApplyStyleSheet(ZANTREL_STYLE_SHEET, source, dest);
  SaveDocument(dest, dir / L"out.xml");
  const std::string saved = test::ReadFile(dir / L"out.xml");
  EXPECT_EQ(saved.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u) << saved;
  EXPECT_NE(saved.find("<chat no=\"1\">\xE6\x97\xA5\xE6\x9C\xAC &amp; &lt;</chat>"), std::string::npos) << saved;
  EXPECT_EQ(test::ChatNumbers(source), std::vector<std::string>{"1"});  // source unchanged
}

TEST(MoveNodes, ChatsSurviveTheirOldDocument) {
  // Moving between documents must re-home the names: the old document is freed
  // right after (AddressSanitizer catches a use-after-free here).
  const xml::DocumentHandle base = ParseDocument(test::CommentXml({1, 2}));
  {
    const xml::DocumentHandle added = ParseDocument(test::CommentXml({3, 4}));
    xml::Node baseRoot, addedRoot;
    xml::GetDocumentElement(base, baseRoot);
    xml::GetDocumentElement(added, addedRoot);
    for (const auto& chat : xml::GetElementsByTagName(addedRoot, L"chat")) xml::AppendChild(baseRoot, chat);
  }
  EXPECT_EQ(test::ChatNumbers(base), (std::vector<std::string>{"1", "2", "3", "4"}));
  TempDir dir;
  SaveDocument(base, dir / L"moved.xml");
  EXPECT_EQ(test::ChatNumbersOfFile(dir / L"moved.xml"), (std::vector<std::string>{"1", "2", "3", "4"}));
}

TEST(MoveNodes, RemoveChildNeedsADirectChild) {
  const xml::DocumentHandle doc = ParseDocument("<packet><g><chat no=\"1\"/></g><chat no=\"2\"/></packet>");
  xml::Node root;
  xml::GetDocumentElement(doc, root);
  const auto chats = xml::GetElementsByTagName(root, L"chat");
  ASSERT_EQ(chats.size(), 2u);
  EXPECT_EQ(ComCode([&] { xml::RemoveChild(root, chats[0]); }), std::optional<HResult>(kEInvalidArg));
  xml::RemoveChild(root, chats[1]);
  EXPECT_EQ(test::ChatNumbers(doc), std::vector<std::string>{"1"});
  EXPECT_EQ(ComCode([&] { xml::RemoveChild(root, xml::Node()); }), std::optional<HResult>(kEPointer));
}

TEST(SaveDocument, FailedSaveLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const xml::DocumentHandle doc = ParseDocument("<packet/>");
  WriteFile(dir / L"old.xml", "OLD CONTENT");
  ::chmod(WideToUtf8(dir / L"old.xml").c_str(), 0444);
  EXPECT_TRUE(ComCode([&] { SaveDocument(doc, dir / L"old.xml"); }).has_value());
  EXPECT_EQ(test::ReadFile(dir / L"old.xml"), "OLD CONTENT");
  EXPECT_TRUE(ComCode([&] { SaveDocument(doc, dir / L"missing/out.xml"); }).has_value());
  EXPECT_EQ(dir.Entries(), std::vector<std::wstring>{L"old.xml"});
}

TEST(SaveDocument, ReplacesAnExistingFileWhole) {
  TempDir dir;
  WriteFile(dir / L"out.xml", std::string(100000, 'Q'));
  SaveDocument(ParseDocument("<packet/>"), dir / L"out.xml");
  EXPECT_EQ(test::ReadFile(dir / L"out.xml").find('Q'), std::string::npos);
  EXPECT_EQ(dir.Entries(), std::vector<std::wstring>{L"out.xml"});
  try {
    SaveDocument(ParseDocument("<packet/>"), dir.path());  // a folder
    FAIL();
  } catch (const ComError& e) {
    EXPECT_EQ(static_cast<std::uint32_t>(e.Error()), 0x80070005u);
  }
}

}  // namespace
}  // namespace zantrel

namespace zantrel {
namespace {

std::string SavedBytes(const xml::DocumentHandle& doc) {
  TempDir dir;
  SaveDocument(doc, dir / L"out.xml");
  return test::ReadFile(dir / L"out.xml");
}

// A released source under the identity sheet is handed over instead of copied;
// the saved bytes must be those of the real transform.
TEST(ApplyStyleSheet, HandingOverTheSourceSavesTheSameBytes) {
  const std::string header = "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";
  const std::string identity =
      "<xsl:template match=\"node() | @*\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy></xsl:template>";
  struct Sheet {
    const char* name;
    std::string text;
    bool handedOver;
    bool explicitXmlMethod = false;
  };
  const Sheet sheets[] = {
      {"bundled", test::ReadFile(ZANTREL_STYLE_SHEET), true, true},
      {"plain identity", header + identity + "</xsl:stylesheet>", true},
      {"no indent, ASCII", header + "<xsl:output indent=\"no\" encoding=\"US-ASCII\"/>" + identity + "</xsl:stylesheet>", true},
      {"drops thread", header + identity + "<xsl:template match=\"thread\"/></xsl:stylesheet>", false},
      {"strips space", header + "<xsl:strip-space elements=\"*\"/>" + identity + "</xsl:stylesheet>", false},
      {"text in template", header + "<xsl:template match=\"@*|node()\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/>x</xsl:copy></xsl:template></xsl:stylesheet>", false},
      {"doctype", header + "<xsl:output doctype-system=\"p.dtd\"/>" + identity + "</xsl:stylesheet>", false},
      {"html", header + "<xsl:output method=\"html\"/>" + identity + "</xsl:stylesheet>", false},
      {"mode", header + "<xsl:template match=\"@*|node()\" mode=\"m\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy></xsl:template></xsl:stylesheet>", false},
  };
  const std::string sources[] = {
      "<?xml version=\"1.0\"?><packet><thread last_res=\"1\"/><chat no=\"1\" a=\"&quot;&amp;\">日本 &lt;x&gt; \U0001F600</chat></packet>",
      "<?xml version=\"1.1\"?><!--head--><?pi data?><packet>\n  <chat no=\"2\">mixed <b>bold</b> tail<![CDATA[ <raw> ]]></chat>\n  <!-- c --><chat no=\"3\"> </chat></packet><!--tail-->",
      "<packet xmlns:n=\"urn:x\"><n:chat no=\"1\"/></packet>",  // namespaces: always copied
      "<html><br/><p>x</p></html>",  // saved as HTML unless the method says XML
  };
  TempDir dir;
  for (const auto& sheet : sheets) {
    WriteFile(dir / L"sheet.xsl", sheet.text);
    for (std::size_t i = 0; i < std::size(sources); ++i) {
      SCOPED_TRACE(testing::Message() << sheet.name << ", source " << i);
      const auto copied = [&](xml::SourceAfter after, bool& sourceEmptied) {
        const xml::DocumentHandle source = ParseDocument(sources[i]);
        xml::DocumentHandle dest;
        EXPECT_GE(CreateDomDocument(dest), 0);
        ApplyStyleSheet(dir / L"sheet.xsl", source, dest, after);
        xml::Node root;
        xml::GetDocumentElement(source, root);
        sourceEmptied = !root;
        return SavedBytes(dest);
      };
      bool keptEmptied = false, releasedEmptied = false;
      const std::string kept = copied(xml::SourceAfter::Kept, keptEmptied);
      const std::string released = copied(xml::SourceAfter::Released, releasedEmptied);
      EXPECT_EQ(released, kept);
      EXPECT_FALSE(keptEmptied);
      EXPECT_EQ(releasedEmptied, sheet.handedOver && i != 2 && (i != 3 || sheet.explicitXmlMethod));
    }
  }
  // A kept source stays as it was, also under xsl:strip-space.
  WriteFile(dir / L"strip.xsl", sheets[4].text);
  const xml::DocumentHandle kept = ParseDocument("<packet><chat no=\"1\"> </chat></packet>");
  const std::string before = SavedBytes(kept);
  xml::DocumentHandle stripped;
  ASSERT_GE(CreateDomDocument(stripped), 0);
  ApplyStyleSheet(dir / L"strip.xsl", kept, stripped, xml::SourceAfter::Kept);
  EXPECT_EQ(SavedBytes(kept), before);
  EXPECT_NE(SavedBytes(stripped), before);

  // A namespace that arrives with a moved node counts too.
  const xml::DocumentHandle base = ParseDocument("<packet/>");
  const xml::DocumentHandle other = ParseDocument("<p xmlns:n=\"urn:x\"><n:chat/></p>");
  xml::Node baseRoot, otherRoot;
  xml::GetDocumentElement(base, baseRoot);
  xml::GetDocumentElement(other, otherRoot);
  xml::AppendChild(baseRoot, xml::GetElementsByTagName(otherRoot, L"n:chat").at(0));
  xml::DocumentHandle dest;
  ASSERT_GE(CreateDomDocument(dest), 0);
  ApplyStyleSheet(ZANTREL_STYLE_SHEET, base, dest, xml::SourceAfter::Released);
  xml::Node baseAfter;
  xml::GetDocumentElement(base, baseAfter);
  EXPECT_TRUE(baseAfter);
}

}  // namespace
}  // namespace zantrel

namespace zantrel {
namespace {

// Simple absolute paths take a shortcut; they must select what XPath selects.
TEST(SelectSingleNode, PathsSelectTheFirstMatchInDocumentOrder) {
  const auto doc = ParseDocument(
      "<packet><chat no=\"1\"/><thread id=\"a\"/><g><thread id=\"nested\"/></g><thread id=\"b\"/>"
      "<x:thread xmlns:x=\"urn:x\" id=\"ns\"/><deep><a><b id=\"b1\"/></a><a><b id=\"b2\"/></a></deep></packet>");
  xml::Node root;
  xml::GetDocumentElement(doc, root);
  const auto id = [&](const std::wstring& path) {
    const xml::Node n = xml::SelectSingleNode(root, path);
    return n ? GetAttributeText(n, L"id", L"(no id)") : std::wstring(L"(none)");
  };
  EXPECT_EQ(id(L"/packet/thread"), L"a");
  EXPECT_EQ(id(L"/packet"), L"(no id)");
  EXPECT_EQ(id(L"/other"), L"(none)");
  EXPECT_EQ(id(L"/packet/deep/a/b"), L"b1");
  EXPECT_EQ(id(L"/packet/missing"), L"(none)");
  EXPECT_EQ(id(L"/packet/thread[2]"), L"b");     // full XPath still works
  EXPECT_EQ(id(L"//thread[@id='nested']"), L"nested");
  const auto ns = ParseDocument("<packet xmlns=\"urn:d\"><thread id=\"t\"/></packet>");
  xml::Node nsRoot;
  xml::GetDocumentElement(ns, nsRoot);
  EXPECT_FALSE(xml::SelectSingleNode(nsRoot, L"/packet"));  // a default namespace is no match
  EXPECT_FALSE(xml::SelectSingleNode(nsRoot, L"/packet/thread"));
  EXPECT_FALSE(xml::SelectSingleNode(nsRoot, L"namespace::*"));  // no node of the tree

  // Tag names are qualified names: x:chat is not chat.
  const auto prefixed = ParseDocument("<packet><chat no=\"3\"/><x:chat xmlns:x=\"urn:x\" no=\"4\"/></packet>");
  xml::Node pRoot;
  xml::GetDocumentElement(prefixed, pRoot);
  EXPECT_EQ(xml::GetElementsByTagName(pRoot, L"chat").size(), 1u);
  EXPECT_EQ(GetAttributeText(xml::GetLastElementByTagName(pRoot, L"chat"), L"no", L""), L"3");
  EXPECT_EQ(GetAttributeText(xml::GetLastElementByTagName(pRoot, L"x:chat"), L"no", L""), L"4");
}

}  // namespace
}  // namespace zantrel

namespace zantrel {
namespace {

const std::string kSheetHead =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";
const std::string kIdentity =
    "<xsl:template match=\"@*|node()\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy>"
    "</xsl:template>";

// The chat text of a saved file: what lies between <chat no="1"> and </chat>.
std::string ChatText(const std::string& saved) {
  const std::string open = "<chat no=\"1\">";
  const std::size_t start = saved.find(open);
  const std::size_t end = saved.find("</chat>");
  if (start == std::string::npos || end == std::string::npos) return "(no chat in) " + saved;
  return saved.substr(start + open.size(), end - start - open.size());
}

TEST(Encodings, EveryNameOfShiftJisIsCodePage932BothWays) {
  // '~' and '\' stay ASCII; the rest are where code page 932 and strict JIS part
  // (～ － ∥ ￢) and its NEC / IBM extensions (① Ⅲ ㈱ 髙).
  const std::string cp932 = "~\\\x81\x60\x81\x7c\x81\x61\x81\xca\x87\x40\x87\x56\x87\x8a\xee\xe0";
  const std::string utf8 = "~\\～－∥￢①Ⅲ㈱髙";
  TempDir dir;
  for (const char* name : {"Shift_JIS", "SHIFT_JIS", "shift-jis", "SJIS", "MS_Kanji", "csShiftJIS"}) {
    SCOPED_TRACE(name);
    WriteFile(dir / L"in.xml", std::string("<?xml version=\"1.0\" encoding=\"") + name +
                                   "\"?><packet><thread/><chat no=\"1\">" + cp932 + "</chat></packet>");
    // The identity sheet (saved straight from the tree) and one that drops the
    // thread (a real transform) both write the output encoding the same way.
    for (const std::string& extra : {std::string(), std::string("<xsl:template match=\"thread\"/>")}) {
      WriteFile(dir / L"sjis.xsl", kSheetHead + "<xsl:output encoding=\"" + name + "\"/>" + kIdentity + extra +
                                       "</xsl:stylesheet>");
      xml::DocumentHandle doc, dest;
      LoadDocument(dir / L"in.xml", doc);
      ASSERT_GE(CreateDomDocument(dest), 0);
      ApplyStyleSheet(dir / L"sjis.xsl", doc, dest, xml::SourceAfter::Released);
      SaveDocument(dest, dir / L"out.xml");
      const std::string saved = test::ReadFile(dir / L"out.xml");
      EXPECT_NE(saved.find(std::string("encoding=\"") + name + "\""), std::string::npos) << saved;
      EXPECT_EQ(ChatText(saved).substr(0, 16), cp932.substr(0, 16));
      // Read back and written as UTF-8: the same characters.
      xml::DocumentHandle again, utf8Dest;
      LoadDocument(dir / L"out.xml", again);
      ASSERT_GE(CreateDomDocument(utf8Dest), 0);
      ApplyStyleSheet(ZANTREL_STYLE_SHEET, again, utf8Dest);
      SaveDocument(utf8Dest, dir / L"back.xml");
      EXPECT_EQ(ChatText(test::ReadFile(dir / L"back.xml")), utf8);
    }
  }
}

TEST(LoadDocument, ElementsWithTooManyAttributesAreRefused) {
  const auto attributes = [](int n, const std::string& value = "") {
    std::string s;
    for (int i = 0; i < n; ++i) s += " a" + std::to_string(i) + "=\"" + value + "\"";
    return s;
  };
  const auto utf16 = [](const std::string& ascii, bool bigEndian) {
    std::string out = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (char c : ascii) out += bigEndian ? std::string{'\0', c} : std::string{c, '\0'};
    return out;
  };
  struct Case {
    const char* name;
    std::string content;
    bool loads;
  };
  const Case cases[] = {
      {"at the bound", "<packet" + attributes(4096) + "/>", true},
      {"one past it", "<packet" + attributes(4097) + "/>", false},
      // Without the bound this one ties the parser up for most of an hour.
      {"a million", "<packet><chat" + attributes(1000000) + "/></packet>", false},
      {"single quotes, '>' in values", "<packet" + attributes(5000, ">") + "/>", false},
      {"UTF-16LE", utf16("<packet" + attributes(5000) + "/>", false), false},
      {"UTF-16BE", utf16("<packet" + attributes(5000) + "/>", true), false},
      {"UTF-16 at the bound", utf16("<packet" + attributes(4096) + "/>", false), true},
      {"in a comment", "<packet><!--<x" + attributes(5000) + ">--></packet>", true},
      {"in CDATA", "<packet><![CDATA[<x" + attributes(5000) + ">]]></packet>", true},
      {"in a processing instruction", "<packet><?pi <x" + attributes(5000) + "> ?></packet>", true},
      {"in text", "<packet>" + attributes(5000) + "</packet>", true},
      {"many elements", "<packet>" + [] {
         std::string s;
         for (int i = 0; i < 3000; ++i) s += "<chat no=\"" + std::to_string(i) + "\" a=\"1\"/>";
         return s;
       }() + "</packet>", true},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / L"in.xml", c.content);
    xml::DocumentHandle doc;
    EXPECT_EQ(CallText([&] { LoadDocument(dir / L"in.xml", doc); }),
              c.loads ? "(no call-text error)" : "pDoc->load()[loadXML()]");
  }
}

TEST(ApplyStyleSheet, DocumentFunctionReadsRegularFilesOnly) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(WideToUtf8(dir / L"pipe.xml").c_str(), 0644), 0);
  ::mkdir(WideToUtf8(dir / L"folder.xml").c_str(), 0755);
  WriteFile(dir / L"extra.xml", "<extra>from a file</extra>");
  WriteFile(dir / L"bomb.xml", "<extra" + [] {
    std::string s;
    for (int i = 0; i < 5000; ++i) s += " a" + std::to_string(i) + "=''";
    return s;
  }() + "/>");
  struct Case {
    const char* name;
    std::string uri;
    bool read;
  };
  const Case cases[] = {
      {"regular file", "extra.xml", true},
      {"regular file by file URL", "file://" + WideToUtf8(dir / L"extra.xml"), true},
      // A FIFO with no writer would block the job for ever; a device never ends.
      {"FIFO", "pipe.xml", false},
      {"device", "/dev/zero", false},
      {"folder", "folder.xml", false},
      {"too many attributes", "bomb.xml", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / L"sheet.xsl", kSheetHead + "<xsl:template match=\"/\"><r><xsl:copy-of select=\"document('" +
                                      c.uri + "')\"/></r></xsl:template></xsl:stylesheet>");
    xml::DocumentHandle dest;
    ASSERT_GE(CreateDomDocument(dest), 0);
    std::string saved;
    try {
      ApplyStyleSheet(dir / L"sheet.xsl", ParseDocument("<packet/>"), dest);
      SaveDocument(dest, dir / L"out.xml");
      saved = test::ReadFile(dir / L"out.xml");
    } catch (const ComError&) {
      saved = "(failed)";
    }
    EXPECT_EQ(saved.find("from a file") != std::string::npos, c.read) << saved;
  }
  // xsl:include takes the same road.
  WriteFile(dir / L"sheet.xsl", kSheetHead + "<xsl:include href=\"pipe.xml\"/></xsl:stylesheet>");
  xml::DocumentHandle dest;
  ASSERT_GE(CreateDomDocument(dest), 0);
  EXPECT_TRUE(ComCode([&] { ApplyStyleSheet(dir / L"sheet.xsl", ParseDocument("<packet/>"), dest); }));
}

}  // namespace
}  // namespace zantrel
