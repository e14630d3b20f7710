// The caller's data slot and the modification stamps of documents, with the
// process-wide map that lets a node find its document's record to touch.
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "engine/msxml/document.hpp"

namespace zantrel::xml {
namespace {

std::atomic<std::uint64_t> g_lastStamp{0};

// Documents by the identity of their COM object, so that a node finds its record.
// Trap: no thread_local with a destructor here; MinGW's thread-exit clean-up of
// those has been seen to hang the program at exit under Wine.
std::mutex g_documentsMutex;
std::unordered_map<IUnknown*, Document*> g_documents;

IUnknown* Identity(IUnknown* object) {
  IUnknown* unknown = nullptr;
  if (object == nullptr || FAILED(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&unknown))))
    return nullptr;
  unknown->Release();  // the object stays alive through the caller's reference
  return unknown;
}

}  // namespace

void Document::Touch() noexcept { stamp = ++g_lastStamp; }

void RegisterDocument(Document& doc) {
  std::lock_guard<std::mutex> lock(g_documentsMutex);
  g_documents[Identity(doc.doc)] = &doc;
}

void ForgetDocument(const Document& doc) noexcept {
  if (!doc.doc) return;
  std::lock_guard<std::mutex> lock(g_documentsMutex);
  g_documents.erase(Identity(doc.doc));
}

void TouchOwner(IXMLDOMNode* node) {
  IXMLDOMDocumentPtr owner;
  if (FAILED(node->get_ownerDocument(&owner)) || !owner) return;
  IUnknown* identity = Identity(owner);
  std::lock_guard<std::mutex> lock(g_documentsMutex);
  const auto found = g_documents.find(identity);
  if (found != g_documents.end()) found->second->Touch();
}

void SetUserData(const DocumentHandle& handle, std::shared_ptr<void> data) {
  if (!handle) throw ComError(kEPointer);
  handle->userData = std::move(data);
}

std::shared_ptr<void> GetUserData(const DocumentHandle& handle) noexcept {
  return handle ? handle->userData : nullptr;
}

std::uint64_t ModificationStamp(const DocumentHandle& handle) noexcept { return handle ? handle->stamp : 0; }

}  // namespace zantrel::xml
