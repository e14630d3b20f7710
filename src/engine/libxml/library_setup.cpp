#include "engine/libxml/library_setup.hpp"

#include <libexslt/exslt.h>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/parserInternals.h>
#include <libxml/uri.h>
#include <libxslt/xslt.h>
#include <libxslt/xsltutils.h>
#include <sys/stat.h>

#include <cstring>
#include <mutex>
#include <string>

#include "engine/file_io.hpp"
#include "engine/libxml/attribute_bound.hpp"
#include "engine/libxml/error_scope.hpp"
#include "engine/libxml/owners.hpp"
#include "base/text.hpp"

namespace zantrel::xml {
namespace {

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

// Input parsers carry a mark in _private (parse.cpp); for them it refuses all.
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

}  // namespace

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

}  // namespace zantrel::xml
