#include "job/intake.hpp"

#include <algorithm>

#include "job/naming.hpp"
#include "base/paths.hpp"
#include "base/text.hpp"
#include "job/worker.hpp"
#include "base/log.hpp"

namespace zantrel {

bool FilterInputFiles(const ArgumentList& files, std::vector<std::wstring>& accepted) {
  accepted.clear();
  for (const auto& file : files) {
    std::wstring path = MakeAbsolutePath(file);
    if (path.empty() || !PathExists(path)) continue;
    if (ToLowerCopy(GetExtensionPart(path)) != L".xml") continue;
    accepted.push_back(std::move(path));
  }
  return !accepted.empty();
}

void SortInputFiles(std::vector<std::wstring>& files) {
  std::stable_sort(files.begin(), files.end(),
                   [](const std::wstring& a, const std::wstring& b) { return Utf16Less(a, b); });
}

bool SubmitJob(const ArgumentList& files, JobHost& host) {
  const bool autoExit = IsAutoExit(files);
  const auto fail = [&] {
    if (autoExit) host.RequestClose();
    return false;
  };

  std::vector<std::wstring> accepted;
  if (!FilterInputFiles(files, accepted)) {
    AppendLog(L"有効なファイルが入力されていません");
    return fail();
  }
  // The output name comes from the first usable file as given, not as sorted.
  const std::wstring firstFile = accepted.front();
  SortInputFiles(accepted);
  for (const auto& path : accepted) AppendLog(L"対象 : " + GetFileNamePart(path));

  const std::wstring outputPath = BuildOutputPath(firstFile, accepted.front(), host, files);
  if (outputPath.empty()) {
    AppendLog(L"保存先パスが設定されていません");
    return fail();
  }
  if (!StartMergeJob(accepted, host, outputPath, autoExit)) return fail();
  return true;
}

}  // namespace zantrel
