#include "engine/input_loader.hpp"

#include <stdexcept>
#include <utility>

namespace zantrel {
namespace {

// How many inputs the helper may have loaded beyond the one being merged. Merging
// an input takes about half as long as parsing one, so a single document ahead
// keeps the helper busy; more would only hold more memory.
constexpr std::size_t kAhead = 1;

}  // namespace

InputLoader::InputLoader(std::vector<std::wstring> paths, std::size_t first)
    : paths_(std::move(paths)), nextTake_(first), nextLoad_(first) {
  if (!xml::DocumentsMoveBetweenThreads()) return;
  try {
    helper_ = std::thread([this] { Run(); });
  } catch (const std::exception&) {
    // No thread to be had: the job loads its inputs itself, only slower.
  }
}

InputLoader::~InputLoader() {
  if (!helper_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  helper_.join();
}

InputLoader::Slot InputLoader::LoadSlot(const std::wstring& path) noexcept {
  Slot slot;
  try {
    LoadDocument(path, slot.doc);
  } catch (...) {
    slot.doc.reset();
    slot.failure = std::current_exception();
  }
  return slot;
}

bool InputLoader::MayLoad() const noexcept {
  return !failed_ && !stopping_ && nextLoad_ < paths_.size() && nextLoad_ < nextTake_ + kAhead;
}

void InputLoader::Run() noexcept {
  std::unique_lock<std::mutex> lock(mutex_);
  while (true) {
    changed_.wait(lock, [this] { return stopping_ || !unwanted_.empty() || MayLoad(); });
    if (!unwanted_.empty()) {
      // Trap: freeing a document returns its memory to the allocator arena it came
      // from, the one this thread parses into; doing it here rather than on the job
      // thread keeps the two threads from contending for that arena's lock.
      std::vector<DocumentHandle> freeing = std::move(unwanted_);
      unwanted_.clear();
      lock.unlock();
      freeing.clear();
      lock.lock();
      continue;
    }
    if (!MayLoad()) break;  // stopping
    const std::size_t index = nextLoad_++;
    lock.unlock();
    Slot slot = LoadSlot(paths_[index]);
    lock.lock();
    try {
      ready_.push_back(std::move(slot));
      failed_ = ready_.back().failure != nullptr;
    } catch (...) {
      // No room for the slot: the job loads this input itself (see Take).
      nextLoad_ = index;
      failed_ = true;
    }
    changed_.notify_all();
  }
}

DocumentHandle InputLoader::Take(std::size_t index) {
  if (index != nextTake_ || index >= paths_.size())
    throw std::logic_error("inputs are taken in order, each once");
  Slot slot;
  if (helper_.joinable()) {
    std::unique_lock<std::mutex> lock(mutex_);
    ++nextTake_;
    changed_.notify_all();
    // Loads are in order: the first ready slot is this index's, if it is loaded at
    // all; after a failure nothing more arrives.
    changed_.wait(lock, [this, index] { return !ready_.empty() || (failed_ && nextLoad_ <= index); });
    if (!ready_.empty()) {
      slot = std::move(ready_.front());
      ready_.pop_front();
    }
  } else {
    ++nextTake_;
  }
  if (slot.failure) std::rethrow_exception(slot.failure);
  if (slot.doc) return std::move(slot.doc);
  // No helper, or it stopped before this input: load it here.
  DocumentHandle doc;
  LoadDocument(paths_[index], doc);
  return doc;
}

void InputLoader::Dispose(DocumentHandle doc) noexcept {
  if (!doc) return;
  if (helper_.joinable()) {
    try {
      std::lock_guard<std::mutex> lock(mutex_);
      unwanted_.push_back(std::move(doc));
    } catch (...) {
      // No room to queue it: it is freed here when `doc` goes.
    }
    changed_.notify_all();
  }
}

}  // namespace zantrel
