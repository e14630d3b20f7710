#include "engine/documents.hpp"

#include "base/paths.hpp"

namespace zantrel {

void LoadDocument(const std::wstring& path, DocumentHandle& doc) {
  if (CreateDomDocument(doc) < 0)
    throw CallTextError("pDoc.CreateInstance( __uuidof( MSXML2::DOMDocument ) )");
  const bool loaded = PathExists(path) ? xml::Load(doc, path, xml::LoadPolicy::Input)
                                       : xml::LoadXml(doc, path, xml::LoadPolicy::Input);
  if (!loaded) throw CallTextError("pDoc->load()[loadXML()]", xml::LoadRefusal(doc));
}

void ApplyStyleSheet(const std::wstring& styleSheetPath, const DocumentHandle& source,
                     const DocumentHandle& destination, xml::SourceAfter sourceAfter) {
  DocumentHandle styleSheet;
  if (CreateDomDocument(styleSheet) < 0)
    throw CallTextError("pXslt.CreateInstance( __uuidof( MSXML2::DOMDocument ) )");
  if (!xml::Load(styleSheet, styleSheetPath, xml::LoadPolicy::StyleSheet))
    // Worded so, although the call is a file load.
    throw CallTextError("pXslt->loadXML()", xml::LoadRefusal(styleSheet));
  if (!destination) throw ComError(kEPointer);
  xml::TransformNodeToObject(source, styleSheet, destination, sourceAfter);
}

}  // namespace zantrel
