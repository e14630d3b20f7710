// A log view without a window system: a UTF-16 text buffer with the four log
// operations, optionally echoing every change to a byte stream as UTF-8.
//
// Echo: inserted text is written as it arrives ("\r\n" becomes "\n") and flushed,
// so a line built from "%RAW%" pieces grows live on a terminal. Clearing at the
// size bound does not touch what was already echoed; an in-place overwrite echoes
// backspaces over the replaced characters first.
//
// Threads: not locked itself; AppendLog drives it under its lock. Text() may be
// called when no append runs. Owns its buffer; borrows the echo stream.
#pragma once

#include <cstdio>
#include <string>

#include "base/log.hpp"

namespace zantrel {

class TextLogView final : public LogControl {
 public:
  explicit TextLogView(std::FILE* echo = nullptr) : echo_(echo) {}

  std::size_t Length() override { return text_.size(); }
  void Clear() override;
  void Select(std::size_t start, std::size_t end) override;
  void ReplaceSelection(const std::wstring& text) override;

  std::wstring Text() const;

 private:
  std::u16string text_;
  std::size_t selStart_ = 0;
  std::size_t selEnd_ = 0;
  std::FILE* echo_;
};

}  // namespace zantrel
