// Style sheets and saving: the real transform, under security preferences that
// forbid writing files, creating folders and any network access, and Save, which
// writes a transform result as its sheet's xsl:output says.
#include <libxml/encoding.h>
#include <libxml/xmlIO.h>
#include <libxml/xmlsave.h>
#include <libxslt/imports.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>

#include <memory>
#include <string_view>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "engine/file_io.hpp"
#include "engine/libxml/copy_sheet_shortcut.hpp"
#include "engine/libxml/document.hpp"
#include "engine/libxml/error_scope.hpp"
#include "engine/libxml/owners.hpp"
#include "engine/libxml/xml_stream.hpp"

namespace zantrel::xml {
namespace {

// Style sheets recursing without end stop here instead of exhausting the stack.
constexpr int kMaxTemplateDepth = 1000;

// Hands libxml2's output pieces to the file sink; a failed write ends the output.
int WriteToSink(void* context, const char* buffer, int length) noexcept {
  const auto& sink = *static_cast<const ByteSink*>(context);
  try {
    return sink(std::string_view(buffer, static_cast<std::size_t>(length))) ? length : -1;
  } catch (...) {
    return -1;  // called from inside libxml2: nothing may leave
  }
}

}  // namespace

void SaveSpliced(const DocumentHandle& handle, const std::wstring& path, const Splice& splice) {
  Document& doc = Require(handle);
  ErrorScope errors;
  // Streamed into the temporary file: no second copy of a large output in memory.
  WriteFileAtomically(path, [&](const ByteSink& sink) {
    xmlCharEncodingHandlerPtr encoder = nullptr;
    const xmlChar* encoding = nullptr;
    if (doc.outputStyle) {
      XSLT_GET_IMPORT_PTR(encoding, doc.outputStyle.get(), encoding)
    }
    if (encoding != nullptr && xmlStrcasecmp(encoding, BAD_CAST "UTF-8") != 0) {
      encoder = xmlFindCharEncodingHandler(reinterpret_cast<const char*>(encoding));
      if (encoder == nullptr) throw ComError(kEFail, L"unknown output encoding");
    }
    OutputBufferPtr out(xmlOutputBufferCreateIO(&WriteToSink, nullptr,
                                                const_cast<ByteSink*>(&sink), encoder));
    if (!out) {
      if (encoder != nullptr) xmlCharEncCloseFunc(encoder);  // not yet owned by a buffer
      throw ComError(kEOutOfMemory);
    }
    int status = 0;
    if (splice && doc.outputStyle) {
      // The text as the sheet serialises it, still UTF-8: escaping does not depend
      // on the buffer's encoder, so encoding the spliced text gives the same bytes.
      OutputBufferPtr text(xmlAllocOutputBuffer(nullptr));
      if (!text) throw ComError(kEOutOfMemory);
      status = xsltSaveResultTo(text.get(), doc.doc.get(), doc.outputStyle.get());
      if (status >= 0 && text->error == 0) {
        const std::string_view serialised(reinterpret_cast<const char*>(xmlOutputBufferGetContent(text.get())),
                                          xmlOutputBufferGetSize(text.get()));
        splice(serialised, [&](std::string_view piece) {
          if (xmlOutputBufferWrite(out.get(), static_cast<int>(piece.size()), piece.data()) < 0)
            throw errors.Failure(L"the document could not be written");
        });
      } else {
        status = -1;
      }
      if (xmlOutputBufferClose(out.release()) < 0) status = -1;
    } else if (doc.outputStyle) {
      status = xsltSaveResultTo(out.get(), doc.doc.get(), doc.outputStyle.get());
      // Closing flushes; its result tells whether every piece reached the sink.
      if (xmlOutputBufferClose(out.release()) < 0) status = -1;
    } else {
      status = xmlSaveFormatFileTo(out.release(), doc.doc.get(), "UTF-8", 1);  // closes it itself
    }
    if (status < 0) throw errors.Failure(L"the document could not be written");
  });
}

void Save(const DocumentHandle& handle, const std::wstring& path) { SaveSpliced(handle, path, nullptr); }

namespace {

// What libxslt said, and where, as the log's description and as the reason (none
// when memory ran out: that is the machine's failure, not the sheet's).
ComError SheetFailure(const ErrorScope& errors, const xmlDoc* sheet, const wchar_t* what) {
  if (errors.OutOfMemory()) return errors.Failure(what);
  const xmlChar* url = sheet == nullptr ? nullptr : sheet->URL;
  const std::wstring name =
      url == nullptr ? L"" : GetFileNamePart(NativeToWide(reinterpret_cast<const char*>(url)));
  return errors.Failure(what).WithReason(errors.Reason(name, WideToUtf8(what).c_str()));
}

}  // namespace

void SheetDeleter::operator()(Sheet* sheet) const noexcept { std::unique_ptr<Sheet> owned(sheet); }

SheetHandle PrepareStyleSheet(DocumentHandle styleHandle) {
  Document& styleDoc = Require(styleHandle);
  ErrorScope errors;
  SheetHandle sheet(std::make_unique<Sheet>().release());
  sheet->copies = IsIdentityStyleSheet(styleDoc.doc.get());
  // The compiled sheet takes its document over and rewrites it.
  StylesheetPtr compiled(xsltParseStylesheetDoc(styleDoc.doc.get()));
  if (!compiled) throw SheetFailure(errors, styleDoc.doc.get(), L"the style sheet is not valid XSLT");
  (void)styleDoc.doc.release();  // owned by the compiled sheet from here on
  sheet->compiled.reset(compiled.release(), StylesheetPtr::deleter_type());
  return sheet;
}

bool CopiesItsSource(const Sheet& sheet) noexcept { return sheet.copies; }

void TransformNodeToObject(const DocumentHandle& sourceHandle, const Sheet& sheet,
                           const DocumentHandle& destinationHandle, SourceAfter sourceAfter) {
  Document& source = Require(sourceHandle);
  Document& destination = Require(destinationHandle);
  ErrorScope errors;
  std::shared_ptr<xsltStylesheet> style = sheet.compiled;

  // A copy sheet on a source nobody reads again takes the tree instead.
  if (HandOverInsteadOfCopying(source, sheet, destination, sourceAfter)) return;

  SecurityPrefsPtr prefs(xsltNewSecurityPrefs());
  if (!prefs) throw ComError(kEOutOfMemory);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);

