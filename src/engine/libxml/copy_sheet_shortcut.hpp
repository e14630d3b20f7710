// An optimisation of TransformNodeToObject: a style sheet that is a plain copy
// (IsIdentityStyleSheet), applied to a source nobody reads again, hands the
// source's tree over to the destination instead of copying it node by node. A job
// then holds one tree instead of two; saving gives the same bytes either way (the
// sheet still governs the output).
//
// Called by the thread that holds the three documents. Ownership: when the
// shortcut is taken the destination owns the source's former tree and the
// compiled sheet, and the source is left an empty document; otherwise nothing is
// touched. Failures: ComError (E_OUTOFMEMORY) only when the empty document for the
// source cannot be made, before anything moved.
#pragma once

#include <libxml/tree.h>
#include <libxslt/xsltInternals.h>

#include <memory>

#include "engine/libxml/document.hpp"

namespace zantrel::xml {

// True for exactly the identity copy: one template that copies every node and
// attribute, optionally one that drops an "xml" processing instruction, and any
// xsl:output. Such a sheet turns a document into a copy of itself.
bool IsIdentityStyleSheet(const xmlDoc* sheet);

// Takes the shortcut when it gives what the real transform would: the sheet is a
// copy, the result is saved as XML, the source is released, is another document
// than the destination, and holds no namespace and no document type. True when
// taken (the destination then shares the compiled sheet); false, with nothing
// changed, for the real transform.
bool HandOverInsteadOfCopying(Document& source, const Sheet& sheet, Document& destination,
                              SourceAfter sourceAfter);

// The encoding the sheet's xsl:output names, or null.
const xmlChar* OutputEncoding(const Sheet& sheet) noexcept;

}  // namespace zantrel::xml
