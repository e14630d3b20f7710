// The XML component's contract, held by both back ends: these cases run against
// libxml2 + libxslt on Linux and against the COM component on Windows (under
// Wine). Cases that need POSIX are in xml_component_test.cpp.
#include <gtest/gtest.h>

#include "comments/vocabulary.hpp"
#include "engine/documents.hpp"
#include "engine/xml_component.hpp"
#include "base/paths.hpp"
#include "base/text.hpp"
#include "test_support.hpp"

namespace zantrel {
namespace {

using test::CallText;
using test::ComCode;
using test::ParseDocument;
using test::TempDir;
using test::WriteFile;

// The XML declaration a saved file begins with, or "(none)".
std::string Declaration(const std::string& saved) {
  const std::size_t end = saved.find("?>");
  return saved.rfind("<?xml ", 0) == 0 && end != std::string::npos ? saved.substr(0, end + 2) : "(none)";
}

// The chat text of a saved file: what lies between <chat no="1"> and </chat>.
std::string ChatText(const std::string& saved) {
  const std::string open = "<chat no=\"1\">";
  const std::size_t start = saved.find(open);
  const std::size_t end = saved.find("</chat>");
  if (start == std::string::npos || end == std::string::npos) return "(no chat in) " + saved;
  return saved.substr(start + open.size(), end - start - open.size());
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

TEST(LoadDocument, ReadsUtf16FilesAndTextButNoFolder) {
  TempDir dir;
  WriteFile(dir / L"u16.xml",
            test::Utf16WithBom(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><packet><chat no=\"7\">日本</chat></packet>"));
  test::MakeDirectory(dir / L"x.xml");
  xml::DocumentHandle doc;
  LoadDocument(dir / L"u16.xml", doc);
  EXPECT_EQ(test::ChatNumbers(doc), std::vector<std::string>{"7"});
  LoadDocument(L"<packet><chat no=\"3\"/></packet>", doc);  // a path that names nothing is read as text
  EXPECT_EQ(test::ChatNumbers(doc), std::vector<std::string>{"3"});
  for (const std::wstring& path : {dir / L"x.xml", std::wstring(L"/no/such/file.xml")})
    EXPECT_EQ(CallText([&] { LoadDocument(path, doc); }), "pDoc->load()[loadXML()]");
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
    // Wine's COM component ends these without an error, still without side effects.
    if (!test::RunningUnderWine()) {
      EXPECT_EQ(code, std::optional<HResult>(kEFail));
    }
    EXPECT_FALSE(PathExists(dir / L"written.xml"));
  }
}

TEST(ApplyStyleSheet, SheetsThatDoNotLoadFailWithTheirCallText) {
  TempDir dir;
  const xml::DocumentHandle source = ParseDocument("<packet/>");
  xml::DocumentHandle dest;
  ASSERT_GE(CreateDomDocument(dest), 0);
  WriteFile(dir / L"bad.xsl", "<xsl:stylesheet");
  for (const wchar_t* name : {L"missing.xsl", L"bad.xsl"})
    EXPECT_EQ(CallText([&] { ApplyStyleSheet(dir / name, source, dest); }), "pXslt->loadXML()");
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
  // Wine's COM component leaves the encoding out of the declaration (UTF-8 all the same).
  EXPECT_EQ(Declaration(saved), test::RunningUnderWine() ? "<?xml version=\"1.0\"?>"
                                                         : "<?xml version=\"1.0\" encoding=\"UTF-8\"?>");
  EXPECT_EQ(ChatText(saved), "\xE6\x97\xA5\xE6\x9C\xAC &amp; &lt;");
  EXPECT_EQ(test::ChatNumbers(source), std::vector<std::string>{"1"});  // source unchanged
}

TEST(SaveDocument, FailedSaveLeavesTheOldFileAndNoTemporary) {
  TempDir dir;
  const xml::DocumentHandle doc = ParseDocument("<packet/>");
  WriteFile(dir / L"old.xml", "OLD CONTENT");
  test::MakeReadOnly(dir / L"old.xml");
  // Wine replaces a read-only file that Windows and POSIX keep.
  if (!test::RunningUnderWine()) {
    EXPECT_TRUE(ComCode([&] { SaveDocument(doc, dir / L"old.xml"); }).has_value());
    EXPECT_EQ(test::ReadFile(dir / L"old.xml"), "OLD CONTENT");
  }
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

  // Tag names are qualified names: x:chat is not chat (Wine's COM component
  // matches the local name).
  if (test::RunningUnderWine()) return;
  const auto prefixed = ParseDocument("<packet><chat no=\"3\"/><x:chat xmlns:x=\"urn:x\" no=\"4\"/></packet>");
  xml::Node pRoot;
  xml::GetDocumentElement(prefixed, pRoot);
  EXPECT_EQ(xml::GetElementsByTagName(pRoot, L"chat").size(), 1u);
  EXPECT_EQ(GetAttributeText(xml::GetLastElementByTagName(pRoot, L"chat"), L"no", L""), L"3");
  EXPECT_EQ(GetAttributeText(xml::GetLastElementByTagName(pRoot, L"x:chat"), L"no", L""), L"4");
}

TEST(Encodings, EveryNameOfShiftJisIsCodePage932BothWays) {
  if (test::RunningUnderWine()) GTEST_SKIP() << "Wine's COM component loads no Shift_JIS document";
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
      WriteFile(dir / L"sjis.xsl", test::SheetText("<xsl:output encoding=\"" + std::string(name) + "\"/>" +
                                                   test::kIdentity + extra));
      xml::DocumentHandle doc, dest;
      LoadDocument(dir / L"in.xml", doc);
      ASSERT_GE(CreateDomDocument(dest), 0);
      ApplyStyleSheet(dir / L"sjis.xsl", doc, dest, xml::SourceAfter::Released);
      SaveDocument(dest, dir / L"out.xml");
      const std::string saved = test::ReadFile(dir / L"out.xml");
      EXPECT_EQ(Declaration(saved), std::string("<?xml version=\"1.0\" encoding=\"") + name + "\"?>");
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

}  // namespace
}  // namespace zantrel
