// Output naming: the save pattern (the "save=" option, else the setting) with
// "$file", "$title" and "$date" filled in from the first input file's name, or
// the save question when no pattern is set. Writes the "保存先 : " line.
// Main thread; never throws for bad input.
#pragma once

#include <string>
#include <vector>

#include "job/job_host.hpp"

namespace zantrel {

// The name pattern: title, bracketed date, ".xml" (Title[2008-05-01].xml).
inline constexpr wchar_t kNamePattern[] = L"(.*)\\[(.*?)\\]\\.xml";

std::wstring BuildOutputPath(const std::wstring& firstFile, const std::wstring& dialogSeed,
                             JobHost& host, const std::wstring& saveOption);

// Searches `text` with the expression; on a match appends every non-empty
// sub-match (whole match first). False without a match.
bool CollectCaptures(const std::wstring& text, const std::wstring& expression,
                     std::vector<std::wstring>& captures);

// Replaces every occurrence, scanning on behind each inserted text (never loops).
void ReplaceAll(std::wstring& text, const std::wstring& key, const std::wstring& replacement);

}  // namespace zantrel
