// Tree operations of the libxml2 back end: selecting a node, the element lists,
// moving and removing elements, attributes.
#include <libxml/tree.h>
#include <libxml/xpath.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "engine/libxml/document.hpp"
#include "engine/libxml/error_scope.hpp"
#include "engine/libxml/owners.hpp"
#include "base/text.hpp"

namespace zantrel::xml {
namespace {

// "/a/b/c": an absolute path of plain element names. Its first match is found by
// walking children in order, without listing every match as XPath would (a
// merged document's root has a child per comment).
std::optional<std::vector<std::string>> SimpleAbsolutePath(const std::string& expr) {
  if (expr.size() < 2 || expr[0] != '/') return std::nullopt;
  std::vector<std::string> steps;
  std::size_t start = 1;
  for (std::size_t i = 1; i <= expr.size(); ++i) {
    if (i < expr.size() && expr[i] != '/') {
      const char c = expr[i];
      const bool nameChar = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
                            (i > start && ((c >= '0' && c <= '9') || c == '-' || c == '.'));
      if (!nameChar) return std::nullopt;
      continue;
    }
    if (i == start) return std::nullopt;  // "//" or a trailing "/"
    steps.push_back(expr.substr(start, i - start));
    start = i + 1;
  }
  return steps;
}

bool IsPlainElementNamed(const xmlNode* n, const std::string& name) {
  return n->type == XML_ELEMENT_NODE && n->ns == nullptr && xmlStrEqual(n->name, Bytes(name));
}

// Depth-first in document order: the first node matching every step.
xmlNode* FirstMatch(xmlNode* parent, const std::vector<std::string>& steps, std::size_t step) {
  for (xmlNode* c = parent->children; c != nullptr; c = c->next) {
    if (!IsPlainElementNamed(c, steps[step])) continue;
    if (step + 1 == steps.size()) return c;
    if (xmlNode* found = FirstMatch(c, steps, step + 1)) return found;
  }
  return nullptr;
}

}  // namespace

Node SelectSingleNode(const Node& context, const std::wstring& xpath) {
  xmlNode* node = Require(context);
  const std::string expr = WideToUtf8(xpath);
  // Names without a prefix match elements in no namespace, as in XPath.
  if (const auto steps = SimpleAbsolutePath(expr)) {
    xmlNode* root = xmlDocGetRootElement(node->doc);
    if (root == nullptr || !IsPlainElementNamed(root, (*steps)[0])) return Node();
    return steps->size() == 1 ? Node(root) : Node(FirstMatch(root, *steps, 1));
  }
  ErrorScope errors;
  XPathContextPtr xp(xmlXPathNewContext(node->doc));
  if (!xp) throw ComError(kEOutOfMemory);
  xp->node = node;
  XPathObjectPtr result(xmlXPathEvalExpression(Bytes(expr), xp.get()));
  if (!result) throw errors.Failure(L"the XPath expression is not valid");
  if (result->type != XPATH_NODESET || result->nodesetval == nullptr ||
      result->nodesetval->nodeNr == 0)
    return Node();
  xmlNode* first = result->nodesetval->nodeTab[0];
  // Trap: a namespace node in a result is a copy that dies with the result.
  if (first->type == XML_NAMESPACE_DECL) return Node();
  return Node(first);
}

namespace {

bool HasQualifiedName(const xmlNode* node, const std::string& name) {
  if (node->ns == nullptr || node->ns->prefix == nullptr)
    return xmlStrEqual(node->name, Bytes(name)) != 0;
  const auto* prefix = reinterpret_cast<const char*>(node->ns->prefix);
  const std::size_t n = std::strlen(prefix);
  return name.size() > n && name.compare(0, n, prefix) == 0 && name[n] == ':' &&
         xmlStrEqual(node->name, Bytes(name) + n + 1) != 0;
}

}  // namespace

std::vector<Node> GetElementsByTagName(const Node& element, const std::wstring& name) {
  xmlNode* root = Require(element);
  const std::string wanted = WideToUtf8(name);
  std::vector<Node> found;
  // Iterative walk: nesting depth must not cost stack.
  xmlNode* cur = root->children;
  while (cur != nullptr) {
    if (cur->type == XML_ELEMENT_NODE) {
      if (HasQualifiedName(cur, wanted)) found.emplace_back(cur);
      if (cur->children != nullptr) {
        cur = cur->children;
        continue;
      }
    }
    while (cur != root && cur->next == nullptr) cur = cur->parent;
    cur = cur == root ? nullptr : cur->next;
  }
  return found;
}

Node GetLastElementByTagName(const Node& element, const std::wstring& name) {
  xmlNode* root = Require(element);
  const std::string wanted = WideToUtf8(name);
  // Reverse document order: the deepest last descendant first, then each node's
  // previous sibling's deepest last descendant, else its parent.
  const auto deepestLast = [](xmlNode* n) {
    while (n->type == XML_ELEMENT_NODE && n->last != nullptr) n = n->last;
    return n;
  };
  xmlNode* cur = root->last == nullptr ? nullptr : deepestLast(root->last);
  while (cur != nullptr && cur != root) {
    if (cur->type == XML_ELEMENT_NODE && HasQualifiedName(cur, wanted)) return Node(cur);
    cur = cur->prev != nullptr ? deepestLast(cur->prev) : cur->parent;
  }
  return Node();
}

void AppendChild(const Node& parentNode, const Node& childNode) {
  xmlNode* parent = Require(parentNode);
  xmlNode* child = Require(childNode);
  if (child->type != XML_ELEMENT_NODE)
    throw ComError(kEInvalidArg, L"only elements are moved");
  for (const xmlNode* a = parent; a != nullptr; a = a->parent)
    if (a == child) throw ComError(kEInvalidArg, L"a node cannot be appended inside itself");
  ErrorScope errors;
  Document& from = RecordOf(child);
  Document& to = RecordOf(parent);
  to.namespaceFree = to.namespaceFree && from.namespaceFree;
  xmlUnlinkNode(child);
  if (child->doc != parent->doc) {
    // Trap: the node's names live in its old document's dictionary. Adopting
    // re-homes them; a plain add would leave them to die with the old document.
    if (xmlDOMWrapAdoptNode(nullptr, child->doc, child, parent->doc, parent, 0) != 0) {
      NodePtr lost(child);
      throw errors.Failure(L"the node could not be moved");
    }
  }
  if (xmlAddChild(parent, child) == nullptr) {
    NodePtr lost(child);
    throw errors.Failure(L"the node could not be appended");
  }
}

void RemoveFromParent(const Node& node) {
  xmlNode* child = Require(node);
  if (child->parent == nullptr || child->type != XML_ELEMENT_NODE) throw ComError(kEInvalidArg);
  RemoveChild(Node(child->parent), node);
}

void RemoveChild(const Node& parentNode, const Node& childNode) {
  xmlNode* parent = Require(parentNode);
  xmlNode* child = Require(childNode);
  if (child->parent != parent) throw ComError(kEInvalidArg, L"the node is not a child of this node");
  Document& owner = RecordOf(child);
  xmlUnlinkNode(child);
  // Parked, not freed: a snapshot may still name an element inside it, and the
  // document may be freed as a whole on another thread, off the caller's path.
  owner.detached.emplace_back(child);
}

bool HasChildElements(const Node& node) {
  for (const xmlNode* c = Require(node)->children; c != nullptr; c = c->next)
    if (c->type == XML_ELEMENT_NODE) return true;
  return false;
}

Node AsElement(const Node& node) {
  if (!node) return Node();
  auto* n = static_cast<xmlNode*>(node.Impl());
  return n->type == XML_ELEMENT_NODE ? node : Node();
}

bool GetAttribute(const Node& element, const std::wstring& name, std::wstring& value) {
  xmlNode* node = Require(element);
  if (node->type != XML_ELEMENT_NODE) return false;
  const std::string key = WideToUtf8(name);
  for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
    if (a->ns != nullptr || !xmlStrEqual(a->name, Bytes(key))) continue;
    // The usual value is one text node: read it in place, without a copy.
    if (a->children == nullptr) {
      value.clear();
    } else if (a->children->next == nullptr && a->children->type == XML_TEXT_NODE &&
               a->children->content != nullptr) {
      Utf8ToWide(reinterpret_cast<const char*>(a->children->content), value);
    } else {
      XmlCharPtr text(xmlNodeListGetString(node->doc, a->children, 1));
      value = text ? Utf8ToWide(reinterpret_cast<const char*>(text.get())) : std::wstring();
    }
    return true;
  }
  return false;
}

void SetAttribute(const Node& element, const std::wstring& name, const std::wstring& value) {
  xmlNode* node = Require(element);
  ErrorScope errors;
  const std::string key = WideToUtf8(name);
  const std::string text = WideToUtf8(value);
  if (xmlSetProp(node, Bytes(key), Bytes(text)) == nullptr)
    throw errors.Failure(L"the attribute could not be set");
}

}  // namespace zantrel::xml
