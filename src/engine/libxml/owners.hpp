// Owners for the libxml2 / libxslt handles: one deleter that calls the library's
// own free function, and a unique_ptr over it for every kind of handle the back
// end holds.
//
// Any thread: an owner frees on the thread that destroys it, which must be one
// allowed to touch the handle (libxml2 documents may change threads, one user at
// a time). An owner holds its handle alone; release() hands it to whoever the
// library says takes it over (a compiled sheet its document, say). Freeing never
// fails and never throws.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlmemory.h>
#include <libxml/xpath.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>

#include <memory>

namespace zantrel::xml {

template <auto Free>
struct Deleter {
  void operator()(auto* p) const noexcept { Free(p); }
};

template <class T, auto Free>
using Owner = std::unique_ptr<T, Deleter<Free>>;

// xmlFree is a variable holding the allocator's free function, not a function.
inline void FreeXmlString(xmlChar* p) noexcept { xmlFree(p); }

using DocPtr = Owner<xmlDoc, xmlFreeDoc>;
using NodePtr = Owner<xmlNode, xmlFreeNode>;
using ParserCtxtPtr = Owner<xmlParserCtxt, xmlFreeParserCtxt>;
using XPathContextPtr = Owner<xmlXPathContext, xmlXPathFreeContext>;
using XPathObjectPtr = Owner<xmlXPathObject, xmlXPathFreeObject>;
using TransformCtxtPtr = Owner<xsltTransformContext, xsltFreeTransformContext>;
using SecurityPrefsPtr = Owner<xsltSecurityPrefs, xsltFreeSecurityPrefs>;
using StylesheetPtr = Owner<xsltStylesheet, xsltFreeStylesheet>;
using XmlCharPtr = Owner<xmlChar, FreeXmlString>;
using OutputBufferPtr = Owner<xmlOutputBuffer, xmlOutputBufferClose>;

}  // namespace zantrel::xml
