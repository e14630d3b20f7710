// Tree operations of the COM back end: selecting a node, the element lists,
// moving and removing nodes, attributes.
#include <string>
#include <vector>

#include "engine/msxml/document.hpp"

namespace zantrel::xml {
namespace {

IXMLDOMElementPtr RequireElement(const Node& node) {
  IXMLDOMElementPtr element;
  IXMLDOMNode* raw = Require(node);
  Check(raw->QueryInterface(__uuidof(IXMLDOMElement), reinterpret_cast<void**>(&element)), raw,
        __uuidof(IXMLDOMNode));
  return element;
}

}  // namespace

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
  IXMLDOMNodePtr appended;
  Check(parent->appendChild(child, &appended), parent, __uuidof(IXMLDOMNode));
}

void RemoveChild(const Node& parentNode, const Node& childNode) {
  IXMLDOMNode* parent = Require(parentNode);
  IXMLDOMNode* child = Require(childNode);
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
  Check(e->setAttribute(_bstr_t(name.c_str()), _variant_t(value.c_str())), e, __uuidof(IXMLDOMElement));
}

}  // namespace zantrel::xml
