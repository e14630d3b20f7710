// Zantrel.exe: the windowed program. Start-up, the message loop and shutdown.
//
//   Zantrel.exe [-autoexit] [-hide] [save=PATTERN] FILE.xml FILE.xml ...
//
// With auto-exit ("-autoexit", or "-hide") the exit code tells scripts the
// outcome: 0 saved, 1 a job did not save, 2 no job ran. A window that cannot be
// made ends the program with 3.
#include <windows.h>

#include "base/app_info.hpp"
#include "base/args.hpp"
#include "base/log.hpp"
#include "base/scoped_win.hpp"
#include "job/intake.hpp"
#include "job/worker.hpp"
#include "ui/window_settings_win.hpp"
#include "ui/wnd_main_win.hpp"

using namespace zantrel;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  const AppInfo& info = GetAppInfo();
  CWndMain window(info.programName, info.settingsPath);
  // Declared after the window: it waits for every worker before the window object
  // that the workers report to goes.
  Workers workers;
  window.AttachWorkers(workers);
  const ArgumentList args = GetCommandArgs();
  const bool hide = IsHidden(args);
  const JobRequest request = MakeJobRequest(args);

  if (!RegisterWndClass(window) || !CreateWnd(window)) return 3;
  LoadSettings(window, info.settingsPath);
  ShowWindow(window.Handle(), hide ? SW_HIDE : SW_SHOW);

  if (!args.empty()) {
    AppendLog(GetRawCommandLine());
    SubmitJob(request, window);
  } else {
    AppendLog(L"結合するコメントファイルをまとめてドラッグ&ドロップして下さい");
  }

  MSG msg{};
  {
    const ScopedComInit com;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  // A job still running finishes its save; its log lines now reach no window.
  const int outcome = workers.Finish();
  return request.autoExit ? outcome : static_cast<int>(msg.wParam);
}
