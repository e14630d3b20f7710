// The bound on attributes per element, checked on the bytes before libxml2 sees
// them: no comment file has an element with anywhere near 4096 attributes, and a
// hostile one must not make the parser quadratic.
//
// Any thread; pure (reads the bytes, keeps nothing). Linear in the size of the
// bytes. Never fails: text it cannot read as markup counts as no attributes, and
// the parser refuses it anyway.
#pragma once

#include <string>

namespace zantrel::xml {

// True when a start tag in the document bytes (any encoding the parser detects by
// its first bytes: ASCII-compatible, UTF-16, UCS-4, EBCDIC) holds too many.
bool TooManyAttributes(const std::string& bytes);

}  // namespace zantrel::xml
