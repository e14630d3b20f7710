// Loading, saving and transforming with the COM component. Input documents
// prohibit DTDs and resolve nothing external; a document that still arrives with
// a document type is refused, since not every implementation honours the
// prohibition.
#include <functional>
#include <string>

#include "engine/file_io_win.hpp"
#include "engine/msxml/document.hpp"

namespace zantrel::xml {
namespace {

bool Parse(Document& d, LoadPolicy policy, const std::function<HRESULT(VARIANT_BOOL*)>& parse) {
  Check(d.doc->put_async(VARIANT_FALSE), d.doc, __uuidof(IXMLDOMDocument));
  if (policy == LoadPolicy::Input) {
    d.doc->setProperty(_bstr_t(L"ProhibitDTD"), _variant_t(true));
    d.doc->put_resolveExternals(VARIANT_FALSE);
  }
  VARIANT_BOOL ok = VARIANT_FALSE;
  Check(parse(&ok), d.doc, __uuidof(IXMLDOMDocument));
  if (ok != VARIANT_TRUE) return false;
  if (policy == LoadPolicy::Input) {
    IXMLDOMDocumentTypePtr doctype;
    if (SUCCEEDED(d.doc->get_doctype(&doctype)) && doctype) return false;
  }
  return true;
}

}  // namespace

// The component reads a file in one call: there is no element to stop at (and no
// helper thread to stop, as documents stay on their thread).
bool Load(const DocumentHandle& handle, const std::wstring& path, LoadPolicy policy, const StopFlag*) {
  Document& d = Require(handle);
  return Parse(d, policy, [&](VARIANT_BOOL* ok) { return d.doc->load(_variant_t(path.c_str()), ok); });
}

bool LoadXml(const DocumentHandle& handle, const std::wstring& text, LoadPolicy policy) {
  Document& d = Require(handle);
  return Parse(d, policy, [&](VARIANT_BOOL* ok) { return d.doc->loadXML(_bstr_t(text.c_str()), ok); });
}

// Under Wine the parse error is generic, and the Windows program has no channel
// for a reason beside its log.
std::wstring LoadRefusal(const DocumentHandle&) { return {}; }

void Save(const DocumentHandle& handle, const std::wstring& path) {
  Document& d = Require(handle);
  // The component writes its own bytes to a temporary file, which then replaces
  // the target: a failed save leaves the old file as it was.
  ReplaceFileAtomically(path, [&](const std::wstring& temp) {
    Check(d.doc->save(_variant_t(temp.c_str())), d.doc, __uuidof(IXMLDOMDocument));
  });
}

void SheetDeleter::operator()(Sheet* sheet) const noexcept { std::unique_ptr<Sheet> owned(sheet); }

// The component compiles a sheet within each transform: a ready sheet is its
// loaded document.
SheetHandle PrepareStyleSheet(DocumentHandle styleSheet) {
  (void)Require(styleSheet);
  SheetHandle sheet(std::make_unique<Sheet>().release());
  sheet->doc = std::move(styleSheet);
  return sheet;
}

// No copy is handed over here: every transform runs.
bool CopiesItsSource(const Sheet&) noexcept { return false; }

void TransformNodeToObject(const DocumentHandle& sourceHandle, const Sheet& sheet,
                           const DocumentHandle& destinationHandle, SourceAfter) {
  Document& source = Require(sourceHandle);
  Document& style = Require(sheet.doc);
  Document& destination = Require(destinationHandle);
  IDispatch* dispatch = nullptr;
  if (FAILED(destination.doc->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
    throw CallTextError("pDocDest->QueryInterface( IID_IDispatch, (void **)&pDisp ) )");
  _variant_t output;
  output.vt = VT_DISPATCH;
  output.pdispVal = dispatch;  // the variant releases it
  Check(source.doc->transformNodeToObject(style.doc, output), source.doc, __uuidof(IXMLDOMNode));
}

}  // namespace zantrel::xml
