// Job intake: from a list of dropped or named items to a started job.
//
// A request is made once from the items of a drop or of the command line, with
// the options read from them. SubmitJob keeps the existing ".xml" items (made
// absolute), sorts them, lists them in the log, builds the output path and starts
// the worker; every refusal is one log line and, with auto-exit, a close request.
// Main thread; never throws for bad input (only on allocation failure).
#pragma once

#include <string>
#include <vector>

#include "base/args.hpp"
#include "job/job_host.hpp"

namespace zantrel {

struct JobRequest {
  ArgumentList items;        // dropped paths, or the arguments, options included
  bool autoExit = false;     // "-autoexit" or "-hide" among them
  std::wstring saveOption;   // after the last "save=", empty when none
};
JobRequest MakeJobRequest(ArgumentList items);

bool SubmitJob(const JobRequest& request, JobHost& host);

// Every entry made absolute; kept when it names an existing item whose extension
// lower-cases to ".xml". Order kept, duplicates kept. True when any remain.
bool FilterInputFiles(const ArgumentList& files, std::vector<std::wstring>& accepted);

// Stable sort by UTF-16 code units (upper-case ASCII before lower-case).
void SortInputFiles(std::vector<std::wstring>& files);

}  // namespace zantrel
