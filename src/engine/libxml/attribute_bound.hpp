// The bound on attributes per element, checked on the bytes before libxml2 sees
// them: no comment file has an element with anywhere near 4096 attributes, and a
// hostile one must not make the parser quadratic.
//
// Any thread; an AttributeScan belongs to one reader. Linear in the size of the
// bytes. Never fails: text it cannot read as markup counts as no attributes, and
// the parser refuses it anyway.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace zantrel::xml {

// The scan over a document that arrives in pieces: after any sequence of Feed
// calls its answer is the one TooManyAttributes gives on their concatenation,
// wherever the pieces were cut (the encoding's first bytes, a partial character
// unit, a half-seen "<!--" or "-->" are carried to the next piece).
class AttributeScan {
 public:
  // False once a start tag so far holds too many attributes; it stays false.
  bool Feed(std::string_view bytes);
  bool TooMany() const noexcept { return tooMany_; }

 private:
  enum class Encoding { Undecided, Plain, Units, Ebcdic };
  enum class State { Text, Open, Tag, Quoted, Skip };

  void Scan(std::string_view text);  // text already as ASCII
  void Decide();

  Encoding encoding_ = Encoding::Undecided;
  std::size_t width_ = 1;  // Units: bytes per unit
  std::size_t low_ = 0;    // Units: the byte that carries an ASCII character
  std::string head_;       // Undecided: the first bytes; Units: a partial unit
  std::string projected_;  // scratch: one piece as ASCII

  State state_ = State::Text;
  std::string open_;            // Open: what follows the '<' so far
  std::size_t attributes_ = 0;  // Tag, Quoted: values of the current tag
  char quote_ = 0;              // Quoted
  std::string_view end_;        // Skip: the end of the comment, CDATA or PI
  std::string tail_;            // Skip: the last bytes seen, shorter than end_
  bool tooMany_ = false;
};

// True when a start tag in the document bytes (any encoding the parser detects by
// its first bytes: ASCII-compatible, UTF-16, UCS-4, EBCDIC) holds too many.
bool TooManyAttributes(std::string_view bytes);

}  // namespace zantrel::xml
