// Loading documents, with the guards every input passes: the parse options, the
// attribute-count bound, the refusal of a document type declaration, the noticing
// of namespaces, and the check of a declared encoding against the byte-order mark.
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/SAX2.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdint>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/paths.hpp"
#include "engine/file_io.hpp"
#include "engine/libxml/attribute_bound.hpp"
#include "engine/libxml/document.hpp"
#include "engine/libxml/error_scope.hpp"
#include "engine/libxml/library_setup.hpp"
#include "engine/libxml/xml_stream.hpp"
#include "base/text.hpp"

namespace zantrel::xml {
namespace {

// An input's bytes as read from its file, in large pieces, from the first one
// still wanted to the last one read; the parser is served from here. Where
// elements may be taken as their source the bytes stay until no element that
// may still be taken can begin before them, so such an element is copied as it
// stands. Offsets count from the file's first byte; they are the parser's own
// while it converts nothing.
class SourceWindow {
 public:
  bool Sources() const noexcept { return sources_; }
  // Elements may be taken: bytes stay until KeepFrom passes them. Trap: only
  // where the handlers call KeepFrom, else the window would hold the whole file.
  void SetSources(bool sources) noexcept { sources_ = sources; }

  // Reads the next piece of `file` onto the end: the piece (empty at the end), or
  // none on a read error.
  std::optional<std::string_view> Fill(RegularFileReader& file) {
    const std::uint64_t dropTo = sources_ ? std::min(keepFrom_, served_) : served_;
    const auto drop = static_cast<std::size_t>(dropTo - start_);
    if (capacity_ - end_ < kPiece) {
      const std::size_t held = end_ - drop;
      if (held + kPiece > capacity_ / 2) {  // grows only for what is wanted, such as a long element
        const std::size_t capacity = std::max(2 * capacity_, held + 2 * kPiece);
        auto grown = std::make_unique_for_overwrite<char[]>(capacity);
        if (held > 0) std::memcpy(grown.get(), bytes_.get() + drop, held);
        bytes_ = std::move(grown);
        capacity_ = capacity;
      } else if (held > 0) {
        std::memmove(bytes_.get(), bytes_.get() + drop, held);
      }
      start_ = dropTo;
      end_ = held;
    }
    const long n = file.Read(bytes_.get() + end_, kPiece);
    if (n < 0) return std::nullopt;
    const std::string_view piece(bytes_.get() + end_, static_cast<std::size_t>(n));
    end_ += static_cast<std::size_t>(n);
    return piece;
  }
  // Up to `length` bytes that the parser has not had yet, into `into`: how many.
  std::size_t Serve(char* into, std::size_t length) noexcept {
    const auto at = static_cast<std::size_t>(served_ - start_);
    const std::size_t n = std::min(length, end_ - at);
    if (n > 0) std::memcpy(into, bytes_.get() + at, n);
    served_ += n;
    return n;
  }
  bool Served() const noexcept { return served_ == start_ + end_; }

  // Nothing before `offset` is wanted any more; never moves back.
  void KeepFrom(std::uint64_t offset) noexcept { keepFrom_ = std::max(keepFrom_, offset); }
  // Where the tag the parser stands in began: its '<', which no attribute value
  // holds unescaped. None when that is not held.
  std::optional<std::uint64_t> TagStart(std::uint64_t at) const noexcept {
    if (at < start_ || at > start_ + end_) return std::nullopt;
    const std::size_t found = std::string_view(bytes_.get(), end_).substr(0, at - start_).rfind('<');
    if (found == std::string_view::npos) return std::nullopt;
    return start_ + found;
  }
  // [from, to); empty when not held.
  std::string_view Bytes(std::uint64_t from, std::uint64_t to) const noexcept {
    if (from < start_ || to < from || to > start_ + end_) return {};
    return std::string_view(bytes_.get() + (from - start_), to - from);
  }

