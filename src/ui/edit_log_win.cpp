#include "ui/edit_log_win.hpp"

#include <algorithm>

namespace zantrel {

UINT RunAppendMessage() {
  static const UINT message = RegisterWindowMessageW(L"Zantrel.RunLogAppend");
  return message;
}

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
    return true;
  }
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    pending_.push_back(&append);
  }
  SendMessageW(GetParent(edit_), RunAppendMessage(), 0, reinterpret_cast<LPARAM>(&append));
  // Taken out again whether it ran or not (the window may be gone): after this
  // nothing can reach `append`.
  std::lock_guard<std::mutex> lock(pendingMutex_);
  const auto it = std::find(pending_.begin(), pending_.end(), &append);
  if (it != pending_.end()) pending_.erase(it);
  return true;
}

bool EditLogControl::RunPendingAppend(LPARAM lParam) {
  const std::function<void()>* append = nullptr;
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    const auto it = std::find_if(pending_.begin(), pending_.end(), [&](const std::function<void()>* p) {
      return reinterpret_cast<LPARAM>(p) == lParam;
    });
    if (it == pending_.end()) return false;
    append = *it;
    pending_.erase(it);  // claimed: a copy of the message cannot run it twice
  }
  // Still alive: its sender waits in SendMessageW until this thread has served its
  // message, which cannot happen while we run here.
  (*append)();
  return true;
}

void EditLogControl::ReplaceSelection(const std::wstring& text) {
  SendMessageW(edit_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
}

}  // namespace zantrel
