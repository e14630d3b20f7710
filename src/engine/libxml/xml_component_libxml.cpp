// The XML component on libxml2 + libxslt.
//
// Codes, message texts and descriptions: a failed parse is no error (load answers
// false). Other failures raise ComError with E_FAIL (E_POINTER for an empty handle,
// E_INVALIDARG for a node that is not where the call needs it, E_OUTOFMEMORY for
// allocation), the Windows system text of that code as message text, and the
// messages libxml2 / libxslt reported during the call as description.
#include <libexslt/exslt.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xpath.h>
#include <libxslt/imports.h>
#include <libxslt/security.h>
#include <libxslt/transform.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltInternals.h>
#include <libxslt/xsltutils.h>
#include <libxml/xmlsave.h>
#include <libxml/uri.h>
#include <sys/stat.h>

#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cctype>
#include <cstring>
#include <exception>
#include <mutex>
#include <optional>

#include "base/paths.hpp"
#include "base/text.hpp"
#include "engine/file_io.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "engine/xml_component.hpp"

namespace zantrel::xml {
namespace {

// --- owners for every libxml2 / libxslt handle ---
struct FreeDoc { void operator()(xmlDoc* p) const noexcept { xmlFreeDoc(p); } };
struct FreeNode { void operator()(xmlNode* p) const noexcept { xmlFreeNode(p); } };
struct FreeParserCtxt { void operator()(xmlParserCtxt* p) const noexcept { xmlFreeParserCtxt(p); } };
struct FreeXPathContext { void operator()(xmlXPathContext* p) const noexcept { xmlXPathFreeContext(p); } };
struct FreeXPathObject { void operator()(xmlXPathObject* p) const noexcept { xmlXPathFreeObject(p); } };
struct FreeTransformCtxt { void operator()(xsltTransformContext* p) const noexcept { xsltFreeTransformContext(p); } };
struct FreeSecurityPrefs { void operator()(xsltSecurityPrefs* p) const noexcept { xsltFreeSecurityPrefs(p); } };
struct FreeStylesheet { void operator()(xsltStylesheet* p) const noexcept { xsltFreeStylesheet(p); } };
struct FreeXmlChar { void operator()(xmlChar* p) const noexcept { xmlFree(p); } };
struct CloseOutputBuffer { void operator()(xmlOutputBuffer* p) const noexcept { xmlOutputBufferClose(p); } };

using DocPtr = std::unique_ptr<xmlDoc, FreeDoc>;
using NodePtr = std::unique_ptr<xmlNode, FreeNode>;
using ParserCtxtPtr = std::unique_ptr<xmlParserCtxt, FreeParserCtxt>;
using XPathContextPtr = std::unique_ptr<xmlXPathContext, FreeXPathContext>;
using XPathObjectPtr = std::unique_ptr<xmlXPathObject, FreeXPathObject>;
using TransformCtxtPtr = std::unique_ptr<xsltTransformContext, FreeTransformCtxt>;
using SecurityPrefsPtr = std::unique_ptr<xsltSecurityPrefs, FreeSecurityPrefs>;
using StylesheetPtr = std::unique_ptr<xsltStylesheet, FreeStylesheet>;
using XmlCharPtr = std::unique_ptr<xmlChar, FreeXmlChar>;
using OutputBufferPtr = std::unique_ptr<xmlOutputBuffer, CloseOutputBuffer>;

const xmlChar* Bytes(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

// Style sheets recursing without end stop here instead of exhausting the stack.
constexpr int kMaxTemplateDepth = 1000;
// At most this much library error text is kept per call: a hostile file must not
// grow it without bound.
constexpr std::size_t kMaxErrorText = 4096;

// --- errors: collected per thread while a call runs, never thrown from a callback ---
struct ErrorText {
  std::string text;
};
thread_local ErrorText* t_errors = nullptr;

void AppendError(const char* message) noexcept {
  if (t_errors == nullptr || message == nullptr) return;
  std::string& text = t_errors->text;
  if (text.size() >= kMaxErrorText) return;
  try {
    text.append(message, std::min(std::strlen(message), kMaxErrorText - text.size()));
  } catch (...) {
    // Called from inside the libraries: nothing may leave; the text is lost.
  }
}

void StructuredErrorHandler(void* /*ctx*/, xmlErrorPtr error) {
  if (error == nullptr || error->level == XML_ERR_WARNING) return;
  if (error->line > 0) {
    char head[32];
    std::snprintf(head, sizeof head, "line %d: ", error->line);
    AppendError(head);
  }
  AppendError(error->message);
}

void GenericErrorHandler(void* /*ctx*/, const char* format, ...) {
  char buf[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  AppendError(buf);
}

// Gathers what the libraries report during one component call on this thread.
class ErrorScope {
 public:
  ErrorScope() : previous_(t_errors) {
    t_errors = &errors_;
    xmlSetStructuredErrorFunc(nullptr, &StructuredErrorHandler);
    xmlSetGenericErrorFunc(nullptr, &GenericErrorHandler);
  }
  ErrorScope(const ErrorScope&) = delete;
  ErrorScope& operator=(const ErrorScope&) = delete;
  ~ErrorScope() { t_errors = previous_; }

  // The collected messages as one line (a log line each is the rule), without
  // libxslt's template stack dump; `fallback` when the libraries said nothing.
  std::wstring Description(const wchar_t* fallback) const {
    std::string joined;
    std::size_t start = 0;
    const std::string& text = errors_.text;
    while (start < text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string::npos) end = text.size();
      std::string line = text.substr(start, end - start);
      start = end + 1;
      while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
      if (line == "Templates:" || line == "Variables:") break;
      if (line.empty()) continue;
      if (!joined.empty()) joined += " / ";
      joined += line;
    }
    return joined.empty() ? std::wstring(fallback) : Utf8ToWide(joined);
  }

 private:
  ErrorText errors_;
  ErrorText* previous_;
};

// Input parsers carry this mark; the entity loader refuses everything for them.
struct InputParse {
  bool refusedDtd = false;
  bool namespaces = false;  // any namespace declared or used
  ElementEndObserver* observer = nullptr;
  std::exception_ptr observerFailure;  // thrown again once the parser is out
};

// The local file a style sheet's URL names: "file:" URLs lose their scheme (and
// "localhost"); a name that does not exist as written is tried %-unescaped.
std::string LocalFileOfUrl(const char* url) {
  std::string path(url);
  for (const char* prefix : {"file://localhost/", "file:///", "file:/"}) {
    const std::size_t n = std::strlen(prefix);
    if (path.compare(0, n, prefix) == 0) {
      path.erase(0, n - 1);
      break;
    }
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    XmlCharPtr unescaped(reinterpret_cast<xmlChar*>(xmlURIUnescapeString(path.c_str(), 0, nullptr)));
    if (unescaped) path = reinterpret_cast<const char*>(unescaped.get());
  }
  return path;
}

bool TooManyAttributes(const std::string& bytes);

xmlParserInputPtr GuardedEntityLoader(const char* url, const char* /*id*/, xmlParserCtxtPtr ctxt) {
  if (ctxt != nullptr && ctxt->_private != nullptr) {
    AppendError("external resources are not loaded for input documents\n");
    return nullptr;
  }
  if (url == nullptr) return nullptr;
  // Style sheets (xsl:include, xsl:import, document()): local files only.
  if (std::strstr(url, "://") != nullptr && std::strncmp(url, "file://", 7) != 0) {
    AppendError("network access is not allowed\n");
    return nullptr;
  }
  // Read here, not by the library: a FIFO or a device named in document() would
  // block the job for ever, so only regular files are read.
  std::string bytes;
  if (!ReadRegularFile(NativeToWide(LocalFileOfUrl(url)), bytes)) {
    AppendError("only regular files can be read: ");
    AppendError(url);
    AppendError("\n");
    return nullptr;
  }
  if (TooManyAttributes(bytes)) {
    AppendError("an element has too many attributes\n");
    return nullptr;
  }
  xmlParserInputBufferPtr buffer = xmlParserInputBufferCreateMem(
      bytes.data(), static_cast<int>(bytes.size()), XML_CHAR_ENCODING_NONE);
  if (buffer == nullptr) return nullptr;
  xmlParserInputPtr input = xmlNewIOInputStream(ctxt, buffer, XML_CHAR_ENCODING_NONE);
  if (input == nullptr) {
    xmlFreeParserInputBuffer(buffer);  // not taken over by a stream
    return nullptr;
  }
  // The document's URL: relative references inside it resolve against it.
  input->filename = reinterpret_cast<char*>(xmlStrdup(BAD_CAST url));
  return input;
}

void InitLibraries() {
  static std::once_flag once;
  std::call_once(once, [] {
    xmlInitParser();
    xsltInit();
    exsltRegisterAll();
    // Every name of Shift_JIS reads and writes as code page 932, the table
    // Windows uses: libxml2 would take the strict JIS one, which turns '~' into
    // U+203E and '\\' into U+00A5 and refuses ①, Ⅲ, ㈱ and 髙. Aliases are looked
    // up without regard to case. Set before any parse: the table has no lock.
    for (const char* name : {"SHIFT_JIS", "SHIFT-JIS", "SJIS", "MS_KANJI", "CSSHIFTJIS"})
      xmlAddEncodingAlias("CP932", name);
    xmlSetExternalEntityLoader(&GuardedEntityLoader);
    // libxslt's generic error hook is process-wide; it forwards to the calling
    // thread's collector.
    xsltSetGenericErrorFunc(nullptr, &GenericErrorHandler);
  });
}

// Notes whether the document uses namespaces, then builds the element as usual.
void StartElementNoticingNamespaces(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                    const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                                    int attributeCount, int defaultedCount, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (auto* mark = static_cast<InputParse*>(ctxt->_private)) {
    bool used = uri != nullptr || namespaceCount > 0;
    for (int i = 0; !used && i < attributeCount; ++i) used = attributes[i * 5 + 2] != nullptr;
    mark->namespaces = mark->namespaces || used;
  }
  xmlSAX2StartElementNs(ctx, localname, prefix, uri, namespaceCount, namespaces, attributeCount,
                        defaultedCount, attributes);
}

// Lets the observer see the element the parser has just closed.
void EndElementObserved(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  xmlNode* ended = ctxt->node;
  xmlSAX2EndElementNs(ctx, localname, prefix, uri);
  auto* mark = static_cast<InputParse*>(ctxt->_private);
  if (mark == nullptr || mark->observer == nullptr || ended == nullptr || mark->observerFailure) return;
  try {
    mark->observer->ElementEnded(ended);
  } catch (...) {
    // Never through the parser: kept, the parse stopped, thrown after it.
    mark->observerFailure = std::current_exception();
    xmlStopParser(ctxt);
  }
}

// A document type declaration ends the parse at once: no entity of it is ever read.
void RefuseDocumentType(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (auto* mark = static_cast<InputParse*>(ctxt->_private)) mark->refusedDtd = true;
  AppendError("documents with a document type declaration are not accepted\n");
  xmlStopParser(ctxt);
}

std::atomic<std::uint64_t> g_lastStamp{0};

}  // namespace

struct Document {
  // A transform result keeps its style sheet for xsl:output at save time; it must
  // outlive the result tree, so it is declared first.
  std::shared_ptr<xsltStylesheet> outputStyle;
  DocPtr doc;
  // Removed nodes live on until the document goes: a snapshot may still name nodes
  // inside them. Freed before `doc`, whose dictionary holds their names.
  std::vector<NodePtr> detached;
  std::uint64_t stamp = 0;
  std::shared_ptr<void> userData;
  // Known to hold no namespace anywhere (set at parse time, kept through moves).
  bool namespaceFree = false;