 private:
  static constexpr std::size_t kPiece = 64 * 1024;
  bool sources_ = false;  // off: bytes go once served
  std::unique_ptr<char[]> bytes_;
  std::size_t capacity_ = 0;
  std::size_t end_ = 0;          // bytes_[0, end_) are held
  std::uint64_t start_ = 0;      // the offset of bytes_[0]
  std::uint64_t served_ = 0;     // the offset of the first byte the parser has not had
  std::uint64_t keepFrom_ = 0;   // at most where the next element taken can begin
};

// CDATA sections become plain text, as a transform would make them anyway.
constexpr int kInputOptions = XML_PARSE_NONET | XML_PARSE_NOBLANKS | XML_PARSE_NOCDATA;

// Input parsers carry this mark; the entity loader refuses everything for them.
struct InputParse {
  bool refusedDtd = false;
  bool namespaces = false;  // any namespace declared or used
  ElementEndObserver* observer = nullptr;
  std::exception_ptr observerFailure;  // thrown again once the parser is out
  SourceWindow* window = nullptr;      // where elements may be taken as their source
  std::optional<std::uint64_t> takenFrom;  // inside an element so taken: where it began
};

InputParse* MarkOf(void* ctx) { return static_cast<InputParse*>(static_cast<xmlParserCtxtPtr>(ctx)->_private); }

// Where the parser stands in the input's bytes.
std::uint64_t Offset(const xmlParserCtxt* ctxt) {
  return ctxt->input->consumed + static_cast<std::uint64_t>(ctxt->input->cur - ctxt->input->base);
}

// The bytes before where the parser stands are no longer wanted: nothing before
// them is taken.
void Passed(const xmlParserCtxt* ctxt, InputParse& mark) noexcept {
  if (mark.window != nullptr) mark.window->KeepFrom(Offset(ctxt));
}

// Runs an observer call. Trap: nothing may leave through the parser; what the
// observer throws is kept, the parse stopped, and it is thrown after.
template <typename Call>
void Observe(xmlParserCtxtPtr ctxt, InputParse& mark, const Call& call) {
  if (mark.observerFailure) return;
  try {
    call(*mark.observer);
  } catch (...) {
    mark.observerFailure = std::current_exception();
    xmlStopParser(ctxt);
  }
}

// True where the element starting now is taken as its source bytes. One whose
// start is not held (never seen) is left to the node.
bool TakenAsSource(xmlParserCtxtPtr ctxt, InputParse& mark, const StartTag& tag) {
  SourceWindow* window = mark.window;
  if (window == nullptr || !window->Sources()) return false;
  if (ctxt->input->buf == nullptr || ctxt->input->buf->encoder != nullptr || ctxt->inputNr != 1) {
    window->SetSources(false);  // the parser's bytes are not the file's
    return false;
  }
  const std::optional<std::uint64_t> from = window->TagStart(Offset(ctxt));
  if (!from) return false;
  bool taken = false;
  Observe(ctxt, mark, [&](ElementEndObserver& observer) { taken = observer.TakesAsSource(tag); });
  if (!taken) return false;
  window->KeepFrom(*from);
  mark.takenFrom = *from;
  return true;
}

// Notes whether the document uses namespaces, then builds the element as usual,
// unless the observer takes it as its source. An element that uses namespaces is
// never offered: the node decides what becomes of it.
void StartElementNoticingNamespaces(void* ctx, const xmlChar* localname, const xmlChar* prefix,
                                    const xmlChar* uri, int namespaceCount, const xmlChar** namespaces,
                                    int attributeCount, int defaultedCount, const xmlChar** attributes) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (InputParse* mark = MarkOf(ctx)) {
    if (mark->takenFrom) {
      Observe(ctxt, *mark, [](ElementEndObserver& observer) { observer.SourceHoldsMore(); });
      return;
    }
    bool used = uri != nullptr || namespaceCount > 0;
    for (int i = 0; !used && i < attributeCount; ++i) used = attributes[i * 5 + 2] != nullptr;
    mark->namespaces = mark->namespaces || used;
    if (!used && TakenAsSource(ctxt, *mark, {localname, prefix, attributeCount, attributes, ctxt->node})) return;
    Passed(ctxt, *mark);
  }
  xmlSAX2StartElementNs(ctx, localname, prefix, uri, namespaceCount, namespaces, attributeCount,
                        defaultedCount, attributes);
}

// Lets the observer see the element the parser has just closed, or the source of
// the one it took.
void EndElementObserved(void* ctx, const xmlChar* localname, const xmlChar* prefix, const xmlChar* uri) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  InputParse* mark = MarkOf(ctx);
  if (mark != nullptr && mark->takenFrom) {
    const std::uint64_t from = *mark->takenFrom;
    const std::uint64_t end = Offset(ctxt);
    mark->takenFrom.reset();
    std::string_view source = mark->window->Bytes(from, end);
    if (source.size() < 2 || source.front() != '<' || source.back() != '>') source = {};
    Observe(ctxt, *mark, [&](ElementEndObserver& observer) { observer.SourceEnded(source); });
    Passed(ctxt, *mark);
    return;
  }
  xmlNode* ended = ctxt->node;
  xmlSAX2EndElementNs(ctx, localname, prefix, uri);
  if (mark == nullptr || mark->observer == nullptr || ended == nullptr) return;
  Passed(ctxt, *mark);
  Observe(ctxt, *mark, [&](ElementEndObserver& observer) { observer.ElementEnded(ended); });
}

