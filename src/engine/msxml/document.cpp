// Documents and nodes of the COM back end: their handles and creation.
#include "engine/msxml/document.hpp"

#include <utility>

namespace zantrel::xml {

void DocumentDeleter::operator()(Document* doc) const noexcept {
  std::unique_ptr<Document> owned(doc);
}

Node::Node(void* impl) noexcept : impl_(impl) {}
Node::Node(const Node& other) noexcept : impl_(other.impl_) {
  if (impl_ != nullptr) static_cast<IXMLDOMNode*>(impl_)->AddRef();
}
Node::Node(Node&& other) noexcept : impl_(other.impl_) { other.impl_ = nullptr; }
Node& Node::operator=(Node other) noexcept {
  std::swap(impl_, other.impl_);
  return *this;
}
Node::~Node() {
  if (impl_ != nullptr) static_cast<IXMLDOMNode*>(impl_)->Release();
}

// The component's documents live in their thread's apartment.
bool DocumentsMoveBetweenThreads() noexcept { return false; }

HResult CreateDocument(DocumentHandle& handle) noexcept {
  handle.reset();
  try {
    IUnknown* raw = nullptr;
    HRESULT hr = CoCreateInstance(kClsidDomDocument, nullptr, 7, IID_IUnknown, reinterpret_cast<void**>(&raw));
    if (FAILED(hr)) return hr;
    IUnknownPtr unknown(raw, false);
    hr = OleRun(unknown);
    if (FAILED(hr)) return hr;
    auto created = std::make_unique<Document>();
    hr = unknown->QueryInterface(__uuidof(IXMLDOMDocument2), reinterpret_cast<void**>(&created->doc));
    if (FAILED(hr)) return hr;
    // Selections are XPath, as the facade promises ("/packet" reads the same).
    created->doc->setProperty(_bstr_t(L"SelectionLanguage"), _variant_t(L"XPath"));
    handle = DocumentHandle(created.release());
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

}  // namespace zantrel::xml
