#include "job/intake.hpp"

#include <algorithm>

#include "base/log.hpp"
#include "base/paths.hpp"
#include "base/text.hpp"
#include "job/naming.hpp"
#include "job/worker.hpp"

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

JobRequest MakeJobRequest(ArgumentList items) {
  JobRequest request;
  request.autoExit = IsAutoExit(items);
  request.saveOption = GetOptionValue(items, L"save=", L"");
  request.items = std::move(items);
  return request;
}

bool SubmitJob(const JobRequest& request, JobHost& host) {
  const auto fail = [&] {
    if (request.autoExit) host.RequestClose();
    return false;
  };

  std::vector<std::wstring> accepted;
  if (!FilterInputFiles(request.items, accepted)) {
    AppendLog(L"有効なファイルが入力されていません");
    return fail();
  }
  // The output name comes from the first usable file as given, not as sorted.
  const std::wstring firstFile = accepted.front();
  SortInputFiles(accepted);
  for (const auto& path : accepted) AppendLog(L"対象 : " + GetFileNamePart(path));

  const std::wstring outputPath = BuildOutputPath(firstFile, accepted.front(), host, request.saveOption);
  if (outputPath.empty()) {
    AppendLog(L"保存先パスが設定されていません");
    return fail();
  }
  if (!StartMergeJob(accepted, host, outputPath, request.autoExit)) return fail();
  return true;
}

}  // namespace zantrel
