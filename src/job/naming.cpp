#include "job/naming.hpp"

#include <boost/xpressive/xpressive_dynamic.hpp>

#include "base/log.hpp"
#include "base/paths.hpp"

namespace zantrel {

bool CollectCaptures(const std::wstring& text, const std::wstring& expression,
                     std::vector<std::wstring>& captures) {
  namespace xp = boost::xpressive;
  const xp::wsregex regex = xp::wsregex::compile(expression);
  xp::wsmatch match;
  if (!xp::regex_search(text, match, regex)) return false;
  captures.reserve(match.size());
  for (std::size_t i = 0; i < match.size(); ++i) {
    // Empty groups are left out, so later entries move up.
    if (match[static_cast<int>(i)].length() > 0) captures.push_back(match[static_cast<int>(i)].str());
  }
  return true;
}

void ReplaceAll(std::wstring& text, const std::wstring& key, const std::wstring& replacement) {
  if (key.empty()) return;
  for (std::size_t pos = 0; (pos = text.find(key, pos)) != std::wstring::npos;) {
    text.replace(pos, key.size(), replacement);
    pos += replacement.size();
  }
}

std::wstring BuildOutputPath(const std::wstring& firstFile, const std::wstring& dialogSeed,
                             JobHost& host, const std::wstring& saveOption) {
  std::wstring pattern = saveOption;
  if (pattern.empty()) pattern = host.SavePattern();

  std::wstring result;
  if (pattern.empty()) {
    result = host.AskSavePath(dialogSeed);
  } else {
    result = MakeAbsolutePath(pattern);
    const std::wstring name = GetFileNamePart(firstFile);
    std::vector<std::wstring> captures;
    CollectCaptures(name, kNamePattern, captures);
    ReplaceAll(result, L"$file", RemoveExtension(name));
    if (captures.size() > 1) ReplaceAll(result, L"$title", captures[1]);
    if (captures.size() > 2) ReplaceAll(result, L"$date", captures[2]);
  }
  AppendLog(L"保存先 : " + result);
  return result;
}

}  // namespace zantrel
