// zantrel: the merge tool on the command line.
//
//   zantrel [-autoexit] [-hide] [save=PATTERN] FILE.xml FILE.xml ...
//
// The log goes to standard output as it is written; why a job failed, when an
// input or the style sheet was refused, goes to standard error as one line.
// Exit status: 0 the output file was saved, 1 a job started and did not save, 2
// no job could start.
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "base/app_info.hpp"
#include "base/args.hpp"
#include "base/log.hpp"
#include "base/paths.hpp"
#include "base/settings.hpp"
#include "base/text.hpp"
#include "base/text_log_view.hpp"
#include "engine/file_io.hpp"
#include "job/intake.hpp"
#include "job/save_question.hpp"
#include "job/worker.hpp"

namespace {

using namespace zantrel;

constexpr char kUsage[] =
    "使い方: zantrel [-autoexit] [-hide] [save=保存先パターン] ファイル.xml ファイル.xml ...\n"
    "       zantrel --help | --version\n"
    "  2つ以上のコメントファイルを1つに結合し、重複コメントを削除して保存します。\n"
    "  save=  保存先のパターン。$file, $title, $date が最初のファイル名から置き換えられます\n"
    "         (例: save=$title_all.xml)。省略時は Zantrel.ini の [main] save= を使います。\n"
    "  終了コード: 0 保存した / 1 処理に失敗した / 2 処理を開始できなかった\n";

// The usage, then the files this program looks for, in order, and which was found.
std::wstring Usage() {
  const AppInfo& app = GetAppInfo();
  std::wstring text = Utf8ToWide(kUsage);
  const auto list = [&](const wchar_t* heading, const std::vector<std::wstring>& candidates,
                        const std::wstring& chosen) {
    text += heading;
    for (const auto& path : candidates)
      text += L"    " + path + (path == chosen && PathExists(path) ? L"  (使用中)" : L"") + L"\n";
  };
  list(L"  スタイルシート (この順に探します):\n", app.styleSheetCandidates, app.styleSheetPath);
  list(L"  設定ファイル (この順に探します):\n", app.settingsCandidates, app.settingsPath);
  return text;
}

void Print(std::FILE* out, const std::wstring& text) {
  const std::string bytes = WideToUtf8(text);
  std::fwrite(bytes.data(), 1, bytes.size(), out);
}

class CommandLineHost final : public JobHost {
 public:
  explicit CommandLineHost(Workers& workers)
      : savePattern_(LoadSavePattern(GetAppInfo().settingsPath)), workers_(workers) {}

  std::wstring SavePattern() const override { return savePattern_; }
  std::wstring StyleSheetPath() const override { return GetAppInfo().styleSheetPath; }
  std::wstring AskSavePath(const std::wstring& seed) override {
    // Scripts never hang on a question: ask only a person at a terminal.
    if (::isatty(STDIN_FILENO) == 0) return {};
    return AskSavePathOnTerminal(seed, stdin, stderr);
  }
  Workers& JobWorkers() override { return workers_; }
  void RequestClose() override {}  // the program ends when its workers have
  // Beside the log, as command-line tools say why: "zantrel: b.xml:1:95: ...".
  // Names keep their bytes, except that a control character in one (a line break,
  // an escape sequence) shows as '?': the reason stays one line of plain text.
  void ReportFailureReason(const std::wstring& reason) noexcept override {
    try {
      std::string line = "zantrel: " + WideToNative(reason);
      for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
      line += '\n';
      std::fwrite(line.data(), 1, line.size(), stderr);
    } catch (...) {
      // Out of memory: the log already has the failure.
    }
  }

 private:
  std::wstring savePattern_;
  Workers& workers_;
};

// True when the process may not map as much as it likes (ulimit -v or -d).
bool AddressSpaceLimited() {
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    rlimit limit{};
    if (::getrlimit(resource, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) return true;
  }
  return false;
}

// A job builds and frees hundreds of thousands of small nodes in one go. An arena
// each for the job's thread and its reading helper (sharing one makes them queue
// on its lock), grown in large steps, without fast bins (whose consolidation
// dominated the time spent freeing documents).
void TuneAllocator() {
  mallopt(M_MXFAST, 0);
  // Trap: near an address-space limit, a second arena or a 64 MiB growth step
  // cannot be mapped, and the allocator then retries both, and fails, on every
  // allocation: a job crawls instead of using what it may. One arena grown as
  // needed keeps it at its usual pace.
  if (AddressSpaceLimited()) {
    mallopt(M_ARENA_MAX, 1);
    return;
  }
  mallopt(M_ARENA_MAX, 2);
  mallopt(M_TOP_PAD, 64 << 20);
}

}  // namespace

int main(int argc, char** argv) {
  TuneAllocator();
  // A reader that goes away (zantrel ... | head) must not kill a job mid-save, nor
  // must a file-size limit: the write then fails and the save is undone cleanly.
  std::signal(SIGPIPE, SIG_IGN);
  std::signal(SIGXFSZ, SIG_IGN);
  StartTerminationCleanup();  // before any thread: Ctrl+C mid-save leaves no temporary file

  const ArgumentList args = GetCommandArgs(argc, argv);
  // Neither is an input file: each answers alone and changes nothing.
  if (args.size() == 1 && args[0] == L"--help") {
    Print(stdout, Usage());
    return 0;
  }
  if (args.size() == 1 && args[0] == L"--version") {
    Print(stdout, L"zantrel " + GetAppInfo().version + L"\n");
    return 0;
  }

  TextLogView view(stdout);
  SetLogTarget(&view);
  Workers workers;
  CommandLineHost host(workers);
  if (args.empty()) {
    AppendLog(L"結合するコメントファイルをまとめてドラッグ&ドロップして下さい");
    Print(stderr, Usage());
  } else {
    AppendLog(GetRawCommandLine(argc, argv));
    SubmitJob(MakeJobRequest(args), host);
  }
  const int exitCode = workers.Finish();
  SetLogTarget(nullptr);
  return exitCode;
}
