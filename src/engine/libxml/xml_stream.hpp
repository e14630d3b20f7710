// Inside the libxml2 back end, for reading comments as a stream
// (comment_stream.cpp): an input load that lets a caller see (and shrink) each
// element as the parser closes it, the namespace fact that decides whether a
// plain copy hands a tree over, raw access to a tree, and a save that lets the
// caller splice bytes into the serialised document.
//
// Internal to engine/libxml. Any thread that owns the documents.
// Ownership: documents stay with their handles; an observer owns nothing it sees.
// Failures: as Load and Save of the component (load answers false, save throws
// ComError); an exception thrown by an observer passes out of LoadObserved.
#pragma once

#include <libxml/tree.h>

#include <functional>
#include <string>
#include <string_view>

#include "engine/libxml/owners.hpp"
#include "engine/xml_component.hpp"

namespace zantrel::xml {

// An element's start tag as the parser reports it, before any node is made for
// it; valid during the call.
struct StartTag {
  const xmlChar* name;
  const xmlChar* prefix;
  int attributeCount;
  const xmlChar** attributes;  // five pointers per attribute: name, prefix, uri, value, value's end
  xmlNode* parent;             // what it would be a child of; null for the top element
};

// Called for every element of an input as its end tag is parsed, with the element
// still in the tree. It may free the element's content and attributes, or take the
// element out of the tree and free it when it is not its parent's first or last
// child. Trap: the parser keeps appending text to its current node's last child,
// so a text node must never become a last child behind its back.
//
// In an input whose bytes are UTF-8 as they stand, each start tag that uses no
// namespace is first offered to TakesAsSource: an element taken so gets no node, nor does anything in it; its
// source bytes, start tag to end tag, go to SourceEnded instead of ElementEnded.
// Anything but text inside it goes to SourceHoldsMore, which must throw.
class ElementEndObserver {
 public:
  virtual void ElementEnded(xmlNode* element) = 0;
  virtual bool TakesAsSource(const StartTag&) { return false; }
  virtual void SourceEnded(std::string_view) {}
  virtual void SourceHoldsMore() {}

 protected:
  ~ElementEndObserver() = default;
};

// Load with the input policy, the same parser, options and refusals as Load.
bool LoadObserved(const DocumentHandle& doc, const std::wstring& path, ElementEndObserver& observer);

// An element's source bytes as SourceEnded hands them over, parsed on their own
// with the options an input is read with, so the element is the one its input
// holds; null where they do not parse so (the caller then reads the input
// otherwise). Any thread.
DocPtr ParseSource(std::string_view source);

// A document parsed from bytes pushed to it piece by piece, as they become
// known: bytes this back end wrote itself, with no document type and no
// namespace. It accepts whatever the inputs held, however long their texts
// and values grow when written again (up to libxml2's 2 GiB per text, past which
// it fails as memory running out does); an empty CDATA section is an empty text,
// as in an input. Every blank text in them is kept, and small texts are kept inside
// their nodes, so the tree must not be edited: it is only read. One thread at a
// time, any thread. Push and Finish throw ComError when the bytes are no
// well-formed document (E_FAIL, naming `from`, the input the bytes came from, and
// the parser's words, also as its reason) or memory runs out.
class PushedDocument {
 public:
  explicit PushedDocument(const std::string& url);
  PushedDocument(const PushedDocument&) = delete;
  PushedDocument& operator=(const PushedDocument&) = delete;
  ~PushedDocument();

  void Push(std::string_view bytes, const std::wstring& from);
  DocumentHandle Finish(const std::wstring& from);

 private:
  ParserCtxtPtr ctxt_;
};

// True when the loaded document declares or uses no namespace anywhere: only such
// a source is handed over as it is by a plain-copy style sheet.
bool IsNamespaceFree(const DocumentHandle& doc) noexcept;

// The tree behind a handle (null for an empty handle). Valid while the handle
// holds it.
xmlDoc* Tree(const DocumentHandle& doc) noexcept;

// Save as the component saves a transform result, except that the document's
// serialised text (UTF-8, before the output encoding) goes through `splice`, which
// hands every piece of the final text to `write` in order.
using SpliceWrite = std::function<void(std::string_view)>;
using Splice = std::function<void(std::string_view serialised, const SpliceWrite& write)>;
void SaveSpliced(const DocumentHandle& doc, const std::wstring& path, const Splice& splice);

}  // namespace zantrel::xml
