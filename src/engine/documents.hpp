// The engine's four document operations on top of the XML component.
//
// Worker thread of a job (any thread that owns the documents). Handles are owned by
// the caller; nothing is kept beyond a call. Failures throw: ComError from the
// component, CallTextError with the fixed text of the failing call (and, for a
// document that did not load, the component's reason, xml::LoadRefusal):
//   "pDoc.CreateInstance( __uuidof( MSXML2::DOMDocument ) )"  no document
//   "pDoc->load()[loadXML()]"                                 input not loaded
//   "pXslt.CreateInstance( __uuidof( MSXML2::DOMDocument ) )" no style sheet document
//   "pXslt->loadXML()"                                        style sheet not loaded
// Nothing is written to the log here.
#pragma once

#include <string>

#include "engine/xml_component.hpp"

namespace zantrel {

using xml::DocumentHandle;

// Releases what the handle held and creates an empty document; negative on failure.
inline HResult CreateDomDocument(DocumentHandle& doc) noexcept { return xml::CreateDocument(doc); }

// A path that names an existing entry is loaded as a file; any other text is
// parsed as XML itself.
void LoadDocument(const std::wstring& path, DocumentHandle& doc);

inline void SaveDocument(const DocumentHandle& doc, const std::wstring& path) { xml::Save(doc, path); }

// The style sheet at `styleSheetPath` (always a file) applied to `source`, the
// result in `destination`. An empty destination fails with E_POINTER. With
// SourceAfter::Released the source may be left empty.
void ApplyStyleSheet(const std::wstring& styleSheetPath, const DocumentHandle& source,
                     const DocumentHandle& destination,
                     xml::SourceAfter sourceAfter = xml::SourceAfter::Kept);

}  // namespace zantrel
