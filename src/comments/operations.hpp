// The comment operations of a merge job.
//
//   MergeComments           moves every chat of `added` to the end of the base's
//                           "/packet", then removes duplicates from the base.
//   RemoveDuplicateComments keeps the first chat of each number, in document order.
//   UpdateLastRes           sets /packet/thread/@last_res to the low 32 bits of the
//                           `no` of the last chat in document order.
//
// Worker thread of a job. Documents are owned by the caller. Each writes its own
// log lines (one "%RAW%" line with ticks) except UpdateLastRes, which writes none.
// Failures throw: CallTextError with the failing call's text, ComError from the
// component, boost::bad_lexical_cast for a malformed `no`. Nothing is rolled back;
// UpdateLastRes changes the document only in its last step.
#pragma once

#include "comments/progress.hpp"
#include <string>

#include "engine/xml_component.hpp"
#include "base/log.hpp"

namespace zantrel {

// Progress ticks go against `progress`, the job's own last reported percentages.
// The forms without it are jobs of their own: they take and hand back the
// process-wide values around the one call.
void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   LogCallback log, TickState& progress);
// The log texts of merging and duplicate removal (between each heading and
// " 完了" come the ticks).
inline const std::wstring kMergeHeading = L"%RAW%コメント結合中...";
inline const std::wstring kRemovalHeading = L"%RAW%重複コメントの削除中...";
inline const std::wstring kDone = L" 完了";

void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   LogCallback log);
void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log, TickState& progress);
void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log);
void UpdateLastRes(const xml::DocumentHandle& doc);

}  // namespace zantrel
