// The XML component on the system's COM XML component (MSXML2 DOMDocument).
//
// Every failed call raises the component's COM error with its error object where
// it offers one. Input documents prohibit DTDs and resolve nothing external; a
// document that still arrives with a document type is refused, since not every
// implementation honours the prohibition.
#include <atomic>
#include <functional>
#include <mutex>
#include <unordered_map>

#include "engine/file_io_win.hpp"
#include "engine/msxml/msxml_win.hpp"
#include "engine/xml_component.hpp"

namespace zantrel::xml {
namespace {

std::atomic<std::uint64_t> g_lastStamp{0};

}  // namespace

struct Document {
  IXMLDOMDocument2Ptr doc;
  std::uint64_t stamp = 0;
  std::shared_ptr<void> userData;
  void Touch() noexcept { stamp = ++g_lastStamp; }
};

namespace {

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

void Check(HRESULT hr, IUnknown* object, REFIID iid) {
  if (FAILED(hr)) ThrowComError(hr, object, iid);
}

Document& Require(const DocumentHandle& handle) {
  if (!handle || !handle->doc) throw ComError(kEPointer);
  return *handle;
}

IXMLDOMNode* Require(const Node& node) {
  if (!node) throw ComError(kEPointer);
  return static_cast<IXMLDOMNode*>(node.Impl());
}

IXMLDOMElementPtr RequireElement(const Node& node) {
  IXMLDOMElementPtr element;
  IXMLDOMNode* raw = Require(node);
  Check(raw->QueryInterface(__uuidof(IXMLDOMElement), reinterpret_cast<void**>(&element)), raw,
        __uuidof(IXMLDOMNode));
  return element;
}

void TouchOwner(IXMLDOMNode* node) {
  IXMLDOMDocumentPtr owner;
  if (FAILED(node->get_ownerDocument(&owner)) || !owner) return;
  IUnknown* identity = Identity(owner);
  std::lock_guard<std::mutex> lock(g_documentsMutex);
  const auto found = g_documents.find(identity);
  if (found != g_documents.end()) found->second->Touch();
}

}  // namespace

void DocumentDeleter::operator()(Document* doc) const noexcept {
  std::unique_ptr<Document> owned(doc);
  if (doc != nullptr && doc->doc) {
    std::lock_guard<std::mutex> lock(g_documentsMutex);
    g_documents.erase(Identity(doc->doc));
  }
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
    created->Touch();
    {
      std::lock_guard<std::mutex> lock(g_documentsMutex);
      g_documents[Identity(created->doc)] = created.get();
    }
    handle = DocumentHandle(created.release());
    return S_OK;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

namespace {

bool Parse(Document& d, LoadPolicy policy, const std::function<HRESULT(VARIANT_BOOL*)>& parse) {
  Check(d.doc->put_async(VARIANT_FALSE), d.doc, __uuidof(IXMLDOMDocument));
  if (policy == LoadPolicy::Input) {
    d.doc->setProperty(_bstr_t(L"ProhibitDTD"), _variant_t(true));
    d.doc->put_resolveExternals(VARIANT_FALSE);
  }
  VARIANT_BOOL ok = VARIANT_FALSE;
  Check(parse(&ok), d.doc, __uuidof(IXMLDOMDocument));
  d.Touch();
  if (ok != VARIANT_TRUE) return false;
  if (policy == LoadPolicy::Input) {
    IXMLDOMDocumentTypePtr doctype;
    if (SUCCEEDED(d.doc->get_doctype(&doctype)) && doctype) return false;
  }
  return true;
}

}  // namespace

bool Load(const DocumentHandle& handle, const std::wstring& path, LoadPolicy policy) {
  Document& d = Require(handle);
  return Parse(d, policy, [&](VARIANT_BOOL* ok) { return d.doc->load(_variant_t(path.c_str()), ok); });
}

bool LoadXml(const DocumentHandle& handle, const std::wstring& text, LoadPolicy policy) {
  Document& d = Require(handle);
  return Parse(d, policy, [&](VARIANT_BOOL* ok) { return d.doc->loadXML(_bstr_t(text.c_str()), ok); });
}

void Save(const DocumentHandle& handle, const std::wstring& path) {
  Document& d = Require(handle);
  // The component writes its own bytes to a temporary file, which then replaces
  // the target: a failed save leaves the old file as it was.
  ReplaceFileAtomically(path, [&](const std::wstring& temp) {
    Check(d.doc->save(_variant_t(temp.c_str())), d.doc, __uuidof(IXMLDOMDocument));
  });
}

void TransformNodeToObject(const DocumentHandle& sourceHandle, const DocumentHandle& styleHandle,
                           const DocumentHandle& destinationHandle, SourceAfter) {
  Document& source = Require(sourceHandle);
  Document& style = Require(styleHandle);
  Document& destination = Require(destinationHandle);
  IDispatch* dispatch = nullptr;
  if (FAILED(destination.doc->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))))
    throw CallTextError("pDocDest->QueryInterface( IID_IDispatch, (void **)&pDisp ) )");
  _variant_t output;
  output.vt = VT_DISPATCH;
  output.pdispVal = dispatch;  // the variant releases it
  Check(source.doc->transformNodeToObject(style.doc, output), source.doc, __uuidof(IXMLDOMNode));
  destination.Touch();
}

