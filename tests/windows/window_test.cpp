// Window tests under Wine: message routing, the main window, settings at close,
// the drop road, and the log of workers served by the message loop.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <memory>
#include <regex>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "base/app_info.hpp"
#include "base/log.hpp"
#include "base/paths.hpp"
#include "base/settings.hpp"
#include "base/text.hpp"
#include "comments/progress.hpp"
#include "job/intake.hpp"
#include "job/worker.hpp"
#include "test_support.hpp"
#include "ui/drop_win.hpp"
#include "ui/wnd_main_win.hpp"

namespace zantrel {
namespace {

using test::CommentXml;
using test::TempDir;
using test::WriteFile;

void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

std::wstring WindowText(HWND hwnd) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(hwnd)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()))));
  return text;
}

// A DROPFILES block with wide paths, as the shell hands it over.
HDROP MakeDrop(const std::vector<std::wstring>& paths) {
  std::size_t chars = 1;
  for (const auto& p : paths) chars += p.size() + 1;
  HGLOBAL memory = GlobalAlloc(GHND, sizeof(DROPFILES) + chars * sizeof(wchar_t));
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  auto* out = reinterpret_cast<wchar_t*>(header + 1);
  for (const auto& p : paths) {
    std::copy(p.begin(), p.end(), out);
    out += p.size() + 1;
  }
  GlobalUnlock(memory);
  return static_cast<HDROP>(memory);
}

// A window of a class routed through StaticWndProc, bound to `object`; the class
// is registered on first use.
HWND CreateRoutedWindow(const wchar_t* className, CWndBase& object) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &StaticWndProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.lpszClassName = className;
  RegisterClassExW(&wc);  // fails harmlessly when already registered
  return CreateWindowExW(0, className, L"t", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr, wc.hInstance,
                         &object);
}

// Records every message its WindowProc sees, and throws at one chosen message.
class Thrower final : public CWndBase {
 public:
  explicit Thrower(UINT at) : at_(at) {}
  LRESULT WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) override {
    seen.push_back(message);
    if (message == at_) throw std::runtime_error("thrown from a window procedure");
    return CWndBase::WindowProc(hwnd, message, wParam, lParam);
  }
  std::vector<UINT> seen;

 private:
  UINT at_;
};

// The object is bound from WM_NCCREATE (not WM_GETMINMAXINFO before it) until
// WM_DESTROY; an exception never leaves the window procedure.
TEST(Routing, BindsForTheWindowsLifeAndNoExceptionLeavesIt) {
  const auto create = [](Thrower& object) { return CreateRoutedWindow(L"ZantrelThrowerTest", object); };
  // A creation message that throws makes the creation fail.
  for (const UINT at : {static_cast<UINT>(WM_NCCREATE), static_cast<UINT>(WM_CREATE)}) {
    Thrower object(at);
    EXPECT_EQ(create(object), nullptr) << at;
    EXPECT_NE(std::find(object.seen.begin(), object.seen.end(), at), object.seen.end()) << at;
  }
  // Any other message ends as handled, and the window serves the next ones.
  constexpr UINT kThrowing = WM_USER + 7;
  Thrower object(kThrowing);
  HWND hwnd = create(object);
  ASSERT_NE(hwnd, nullptr);
  ASSERT_FALSE(object.seen.empty());
  EXPECT_EQ(object.seen.front(), static_cast<UINT>(WM_NCCREATE));
  EXPECT_EQ(GetPropW(hwnd, kWndBaseProp), &object);
  EXPECT_EQ(object.Handle(), hwnd);
  EXPECT_EQ(SendMessageW(hwnd, kThrowing, 0, 0), 0);
  PostMessageW(hwnd, kThrowing, 0, 0);
  PumpMessages();
  EXPECT_EQ(std::count(object.seen.begin(), object.seen.end(), kThrowing), 2);
  SendMessageW(hwnd, WM_NULL, 0, 0);
  EXPECT_EQ(object.seen.back(), static_cast<UINT>(WM_NULL));
  DestroyWindow(hwnd);
  EXPECT_NE(std::find(object.seen.begin(), object.seen.end(), static_cast<UINT>(WM_DESTROY)), object.seen.end());
  // After WM_DESTROY the binding is gone: WM_NCDESTROY went to DefWindowProcW.
  EXPECT_EQ(std::find(object.seen.begin(), object.seen.end(), static_cast<UINT>(WM_NCDESTROY)), object.seen.end());
  EXPECT_EQ(GetPropW(hwnd, kWndBaseProp), nullptr);
}

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override { settings_ = dir / L"Zantrel.ini"; }
  TempDir dir;
  std::wstring settings_;
  Workers workers_;  // each test finishes its jobs while its window still exists
};

