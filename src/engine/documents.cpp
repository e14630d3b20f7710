#include "engine/documents.hpp"

#include "base/paths.hpp"

namespace zantrel {

void LoadDocument(const std::wstring& path, DocumentHandle& doc, const StopFlag* stop) {
  if (CreateDomDocument(doc) < 0) throw CallTextError(kNoDocument);
  const bool loaded = PathExists(path) ? xml::Load(doc, path, xml::LoadPolicy::Input, stop)
                                       : xml::LoadXml(doc, path, xml::LoadPolicy::Input);
  if (!loaded) throw CallTextError(kNotLoaded, xml::LoadRefusal(doc));
}

StyleSheet::StyleSheet(const std::wstring& path) noexcept {
  try {
    DocumentHandle doc;
    if (CreateDomDocument(doc) < 0)
      throw CallTextError("pXslt.CreateInstance( __uuidof( MSXML2::DOMDocument ) )");
    if (!xml::Load(doc, path, xml::LoadPolicy::StyleSheet))
      // Worded so, although the call is a file load.
      throw CallTextError("pXslt->loadXML()", xml::LoadRefusal(doc));
    try {
      sheet_ = xml::PrepareStyleSheet(std::move(doc));
    } catch (...) {
      prepareFailure_ = std::current_exception();
    }
  } catch (...) {
    loadFailure_ = std::current_exception();
  }
}

bool StyleSheet::CopiesItsSource() const noexcept { return sheet_ && xml::CopiesItsSource(*sheet_); }

void ApplyStyleSheet(const StyleSheet& sheet, const DocumentHandle& source, const DocumentHandle& destination,
                     xml::SourceAfter sourceAfter) {
  if (sheet.loadFailure_) std::rethrow_exception(sheet.loadFailure_);
  if (!destination) throw ComError(kEPointer);
  if (sheet.prepareFailure_) std::rethrow_exception(sheet.prepareFailure_);
  xml::TransformNodeToObject(source, *sheet.sheet_, destination, sourceAfter);
}

void ApplyStyleSheet(const std::wstring& styleSheetPath, const DocumentHandle& source,
                     const DocumentHandle& destination, xml::SourceAfter sourceAfter) {
  ApplyStyleSheet(StyleSheet(styleSheetPath), source, destination, sourceAfter);
}

}  // namespace zantrel
