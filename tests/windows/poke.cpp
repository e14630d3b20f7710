// Plays another program on the desktop: posts messages that Zantrel's window must
// not trust to a running Zantrel.exe, then reports its log once the job has ended.
//
// Exit code: 0 the log (UTF-8) is on standard output; 1 no window appeared; 2 the
// window went away or stopped answering; 3 the job did not end in time.
#include <windows.h>
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <random>
#include <string>

namespace {

// The log control's text, or nothing when the window does not answer.
bool LogText(HWND edit, std::wstring& text) {
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutW(edit, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 5000, &length)) return false;
  text.assign(length + 1, L'\0');
  DWORD_PTR got = 0;
  if (!SendMessageTimeoutW(edit, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                           5000, &got))
    return false;
  text.resize(got);
  return true;
}

}  // namespace

int main() {
  // Trap: the main window can be found while it is still creating its children,
  // so wait for the log control too.
  HWND window = nullptr;
  HWND edit = nullptr;
  for (int i = 0; i < 1200 && edit == nullptr; ++i) {
    window = FindWindowW(L"Zantrel", nullptr);
    if (window != nullptr) edit = FindWindowExW(window, nullptr, L"EDIT", nullptr);
    if (edit == nullptr) Sleep(50);
  }
  if (edit == nullptr) return 1;

  // The number the log's message once had, and the log's registered message, with
  // a null and a random lParam.
  std::mt19937_64 random(std::random_device{}());
  const UINT registered = RegisterWindowMessageW(L"Zantrel.RunLogAppend");
  for (const LPARAM lParam : {LPARAM{0}, static_cast<LPARAM>(random() | 1)}) {
    PostMessageW(window, WM_APP + 1, 0, lParam);
    PostMessageW(window, registered, 0, lParam);
  }

  std::wstring text;
  for (int i = 0; i < 1200; ++i) {
    if (!IsWindow(window) || !LogText(edit, text)) return 2;
    if (text.find(L"終了時間") != std::wstring::npos) {
      const int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                        nullptr, nullptr);
      std::string bytes(static_cast<std::size_t>(n), '\0');
      WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), bytes.data(), n, nullptr,
                          nullptr);
      _setmode(_fileno(stdout), _O_BINARY);  // the log's own "\r\n", not "\r\r\n"
      std::fwrite(bytes.data(), 1, bytes.size(), stdout);
      return 0;
    }
    Sleep(50);
  }
  return 3;
}
