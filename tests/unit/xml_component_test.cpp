// The XML component's cases that need POSIX (sockets, FIFOs, devices) or concern
// the libxml2 back end alone (handing a source over, the attribute bound); the
// contract both back ends keep is in xml_contract_test.cpp.
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

using test::CallText;
using test::ComCode;
using test::ParseDocument;
using test::TempDir;
using test::WriteFile;

TEST(LoadDocument, FifoFailsWithoutBlocking) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(WideToUtf8(dir / L"pipe.xml").c_str(), 0644), 0);
  xml::DocumentHandle doc;
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
    xml::TransformNodeToObject(source, *xml::PrepareStyleSheet(std::move(sheet)), dest);
  } catch (const ComError&) {
  }

  ::fcntl(listener, F_SETFL, O_NONBLOCK);
  EXPECT_LT(::accept(listener, nullptr, nullptr), 0) << "a connection reached the listener";
  ::close(listener);
}

const std::string kSheetHead =
    "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">";

std::string SavedBytes(const xml::DocumentHandle& doc) {
  TempDir dir;
  SaveDocument(doc, dir / L"out.xml");
  return test::ReadFile(dir / L"out.xml");
}

// This back end hands a released source under the identity sheet over instead of
// copying it;
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

// The libxml2 back end bounds the attributes of a start tag (libxml2 alone would
// take most of an hour over a million of them).
TEST(LoadDocument, ElementsWithTooManyAttributesAreRefused) {
  std::vector<test::AttributeCase> cases = test::AttributeBoundCases();
  // Without the bound this one ties the parser up for most of an hour.
  cases.push_back({"a million", "<packet><chat" + test::Attributes(1000000) + "/></packet>", true});
  cases.push_back({"many elements", "<packet>" + [] {
                     std::string s;
                     for (int i = 0; i < 3000; ++i) s += "<chat no=\"" + std::to_string(i) + "\" a=\"1\"/>";
                     return s;
                   }() + "</packet>", false});
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile(dir / L"in.xml", c.content);
    xml::DocumentHandle doc;
    EXPECT_EQ(CallText([&] { LoadDocument(dir / L"in.xml", doc); }),
              c.tooMany ? "pDoc->load()[loadXML()]" : "(no call-text error)");
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
