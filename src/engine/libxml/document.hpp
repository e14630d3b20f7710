// The record behind a DocumentHandle of the libxml2 back end, and the checks every
// component call starts with. Internal to engine/libxml.
//
// Threads: a record is used by one thread at a time, like its document; it may
// change threads (DocumentsMoveBetweenThreads). Ownership: the record owns its
// tree, the nodes removed from it and, for a transform result, the compiled style
// sheet; the tree's _private points back at the record so a node finds it. A Node
// is a bare xmlNode* that the record owns. Failures: the checks throw ComError
// (E_POINTER for an empty handle or node, E_FAIL for a node of no document).
#pragma once

#include <libxml/tree.h>
#include <libxslt/xsltInternals.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/libxml/owners.hpp"
#include "engine/xml_component.hpp"

namespace zantrel::xml {

struct Document {
  // A transform result keeps its style sheet for xsl:output at save time; it must
  // outlive the result tree, so it is declared first.
  std::shared_ptr<xsltStylesheet> outputStyle;
  DocPtr doc;
  // Removed nodes live on until the document goes: a snapshot may still name nodes
  // inside them. Freed before `doc`, whose dictionary holds their names.
  std::vector<NodePtr> detached;
  // Known to hold no namespace anywhere (set at parse time, kept through moves).
  bool namespaceFree = false;
  // Why the last load into this record was refused (LoadRefusal); empty after one
  // that succeeded.
  std::wstring refusal;

  void Reset(DocPtr replacement, std::shared_ptr<xsltStylesheet> style = nullptr,
             bool withoutNamespaces = false) {
    detached.clear();
    namespaceFree = withoutNamespaces;
    refusal.clear();
    doc = std::move(replacement);
    outputStyle = std::move(style);
    if (doc) doc->_private = this;  // lets a node find its owner record
  }
};

// A style sheet made ready: compiled once (the compiled sheet owns its own
// document), shared with the results it produced, which save by its xsl:output.
struct Sheet {
  std::shared_ptr<xsltStylesheet> compiled;
  bool copies = false;  // IsIdentityStyleSheet of its document
};

inline const xmlChar* Bytes(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

inline Document& Require(const DocumentHandle& handle) {
  if (!handle || !handle->doc) throw ComError(kEPointer);
  return *handle;
}

inline xmlNode* Require(const Node& node) {
  if (!node) throw ComError(kEPointer);
  return static_cast<xmlNode*>(node.Impl());
}

// The record of the document a node belongs to.
inline Document& RecordOf(const xmlNode* node) {
  auto* owner = node->doc == nullptr ? nullptr : static_cast<Document*>(node->doc->_private);
  if (owner == nullptr) throw ComError(kEFail, L"the node belongs to no document");
  return *owner;
}

}  // namespace zantrel::xml