  // Trap: xsl:strip-space removes blank text from the source itself. A source the
  // caller keeps is transformed as a copy then.
  DocPtr sourceCopy;
  xmlDoc* input = source.doc.get();
  if (sourceAfter == SourceAfter::Kept && (style->stripSpaces != nullptr || style->stripAll != 0)) {
    sourceCopy.reset(xmlCopyDoc(input, 1));
    if (!sourceCopy) throw ComError(kEOutOfMemory);
    input = sourceCopy.get();
  }
  TransformCtxtPtr ctxt(xsltNewTransformContext(style.get(), input));
  if (!ctxt) throw ComError(kEOutOfMemory);
  if (xsltSetCtxtSecurityPrefs(prefs.get(), ctxt.get()) != 0) throw ComError(kEFail);
  ctxt->maxTemplateDepth = kMaxTemplateDepth;
  ctxt->parserOptions |= XML_PARSE_NONET;

  DocPtr result(xsltApplyStylesheetUser(style.get(), input, nullptr, nullptr, nullptr, ctxt.get()));
  // Trap: libxslt may leave out what it could not allocate and still finish.
  if (!result || ctxt->state != XSLT_STATE_OK || errors.OutOfMemory())
    throw SheetFailure(errors, style->doc, L"the style sheet could not be applied");
  destination.Reset(std::move(result), std::move(style));
}

}  // namespace zantrel::xml
