// The merge job driver: from the list of input files to the saved, transformed
// file, writing the job's progress log. `path` chooses how the comments are held
// where the job allows (comment_store.hpp); what the job shows is the same.
//
// Worker thread of a job. The driver owns its copy of the inputs and every
// document; nothing survives the call. Expected early stops (fewer than two inputs,
// a missing input, a missing style sheet) log one line and return false. Every
// other failure passes out as ComError or std::exception (the caller reports it),
// except a failing last_res update, which is logged and the job goes on to save.
// The output is written once, all or nothing, as the last step.
#pragma once

#include <ctime>
#include <string>
#include <vector>

#include "base/log.hpp"
#include "job/comment_store.hpp"

namespace zantrel {

bool RunMergeJob(const std::wstring& styleSheetPath, LogCallback log,
                 const std::wstring& outputPath, std::vector<std::wstring> inputs,
                 MergePath path = MergePath::Best);

// "4月6日9時5分7秒": month, day, hour, minute, second without leading zeros.
std::wstring FormatTimeText(const std::tm& local);
// The time text of now, from one reading of the clock.
std::wstring CurrentTimeText();

}  // namespace zantrel
