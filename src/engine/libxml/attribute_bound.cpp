#include "engine/libxml/attribute_bound.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

namespace zantrel::xml {
namespace {

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

}  // namespace

bool TooManyAttributes(const std::string& bytes) {
  const std::string projected = AsciiProjection(bytes);
  return TooManyAttributesIn(projected.empty() ? std::string_view(bytes) : std::string_view(projected));
}

}  // namespace zantrel::xml
