#include "ui/edit_log_win.hpp"

namespace zantrel {

std::size_t EditLogControl::Length() {
  const int n = GetWindowTextLengthW(edit_);
  return n < 0 ? 0 : static_cast<std::size_t>(n);
}

void EditLogControl::Clear() { SetWindowTextW(edit_, L""); }

void EditLogControl::Select(std::size_t start, std::size_t end) {
  SendMessageW(edit_, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

void EditLogControl::ReplaceSelection(const std::wstring& text) {
  SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace zantrel