// Text inside an element taken as its source is in its bytes already.
void CharactersObserved(void* ctx, const xmlChar* text, int length) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (InputParse* mark = MarkOf(ctx)) {
    if (mark->takenFrom) return;
    Passed(ctxt, *mark);
  }
  xmlSAX2Characters(ctx, text, length);
}

// A comment or processing instruction inside an element taken as its source is
// more than text.
bool HeldByTaken(void* ctx) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  InputParse* mark = MarkOf(ctx);
  if (mark == nullptr) return false;
  if (mark->takenFrom) {
    Observe(ctxt, *mark, [](ElementEndObserver& observer) { observer.SourceHoldsMore(); });
    return true;
  }
  Passed(ctxt, *mark);
  return false;
}
void CommentObserved(void* ctx, const xmlChar* text) {
  if (!HeldByTaken(ctx)) xmlSAX2Comment(ctx, text);
}
void InstructionObserved(void* ctx, const xmlChar* target, const xmlChar* data) {
  if (!HeldByTaken(ctx)) xmlSAX2ProcessingInstruction(ctx, target, data);
}

// A document type declaration ends the parse at once: no entity of it is ever read.
void RefuseDocumentType(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
  if (auto* mark = static_cast<InputParse*>(ctxt->_private)) mark->refusedDtd = true;
  AppendError("documents with a document type declaration are not accepted\n", ctxt->input->line,
              ctxt->input->col);
  xmlStopParser(ctxt);
}

// True when the declared encoding cannot be that of the byte-order mark.
bool EncodingContradictsMark(std::string_view bytes, const xmlChar* declared) {
  if (declared == nullptr) return false;
  std::string name(reinterpret_cast<const char*>(declared));
  for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return name != "utf-8" && name != "utf8";
  if (bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0)
    return name.rfind("utf-16", 0) != 0 && name.rfind("utf16", 0) != 0;
  return false;
}

// A file handed to the parser piece by piece, so that neither it nor a copy of it
// is ever whole in memory. Every piece passes the attribute bound before the
// parser sees it.
struct FileFeed {
  RegularFileReader file;
  AttributeScan bound;
  SourceWindow window;
  std::string head;  // the first bytes, for the byte-order mark
  bool failed = false;  // a read error or too many attributes: no document
  std::exception_ptr failure;  // thrown again once the parser is out

  // Why `failed`, for a person.
  std::string Refusal() const {
    return bound.TooMany() ? "an element has too many attributes" : file.Refusal();
  }

  // Trap: a failed read looks like the end of the input to the parser, and a
  // document may be complete by then; the caller must look at `failed`. Each
  // piece of the file passes the bound before the parser sees any of it.
  int Read(char* into, int length) noexcept {
    if (failed || length <= 0) return failed ? -1 : 0;
    if (window.Served()) {
      try {
        const std::optional<std::string_view> piece = window.Fill(file);
        if (!piece) {
          failed = true;
          return -1;
        }
        if (head.size() < 4) head.append(piece->substr(0, 4 - head.size()));
        if (!bound.Feed(*piece)) failed = true;
      } catch (...) {
        failure = std::current_exception();  // never through the parser
        failed = true;
      }
      if (failed) return -1;
    }
    return static_cast<int>(window.Serve(into, static_cast<std::size_t>(length)));
  }
  // What the parser left unread (nothing after a whole document but trailing
  // bytes it refused anyway) still counts for the bound, as when the file was read whole.
  void ReadRest() {
    char rest[16384];
    while (!failed && Read(rest, sizeof rest) > 0) {
    }
  }
};

int ReadFeed(void* context, char* buffer, int length) noexcept {
  return static_cast<FileFeed*>(context)->Read(buffer, length);
}

// A load refused by the program itself, for the reason given.
bool Refuse(Document& target, const std::wstring& name, const std::string& reason) {
  target.refusal = (name.empty() ? L"" : name + L": ") + Utf8ToWide(reason);
  return false;
}

