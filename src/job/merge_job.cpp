#include "job/merge_job.hpp"

#include <boost/lexical_cast.hpp>
#include <memory>

#include "base/paths.hpp"
#include "engine/documents.hpp"
#include "job/comment_store.hpp"

namespace zantrel {
namespace {

std::wstring Number(std::size_t value) { return boost::lexical_cast<std::wstring>(value); }

}  // namespace

std::wstring FormatTimeText(const std::tm& local) {
  return boost::lexical_cast<std::wstring>(local.tm_mon + 1) + L"月" +
         boost::lexical_cast<std::wstring>(local.tm_mday) + L"日" +
         boost::lexical_cast<std::wstring>(local.tm_hour) + L"時" +
         boost::lexical_cast<std::wstring>(local.tm_min) + L"分" +
         boost::lexical_cast<std::wstring>(local.tm_sec) + L"秒";
}

std::wstring CurrentTimeText() {
  // One reading for all five fields, so a text never mixes two moments.
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#if defined(_WIN32)
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  return FormatTimeText(local);
}

bool RunMergeJob(const std::wstring& styleSheetPath, LogCallback log,
                 const std::wstring& outputPath, std::vector<std::wstring> inputs, MergePath path) {
  const std::wstring startTime = CurrentTimeText();  // taken before any check

  const std::size_t n = inputs.size();
  if (n < 2) {
    log(L"ファイルが2つ以上選択されていません");
    return false;
  }
  for (const auto& input : inputs) {
    if (!PathExists(input)) {
      log(L"ファイルが見つかりませんでした : " + GetFileNamePart(input));
      return false;
    }
  }
  if (!PathExists(styleSheetPath)) {
    log(L"ファイルが見つかりませんでした : " + GetFileNamePart(styleSheetPath));
    return false;
  }

  log(L"");
  log(L"------------------------------");
  log(L"変換開始");

  // Read once for the whole job; what fails in it is reported at the transform.
  const StyleSheet sheet(styleSheetPath);
  // The last reported percentages of this job alone, from where earlier jobs left
  // them; handed back when the job ends, however it ends.
  JobProgress progress;
  const MergeInputs job{inputs, sheet, progress};
  JobComments comments(job, path);

  log(L"読み込み：" + GetFileNamePart(inputs[0]));
  comments.LoadBase();
  for (std::size_t i = 1; i < n; ++i) {
    log(L"読み込み：" + GetFileNamePart(inputs[i]));
    comments.Merge(i, log);
    // The first progress line has no blank before its parenthesis; the later ones do.
    log(i == 1 ? L"( 1 / " + Number(n - 1) + L" 完了)"
               : L"( " + Number(i) + L" / " + Number(n - 1) + L" 完了 )");
  }

  log(L"XSLT読み込み：" + GetFileNamePart(styleSheetPath));
  DocumentHandle destination;
  if (CreateDomDocument(destination) < 0) throw CallTextError(kNoDocument);
  log(L"XSLT適用中...");
  comments.Transform(destination);

  log(L"last_res値の設定");
  try {
    comments.UpdateLastRes(destination);
  } catch (...) {
    WriteCurrentErrorReport(log);
    log(L"last_res値の設定に失敗しました");
  }

  log(L"保存：" + GetFileNamePart(outputPath));
  comments.Save(destination, outputPath);
  log(L"処理が完了しました");
  log(L"開始時間：" + startTime);
  log(L"終了時間：" + CurrentTimeText());
  return true;
}

}  // namespace zantrel