  void Touch() noexcept { stamp = ++g_lastStamp; }

  void Reset(DocPtr replacement, std::shared_ptr<xsltStylesheet> style = nullptr,
             bool withoutNamespaces = false) {
    detached.clear();
    namespaceFree = withoutNamespaces;
    doc = std::move(replacement);
    outputStyle = std::move(style);
    if (doc) doc->_private = this;  // lets a node find its owner record
    Touch();
  }
};

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

namespace {

Document& Require(const DocumentHandle& handle) {
  if (!handle || !handle->doc) throw ComError(kEPointer);
  return *handle;
}

xmlNode* Require(const Node& node) {
  if (!node) throw ComError(kEPointer);
  return static_cast<xmlNode*>(node.Impl());
}

// The record of the document a node belongs to.
Document& Owner(const xmlNode* node) {
  auto* owner = node->doc == nullptr ? nullptr : static_cast<Document*>(node->doc->_private);
  if (owner == nullptr) throw ComError(kEFail, L"the node belongs to no document");
  return *owner;
}

bool HasElementInside(const xmlNode* node) {
  for (const xmlNode* c = node->children; c != nullptr; c = c->next)
    if (c->type == XML_ELEMENT_NODE) return true;
  return false;
}

// True when the declared encoding cannot be that of the byte-order mark.
bool EncodingContradictsMark(const std::string& bytes, const xmlChar* declared) {
  if (declared == nullptr) return false;
  std::string name(reinterpret_cast<const char*>(declared));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return name != "utf-8" && name != "utf8";
  if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0)
    return name.rfind("utf-16", 0) != 0 && name.rfind("utf16", 0) != 0;
  return false;
}

// No comment file has an element with anywhere near this many attributes.
constexpr std::size_t kMaxAttributes = 4096;

// The bytes as ASCII where the encoding is not ASCII-compatible (UTF-16, UCS-4,
// EBCDIC, told apart as the parser does by the first bytes): every unit that is
// an ASCII character becomes that byte, every other one 0x80. Empty when the
// bytes can be scanned as they are.
std::string AsciiProjection(const std::string& bytes) {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() < 4) return {};
  const std::uint32_t head = (std::uint32_t{at(0)} << 24) | (std::uint32_t{at(1)} << 16) |
                             (std::uint32_t{at(2)} << 8) | at(3);
  std::size_t width = 0;
  std::size_t low = 0;  // the byte of each unit that carries an ASCII character
  if (head == 0x0000003C || head == 0x0000FEFF) {
    width = 4; low = 3;
  } else if (head == 0x3C000000 || head == 0xFFFE0000) {
    width = 4; low = 0;
  } else if ((head >> 16) == 0xFEFF || head == 0x003C003F) {
    width = 2; low = 1;
  } else if ((head >> 16) == 0xFFFE || head == 0x3C003F00) {
    width = 2; low = 0;
  } else if (head == 0x4C6FA794) {
    // EBCDIC: only the characters of markup matter here.
    std::string out(bytes.size(), 'x');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      switch (at(i)) {
        case 0x4C: out[i] = '<'; break;
        case 0x6E: out[i] = '>'; break;
        case 0x7F: out[i] = '"'; break;
        case 0x7D: out[i] = '\''; break;
        case 0x5A: out[i] = '!'; break;
        case 0x6F: out[i] = '?'; break;
        case 0x60: out[i] = '-'; break;
        case 0x61: out[i] = '/'; break;
        default: break;
      }
    }
    return out;
  } else {
    return {};
  }
  std::string out(bytes.size() / width, '\x80');
  for (std::size_t u = 0; u < out.size(); ++u) {
    bool ascii = at(u * width + low) < 0x80;
    for (std::size_t k = 0; ascii && k < width; ++k)
      ascii = k == low || at(u * width + k) == 0;
    if (ascii) out[u] = static_cast<char>(at(u * width + low));
  }
  return out;
}

