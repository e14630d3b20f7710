#include "engine/libxml/attribute_bound.hpp"

#include <cstdint>
#include <cstring>

namespace zantrel::xml {
namespace {

// No comment file has an element with anywhere near this many attributes.
constexpr std::size_t kMaxAttributes = 4096;

char FromEbcdic(unsigned char c) {
  // EBCDIC: only the characters of markup matter here.
  switch (c) {
    case 0x4C: return '<';
    case 0x6E: return '>';
    case 0x7F: return '"';
    case 0x7D: return '\'';
    case 0x5A: return '!';
    case 0x6F: return '?';
    case 0x60: return '-';
    case 0x61: return '/';
    default: return 'x';
  }
}

}  // namespace

// Where the encoding is not ASCII-compatible (UTF-16, UCS-4, EBCDIC, told apart as
// the parser does by the first four bytes) the scan sees the bytes as ASCII: every
// unit that is an ASCII character becomes that byte, every other one 0x80 (for
// EBCDIC: the characters of markup, everything else 'x'). A document shorter than
// four bytes is scanned as it is.
void AttributeScan::Decide() {
  const auto at = [&](std::size_t i) { return static_cast<unsigned char>(head_[i]); };
  const std::uint32_t head = (std::uint32_t{at(0)} << 24) | (std::uint32_t{at(1)} << 16) |
                             (std::uint32_t{at(2)} << 8) | at(3);
  encoding_ = Encoding::Units;
  if (head == 0x0000003C || head == 0x0000FEFF) {
    width_ = 4; low_ = 3;
  } else if (head == 0x3C000000 || head == 0xFFFE0000) {
    width_ = 4; low_ = 0;
  } else if ((head >> 16) == 0xFEFF || head == 0x003C003F) {
    width_ = 2; low_ = 1;
  } else if ((head >> 16) == 0xFFFE || head == 0x3C003F00) {
    width_ = 2; low_ = 0;
  } else if (head == 0x4C6FA794) {
    encoding_ = Encoding::Ebcdic;
  } else {
    encoding_ = Encoding::Plain;
  }
}

bool AttributeScan::Feed(std::string_view bytes) {
  if (tooMany_) return false;
  if (encoding_ == Encoding::Undecided) {
    const std::size_t take = std::min(bytes.size(), std::size_t{4} - head_.size());
    head_.append(bytes.substr(0, take));
    bytes.remove_prefix(take);
    if (head_.size() < 4) return true;  // too short to say: nothing to count yet
    Decide();
    std::string first;
    first.swap(head_);
    Feed(first);
  }
  switch (encoding_) {
    case Encoding::Plain:
      Scan(bytes);
      break;
    case Encoding::Ebcdic:
      projected_.resize(bytes.size());
      for (std::size_t i = 0; i < bytes.size(); ++i) projected_[i] = FromEbcdic(static_cast<unsigned char>(bytes[i]));
      Scan(projected_);
      break;
    case Encoding::Units: {
      // A unit cut by the end of the last piece is completed first; a unit cut by
      // the end of the document is never seen, as the parser never sees it.
      projected_.clear();
      const auto unit = [&](const char* u) {
        bool ascii = static_cast<unsigned char>(u[low_]) < 0x80;
        for (std::size_t k = 0; ascii && k < width_; ++k) ascii = k == low_ || u[k] == 0;
        return ascii ? u[low_] : '\x80';
      };
      if (!head_.empty()) {
        const std::size_t take = std::min(bytes.size(), width_ - head_.size());
        head_.append(bytes.substr(0, take));
        bytes.remove_prefix(take);
        if (head_.size() < width_) return true;
        projected_.push_back(unit(head_.data()));
        head_.clear();
      }
      const std::size_t whole = bytes.size() / width_ * width_;
      const std::size_t before = projected_.size();
      projected_.resize(before + whole / width_);
      char* out = projected_.data() + before;
      for (std::size_t i = 0; i < whole; i += width_) *out++ = unit(bytes.data() + i);
      head_.assign(bytes.substr(whole));
      Scan(projected_);
      break;
    }
    case Encoding::Undecided:
      break;
  }
  return !tooMany_;
}

// Counts quoted values (one per attribute) between a '<' that opens a tag and its
// '>' (or the next '<'); comments, CDATA sections and processing instructions are
// skipped. Trap: libxml2 checks a tag's attributes for duplicates pair by pair
// before anyone sees them, so a tag with a million attributes costs hours; only a
// look at the bytes first can refuse it in time. Mostly memchr.
void AttributeScan::Scan(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && !tooMany_) {
    switch (state_) {
      case State::Text: {
        const void* lt = std::memchr(text.data() + i, '<', text.size() - i);
        if (lt == nullptr) return;
        i = static_cast<std::size_t>(static_cast<const char*>(lt) - text.data()) + 1;
        state_ = State::Open;
        open_.clear();
        break;
      }
      case State::Open: {
        // What follows '<' decides; "<!--" and "<![CDATA[" may arrive in pieces.
        const char c = text[i];
        if (open_.empty() && c != '!') {
          if (c == '?') {
            ++i;
            state_ = State::Skip;
            end_ = "?>";
            tail_.clear();
          } else if (c == '/') {
            state_ = State::Text;  // an end tag: scanned on as text
          } else {
            state_ = State::Tag;  // this byte is the tag's first
            attributes_ = 0;
          }
          break;
        }
        open_.push_back(c);
        ++i;
        constexpr std::string_view comment = "!--";
        constexpr std::string_view cdata = "![CDATA[";
        if (open_ == comment || open_ == cdata) {
          state_ = State::Skip;
          end_ = open_ == comment ? std::string_view("-->") : std::string_view("]]>");
          tail_.clear();
        } else if (comment.substr(0, open_.size()) != open_ && cdata.substr(0, open_.size()) != open_) {
          // Some other "<!": what follows the '!' is text again, from the start.
          state_ = State::Text;
          const std::string again = open_.substr(1);
          Scan(again);
        }
        break;
      }
      case State::Tag: {
        // Names, blanks and '=' between the bytes that matter.
        while (i < text.size() && text[i] != '>' && text[i] != '<' && text[i] != '"' && text[i] != '\'') ++i;
        if (i == text.size()) return;
        const char c = text[i++];
        if (c == '>') {
          state_ = State::Text;
        } else if (c == '<') {
          state_ = State::Open;
          open_.clear();
        } else if (c == '"' || c == '\'') {
          if (++attributes_ > kMaxAttributes) {
            tooMany_ = true;
            return;
          }
          state_ = State::Quoted;
          quote_ = c;
        }
        break;
      }
      case State::Quoted: {
        // An unclosed value runs to the end: nothing after it counts.
        const void* close = std::memchr(text.data() + i, quote_, text.size() - i);
        if (close == nullptr) return;
        i = static_cast<std::size_t>(static_cast<const char*>(close) - text.data()) + 1;
        state_ = State::Tag;
        break;
      }
      case State::Skip: {
        const std::string_view rest = text.substr(i);
        // An end cut by the last piece's end first; it cannot lie in tail_ alone.
        std::string seam = tail_;
        seam.append(rest.substr(0, end_.size() - 1));
        const std::size_t across = seam.find(end_);
        if (across != std::string::npos) {
          i += across + end_.size() - tail_.size();
          state_ = State::Text;
          break;
        }
        const std::size_t found = rest.find(end_);
        if (found != std::string_view::npos) {
          i += found + end_.size();
          state_ = State::Text;
          break;
        }
        seam = tail_;
        seam.append(rest);
        tail_.assign(seam, seam.size() - std::min(seam.size(), end_.size() - 1));
        return;
      }
    }
  }
}

bool TooManyAttributes(std::string_view bytes) {
  AttributeScan scan;
  scan.Feed(bytes);
  return scan.TooMany();
}

}  // namespace zantrel::xml
