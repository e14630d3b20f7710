#include "comments/operations.hpp"

#include <boost/lexical_cast.hpp>

#include "comments/progress.hpp"
#include "comments/vocabulary.hpp"
#include "engine/errors.hpp"

namespace zantrel {
namespace {

// What merging already decided about an added chat while the index was known.
enum class Fate : unsigned char {
  Undecided,           // the removal reads its number as usual
  Kept,                // a first copy: its number is in the index already
  Dropped,             // a later copy: never appended, already taken out
  DroppedWithElements  // the same, and it held elements
};

// `known`: the index held, just before `appended` (the chats since added at the
// end) arrived, what the last removal left; otherwise every chat is walked and
// the index starts again. `fates`: per appended chat, what the merge decided.
void RemoveDuplicates(const xml::DocumentHandle& doc, LogCallback log, TickState& progress,
                      CommentIndex& index, bool known, const std::vector<xml::Node>& appended,
                      const std::vector<Fate>& fates) {
  xml::Node root;
  if (xml::GetDocumentElement(doc, root) < 0) throw CallTextError("pDoc->get_documentElement()");
  log(kRemovalHeading);
  if (!known) index.Forget();
  std::vector<xml::Node> all;
  if (!known) all = xml::GetElementsByTagName(root, kChatTag);  // a snapshot, as removals follow
  const std::vector<xml::Node>& walk = known ? appended : all;
  const auto [checked, n] = PlanRemoval(known, index, all.size(), appended.size());
  // The ticks of the chats already checked come from the same counts as before.
  ProgressTicksBefore(progress.removal, checked, n, log);
  std::size_t removed = 0;
  // A removed chat that holds elements may take chats counted here with it: the
  // numbers and the count would then describe chats the document no longer has.
  bool sound = true;
  for (std::size_t j = 0; j < walk.size(); ++j) {
    const Fate fate = j < fates.size() ? fates[j] : Fate::Undecided;
    if (fate == Fate::Dropped || fate == Fate::DroppedWithElements) {
      sound = sound && fate == Fate::Dropped;
      ++removed;
    } else if (fate == Fate::Undecided) {
      if (!index.Insert(CommentNumber(walk[j]))) {
        sound = sound && !xml::HasChildElements(walk[j]);
        xml::RemoveChild(root, walk[j]);  // a later copy goes
        ++removed;
      }
    }
    ProgressTick(progress.removal, checked + j, n, log);
  }
  log(kDone);
  if (sound) index.Confirm(n - removed);
}

}  // namespace

void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   CommentIndex& index, LogCallback log, TickState& progress) {
  log(kMergeHeading);
  xml::Node baseRoot;
  if (xml::GetDocumentElement(base, baseRoot) < 0)
    throw CallTextError("pDoc->get_documentElement()");
  xml::Node addedRoot;
  if (xml::GetDocumentElement(added, addedRoot) < 0)
    throw CallTextError("pDocAdd->get_documentElement()");
  const xml::Node packet = xml::SelectSingleNode(baseRoot, kPacketPath);
  if (!packet) throw CallTextError("selectSingleNode( \"/packet\")");
  const bool known = index.Known();
  index.Suspend();  // its numbers change below, before the base matches them again

  // A snapshot: every chat the added document holds now, although each one leaves
  // that document before the next is taken.
  const std::vector<xml::Node> chats = xml::GetElementsByTagName(addedRoot, kChatTag);
  const std::size_t n = chats.size();
  // With a known index, a later copy is known before it is moved: it is taken out where
  // it is instead of being moved and removed again. The outcome and the log stay
  // those of moving every chat and removing afterwards. A number that cannot be
  // read ends the deciding; the removal then meets it at its own turn.
  std::vector<Fate> fates(known ? n : 0, Fate::Undecided);
  bool deciding = known;
  for (std::size_t i = 0; i < n; ++i) {
    if (deciding) {
      try {
        fates[i] = index.Insert(CommentNumber(chats[i]))
                       ? Fate::Kept
                       : (xml::HasChildElements(chats[i]) ? Fate::DroppedWithElements : Fate::Dropped);
      } catch (...) {
        deciding = false;
      }
    }
    if (i < fates.size() && fates[i] != Fate::Undecided && fates[i] != Fate::Kept) {
      xml::RemoveFromParent(chats[i]);
    } else {
      xml::AppendChild(packet, chats[i]);
    }
    ProgressTick(progress.merge, i, n, log);
  }
  log(kDone);
  // The appended chats are now the last chats of the base, in this order (each was
  // moved to the end of the root), so they are all the removal has to examine.
  RemoveDuplicates(base, log, progress, index, known, chats, fates);
}

void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   LogCallback log) {
  JobProgress progress;
  CommentIndex index;
  MergeComments(added, base, index, log, progress);
}

void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log, TickState& progress) {
  CommentIndex index;
  RemoveDuplicates(doc, log, progress, index, false, {}, {});
}

void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log) {
  JobProgress progress;
  RemoveDuplicateComments(doc, log, progress);
}

namespace {

// The number is read before the thread is looked up: a document with neither
// fails for want of a chat.
void SetLastRes(const xml::Node& root, std::int64_t number) {
  const xml::Node thread = xml::SelectSingleNode(root, kThreadPath);
  if (!thread) throw CallTextError("selectSingleNode( \"/packet/thread\")");
  // The low 32 bits, as the unsigned value a 32-bit counter would hold.
  const auto lastRes = static_cast<std::uint32_t>(static_cast<std::uint64_t>(number));
  xml::SetAttribute(xml::AsElement(thread), kLastResAttribute,
                    boost::lexical_cast<std::wstring>(lastRes));
}

}  // namespace

void UpdateLastRes(const xml::DocumentHandle& doc) {
  xml::Node root;
  (void)xml::GetDocumentElement(doc, root);  // a missing root fails (E_POINTER) just below
  SetLastRes(root, CommentNumber(xml::GetLastElementByTagName(root, kChatTag)));
}

void UpdateLastRes(const xml::DocumentHandle& doc, std::optional<std::int64_t> lastNumber) {
  xml::Node root;
  (void)xml::GetDocumentElement(doc, root);  // a missing root fails (E_POINTER) below
  // No chat reads as the missing chat's number does.
  SetLastRes(root, lastNumber ? *lastNumber : CommentNumber(xml::Node()));
}

RemovalWalk PlanRemoval(bool indexKnown, const KnownChats& index, std::size_t chats, std::size_t appended) {
  return indexKnown ? RemovalWalk{index.Count(), index.Count() + appended} : RemovalWalk{0, chats};
}

void LogMergeByCounts(KnownChats& index, std::size_t chats, std::size_t appended, std::size_t kept,
                      std::optional<std::size_t> malformedAt, TickState& progress, LogCallback log) {
  log(kMergeHeading);
  ProgressTicksBefore(progress.merge, appended, appended, log);
  log(kDone);
  log(kRemovalHeading);
  const RemovalWalk walk = PlanRemoval(index.Known(), index, chats, appended);
  index.Suspend();
  ProgressTicksBefore(progress.removal, malformedAt.value_or(walk.total), walk.total, log);
  if (malformedAt) return;
  log(kDone);
  index.Confirm(kept);
}

}  // namespace zantrel