TEST_F(MainWindowTest, RegistersOnceAndBuildsTheLog) {
  CWndMain window(L"Zantrel", settings_);
  EXPECT_TRUE(RegisterWndClass(window));
  EXPECT_TRUE(RegisterWndClass(window));  // known already: not registered again
  ASSERT_TRUE(CreateWnd(window));
  // The caption names the class and the project's one version.
  EXPECT_EQ(WindowText(window.Handle()), L"Zantrel - Ver." + GetAppInfo().version + L" Test");
  EXPECT_FALSE(IsWindowVisible(window.Handle()));
  AppendLog(L"こんにちは");
  EXPECT_EQ(WindowText(window.LogControlHandle()), L"こんにちは\r\n");

  // A client area of 500x300 makes the log exactly that, at the origin.
  RECT want{0, 0, 500, 300};
  AdjustWindowRectEx(&want, WS_OVERLAPPEDWINDOW, FALSE, 0);
  SetWindowPos(window.Handle(), nullptr, 0, 0, want.right - want.left, want.bottom - want.top,
               SWP_NOMOVE | SWP_NOZORDER);
  RECT client{};
  GetClientRect(window.Handle(), &client);
  ASSERT_EQ(client.right, 500);
  ASSERT_EQ(client.bottom, 300);
  RECT log{};
  GetWindowRect(window.LogControlHandle(), &log);
  MapWindowPoints(nullptr, window.Handle(), reinterpret_cast<POINT*>(&log), 2);
  EXPECT_EQ(log.left, 0);
  EXPECT_EQ(log.top, 0);
  EXPECT_EQ(log.right - log.left, 500);
  EXPECT_EQ(log.bottom - log.top, 300);
}

TEST_F(MainWindowTest, CloseWritesTheSettings) {
  CWndMain window(L"Zantrel", settings_);
  ASSERT_TRUE(RegisterWndClass(window));
  ASSERT_TRUE(CreateWnd(window));
  window.SetSavePattern(L"結合/$title_全部.xml");
  SendMessageW(window.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(window.Handle(), nullptr);
  // A first run's window is 400 by 280; a Japanese pattern round-trips.
  const IniFile ini(settings_, L"main");
  EXPECT_EQ(ini.ReadInt(L"", L"width", 0), 400);
  EXPECT_EQ(ini.ReadInt(L"", L"height", 0), 280);
  EXPECT_EQ(LoadSavePattern(settings_), L"結合/$title_全部.xml");
  MSG msg;
  EXPECT_TRUE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));  // WM_DESTROY ended the loop
}

TEST_F(MainWindowTest, DropsReachIntake) {
  const std::vector<std::wstring> paths = {dir / L"b.xml", dir / L"a.xml", dir / L"c.txt"};
  for (const auto& p : paths) WriteFile(p, CommentXml({1}));
  HDROP drop = MakeDrop(paths);
  std::vector<std::wstring> got;
  EXPECT_TRUE(GetDroppedFiles(drop, got));
  EXPECT_EQ(got, paths);
  DragFinish(drop);

  CWndMain window(L"Zantrel", settings_);
  ASSERT_TRUE(RegisterWndClass(window));
  ASSERT_TRUE(CreateWnd(window));
  SendMessageW(window.Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(MakeDrop({dir / L"a.xml"})), 0);
  EXPECT_EQ(test::SplitLines(WindowText(window.LogControlHandle())),
            std::vector<std::wstring>{L"結合するファイルを2つ以上一緒にD&Dして下さい"});
}

TEST_F(MainWindowTest, AppendsFromWorkersStayWhole) {
  CWndMain window(L"Zantrel", settings_);
  ASSERT_TRUE(RegisterWndClass(window));
  ASSERT_TRUE(CreateWnd(window));
  constexpr int kThreads = 3;
  constexpr int kLines = 60;
  std::atomic<int> running{kThreads};
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t, &running] {
      for (int i = 0; i < kLines; ++i) AppendLog(L"T" + std::to_wstring(t) + L"-" + std::to_wstring(i));
      --running;
    });
  }
  while (running.load() > 0) {
    AppendLog(L"M");  // the window thread's own lines in between
    PumpMessages();
    Sleep(1);
  }
  for (auto& w : workers) w.join();
  // Every line whole, none lost, each thread's lines in their order.
  std::vector<int> next(kThreads, 0);
  const std::wregex line(L"T([0-2])-([0-9]+)");
  for (const auto& l : test::SplitLines(WindowText(window.LogControlHandle()))) {
    if (l == L"M") continue;
    std::wsmatch m;
    ASSERT_TRUE(std::regex_match(l, m, line)) << WideToUtf8(l);
    const auto t = static_cast<std::size_t>(std::stoi(m[1].str()));
    EXPECT_EQ(std::stoi(m[2].str()), next[t]++);
  }
  for (int n : next) EXPECT_EQ(n, kLines);
}