// True when a start tag holds more than kMaxAttributes attributes. Trap: libxml2
// checks a tag's attributes for duplicates pair by pair before anyone sees them,
// so a tag with a million attributes costs hours; only a look at the bytes
// first can refuse it in time. Counts quoted values (one per attribute) between
// a '<' that opens a tag and its '>'; comments, CDATA sections and processing
// instructions are skipped. Linear, and mostly memchr.
bool TooManyAttributesIn(std::string_view text) {
  const auto skipPast = [&](std::size_t from, std::string_view end) {
    const std::size_t found = text.find(end, from);
    return found == std::string_view::npos ? text.size() : found + end.size();
  };
  std::size_t i = 0;
  while (i < text.size()) {
    const void* lt = std::memchr(text.data() + i, '<', text.size() - i);
    if (lt == nullptr) break;
    i = static_cast<std::size_t>(static_cast<const char*>(lt) - text.data()) + 1;
    const std::string_view rest = text.substr(i);
    if (rest.substr(0, 3) == "!--") {
      i = skipPast(i + 3, "-->");
    } else if (rest.substr(0, 8) == "![CDATA[") {
      i = skipPast(i + 8, "]]>");
    } else if (rest.substr(0, 1) == "?") {
      i = skipPast(i + 1, "?>");
    } else if (rest.substr(0, 1) != "!" && rest.substr(0, 1) != "/") {
      std::size_t attributes = 0;
      while (i < text.size() && text[i] != '>' && text[i] != '<') {
        const char c = text[i];
        if (c != '"' && c != '\'') {
          ++i;
          continue;
        }
        if (++attributes > kMaxAttributes) return true;
        const void* close = std::memchr(text.data() + i + 1, c, text.size() - i - 1);
        if (close == nullptr) return false;  // the parser refuses the rest anyway
        i = static_cast<std::size_t>(static_cast<const char*>(close) - text.data()) + 1;
      }
    }
  }
  return false;
}