// `read` runs the parser on the context with the options and answers its document;
// `refused` gives the program's own reason to refuse what it read, if any. `name`
// names the document in the reason for a refusal.
template <typename Read>
bool Parse(Document& target, const std::wstring& name, const char* encoding, LoadPolicy policy,
           ElementEndObserver* observer, SourceWindow* window, const Read& read,
           const std::function<std::string()>& refused, const std::function<std::string_view()>& head) {
  ErrorScope errors;
  ParserCtxtPtr ctxt(xmlNewParserCtxt());
  if (!ctxt) throw ComError(kEOutOfMemory);
  InputParse mark;
  int options = kInputOptions;
  if (policy == LoadPolicy::Input) {
    ctxt->_private = &mark;
    ctxt->sax->internalSubset = &RefuseDocumentType;
    ctxt->sax->startElementNs = &StartElementNoticingNamespaces;
    mark.observer = observer;
    if (observer != nullptr) {
      ctxt->sax->endElementNs = &EndElementObserved;
      ctxt->sax->characters = &CharactersObserved;
      ctxt->sax->comment = &CommentObserved;
      ctxt->sax->processingInstruction = &InstructionObserved;
      mark.window = window;
      if (window != nullptr) window->SetSources(true);  // the handlers above pass its bytes
    }
  } else {
    // Style sheets are the user's own files: entities are expanded (within the
    // library's amplification limits), external DTDs are not fetched.
    options |= XML_PARSE_NOENT;
  }
  DocPtr parsed(read(ctxt.get(), options));
  if (mark.observerFailure) std::rethrow_exception(mark.observerFailure);
  // A document the parser could not hold is no malformed document.
  if (errors.OutOfMemory()) throw ComError(kEOutOfMemory);
  if (const std::string reason = refused(); !reason.empty()) return Refuse(target, name, reason);
  // Namespace errors and an encoding declaration that contradicts the byte-order
  // mark leave libxml2's result standing; they still make the document malformed.
  if (parsed && !mark.refusedDtd && ctxt->wellFormed && ctxt->nsWellFormed &&
      EncodingContradictsMark(head(), encoding == nullptr ? parsed->encoding : nullptr))
    return Refuse(target, name, "the declared encoding contradicts the byte-order mark");
  if (!parsed || mark.refusedDtd || !ctxt->wellFormed || !ctxt->nsWellFormed) {
    target.refusal = errors.Reason(name, "not well-formed");
    return false;
  }
  target.Reset(std::move(parsed), nullptr, policy == LoadPolicy::Input && !mark.namespaces);
  return true;
}

bool ParseFile(Document& target, const std::wstring& path, LoadPolicy policy,
               ElementEndObserver* observer = nullptr) {
  const std::wstring name = GetFileNamePart(path);
  FileFeed feed;
  if (!feed.file.Open(path)) return Refuse(target, name, feed.file.Refusal());
  const std::string url = WideToNative(path);
  // The same pull parser as for bytes in memory, fed from the file as it reads.
  const auto read = [&](xmlParserCtxt* ctxt, int options) {
    xmlDoc* doc = xmlCtxtReadIO(ctxt, &ReadFeed, nullptr, &feed, url.c_str(), nullptr, options);
    if (feed.failure) {
      DocPtr drop(doc);
      std::rethrow_exception(feed.failure);
    }
    return doc;
  };
  const auto refused = [&] {
    feed.ReadRest();
    if (feed.failure) std::rethrow_exception(feed.failure);
    return feed.failed ? feed.Refusal() : std::string();
  };
  return Parse(target, name, nullptr, policy, observer, &feed.window, read, refused,
               [&] { return std::string_view(feed.head); });
}

// A text has no name: its reason begins with the place.
bool ParseBytes(Document& target, const std::string& bytes, const char* encoding, LoadPolicy policy) {
  if (bytes.size() > static_cast<std::size_t>(INT_MAX)) return Refuse(target, {}, "larger than 2 GB");
  if (TooManyAttributes(bytes)) return Refuse(target, {}, "an element has too many attributes");
  const auto read = [&](xmlParserCtxt* ctxt, int options) {
    return xmlCtxtReadMemory(ctxt, bytes.data(), static_cast<int>(bytes.size()), nullptr, encoding, options);
  };
  return Parse(target, {}, encoding, policy, nullptr, nullptr, read, [] { return std::string(); },
               [&] { return std::string_view(bytes); });
}

// Ends a load at the next element once its stop flag is raised.
class StopAtNextElement final : public ElementEndObserver {
 public:
  struct Stopped {};
  explicit StopAtNextElement(const StopFlag& stop) : stop_(stop) {}
  void ElementEnded(xmlNode*) override {
    if (stop_.Requested()) throw Stopped{};
  }

 private:
  const StopFlag& stop_;
};