// Two large jobs at once: each writes at most twenty ticks per call, not one per
// chat, so their log messages leave the window free to serve a close request; the
// jobs go on without the window and still save. (The bounds below are against a
// hang only.)
TEST_F(MainWindowTest, ServesACloseWhileTwoJobsRun) {
  ResetProgressTicks();
  WriteFile(dir / L"a1.xml", test::CommentRange(1, 15000));
  WriteFile(dir / L"a2.xml", test::CommentRange(7501, 15000));
  WriteFile(dir / L"b1.xml", test::CommentRange(1, 12000));
  WriteFile(dir / L"b2.xml", test::CommentRange(6001, 15000));
  CWndMain window(L"Zantrel", settings_);
  window.AttachWorkers(workers_);
  ASSERT_TRUE(RegisterWndClass(window));
  ASSERT_TRUE(CreateWnd(window));
  window.SetSavePattern(dir / L"$file_out.xml");
  // Shown, as a user has it: every log message then also repaints the log.
  ShowWindow(window.Handle(), SW_SHOWNOACTIVATE);
  ASSERT_TRUE(SubmitJob(MakeJobRequest({dir / L"a1.xml", dir / L"a2.xml"}), window));
  ASSERT_TRUE(SubmitJob(MakeJobRequest({dir / L"b1.xml", dir / L"b2.xml"}), window));
  // Close once both jobs merge: both headings are in the log. (A wait that never
  // ends is a hang, which the test's time limit fails.)
  const auto bothMerging = [&] {
    const std::wstring text = WindowText(window.LogControlHandle());
    const std::wstring heading = L"コメント結合中...";
    const std::size_t first = text.find(heading);
    return first != std::wstring::npos && text.find(heading, first + 1) != std::wstring::npos;
  };
  while (!bothMerging()) {
    PumpMessages();
    Sleep(1);
  }
  ASSERT_TRUE(bothMerging()) << WideToUtf8(WindowText(window.LogControlHandle()));
  ASSERT_TRUE(PostMessageW(window.Handle(), WM_CLOSE, 0, 0));
  std::wstring log;  // as the window last showed it
  MSG msg;
  while (window.Handle() != nullptr) {
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) continue;
    if (msg.message == WM_CLOSE && msg.hwnd == window.Handle()) log = WindowText(window.LogControlHandle());
    DispatchMessageW(&msg);
  }
  EXPECT_EQ(window.Handle(), nullptr);
  EXPECT_EQ(workers_.Finish(), 0);
  // Two steps of two jobs, twenty ticks at most each: a tick per chat would be
  // thousands, and a window too busy to close.
  EXPECT_LE(std::count(log.begin(), log.end(), L'|'), 80) << WideToUtf8(log);
  EXPECT_TRUE(PathExists(dir / L"a1_out.xml"));
  EXPECT_TRUE(PathExists(dir / L"b1_out.xml"));
  PumpMessages();
}

// The program's version resource and manifest, read back as Windows reads them.
TEST(ProgramResources, VersionAndManifest) {
  const std::wstring program = ZANTREL_PROGRAM;
  const std::wstring& version = GetAppInfo().version;  // project(VERSION), as the title shows it
  DWORD unused = 0;
  std::vector<char> info(GetFileVersionInfoSizeW(program.c_str(), &unused));
  ASSERT_FALSE(info.empty());
  ASSERT_TRUE(GetFileVersionInfoW(program.c_str(), 0, static_cast<DWORD>(info.size()), info.data()));
  const auto value = [&](const std::wstring& name) -> std::wstring {
    wchar_t* text = nullptr;
    UINT length = 0;
    const std::wstring path = L"\\StringFileInfo\\040904B0\\" + name;
    if (!VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length)) return L"(none)";
    return text;
  };
  for (const auto& [name, expected] : std::vector<std::pair<std::wstring, std::wstring>>{
           {L"FileVersion", version}, {L"ProductVersion", version}, {L"ProductName", L"Zantrel"},
           {L"OriginalFilename", L"Zantrel.exe"},
           {L"FileDescription", L"Zantrel: merges the XML comment files of one thread"},
           {L"LegalCopyright", L"Copyright (c) 2026 The Zantrel developers"}})
    EXPECT_EQ(value(name), expected) << name;
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  unsigned parts[4] = {};
  std::swscanf(version.c_str(), L"%u.%u.%u.%u", &parts[0], &parts[1], &parts[2], &parts[3]);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(parts[1], parts[0]));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(parts[3], parts[2]));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);

  const std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)> module(
      LoadLibraryExW(program.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE), &FreeLibrary);
  ASSERT_TRUE(module);
  HRSRC found = FindResourceW(module.get(), MAKEINTRESOURCEW(1), RT_MANIFEST);
  ASSERT_NE(found, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(LoadResource(module.get(), found))),
                             SizeofResource(module.get(), found));
  for (const char* needed : {"name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
                             "level=\"asInvoker\"", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
    EXPECT_NE(manifest.find(needed), std::string::npos) << needed;
  EXPECT_EQ(manifest.find("dpiAware"), std::string::npos);  // the system scales the fixed-height font
}

}  // namespace
}  // namespace zantrel