bool TooManyAttributes(const std::string& bytes) {
  const std::string projected = AsciiProjection(bytes);
  return TooManyAttributesIn(projected.empty() ? std::string_view(bytes) : std::string_view(projected));
}

bool Parse(Document& target, const std::string& bytes, const char* url, const char* encoding,
           LoadPolicy policy, ElementEndObserver* observer = nullptr) {
  ErrorScope errors;
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return false;
  if (TooManyAttributes(bytes)) return false;
  ParserCtxtPtr ctxt(xmlNewParserCtxt());
  if (!ctxt) throw ComError(kEOutOfMemory);
  InputParse mark;
  // CDATA sections become plain text, as a transform would make them anyway.
  int options = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA;
  if (policy == LoadPolicy::Input) {
    ctxt->_private = &mark;
    ctxt->sax->internalSubset = &RefuseDocumentType;
    ctxt->sax->startElementNs = &StartElementNoticingNamespaces;
    mark.observer = observer;
    if (observer != nullptr) ctxt->sax->endElementNs = &EndElementObserved;
  } else {
    // Style sheets are the user's own files: entities are expanded (within the
    // library's amplification limits), external DTDs are not fetched.
    options |= XML_PARSE_NOENT;
  }
  DocPtr parsed(xmlCtxtReadMemory(ctxt.get(), bytes.data(), static_cast<int>(bytes.size()), url,
                                  encoding, options));
  if (mark.observerFailure) std::rethrow_exception(mark.observerFailure);
  // Namespace errors and an encoding declaration that contradicts the byte-order
  // mark leave libxml2's result standing; they still make the document malformed.
  if (!parsed || mark.refusedDtd || !ctxt->wellFormed || !ctxt->nsWellFormed ||
      EncodingContradictsMark(bytes, encoding == nullptr ? parsed->encoding : nullptr))
    return false;
  target.Reset(std::move(parsed), nullptr, policy == LoadPolicy::Input && !mark.namespaces);
  return true;
}

}  // namespace

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

