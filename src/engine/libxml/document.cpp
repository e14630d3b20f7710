// Documents and nodes of the libxml2 back end: their handles, creation, the root.
#include "engine/libxml/document.hpp"

#include "engine/libxml/library_setup.hpp"

namespace zantrel::xml {

void DocumentDeleter::operator()(Document* doc) const noexcept {
  std::unique_ptr<Document> owned(doc);
}

Node::Node(void* impl) noexcept : impl_(impl) {}
Node::Node(const Node& other) noexcept = default;
Node::Node(Node&& other) noexcept : impl_(other.impl_) { other.impl_ = nullptr; }
Node& Node::operator=(Node other) noexcept {
  std::swap(impl_, other.impl_);
  return *this;
}
Node::~Node() = default;

bool DocumentsMoveBetweenThreads() noexcept { return true; }

HResult CreateDocument(DocumentHandle& handle) noexcept {
  handle.reset();
  try {
    InitLibraries();
    DocPtr doc(xmlNewDoc(BAD_CAST "1.0"));
    if (!doc) return kEOutOfMemory;
    auto created = std::make_unique<Document>();
    created->Reset(std::move(doc), nullptr, true);
    handle = DocumentHandle(created.release());
    return kSOk;
  } catch (...) {
    return kEOutOfMemory;
  }
}

HResult GetDocumentElement(const DocumentHandle& handle, Node& root) {
  if (!handle || !handle->doc) return kEPointer;
  root = Node(xmlDocGetRootElement(handle->doc.get()));
  return kSOk;
}

}  // namespace zantrel::xml