// CDATA sections become text, as in the inputs. Trap: the parser's own option for
// that clears the CDATA handler, and then the push parser (unlike the pull parser
// that reads inputs) reports an empty CDATA section to no one, so the empty text
// an input holds would be lost; handled here, it is kept.
void CdataAsText(void* ctx, const xmlChar* value, int length) { xmlSAX2Characters(ctx, value, length); }

// Bytes this program wrote that do not parse: never expected, so the report names
// the input whose bytes were being read and the parser's words.
ComError NotReadAgain(const ErrorScope& errors, const std::wstring& from) {
  if (errors.OutOfMemory()) return ComError(kEOutOfMemory);
  const std::wstring text =
      GetFileNamePart(from) + L": the merged comments could not be read again: " + errors.FirstMessage();
  return ComError(kEFail, text).WithReason(text);
}

}  // namespace

PushedDocument::PushedDocument(const std::string& url) {
  InitLibraries();
  ctxt_.reset(xmlCreatePushParserCtxt(nullptr, nullptr, nullptr, 0, url.c_str()));
  if (!ctxt_) throw ComError(kEOutOfMemory);
  // The bytes re-escape what the inputs held and join them into one document, so
  // they may exceed the size limits that each input met on its own: those are
  // lifted. Trap: compact text may not be changed in place afterwards; this tree
  // is only read (and at most pruned of blank text by the transform).
  xmlCtxtUseOptions(ctxt_.get(), XML_PARSE_NONET | XML_PARSE_HUGE | XML_PARSE_COMPACT);
  ctxt_->sax->cdataBlock = &CdataAsText;
}

PushedDocument::~PushedDocument() {
  if (ctxt_) DocPtr unfinished(ctxt_->myDoc);  // the parser leaves its document to its caller
}

void PushedDocument::Push(std::string_view bytes, const std::wstring& from) {
  ErrorScope errors;
  while (!bytes.empty()) {
    const auto n = static_cast<int>(std::min<std::size_t>(bytes.size(), std::size_t{1} << 30));
    if (xmlParseChunk(ctxt_.get(), bytes.data(), n, 0) != 0 || errors.OutOfMemory())
      throw NotReadAgain(errors, from);
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

DocumentHandle PushedDocument::Finish(const std::wstring& from) {
  ErrorScope errors;
  const int status = xmlParseChunk(ctxt_.get(), nullptr, 0, 1);
  DocPtr parsed(ctxt_->myDoc);
  ctxt_->myDoc = nullptr;
  if (status != 0 || !parsed || !ctxt_->wellFormed || errors.OutOfMemory()) throw NotReadAgain(errors, from);
  DocumentHandle handle;
  if (CreateDocument(handle) < 0) throw ComError(kEOutOfMemory);
  handle->Reset(std::move(parsed), nullptr, true);
  return handle;
}

bool Load(const DocumentHandle& handle, const std::wstring& path, LoadPolicy policy, const StopFlag* stop) {
  if (stop == nullptr || policy != LoadPolicy::Input) return ParseFile(Require(handle), path, policy);
  StopAtNextElement observer(*stop);
  try {
    return ParseFile(Require(handle), path, policy, &observer);
  } catch (const StopAtNextElement::Stopped&) {
    return false;
  }
}

DocPtr ParseSource(std::string_view source) {
  if (source.size() > static_cast<std::size_t>(INT_MAX)) return nullptr;
  ErrorScope errors;  // collected, never reported: a failure sends the input another way
  DocPtr parsed(xmlReadMemory(source.data(), static_cast<int>(source.size()), nullptr, "UTF-8", kInputOptions));
  if (errors.OutOfMemory()) throw ComError(kEOutOfMemory);
  return parsed;
}

bool LoadObserved(const DocumentHandle& handle, const std::wstring& path, ElementEndObserver& observer) {
  return ParseFile(Require(handle), path, LoadPolicy::Input, &observer);
}

std::wstring LoadRefusal(const DocumentHandle& handle) { return handle ? handle->refusal : std::wstring(); }

bool IsNamespaceFree(const DocumentHandle& handle) noexcept { return handle && handle->namespaceFree; }

xmlDoc* Tree(const DocumentHandle& handle) noexcept { return handle ? handle->doc.get() : nullptr; }

bool LoadXml(const DocumentHandle& handle, const std::wstring& text, LoadPolicy policy) {
  Document& doc = Require(handle);
  // The text is already characters: a declared encoding must not reinterpret it.
  return ParseBytes(doc, WideToUtf8(text), "UTF-8", policy);
}

}  // namespace zantrel::xml