bool Load(const DocumentHandle& handle, const std::wstring& path, LoadPolicy policy) {
  Document& doc = Require(handle);
  std::string bytes;
  if (!ReadRegularFile(path, bytes)) return false;
  return Parse(doc, bytes, WideToNative(path).c_str(), nullptr, policy);
}

bool LoadObserved(const DocumentHandle& handle, const std::wstring& path, ElementEndObserver& observer) {
  Document& doc = Require(handle);
  std::string bytes;
  if (!ReadRegularFile(path, bytes)) return false;
  return Parse(doc, bytes, WideToNative(path).c_str(), nullptr, LoadPolicy::Input, &observer);
}

bool IsNamespaceFree(const DocumentHandle& handle) noexcept { return handle && handle->namespaceFree; }

xmlDoc* Tree(const DocumentHandle& handle) noexcept { return handle ? handle->doc.get() : nullptr; }

bool LoadXml(const DocumentHandle& handle, const std::wstring& text, LoadPolicy policy) {
  Document& doc = Require(handle);
  // The text is already characters: a declared encoding must not reinterpret it.
  return Parse(doc, WideToUtf8(text), nullptr, "UTF-8", policy);
}

namespace {

// Hands libxml2's output pieces to the file sink; a failed write ends the output.
int WriteToSink(void* context, const char* buffer, int length) noexcept {
  const auto& sink = *static_cast<const ByteSink*>(context);
  try {
    return sink(std::string_view(buffer, static_cast<std::size_t>(length))) ? length : -1;
  } catch (...) {
    return -1;  // called from inside libxml2: nothing may leave
  }
}

}  // namespace

