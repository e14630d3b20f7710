// The XML component's cases that need POSIX (FIFOs, devices) or concern
// the libxml2 back end alone (handing a source over, the attribute bound); the
// contract both back ends keep is in xml_contract_test.cpp.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "comments/vocabulary.hpp"
#include "engine/comment_stream.hpp"
#include "engine/documents.hpp"
#include "engine/libxml/attribute_bound.hpp"
#include "engine/libxml/chat_dump.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "engine/xml_component.hpp"
#include "serialised_chat.hpp"
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

std::string SavedBytes(const xml::DocumentHandle& doc) {
  TempDir dir;
  SaveDocument(doc, dir / L"out.xml");
  return test::ReadFile(dir / L"out.xml");
}

// This back end hands a released source under the identity sheet over instead of
// copying it;
// the saved bytes must be those of the real transform.
TEST(ApplyStyleSheet, HandingOverTheSourceSavesTheSameBytes) {
  using test::SheetText;
  // The copying template with blanks in its pattern, and a copy that is not one.
  const std::string identity =
      "<xsl:template match=\"node() | @*\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy></xsl:template>";
  const std::string copyWith = "<xsl:template match=\"@*|node()\"";
  struct Sheet {
    const char* name;
    std::string text;
    bool handedOver;
    bool explicitXmlMethod = false;
  };
  const Sheet sheets[] = {
      {"bundled", test::ReadFile(ZANTREL_STYLE_SHEET), true, true},
      {"plain identity", SheetText(identity), true},
      {"no indent, ASCII", SheetText("<xsl:output indent=\"no\" encoding=\"US-ASCII\"/>" + identity), true},
      {"drops thread", SheetText(identity + "<xsl:template match=\"thread\"/>"), false},
      {"strips space", SheetText("<xsl:strip-space elements=\"*\"/>" + identity), false},
      {"text in template", SheetText(copyWith + "><xsl:copy><xsl:apply-templates select=\"@*|node()\"/>x</xsl:copy></xsl:template>"), false},
      {"doctype", SheetText("<xsl:output doctype-system=\"p.dtd\"/>" + identity), false},
      {"html", SheetText("<xsl:output method=\"html\"/>" + identity), false},
      {"mode", SheetText(copyWith + " mode=\"m\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy></xsl:template>"), false},
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
        const std::string before = SavedBytes(source);
        xml::DocumentHandle dest;
        EXPECT_GE(CreateDomDocument(dest), 0);
        ApplyStyleSheet(dir / L"sheet.xsl", source, dest, after);
        xml::Node root;
        xml::GetDocumentElement(source, root);
        sourceEmptied = !root;
        if (after == xml::SourceAfter::Kept) {
          EXPECT_EQ(SavedBytes(source), before);  // as it was, under xsl:strip-space too
        }
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

// ` a0="value" a1="value" ...`, or with `quote` around the values.
std::string Attributes(int count, const std::string& value = "", char quote = '"') {
  std::string s;
  for (int i = 0; i < count; ++i) s += " a" + std::to_string(i) + "=" + quote + value + quote;
  return s;
}

// The libxml2 back end bounds the attributes of a start tag (libxml2 alone takes
// most of an hour over a million of them). Inputs reach the parser in pieces, each
// through the bound's scan first: it answers as on the whole bytes wherever the
// pieces are cut.
TEST(AttributeBound, RefusesTooManyInATagWhereverThePiecesAreCut) {
  const auto utf16 = [](const std::string& ascii, bool bigEndian) {
    return test::Utf16WithBom(std::u16string(ascii.begin(), ascii.end()), bigEndian);
  };
  const auto ucs4 = [](const std::string& ascii) {
    std::string out;
    for (char c : ascii) out += std::string{'\0', '\0', '\0', c};
    return out;
  };
  const auto ebcdic = [](const std::string& ascii) {
    const std::string from = "<>\"?/xm", to = "\x4C\x6E\x7F\x6F\x61\xA7\x94";
    std::string out;
    for (char c : ascii) out += from.find(c) == std::string::npos ? '\xC1' : to[from.find(c)];
    return out;
  };
  std::string elements;
  for (int i = 0; i < 3000; ++i) elements += "<chat no=\"" + std::to_string(i) + "\" a=\"1\"/>";
  struct Case {
    const char* name;
    std::string content;
    bool tooMany;
    bool document = true;  // false: bytes for the scan alone
  };
  const Case cases[] = {
      {"at the bound", "<packet" + Attributes(4096) + "/>", false},
      {"one past it", "<packet" + Attributes(4097) + "/>", true},
      {"single quotes, '>' in values", "<packet" + Attributes(5000, ">", '\'') + "/>", true},
      {"UTF-16LE", utf16("<packet" + Attributes(5000) + "/>", false), true},
      {"UTF-16BE", utf16("<packet" + Attributes(5000) + "/>", true), true},
      {"UTF-16 at the bound", utf16("<packet" + Attributes(4096) + "/>", false), false},
      {"in a comment", "<packet><!--<x" + Attributes(5000) + ">--></packet>", false},
      {"in CDATA", "<packet><![CDATA[<x" + Attributes(5000) + ">]]></packet>", false},
      {"in a processing instruction", "<packet><?pi <x" + Attributes(5000) + "> ?></packet>", false},
      {"in text", "<packet>" + Attributes(5000) + "</packet>", false},
      {"many elements", "<packet>" + elements + "</packet>", false},
      {"a million", "<packet><chat" + Attributes(1000000) + "/></packet>", true},
      {"UCS-4", ucs4("<?xml" + Attributes(4097) + "?><p/>"), false, false},
      {"UCS-4 in a tag", ucs4("<p" + Attributes(4097) + "/>"), true, false},
      {"EBCDIC", ebcdic("<?xm?><p" + Attributes(4097) + "/>"), true, false},
      {"after a comment", "<packet><!-- -- - ->--><x" + Attributes(4097) + "></packet>", true, false},
      {"after CDATA", "<packet><![CDATA[]]]]]><x" + Attributes(4097) + "></packet>", true, false},
      {"after one", "<packet><??? ?? ?><x" + Attributes(4097) + "></packet>", true, false},
      {"other <!", "<packet><!-x<!DOC<![CDAT<x" + Attributes(4097) + "></packet>", true, false},
      {"'<' ends a tag", "<packet" + Attributes(3000) + "<x" + Attributes(3000) + "/>", false, false},
      {"unclosed value", "<packet a='" + Attributes(5000) + "/>", false, false},
      {"end tags", "</packet" + Attributes(5000) + ">", false, false},
      {"short", "<a", false, false},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string& bytes = c.content;
    if (c.document) {
      WriteFile(dir / L"in.xml", bytes);
      xml::DocumentHandle doc;
      EXPECT_EQ(CallText([&] { LoadDocument(dir / L"in.xml", doc); }),
                c.tooMany ? "pDoc->load()[loadXML()]" : "(no call-text error)");
    }
    ASSERT_EQ(xml::TooManyAttributes(bytes), c.tooMany);
    if (bytes.size() > (1u << 20)) continue;  // the million: cut like the rest, only slower
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

TEST(ApplyStyleSheet, DocumentFunctionReadsRegularFilesOnly) {
  TempDir dir;
  ASSERT_EQ(::mkfifo(WideToUtf8(dir / L"pipe.xml").c_str(), 0644), 0);
  ::mkdir(WideToUtf8(dir / L"folder.xml").c_str(), 0755);
  WriteFile(dir / L"extra.xml", "<extra>from a file</extra>");
  WriteFile(dir / L"bomb.xml", "<extra" + Attributes(5000, "", '\'') + "/>");
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
    WriteFile(dir / L"sheet.xsl", test::SheetText("<xsl:template match=\"/\"><r><xsl:copy-of select=\"document('" +
                                                  c.uri + "')\"/></r></xsl:template>"));
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
  WriteFile(dir / L"sheet.xsl", test::SheetText("<xsl:include href=\"pipe.xml\"/>"));
  xml::DocumentHandle dest;
  ASSERT_GE(CreateDomDocument(dest), 0);
  EXPECT_TRUE(ComCode([&] { ApplyStyleSheet(dir / L"sheet.xsl", ParseDocument("<packet/>"), dest); }));
}

// The merged document rebuilt from the kept comments' bytes for a sheet of one's
// own: what each input held within the parser's limits may be past them once
// written again (escaped, joined with the rest), and must still be read; an empty
// CDATA section stays the empty text it was in the input.
TEST(PushedDocument, ReadsWhatTheInputsHeldHoweverLongItGrows) {
  constexpr std::size_t kPast = 10'500'000;  // the parser's limits are 10,000,000 bytes
  std::string elements;
  for (std::size_t i = 0; elements.size() < kPast; ++i) elements += "<e>" + std::to_string(i) + "</e>";
  std::string quotes;
  for (std::size_t i = 0; i < kPast / 4; ++i) quotes += "&quot;";
  std::string comments;
  while (comments.size() < kPast) comments += "<!-- a comment after the chats -->";
  struct Case {
    const char* name;
    std::string body;
    std::string expected;  // the packet's first child: its value or text, or "comment"
  };
  const Case cases[] = {
      {"a value of escapes", "<chat mail=\"" + quotes + "\"/>", std::string(kPast / 4, '"')},
      {"elements before the chats", elements, "0"},
      {"comments after the chats", comments, "comment"},
      {"an empty CDATA", "<chat><![CDATA[]]></chat>", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = "<packet>" + c.body + "</packet>";
    xml::PushedDocument pushed("merged.xml");
    for (std::size_t at = 0; at < text.size(); at += 1 << 20)
      ASSERT_NO_THROW(pushed.Push(std::string_view(text).substr(at, 1 << 20), L"in.xml"));
    xml::DocumentHandle doc;
    ASSERT_NO_THROW(doc = pushed.Finish(L"in.xml"));
    const xmlNode* first = xmlDocGetRootElement(xml::Tree(doc))->children;
    ASSERT_NE(first, nullptr);
    if (c.expected == "comment") {
      EXPECT_EQ(first->type, XML_COMMENT_NODE);
      continue;
    }
    const xmlNode* holder = first->properties != nullptr ? first->properties->children : first->children;
    ASSERT_NE(holder, nullptr) << "no text node";
    EXPECT_EQ(holder->type, XML_TEXT_NODE);
    EXPECT_EQ(holder->next, nullptr);
    const xml::XmlCharPtr value(xmlNodeGetContent(holder));
    EXPECT_TRUE(value && reinterpret_cast<const char*>(value.get()) == c.expected);
  }
  // Bytes that do not parse name the input they came from and the parser's words.
  xml::PushedDocument broken("merged.xml");
  broken.Push("<packet><chat>", L"in.xml");
  try {
    broken.Push("</packet>", L"dir/late.xml");
    FAIL() << "no failure";
  } catch (const ComError& error) {
    ASSERT_TRUE(error.Description());
    EXPECT_TRUE(error.Description()->starts_with(L"late.xml: the merged comments could not be read again: "))
        << WideToUtf8(*error.Description());
    EXPECT_EQ(error.Reason(), *error.Description());
  }
}

// A chat's source is copied as it stands exactly where the serialiser writes the
// same bytes for it: the usual forms are copied, each way of writing a chat
// otherwise is not. (The fuzz target checks the one direction on any bytes.)
TEST(ChatSource, CopiedAsItStandsWhereTheSerialiserWritesTheSame) {
  const xml::SheetHandle named = test::CopySheet("<xsl:output encoding=\"UTF-8\"/>");
  const xml::SheetHandle unnamed = test::CopySheet("");
  ASSERT_TRUE(named && unnamed);
  const std::string cases[] = {
      "<chat/>",
      "<chat no=\"1\" vpos=\"10\" mail=\"184\">本文 \"quoted\" 'single'\ttab\nline</chat>",
      "<chat no=\"2\" m=\"a&amp;b&lt;c&gt;d&quot;e'\">x&amp;y&lt;z&gt;</chat>",
      "<chat no=\"3\" m=\"花😀\">花</chat>",  // copied only where values keep what is beyond ASCII
      "<chat no='4'>x</chat>",
      "<chat  no=\"5\"/>",
      "<chat no=\"6\" />",
      "<chat no=\"7\"></chat>",
      "<chat no=\"8\">a > b</chat>",
      "<chat no=\"9\">&apos;&quot;</chat>",
      "<chat no=\"10\">a&#x3042;b</chat>",
      "<chat no=\"11\">a line\r\nand the next</chat>",
      "<chat no=\"12\" m=\"a\tb\"/>",
      "<chat no=\"13\"><![CDATA[x]]></chat>",
      "<chat no=\"14\">x</chat >",
      "<chat no=\"15\" m=\"x>y\"/>",
      "<chat no = \"16\"/>",
      "<chat >a=\"17\">b</chat>",
  };
  for (const std::string& source : cases) {
    for (const bool withEncoding : {true, false}) {
      SCOPED_TRACE(source + (withEncoding ? "" : ", no output encoding"));
      const std::optional<std::string> written = test::SerialisedChat(source, withEncoding ? *named : *unnamed);
      ASSERT_TRUE(written);
      EXPECT_EQ(xml::WrittenAsItStands(source, withEncoding), *written == source) << "written: " << *written;
    }
  }
}

// Every chat of an input is read from its own bytes, however the reads fall:
// many chats before, a start tag and a text longer than a read, chats written
// otherwise between them. Read whole (not sent another way), each chat's bytes
// are what the serialiser writes for it, in order.
TEST(StreamComments, ReadsEachChatFromItsBytesHoweverTheReadsFall) {
  const xml::SheetHandle sheet = test::CopySheet("<xsl:output encoding=\"UTF-8\"/>");
  ASSERT_TRUE(sheet);
  std::vector<std::string> chats;
  for (int n = 0; n < 3000; ++n) {
    std::string chat = "<chat no=\"" + std::to_string(n) + "\" mail=\"184\">本文 " + std::to_string(n) + "</chat>";
    if (n == 1000) chat = "<chat no=\"1000\" mail=\"" + std::string(100000, 'v') + "\">" + std::string(150000, 'w') + "</chat>";
    if (n % 700 == 5) chat = "<chat no='" + std::to_string(n) + "'>&apos;</chat>";
    chats.push_back(chat);
  }
  std::string file = "<packet>\n";
  for (const std::string& chat : chats) file += chat + "\n";
  const TempDir dir;
  WriteFile(dir / L"in.xml", file + "</packet>");

  struct Numbers final : xml::ChatReceiver {
    std::vector<std::string> seen;
    std::vector<std::uint32_t> lengths;
    void Chat(const xml::StreamedChat& chat) override {
      seen.emplace_back(chat.number.value_or("none"));
      lengths.push_back(chat.length);
    }
  } numbers;
  BlockPool pool;
  Arena bytes(pool);
  StopFlag stop;
  ASSERT_EQ(xml::StreamComments(dir / L"in.xml", *sheet, bytes, numbers, stop), xml::StreamOutcome::Read);
  ASSERT_EQ(numbers.seen.size(), chats.size());
  std::string expected;
  for (std::size_t n = 0; n < chats.size(); ++n) {
    EXPECT_EQ(numbers.seen[n], std::to_string(n));
    const std::optional<std::string> written = test::SerialisedChat(chats[n], *sheet);
    ASSERT_TRUE(written);
    EXPECT_EQ(numbers.lengths[n], written->size()) << "chat " << n;
    expected += *written;
  }
  std::string read;
  bytes.Read(0, bytes.Size(), [&](std::string_view part) { read.append(part); });
  EXPECT_TRUE(read == expected);
}

}  // namespace
}  // namespace zantrel
