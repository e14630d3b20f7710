// The XML component as the program uses it: documents, XPath selection of one
// node, the chat list, moving and removing nodes, attributes, load, save and XSLT.
// Two back ends implement it: libxml2 + libxslt (engine/libxml/) and the system
// COM component (engine/msxml/).
//
// Threads: a document and its nodes are used on the thread that created them,
// unless DocumentsMoveBetweenThreads(): then a document may be handed to another
// thread, used by one thread at a time.
// Ownership: a DocumentHandle owns its document; a Node is a handle that stays valid
// while its document lives (the COM back end counts references, libxml2's does not:
// never keep a Node past its document or past its own removal).
// Failures: a failed component call throws ComError (E_POINTER for a call on an
// empty handle); load answers false; nothing is written to the log here.
//
// Hostile input: Load refuses any document that carries a DTD, resolves nothing
// external and reaches no network. Style sheets may read local files (document(),
// xsl:include) but may not write files, create folders or use the network.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/read_ahead.hpp"
#include "engine/errors.hpp"

namespace zantrel::xml {

struct Document;
struct DocumentDeleter {
  void operator()(Document* doc) const noexcept;
};
using DocumentHandle = std::unique_ptr<Document, DocumentDeleter>;

class Node {
 public:
  Node() noexcept = default;
  explicit Node(void* impl) noexcept;  // back end only: adopts one reference
  Node(const Node& other) noexcept;
  Node(Node&& other) noexcept;
  Node& operator=(Node other) noexcept;
  ~Node();

  explicit operator bool() const noexcept { return impl_ != nullptr; }
  void* Impl() const noexcept { return impl_; }

 private:
  void* impl_ = nullptr;
};

// True when a document made on one thread may be used on another (libxml2); false
// where documents are bound to their thread's apartment (COM).
bool DocumentsMoveBetweenThreads() noexcept;

// What a document is loaded for: inputs get the strict policy.
enum class LoadPolicy { Input, StyleSheet };

// Releases what the handle held and creates a fresh empty document into it.
// Returns a negative code, with the handle empty, on failure.
HResult CreateDocument(DocumentHandle& handle) noexcept;

// Parses a file / a text into the document. False when it is not well-formed, is
// refused by the policy, or cannot be read (a directory, no rights); also when
// `stop` was raised while it was read (the back end may look at it between
// elements).
bool Load(const DocumentHandle& doc, const std::wstring& path, LoadPolicy policy,
          const StopFlag* stop = nullptr);
bool LoadXml(const DocumentHandle& doc, const std::wstring& text, LoadPolicy policy);
// After a load into the document answered false, why, as one line for a person:
// "b.xml:1:95: " and the parser's message, or the file name and the program's
// own reason ("b.xml: not a regular file"). Empty where the component does not
// say (the COM back end).
std::wstring LoadRefusal(const DocumentHandle& doc);

// Writes the document to the path (a transform result as its style sheet's
// xsl:output says). All or nothing: a failed save leaves the old file untouched.
void Save(const DocumentHandle& doc, const std::wstring& path);

// What the caller does with the source after a transform.
enum class SourceAfter {
  Kept,      // the source stays as it was
  Released,  // the caller never reads it again: the component may take its tree
             // (left as an empty document) instead of copying it
};

// A style sheet made ready once, for any number of transforms.
struct Sheet;
struct SheetDeleter {
  void operator()(Sheet* sheet) const noexcept;
};
using SheetHandle = std::unique_ptr<Sheet, SheetDeleter>;

// Makes a loaded style sheet document ready to apply, taking it over. Throws
// ComError, as a transform with it would, when it is no style sheet that can be
// applied.
SheetHandle PrepareStyleSheet(DocumentHandle styleSheet);

// True when the sheet turns every document into a copy of itself.
bool CopiesItsSource(const Sheet& sheet) noexcept;

// The style sheet applied to the source, the result placed in the destination.
void TransformNodeToObject(const DocumentHandle& source, const Sheet& styleSheet,
                           const DocumentHandle& destination,
                           SourceAfter sourceAfter = SourceAfter::Kept);

// The root element into `root` (empty when the document has none). A negative
// result means the component failed to answer.
HResult GetDocumentElement(const DocumentHandle& doc, Node& root);

// First node that the XPath expression selects from `context`, or an empty Node.
Node SelectSingleNode(const Node& context, const std::wstring& xpath);

// Every descendant element of that name, in document order: a snapshot that stays
// valid while its nodes are moved or removed.
std::vector<Node> GetElementsByTagName(const Node& element, const std::wstring& name);

// The last descendant element of that name in document order, or an empty Node:
// the item at length - 1 of the same list, found without walking all of it.
Node GetLastElementByTagName(const Node& element, const std::wstring& name);

// Moves `child` (of this or another document) to the end of `parent`.
void AppendChild(const Node& parent, const Node& child);
// Removes a direct child; anything else fails with a ComError. The removed node is
// gone: `child` must not be used afterwards. Elements inside it that a snapshot
// still names stay readable until the document goes.
void RemoveChild(const Node& parent, const Node& child);

// Takes the node out of its parent, wherever that is, like RemoveChild.
void RemoveFromParent(const Node& node);

// True when the node has an element among its children.
bool HasChildElements(const Node& node);

// The node as an element, or an empty Node when it is none.
Node AsElement(const Node& node);
// False when the attribute is absent.
bool GetAttribute(const Node& element, const std::wstring& name, std::wstring& value);
void SetAttribute(const Node& element, const std::wstring& name, const std::wstring& value);

}  // namespace zantrel::xml