void SaveSpliced(const DocumentHandle& handle, const std::wstring& path, const Splice& splice) {
  Document& doc = Require(handle);
  ErrorScope errors;
  // Streamed into the temporary file: no second copy of a large output in memory.
  WriteFileAtomically(path, [&](const ByteSink& sink) {
    xmlCharEncodingHandlerPtr encoder = nullptr;
    const xmlChar* encoding = nullptr;
    if (doc.outputStyle) {
      XSLT_GET_IMPORT_PTR(encoding, doc.outputStyle.get(), encoding)
    }
    if (encoding != nullptr && xmlStrcasecmp(encoding, BAD_CAST "UTF-8") != 0) {
      encoder = xmlFindCharEncodingHandler(reinterpret_cast<const char*>(encoding));
      if (encoder == nullptr) throw ComError(kEFail, L"unknown output encoding");
    }
    OutputBufferPtr out(xmlOutputBufferCreateIO(&WriteToSink, nullptr,
                                                const_cast<ByteSink*>(&sink), encoder));
    if (!out) {
      if (encoder != nullptr) xmlCharEncCloseFunc(encoder);  // not yet owned by a buffer
      throw ComError(kEOutOfMemory);
    }
    int status = 0;
    if (splice && doc.outputStyle) {
      // The text as the sheet serialises it, still UTF-8: escaping does not depend
      // on the buffer's encoder, so encoding the spliced text gives the same bytes.
      OutputBufferPtr text(xmlAllocOutputBuffer(nullptr));
      if (!text) throw ComError(kEOutOfMemory);
      status = xsltSaveResultTo(text.get(), doc.doc.get(), doc.outputStyle.get());
      if (status >= 0 && text->error == 0) {
        const std::string_view serialised(reinterpret_cast<const char*>(xmlOutputBufferGetContent(text.get())),
                                          xmlOutputBufferGetSize(text.get()));
        splice(serialised, [&](std::string_view piece) {
          if (xmlOutputBufferWrite(out.get(), static_cast<int>(piece.size()), piece.data()) < 0)
            throw ComError(kEFail, errors.Description(L"the document could not be written"));
        });
      } else {
        status = -1;
      }
      if (xmlOutputBufferClose(out.release()) < 0) status = -1;
    } else if (doc.outputStyle) {
      status = xsltSaveResultTo(out.get(), doc.doc.get(), doc.outputStyle.get());
      // Closing flushes; its result tells whether every piece reached the sink.
      if (xmlOutputBufferClose(out.release()) < 0) status = -1;
    } else {
      status = xmlSaveFormatFileTo(out.release(), doc.doc.get(), "UTF-8", 1);  // closes it itself
    }
    if (status < 0) throw ComError(kEFail, errors.Description(L"the document could not be written"));
  });
}

void Save(const DocumentHandle& handle, const std::wstring& path) { SaveSpliced(handle, path, nullptr); }

namespace {

std::string Squeezed(const xmlChar* text) {
  std::string out;
  for (const xmlChar* p = text; p != nullptr && *p != 0; ++p)
    if (*p != ' ' && *p != '\t' && *p != '\n' && *p != '\r') out += static_cast<char>(*p == '"' ? '\'' : *p);
  return out;
}

bool IsXslt(const xmlNode* node, const char* name) {
  return node->type == XML_ELEMENT_NODE && node->ns != nullptr &&
         xmlStrEqual(node->ns->href, XSLT_NAMESPACE) && xmlStrEqual(node->name, BAD_CAST name);
}

// The element children of `node`, or nothing when it holds text other than blanks.
std::optional<std::vector<const xmlNode*>> Elements(const xmlNode* node) {
  std::vector<const xmlNode*> out;
  for (const xmlNode* c = node->children; c != nullptr; c = c->next) {
    if (c->type == XML_ELEMENT_NODE) {
      out.push_back(c);
    } else if (c->type == XML_TEXT_NODE) {
      if (!xmlIsBlankNode(c)) return std::nullopt;
    } else if (c->type != XML_COMMENT_NODE) {
      return std::nullopt;
    }
  }
  return out;
}

// Only the attributes named may be present.
bool HasOnlyAttributes(const xmlNode* node, std::initializer_list<const char*> allowed) {
  for (const xmlAttr* a = node->properties; a != nullptr; a = a->next) {
    bool ok = false;
    for (const char* name : allowed) ok = ok || (a->ns == nullptr && xmlStrEqual(a->name, BAD_CAST name));
    if (!ok) return false;
  }
  return true;
}

std::string AttributeSqueezed(const xmlNode* node, const char* name) {
  XmlCharPtr value(xmlGetNoNsProp(node, BAD_CAST name));
  return Squeezed(value.get());
}

// True for exactly the identity copy: one template that copies every node and
// attribute, optionally one that drops an "xml" processing instruction, and any
// xsl:output. Such a sheet turns a document into a copy of itself.
bool IsIdentityStyleSheet(const xmlDoc* sheet) {
  const xmlNode* root = xmlDocGetRootElement(sheet);
  if (root == nullptr || !(IsXslt(root, "stylesheet") || IsXslt(root, "transform")) ||
      !HasOnlyAttributes(root, {"version"}) || AttributeSqueezed(root, "version") != "1.0")
    return false;
  const auto top = Elements(root);
  if (!top) return false;
  int identities = 0;
  for (const xmlNode* e : *top) {
    if (IsXslt(e, "output")) {
      // Only settings that act at saving time (a doctype or version would shape
      // the result document itself).
      const auto inner = Elements(e);
      if (!inner || !inner->empty() ||
          !HasOnlyAttributes(e, {"method", "encoding", "indent", "omit-xml-declaration"}))
        return false;
      const std::string method = AttributeSqueezed(e, "method");
      if (!method.empty() && method != "xml") return false;
      continue;
    }
    if (!IsXslt(e, "template") || !HasOnlyAttributes(e, {"match"})) return false;
    const std::string match = AttributeSqueezed(e, "match");
    const auto body = Elements(e);
    if (!body) return false;
    if (match == "processing-instruction('xml')" && body->empty()) continue;
    if (match != "@*|node()" && match != "node()|@*") return false;
    if (body->size() != 1 || !IsXslt((*body)[0], "copy") || (*body)[0]->properties != nullptr) return false;
    const auto copyBody = Elements((*body)[0]);
    if (!copyBody || copyBody->size() != 1) return false;
    const xmlNode* apply = (*copyBody)[0];
    const auto applyBody = Elements(apply);
    const std::string select = AttributeSqueezed(apply, "select");
    if (!IsXslt(apply, "apply-templates") || !HasOnlyAttributes(apply, {"select"}) || !applyBody ||
        !applyBody->empty() || (select != "@*|node()" && select != "node()|@*"))
      return false;
    ++identities;
  }
  return identities == 1;
}

}  // namespace

