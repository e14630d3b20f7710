#include "comments/operations.hpp"

#include <boost/lexical_cast.hpp>
#include <set>

#include "comments/progress.hpp"
#include "comments/vocabulary.hpp"
#include "engine/errors.hpp"

namespace zantrel {
namespace {

const std::wstring kMergeHeading = L"%RAW%コメント結合中...";
const std::wstring kRemovalHeading = L"%RAW%重複コメントの削除中...";
const std::wstring kDone = L" 完了";

}  // namespace

void MergeComments(const xml::DocumentHandle& added, const xml::DocumentHandle& base,
                   LogCallback log) {
  log(kMergeHeading);
  xml::Node baseRoot;
  if (xml::GetDocumentElement(base, baseRoot) < 0)
    throw CallTextError("pDoc->get_documentElement()");
  xml::Node addedRoot;
  if (xml::GetDocumentElement(added, addedRoot) < 0)
    throw CallTextError("pDocAdd->get_documentElement()");
  const xml::Node packet = xml::SelectSingleNode(baseRoot, kPacketPath);
  if (!packet) throw CallTextError("selectSingleNode( \"/packet\")");

  // A snapshot: every chat the added document holds now, although each one leaves
  // that document before the next is taken.
  const std::vector<xml::Node> chats = xml::GetElementsByTagName(addedRoot, kChatTag);
  const std::size_t n = chats.size();
  for (std::size_t i = 0; i < n; ++i) {
    xml::AppendChild(packet, chats[i]);
    ProgressTick(MergeProgress(), i, n, log);
  }
  log(kDone);
  RemoveDuplicateComments(base, log);
}

void RemoveDuplicateComments(const xml::DocumentHandle& doc, LogCallback log) {
  xml::Node root;
  if (xml::GetDocumentElement(doc, root) < 0) throw CallTextError("pDoc->get_documentElement()");
  log(kRemovalHeading);
  // Snapshot as above: removing a chat must not disturb the walk.
  const std::vector<xml::Node> chats = xml::GetElementsByTagName(root, kChatTag);
  const std::size_t n = chats.size();
  std::set<std::int64_t> seen;
  for (std::size_t k = 0; k < n; ++k) {
    const std::int64_t number = GetAttributeValue(kNoAttribute, xml::AsElement(chats[k]), 0);
    if (!seen.insert(number).second) xml::RemoveChild(root, chats[k]);  // a later copy goes
    ProgressTick(RemovalProgress(), k, n, log);
  }
  log(kDone);
}

void UpdateLastRes(const xml::DocumentHandle& doc) {
  xml::Node root;
  (void)xml::GetDocumentElement(doc, root);  // a missing root fails (E_POINTER) just below
  const std::vector<xml::Node> chats = xml::GetElementsByTagName(root, kChatTag);
  const xml::Node last = chats.empty() ? xml::Node() : chats.back();
  const std::int64_t number = GetAttributeValue(kNoAttribute, xml::AsElement(last), 0);
  const xml::Node thread = xml::SelectSingleNode(root, kThreadPath);
  if (!thread) throw CallTextError("selectSingleNode( \"/packet/thread\")");
  // The low 32 bits, as the unsigned value a 32-bit counter would hold.
  const auto lastRes = static_cast<std::uint32_t>(static_cast<std::uint64_t>(number));
  xml::SetAttribute(xml::AsElement(thread), kLastResAttribute,
                    boost::lexical_cast<std::wstring>(lastRes));
}

}  // namespace zantrel
