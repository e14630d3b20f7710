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

#include <string>

#include "base/log.hpp"
#include "comments/comment_index.hpp"
#include "comments/progress.hpp"
#include "engine/xml_component.hpp"

namespace zantrel {

// The log texts of merging and duplicate removal (between each heading and
// " 完了" come the ticks).
inline const std::wstring kMergeHeading = L"%RAW%コメント結合中...";
inline const std::wstring kRemovalHeading = L"%RAW%重複コメントの削除中...";
inline const std::wstring kDone = L" 完了";

// `index`: what the job knows of the base's chats (comment_index.hpp), kept up to
// date here. Progress ticks go against `progress`, the job's own last reported
// percentages. The forms without them are jobs of their own: a fresh index, and
// the process-wide percentages taken and handed back around the one call.
void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   CommentIndex& index, LogCallback log, TickState& progress);
void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   LogCallback log);
void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log, TickState& progress);
void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log);
void UpdateLastRes(const xml::DocumentHandle& doc);

}  // namespace zantrel