std::optional<std::string> PlainCopyOutputEncoding(const DocumentHandle& styleHandle) {
  Document& styleDoc = Require(styleHandle);
  if (!IsIdentityStyleSheet(styleDoc.doc.get())) return std::nullopt;
  ErrorScope errors;
  DocPtr copy(xmlCopyDoc(styleDoc.doc.get(), 1));
  if (!copy) throw ComError(kEOutOfMemory);
  StylesheetPtr compiled(xsltParseStylesheetDoc(copy.get()));
  if (!compiled) return std::nullopt;
  copy.release();  // owned by the compiled sheet
  const xmlChar* encoding = nullptr;
  XSLT_GET_IMPORT_PTR(encoding, compiled.get(), encoding)
  return encoding == nullptr ? std::string() : std::string(reinterpret_cast<const char*>(encoding));
}

void TransformNodeToObject(const DocumentHandle& sourceHandle, const DocumentHandle& styleHandle,
                           const DocumentHandle& destinationHandle, SourceAfter sourceAfter) {
  Document& source = Require(sourceHandle);
  Document& styleDoc = Require(styleHandle);
  Document& destination = Require(destinationHandle);
  ErrorScope errors;

  // The compiled sheet takes its document over and rewrites it; work on a copy so
  // the caller's document stays as it was.
  DocPtr copy(xmlCopyDoc(styleDoc.doc.get(), 1));
  if (!copy) throw ComError(kEOutOfMemory);
  StylesheetPtr compiled(xsltParseStylesheetDoc(copy.get()));
  if (!compiled) throw ComError(kEFail, errors.Description(L"the style sheet is not valid XSLT"));
  copy.release();  // owned by the compiled sheet from here on
  std::shared_ptr<xsltStylesheet> style(compiled.release(), FreeStylesheet());

  // The identity sheet on a source nobody reads again: hand the tree over instead
  // of copying it node by node. Saving gives the same bytes either way (the sheet
  // still governs the output); a job then holds one tree instead of two.
  const xmlChar* method = nullptr;
  XSLT_GET_IMPORT_PTR(method, style.get(), method)
  const xmlNode* sourceRoot = xmlDocGetRootElement(source.doc.get());
  // Without an explicit method, a result whose root is "html" is saved as HTML.
  const bool savedAsXml = method != nullptr || sourceRoot == nullptr ||
                          xmlStrcasecmp(sourceRoot->name, BAD_CAST "html") != 0;
  if (sourceAfter == SourceAfter::Released && &source != &destination && savedAsXml &&
      IsIdentityStyleSheet(styleDoc.doc.get()) && source.namespaceFree &&
      source.doc->intSubset == nullptr && source.doc->extSubset == nullptr) {
    DocPtr empty(xmlNewDoc(BAD_CAST "1.0"));
    if (!empty) throw ComError(kEOutOfMemory);
    DocPtr taken = std::move(source.doc);
    source.Reset(std::move(empty), nullptr, true);
    // Shape the document as a transform's result: XML 1.0, the sheet's encoding.
    const xmlChar* encoding = nullptr;
    XSLT_GET_IMPORT_PTR(encoding, style.get(), encoding)
    xmlFree(const_cast<xmlChar*>(taken->version));
    taken->version = xmlStrdup(BAD_CAST "1.0");
    xmlFree(const_cast<xmlChar*>(taken->encoding));
    taken->encoding = encoding == nullptr ? nullptr : xmlStrdup(encoding);
    taken->charset = XML_CHAR_ENCODING_UTF8;
    destination.Reset(std::move(taken), std::move(style));
    return;
  }

  SecurityPrefsPtr prefs(xsltNewSecurityPrefs());
  if (!prefs) throw ComError(kEOutOfMemory);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_FILE, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_CREATE_DIRECTORY, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_READ_NETWORK, xsltSecurityForbid);
  xsltSetSecurityPrefs(prefs.get(), XSLT_SECPREF_WRITE_NETWORK, xsltSecurityForbid);

  // Trap: xsl:strip-space removes blank text from the source itself. A source the
  // caller keeps is transformed as a copy then.
  DocPtr sourceCopy;
  xmlDoc* input = source.doc.get();
  if (sourceAfter == SourceAfter::Kept && (style->stripSpaces != nullptr || style->stripAll != 0)) {
    sourceCopy.reset(xmlCopyDoc(input, 1));
    if (!sourceCopy) throw ComError(kEOutOfMemory);
    input = sourceCopy.get();
  }
  TransformCtxtPtr ctxt(xsltNewTransformContext(style.get(), input));
  if (!ctxt) throw ComError(kEOutOfMemory);
  if (xsltSetCtxtSecurityPrefs(prefs.get(), ctxt.get()) != 0) throw ComError(kEFail);
  ctxt->maxTemplateDepth = kMaxTemplateDepth;
  ctxt->parserOptions |= XML_PARSE_NONET;

  DocPtr result(xsltApplyStylesheetUser(style.get(), input, nullptr, nullptr, nullptr, ctxt.get()));
  source.Touch();  // a released source may have lost blank text
  if (!result || ctxt->state != XSLT_STATE_OK)
    throw ComError(kEFail, errors.Description(L"the style sheet could not be applied"));
  destination.Reset(std::move(result), std::move(style));
}

