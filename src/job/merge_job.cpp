#include "job/merge_job.hpp"

#include <boost/lexical_cast.hpp>
#include <memory>
#include <optional>

#include "base/paths.hpp"
#include "comments/operations.hpp"
#include "engine/documents.hpp"
#include "engine/input_loader.hpp"
#include "job/compact_merge.hpp"

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

  // The one place that chooses how the comments are held. The compact path steps
  // aside, before it logs anything of a step, where it cannot follow a document;
  // from there the whole tree carries on as if it had run from the start.
  std::unique_ptr<CompactMerge> compact =
      path == MergePath::Compact ? CompactMerge::ForJob(styleSheetPath, inputs) : nullptr;
  // The later inputs are parsed ahead while this thread merges, and freed off it;
  // each still counts as read where its line is logged, and a failed read fails
  // the job there.
  // The last reported percentages of this job alone, from where earlier jobs left
  // them; handed back when the job ends, however it ends.
  JobProgress progress;
  // What the job knows of the base's chats: the removal after each merge looks
  // only at the chats that merge appended.
  CommentIndex index;
  std::optional<InputLoader> later;
  if (!compact) later.emplace(inputs, 1);
  log(L"読み込み：" + GetFileNamePart(inputs[0]));
  DocumentHandle base;
  if (compact && !compact->LoadBase()) {
    compact.reset();
    later.emplace(inputs, 1);
  }
  if (!compact) LoadDocument(inputs[0], base);

  for (std::size_t i = 1; i < n; ++i) {
    log(L"読み込み：" + GetFileNamePart(inputs[i]));
    if (compact && !compact->Merge(i, log, progress)) {
      base = compact->WholeTree(i, progress);
      compact.reset();
      later.emplace(inputs, i);
    }
    if (!compact) {
      DocumentHandle added = later->Take(i);
      MergeComments(added, base, index, log, progress);
      later->Dispose(std::move(added));
    }
    // The first progress line has no blank before its parenthesis; the later ones do.
    log(i == 1 ? L"( 1 / " + Number(n - 1) + L" 完了)"
               : L"( " + Number(i) + L" / " + Number(n - 1) + L" 完了 )");
  }
  later.reset();

  log(L"XSLT読み込み：" + GetFileNamePart(styleSheetPath));
  DocumentHandle destination;
  if (CreateDomDocument(destination) < 0)
    throw CallTextError("pDoc.CreateInstance( __uuidof( MSXML2::DOMDocument ) )");
  log(L"XSLT適用中...");
  if (compact && !compact->ApplyStyleSheet(styleSheetPath, destination)) {
    base = compact->WholeTree(n, progress);
    compact.reset();
  }
  // The merged base is not read again: the component may hand its tree over.
  if (!compact) ApplyStyleSheet(styleSheetPath, base, destination, xml::SourceAfter::Released);

  log(L"last_res値の設定");
  try {
    if (compact) {
      compact->UpdateLastRes(destination);
    } else {
      UpdateLastRes(destination);
    }
  } catch (...) {
    WriteCurrentErrorReport(log);
    log(L"last_res値の設定に失敗しました");
  }

  log(L"保存：" + GetFileNamePart(outputPath));
  if (compact) {
    compact->Save(destination, outputPath);
  } else {
    SaveDocument(destination, outputPath);
  }
  log(L"処理が完了しました");
  log(L"開始時間：" + startTime);
  log(L"終了時間：" + CurrentTimeText());
  return true;
}

}  // namespace zantrel
