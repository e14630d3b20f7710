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

#include <cstddef>
#include <cstdint>
#include <optional>
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
// The same for a document whose chats are held elsewhere: `lastNumber` is the
// number of its last chat in document order, none when it has no chat (which
// fails as UpdateLastRes fails without a chat).
void UpdateLastRes(const xml::DocumentHandle& doc, std::optional<std::int64_t> lastNumber);

// The chats the removal after a merge walks: while the index is known (as it was
// before the merge) the ones it counts are checked already and only the appended
// ones are walked, otherwise every chat of the document is (`chats`, after the
// merge).
struct RemovalWalk {
  std::size_t checked;  // leading chats not walked
  std::size_t total;    // chats of the document the ticks count
};
RemovalWalk PlanRemoval(bool indexKnown, const KnownChats& index, std::size_t chats, std::size_t appended);

// MergeComments' log for a merge whose outcome is known from counts alone (every
// chat plain, every later copy a direct child of packet): `appended` chats joined
// a document of `chats` chats in all, of which `kept` stay. `malformedAt`: the
// position among the document's chats of the first malformed number the removal
// meets; the log then stops there, as the removal's failure does, and the caller
// throws the conversion error. Keeps `index` as MergeComments keeps it.
void LogMergeByCounts(KnownChats& index, std::size_t chats, std::size_t appended, std::size_t kept,
                      std::optional<std::size_t> malformedAt, TickState& progress, LogCallback log);

}  // namespace zantrel
