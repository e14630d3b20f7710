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

bool EditLogControl::RunAppend(const std::function<void()>& append) {
  if (GetWindowThreadProcessId(edit_, nullptr) == GetCurrentThreadId()) {
    append();
  } else {
    SendMessageW(GetParent(edit_), kRunAppendMessage, 0, reinterpret_cast<LPARAM>(&append));
  }
  return true;
}

void EditLogControl::ReplaceSelection(const std::wstring& text) {
  SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace zantrel
