#include "comments/operations.hpp"

#include <boost/lexical_cast.hpp>
#include <memory_resource>
#include <set>

#include "comments/progress.hpp"
#include "comments/vocabulary.hpp"
#include "engine/errors.hpp"

namespace zantrel {
namespace {

// What the last duplicate removal left behind, kept with the document itself: the
// number of chats and the set of their numbers. Valid while the document's stamp
// is unchanged, so the removal after the next merge only needs to look at the
// appended chats, which keeps a whole job linear in its size.
struct RemovalMemo {
  std::uint64_t stamp = 0;
  std::size_t count = 0;
  // Numbers are only ever added: their nodes come from one growing pool.
  std::pmr::monotonic_buffer_resource pool;
  std::pmr::set<std::int64_t> seen{&pool};
};

std::shared_ptr<RemovalMemo> HeldMemo(const xml::DocumentHandle& doc) {
  auto memo = std::static_pointer_cast<RemovalMemo>(xml::GetUserData(doc));
  return memo && memo->stamp == xml::ModificationStamp(doc) ? memo : nullptr;
}

// What merging already decided about an added chat while the memo held.
enum class Fate : unsigned char {
  Undecided,           // the removal reads its number as usual
  Kept,                // a first copy: its number is in the memo's set already
  Dropped,             // a later copy: never appended, already taken out
  DroppedWithElements  // the same, and it held elements
};

// `memo`: what the last removal left, when it held just before `appended` (the
// chats since added at the end) arrived; null for a walk over every chat.
// `fates`: per appended chat, what the merge decided (empty: nothing).
void RemoveDuplicates(const xml::DocumentHandle& doc, LogCallback log, TickState& progress,
                      const std::shared_ptr<RemovalMemo>& memo,
                      const std::vector<xml::Node>& appended, const std::vector<Fate>& fates) {
  xml::Node root;
  if (xml::GetDocumentElement(doc, root) < 0) throw CallTextError("pDoc->get_documentElement()");
  log(kRemovalHeading);
  // The memo's numbers carry on; a full walk starts a memo of its own.
  const std::shared_ptr<RemovalMemo> state = memo ? memo : std::make_shared<RemovalMemo>();
  auto& seen = state->seen;
  const std::size_t checked = memo ? memo->count : 0;  // leading chats known distinct and kept
  std::vector<xml::Node> all;
  if (!memo) all = xml::GetElementsByTagName(root, kChatTag);  // a snapshot, as removals follow
  xml::SetUserData(doc, nullptr);  // no memo until this walk is complete
  const std::vector<xml::Node>& walk = memo ? appended : all;
  const std::size_t n = checked + walk.size();
  // The ticks of the chats already checked come from the same counts as before.
  ProgressTicksBefore(progress.removal, checked, n, log);
  std::size_t removed = 0;
  // A removed chat that holds elements may take chats counted here with it: the
  // numbers and the count would then describe chats the document no longer has.
  bool memoSound = true;
  for (std::size_t j = 0; j < walk.size(); ++j) {
    const Fate fate = j < fates.size() ? fates[j] : Fate::Undecided;
    if (fate == Fate::Dropped || fate == Fate::DroppedWithElements) {
      memoSound = memoSound && fate == Fate::Dropped;
      ++removed;
    } else if (fate == Fate::Undecided) {
      const std::int64_t number = GetAttributeValue(kNoAttribute, xml::AsElement(walk[j]), 0);
      if (!seen.insert(number).second) {
        memoSound = memoSound && !xml::HasChildElements(walk[j]);
        xml::RemoveChild(root, walk[j]);  // a later copy goes
        ++removed;
      }
    }
    ProgressTick(progress.removal, checked + j, n, log);
  }
  log(kDone);
  if (memoSound) {
    state->stamp = xml::ModificationStamp(doc);
    state->count = n - removed;
    xml::SetUserData(doc, state);
  }
}

}  // namespace

void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   LogCallback log, TickState& progress) {
  log(kMergeHeading);
  xml::Node baseRoot;
  if (xml::GetDocumentElement(base, baseRoot) < 0)
    throw CallTextError("pDoc->get_documentElement()");
  xml::Node addedRoot;
  if (xml::GetDocumentElement(added, addedRoot) < 0)
    throw CallTextError("pDocAdd->get_documentElement()");
  const xml::Node packet = xml::SelectSingleNode(baseRoot, kPacketPath);
  if (!packet) throw CallTextError("selectSingleNode( \"/packet\")");
  const std::shared_ptr<RemovalMemo> memo = HeldMemo(base);
  xml::SetUserData(base, nullptr);  // the memo's set is updated below; ours alone now

  // A snapshot: every chat the added document holds now, although each one leaves
  // that document before the next is taken.
  const std::vector<xml::Node> chats = xml::GetElementsByTagName(addedRoot, kChatTag);
  const std::size_t n = chats.size();
  // With the memo, a later copy is known before it is moved: it is taken out where
  // it is instead of being moved and removed again. The outcome and the log stay
  // those of moving every chat and removing afterwards. A number that cannot be
  // read ends the deciding; the removal then meets it at its own turn.
  std::vector<Fate> fates(memo ? n : 0, Fate::Undecided);
  bool deciding = memo != nullptr;
  for (std::size_t i = 0; i < n; ++i) {
    if (deciding) {
      try {
        const std::int64_t number = GetAttributeValue(kNoAttribute, xml::AsElement(chats[i]), 0);
        fates[i] = memo->seen.insert(number).second
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
  RemoveDuplicates(base, log, progress, memo, chats, fates);
}

void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   LogCallback log) {
  JobProgress progress;
  MergeComments(added, base, log, progress);
}

void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log, TickState& progress) {
  RemoveDuplicates(doc, log, progress, nullptr, {}, {});
}

void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log) {
  JobProgress progress;
  RemoveDuplicateComments(doc, log, progress);
}

void UpdateLastRes(const xml::DocumentHandle& doc) {
  xml::Node root;
  (void)xml::GetDocumentElement(doc, root);  // a missing root fails (E_POINTER) just below
  const xml::Node last = xml::GetLastElementByTagName(root, kChatTag);
  const std::int64_t number = GetAttributeValue(kNoAttribute, xml::AsElement(last), 0);
  const xml::Node thread = xml::SelectSingleNode(root, kThreadPath);
  if (!thread) throw CallTextError("selectSingleNode( \"/packet/thread\")");
  // The low 32 bits, as the unsigned value a 32-bit counter would hold.
  const auto lastRes = static_cast<std::uint32_t>(static_cast<std::uint64_t>(number));
  xml::SetAttribute(xml::AsElement(thread), kLastResAttribute,
                    boost::lexical_cast<std::wstring>(lastRes));
}

}  // namespace zantrel
