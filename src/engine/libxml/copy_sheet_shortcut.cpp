#include "engine/libxml/copy_sheet_shortcut.hpp"

#include <libxslt/imports.h>
#include <libxslt/xslt.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "engine/libxml/error_scope.hpp"
#include "engine/libxml/owners.hpp"
#include "engine/libxml/xml_stream.hpp"

namespace zantrel::xml {
namespace {

std::string Squeezed(const xmlChar* text) {
  std::string out;
  for (const xmlChar* p = text; p != nullptr && *p != 0; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') out += static_cast<char>(*p == '"' ? '\'' : *p);
  return out;
}

bool IsXslt(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         xmlStrEqual(node->ns->href, XSLT_NAMESPACE) && xmlStrEqual(node->name, BAD_CAST name);
}

// The element children of `node`, or nothing when it holds text other than blanks.
std::optional<std::vector<const xmlNode*>> Elements(const xmlNode* node) {
  std::vector<const xmlNode*> out;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) {
      out.push_back(c);
    } else if (c->type == XML_TEXT_NODE) {
      if (!xmlIsBlankNode(c)) return std::nullopt;
    } else if (c->type != XML_COMMENT_NODE) {
      return std::nullopt;
    }
  }
  return out;
}

// Only the attributes named may be present.
bool HasOnlyAttributes(const xmlNode* node, std::initializer_list<const char*> allowed) {
  for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
    bool ok = false;
    for (const char* name : allowed) ok = ok || (a->ns == nullptr && xmlStrEqual(a->name, BAD_CAST name));
    if (!ok) return false;
  }
  return true;
}

std::string AttributeSqueezed(const xmlNode* node, const char* name) {
  XmlCharPtr value(xmlGetNoNsProp(node, BAD_CAST name));
  return Squeezed(value.get());
}

}  // namespace

bool IsIdentityStyleSheet(const xmlDoc* sheet) {
  const xmlNode* root = xmlDocGetRootElement(sheet);
  if (root == nullptr || !(IsXslt(root, "stylesheet") || IsXslt(root, "transform")) ||
      !HasOnlyAttributes(root, {"version"}) || AttributeSqueezed(root, "version") != "1.0")
    return false;
  const auto top = Elements(root);
  if (!top) return false;
  int identities = 0;
  for (const xmlNode* e : *top) {
    if (IsXslt(e, "output")) {
      // Only settings that act at saving time (a doctype or version would shape
      // the result document itself).
      const auto inner = Elements(e);
      if (!inner || !inner->empty() ||
          !HasOnlyAttributes(e, {"method", "encoding", "indent", "omit-xml-declaration"}))
        return false;
      const std::string method = AttributeSqueezed(e, "method");
      if (!method.empty() && method != "xml") return false;
      continue;
    }
    if (!IsXslt(e, "template") || !HasOnlyAttributes(e, {"match"})) return false;
    const std::string match = AttributeSqueezed(e, "match");
    const auto body = Elements(e);
    if (!body) return false;
    if (match == "processing-instruction('xml')" && body->empty()) continue;
    if (match != "@*|node()" && match != "node()|@*") return false;
    if (body->size() != 1 || !IsXslt((*body)[0], "copy") || (*body)[0]->properties != nullptr) return false;
    const auto copyBody = Elements((*body)[0]);
    if (!copyBody || copyBody->size() != 1) return false;
    const xmlNode* apply = (*copyBody)[0];
    const auto applyBody = Elements(apply);
    const std::string select = AttributeSqueezed(apply, "select");
    if (!IsXslt(apply, "apply-templates") || !HasOnlyAttributes(apply, {"select"}) || !applyBody ||
        !applyBody->empty() || (select != "@*|node()" && select != "node()|@*"))
      return false;
    ++identities;
  }
  return identities == 1;
}

const xmlChar* OutputEncoding(const Sheet& sheet) noexcept {
  const xmlChar* encoding = nullptr;
  XSLT_GET_IMPORT_PTR(encoding, sheet.compiled.get(), encoding)
  return encoding;
}

bool HandOverInsteadOfCopying(Document& source, const Sheet& sheet, Document& destination,
                              SourceAfter sourceAfter) {
  const xmlChar* method = nullptr;
  XSLT_GET_IMPORT_PTR(method, sheet.compiled.get(), method)
  const xmlNode* sourceRoot = xmlDocGetRootElement(source.doc.get());
  // Without an explicit method, a result whose root is "html" is saved as HTML.
  const bool savedAsXml = method != nullptr || sourceRoot == nullptr ||
                          xmlStrcasecmp(sourceRoot->name, BAD_CAST "html") != 0;
  if (sourceAfter != SourceAfter::Released || &source == &destination || !savedAsXml || !sheet.copies ||
      !source.namespaceFree || source.doc->intSubset != nullptr || source.doc->extSubset != nullptr)
    return false;
  DocPtr empty(xmlNewDoc(BAD_CAST "1.0"));
  if (!empty) throw ComError(kEOutOfMemory);
  DocPtr taken = std::move(source.doc);
  source.Reset(std::move(empty), nullptr, true);
  // Shape the document as a transform's result: XML 1.0, the sheet's encoding.
  const xmlChar* encoding = OutputEncoding(sheet);
  xmlFree(const_cast<xmlChar*>(taken->version));
  taken->version = xmlStrdup(BAD_CAST "1.0");
  xmlFree(const_cast<xmlChar*>(taken->encoding));
  taken->encoding = encoding == nullptr ? nullptr : xmlStrdup(encoding);
  taken->charset = XML_CHAR_ENCODING_UTF8;
  destination.Reset(std::move(taken), sheet.compiled);
  return true;
}

}  // namespace zantrel::xml
