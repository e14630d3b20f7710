// The main window: a resizable frame whose whole client area is the read-only
// log, accepting dropped files and saving the settings when it closes.
//
// Main thread only, except RequestClose, which workers call (it only posts a
// message). The object lives on the entry function's stack and must outlive its
// window and every worker (the entry's Workers wait for them); its destructor
// closes a window that is still open.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "job/job_host.hpp"
#include "ui/edit_log_win.hpp"
#include "ui/wnd_base_win.hpp"

namespace zantrel {

class CWndMain final : public CWndBase, public JobHost {
 public:
  CWndMain(std::wstring className, std::wstring settingsPath);
  ~CWndMain() override;

  LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override;

  const std::wstring& ClassName() const { return className_; }
  const std::wstring& Title() const { return title_; }
  int DefaultWidth() const { return defaultWidth_; }
  int DefaultHeight() const { return defaultHeight_; }
  const std::wstring& SettingsPath() const { return settingsPath_; }
  void SetSavePattern(std::wstring pattern) { savePattern_ = std::move(pattern); }
  HWND LogControlHandle() const { return log_ ? log_->Handle() : nullptr; }

  // JobHost
  std::wstring SavePattern() const override { return savePattern_; }
  std::wstring StyleSheetPath() const override { return styleSheetPath_; }
  std::wstring AskSavePath(const std::wstring& seed) override;
  Workers& JobWorkers() override { return *workers_; }
  void RequestClose() override;

  // The workers that run the jobs of this window (owned by the entry function).
  void AttachWorkers(Workers& workers) { workers_ = &workers; }

 private:
  friend bool CreateWnd(CWndMain& object);

  LRESULT OnCreate(HWND hwnd, const CREATESTRUCTW& create);
  void OnSize(int width, int height);
  void OnClose();

  std::wstring className_;
  std::wstring title_;
  int defaultWidth_ = 400;
  int defaultHeight_ = 280;
  std::wstring settingsPath_;
  std::wstring styleSheetPath_;
  std::wstring savePattern_;

  std::unique_ptr<EditLogControl> log_;
  HWND closeTarget_ = nullptr;  // kept after the window is gone: posts then fail quietly
  Workers* workers_ = nullptr;
};

bool RegisterWndClass(CWndMain& object);
bool CreateWnd(CWndMain& object);

}  // namespace zantrel
