// The COM component reads a document whole: comments are not read as a stream
// here, and a job holds them as a tree.
#include "engine/comment_stream.hpp"

namespace zantrel::xml {

bool CanStreamComments() noexcept { return false; }

StreamOutcome StreamComments(const std::wstring&, const Sheet&, Arena&, ChatReceiver&, const StopFlag&) {
  return StreamOutcome::NotReproducible;
}

std::unique_ptr<SplicedBase> StreamSplicedBase(const std::wstring&, const Sheet&, Arena&, ChatReceiver&) {
  return nullptr;
}

std::unique_ptr<RebuiltTree> StreamRebuiltBase(const std::wstring&, const Sheet&, Arena&, ChatReceiver&) {
  return nullptr;
}

}  // namespace zantrel::xml