HResult GetDocumentElement(const DocumentHandle& handle, Node& root) {
  if (!handle || !handle->doc) return kEPointer;
  root = Node(xmlDocGetRootElement(handle->doc.get()));
  return kSOk;
}

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
  if (!result) throw ComError(kEFail, errors.Description(L"the XPath expression is not valid"));
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
  Document& from = Owner(child);
  Document& to = Owner(parent);
  from.Touch();
  to.Touch();
  to.namespaceFree = to.namespaceFree && from.namespaceFree;
  xmlUnlinkNode(child);
  if (child->doc != parent->doc) {
    // Trap: the node's names live in its old document's dictionary. Adopting
    // re-homes them; a plain add would leave them to die with the old document.
    if (xmlDOMWrapAdoptNode(nullptr, child->doc, child, parent->doc, parent, 0) != 0) {
      NodePtr lost(child);
      throw ComError(kEFail, errors.Description(L"the node could not be moved"));
    }
  }
  if (xmlAddChild(parent, child) == nullptr) {
    NodePtr lost(child);
    throw ComError(kEFail, errors.Description(L"the node could not be appended"));
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
  Document& owner = Owner(child);
  owner.Touch();
  xmlUnlinkNode(child);
  // Parked, not freed: a snapshot may still name an element inside it, and the
  // document may be freed as a whole on another thread, off the caller's path.
  owner.detached.emplace_back(child);
}

void SetUserData(const DocumentHandle& handle, std::shared_ptr<void> data) {
  if (!handle) throw ComError(kEPointer);
  handle->userData = std::move(data);
}

std::shared_ptr<void> GetUserData(const DocumentHandle& handle) noexcept {
  return handle ? handle->userData : nullptr;
}

std::uint64_t ModificationStamp(const DocumentHandle& handle) noexcept {
  return handle ? handle->stamp : 0;
}

bool HasChildElements(const Node& node) { return HasElementInside(Require(node)); }

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
  Owner(node).Touch();
  if (xmlSetProp(node, Bytes(key), Bytes(text)) == nullptr)
    throw ComError(kEFail, errors.Description(L"the attribute could not be set"));
}

}  // namespace zantrel::xml
