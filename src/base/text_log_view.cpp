#include "base/text_log_view.hpp"

#include <algorithm>

#include "base/text.hpp"

namespace zantrel {

void TextLogView::Clear() {
  text_.clear();
  selStart_ = selEnd_ = 0;
}

void TextLogView::Select(std::size_t start, std::size_t end) {
  // Like the edit control: out-of-range positions clamp to the text.
  selStart_ = std::min(start, text_.size());
  selEnd_ = std::min(end, text_.size());
  if (selStart_ > selEnd_) std::swap(selStart_, selEnd_);
}

void TextLogView::ReplaceSelection(const std::wstring& text) {
  const std::u16string inserted = WideToUtf16(text);
  const std::size_t replaced = selEnd_ - selStart_;
  text_.replace(selStart_, replaced, inserted);
  selStart_ = selEnd_ = selStart_ + inserted.size();
  if (echo_ == nullptr) return;
  std::string out(replaced, '\b');
  std::wstring plain = text;
  for (std::size_t pos = 0; (pos = plain.find(L"\r\n", pos)) != std::wstring::npos;)
    plain.erase(pos, 1);
  out += WideToUtf8(plain);
  std::fwrite(out.data(), 1, out.size(), echo_);
  std::fflush(echo_);
}

std::wstring TextLogView::Text() const { return Utf16ToWide(text_); }

}  // namespace zantrel
