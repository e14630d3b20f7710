// What the plain-copy road writes for one chat, for the tests of copying a chat's
// source as it stands (unit tests and the chat-source fuzz target).
//
// Any thread, one call at a time per sheet. Throws what the back end throws when
// memory runs out.
#pragma once

#include <libxml/tree.h>

#include <optional>
#include <string>
#include <string_view>

#include "base/byte_arena.hpp"
#include "base/text.hpp"
#include "engine/libxml/chat_dump.hpp"
#include "engine/libxml/document.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "engine/xml_component.hpp"

namespace zantrel::test {

// A compiled plain-copy sheet with `output` as its xsl:output (empty for none).
inline xml::SheetHandle CopySheet(const std::string& output) {
  const std::string text =
      "<xsl:stylesheet version=\"1.0\" xmlns:xsl=\"http://www.w3.org/1999/XSL/Transform\">" + output +
      "<xsl:template match=\"@*|node()\"><xsl:copy><xsl:apply-templates select=\"@*|node()\"/></xsl:copy>"
      "</xsl:template></xsl:stylesheet>";
  xml::DocumentHandle doc;
  if (xml::CreateDocument(doc) < 0 || !xml::LoadXml(doc, Utf8ToWide(text), xml::LoadPolicy::StyleSheet))
    return nullptr;
  return xml::PrepareStyleSheet(std::move(doc));
}

// The bytes the serialiser writes for the chat `source` (a chat's bytes in a
// UTF-8 input) parses to, for `sheet`'s output; none where the source is no
// well-formed chat without namespaces holding only text.
inline std::optional<std::string> SerialisedChat(std::string_view source, const xml::Sheet& sheet) {
  const xml::DocPtr doc = xml::ParseSource(source);
  xmlNode* chat = doc ? xmlDocGetRootElement(doc.get()) : nullptr;
  if (chat == nullptr || chat->ns != nullptr || chat->nsDef != nullptr || !xmlStrEqual(chat->name, BAD_CAST "chat"))
    return std::nullopt;
  for (const xmlAttr* a = chat->properties; a != nullptr; a = a->next)
    if (a->ns != nullptr) return std::nullopt;
  for (const xmlNode* c = chat->children; c != nullptr; c = c->next)
    if (c->type != XML_TEXT_NODE) return std::nullopt;
  BlockPool pool;
  Arena bytes(pool);
  xml::ChatDump dump(bytes, sheet);
  const std::uint32_t length = dump.Append(chat);
  dump.Finish();
  std::string written;
  bytes.Read(0, length, [&](std::string_view part) { written.append(part); });
  return written;
}

}  // namespace zantrel::test
