// The engine's document operations on top of the XML component.
//
// Worker thread of a job (any thread that owns the documents). Handles are owned by
// the caller; nothing is kept beyond a call but the prepared style sheet. Failures
// throw: ComError from the component, CallTextError with the fixed text of the
// failing call (and, for a document that did not load, the component's reason,
// xml::LoadRefusal):
//   "pDoc.CreateInstance( __uuidof( MSXML2::DOMDocument ) )"  no document
//   "pDoc->load()[loadXML()]"                                 input not loaded
//   "pXslt.CreateInstance( __uuidof( MSXML2::DOMDocument ) )" no style sheet document
//   "pXslt->loadXML()"                                        style sheet not loaded
// Nothing is written to the log here.
#pragma once

#include <exception>
#include <string>

#include "engine/xml_component.hpp"

namespace zantrel {

using xml::DocumentHandle;

inline constexpr char kNoDocument[] = "pDoc.CreateInstance( __uuidof( MSXML2::DOMDocument ) )";
inline constexpr char kNotLoaded[] = "pDoc->load()[loadXML()]";

// Releases what the handle held and creates an empty document; negative on failure.
inline HResult CreateDomDocument(DocumentHandle& doc) noexcept { return xml::CreateDocument(doc); }

// A path that names an existing entry is loaded as a file; any other text is
// parsed as XML itself. A load stopped by `stop` fails like a malformed file.
void LoadDocument(const std::wstring& path, DocumentHandle& doc, const StopFlag* stop = nullptr);

inline void SaveDocument(const DocumentHandle& doc, const std::wstring& path) { xml::Save(doc, path); }

// A job's style sheet, read from its file and made ready once, when the job
// starts. What fails on the way is kept and thrown where the sheet is applied,
// with the text it has there, so a job reports it at its transform step. One
// thread at a time.
class StyleSheet {
 public:
  explicit StyleSheet(const std::wstring& path) noexcept;
  // Ready, and a plain copy of its source.
  bool CopiesItsSource() const noexcept;
  // The ready sheet, or null when it failed.
  const xml::Sheet* Ready() const noexcept { return sheet_.get(); }

 private:
  friend void ApplyStyleSheet(const StyleSheet&, const DocumentHandle&, const DocumentHandle&, xml::SourceAfter);
  xml::SheetHandle sheet_;
  std::exception_ptr loadFailure_;     // not created or not loaded
  std::exception_ptr prepareFailure_;  // loaded, but no sheet that can be applied
};

// The style sheet applied to `source`, the result in `destination`. An empty
// destination fails with E_POINTER. With SourceAfter::Released the source may be
// left empty.
void ApplyStyleSheet(const StyleSheet& sheet, const DocumentHandle& source, const DocumentHandle& destination,
                     xml::SourceAfter sourceAfter = xml::SourceAfter::Kept);
// The same with the sheet at `styleSheetPath` (always a file), read for this call.
void ApplyStyleSheet(const std::wstring& styleSheetPath, const DocumentHandle& source,
                     const DocumentHandle& destination,
                     xml::SourceAfter sourceAfter = xml::SourceAfter::Kept);

}  // namespace zantrel