HResult GetDocumentElement(const DocumentHandle& handle, Node& root) {
  if (!handle || !handle->doc) return E_POINTER;
  IXMLDOMElement* element = nullptr;
  const HRESULT hr = handle->doc->get_documentElement(&element);
  if (FAILED(hr)) return hr;
  root = Node(static_cast<IXMLDOMNode*>(element));
  return hr;
}

Node SelectSingleNode(const Node& context, const std::wstring& xpath) {
  IXMLDOMNode* node = Require(context);
  IXMLDOMNode* found = nullptr;
  Check(node->selectSingleNode(_bstr_t(xpath.c_str()), &found), node, __uuidof(IXMLDOMNode));
  return Node(found);
}

namespace {

// The component's list of descendant elements of that name, and its length.
IXMLDOMNodeListPtr ElementList(const Node& element, const std::wstring& name, long& length) {
  IXMLDOMElementPtr e = RequireElement(element);
  IXMLDOMNodeListPtr list;
  Check(e->getElementsByTagName(_bstr_t(name.c_str()), &list), e, __uuidof(IXMLDOMElement));
  if (!list) throw CallTextError("[pNodeListComment]getElementsByTagName( \"chat\" )");
  Check(list->get_length(&length), list, __uuidof(IXMLDOMNodeList));
  return list;
}

}  // namespace

std::vector<Node> GetElementsByTagName(const Node& element, const std::wstring& name) {
  long length = 0;
  IXMLDOMNodeListPtr list = ElementList(element, name, length);
  // Trap: real component lists may be live; this snapshot is what callers walk.
  std::vector<Node> nodes;
  nodes.reserve(static_cast<std::size_t>(length));
  for (;;) {
    IXMLDOMNode* next = nullptr;
    Check(list->nextNode(&next), list, __uuidof(IXMLDOMNodeList));
    if (next == nullptr) break;
    nodes.emplace_back(next);
  }
  return nodes;
}

Node GetLastElementByTagName(const Node& element, const std::wstring& name) {
  long length = 0;
  IXMLDOMNodeListPtr list = ElementList(element, name, length);
  if (length == 0) return Node();
  IXMLDOMNode* last = nullptr;
  Check(list->get_item(length - 1, &last), list, __uuidof(IXMLDOMNodeList));
  return Node(last);
}

void AppendChild(const Node& parentNode, const Node& childNode) {
  IXMLDOMNode* parent = Require(parentNode);
  IXMLDOMNode* child = Require(childNode);
  TouchOwner(child);
  IXMLDOMNodePtr appended;
  Check(parent->appendChild(child, &appended), parent, __uuidof(IXMLDOMNode));
  TouchOwner(parent);
}

void RemoveChild(const Node& parentNode, const Node& childNode) {
  IXMLDOMNode* parent = Require(parentNode);
  IXMLDOMNode* child = Require(childNode);
  TouchOwner(parent);
  IXMLDOMNodePtr removed;
  Check(parent->removeChild(child, &removed), parent, __uuidof(IXMLDOMNode));
}

void RemoveFromParent(const Node& node) {
  IXMLDOMNode* raw = Require(node);
  IXMLDOMNode* parent = nullptr;
  Check(raw->get_parentNode(&parent), raw, __uuidof(IXMLDOMNode));
  if (parent == nullptr) throw ComError(kEInvalidArg);
  RemoveChild(Node(parent), node);  // the Node takes over the reference
}

bool HasChildElements(const Node& node) {
  IXMLDOMNode* raw = Require(node);
  IXMLDOMNodePtr child;
  Check(raw->selectSingleNode(_bstr_t(L"*"), &child), raw, __uuidof(IXMLDOMNode));
  return child != nullptr;
}

void SetUserData(const DocumentHandle& handle, std::shared_ptr<void> data) {
  if (!handle) throw ComError(kEPointer);
  handle->userData = std::move(data);
}

std::shared_ptr<void> GetUserData(const DocumentHandle& handle) noexcept {
  return handle ? handle->userData : nullptr;
}

std::uint64_t ModificationStamp(const DocumentHandle& handle) noexcept { return handle ? handle->stamp : 0; }

Node AsElement(const Node& node) {
  if (!node) return Node();
  IXMLDOMNode* raw = Require(node);
  IXMLDOMElement* element = nullptr;
  const HRESULT hr = raw->QueryInterface(__uuidof(IXMLDOMElement), reinterpret_cast<void**>(&element));
  if (hr == E_NOINTERFACE) return Node();
  Check(hr, raw, __uuidof(IXMLDOMNode));
  return Node(static_cast<IXMLDOMNode*>(element));
}

bool GetAttribute(const Node& element, const std::wstring& name, std::wstring& value) {
  IXMLDOMElementPtr e = RequireElement(element);
  _variant_t result;
  Check(e->getAttribute(_bstr_t(name.c_str()), &result), e, __uuidof(IXMLDOMElement));
  if (result.vt != VT_BSTR) return false;
  value = result.bstrVal == nullptr ? std::wstring() : std::wstring(result.bstrVal, SysStringLen(result.bstrVal));
  return true;
}

void SetAttribute(const Node& element, const std::wstring& name, const std::wstring& value) {
  IXMLDOMElementPtr e = RequireElement(element);
  TouchOwner(e);
  Check(e->setAttribute(_bstr_t(name.c_str()), _variant_t(value.c_str())), e, __uuidof(IXMLDOMElement));
}

}  // namespace zantrel::xml
