// The record behind a DocumentHandle of the COM back end, and the checks and error
// raising every component call uses. Internal to engine/msxml.
//
// Threads: a record and its nodes stay on the thread (apartment) that created
// them. Ownership: the record holds one reference to the component's document; a
// Node holds one reference to its node. Failures: every failed call raises the
// component's COM error with its error object where it offers one (Check);
// E_POINTER for an empty handle or node.
#pragma once

#include <cstdint>
#include <memory>

#include "engine/errors.hpp"
#include "engine/msxml/com_interfaces.hpp"
#include "engine/xml_component.hpp"

namespace zantrel::xml {

struct Document {
  IXMLDOMDocument2Ptr doc;
};

struct Sheet {
  DocumentHandle doc;
};

inline void Check(HRESULT hr, IUnknown* object, REFIID iid) {
  if (FAILED(hr)) ThrowComError(hr, object, iid);
}

inline Document& Require(const DocumentHandle& handle) {
  if (!handle || !handle->doc) throw ComError(kEPointer);
  return *handle;
}

inline IXMLDOMNode* Require(const Node& node) {
  if (!node) throw ComError(kEPointer);
  return static_cast<IXMLDOMNode*>(node.Impl());
}

}  // namespace zantrel::xml
