// Loads a job's input documents in order, ahead of their turn when it can, and
// frees the ones the job is done with: while the job merges one input, a helper
// thread parses the next, so reading and merging overlap on two cores. What the
// job sees is unchanged: each document arrives, or its load fails, at the point
// where the job takes it.
//
// Threads: one job thread creates the loader and calls Take and Dispose; the helper
// thread is the loader's own and touches nothing but the documents it is given or
// loads. Where the XML component keeps documents on the thread that made them
// (xml::DocumentsMoveBetweenThreads() is false), or when no thread can be started,
// there is no helper: Take loads and Dispose frees in the calling thread.
// Ownership: a taken document belongs to the caller until it is disposed of;
// documents loaded but never taken are dropped with the loader.
// Failures: Take throws what LoadDocument would have thrown for that input. After a
// failure the helper loads nothing more. The destructor waits for the parse under
// way (bounded by one input) and never throws.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/documents.hpp"

namespace zantrel {

class InputLoader {
 public:
  // Loads `paths[first]`, `paths[first + 1]`, ... in order.
  InputLoader(std::vector<std::wstring> paths, std::size_t first);
  InputLoader(const InputLoader&) = delete;
  InputLoader& operator=(const InputLoader&) = delete;
  ~InputLoader();

  // The document of `paths[index]`. Indexes are taken in order, each once.
  DocumentHandle Take(std::size_t index);

  // Frees a document the job no longer needs, on the helper when there is one.
  void Dispose(DocumentHandle doc) noexcept;

 private:
  struct Slot {
    DocumentHandle doc;
    std::exception_ptr failure;
  };

  void Run() noexcept;
  bool MayLoad() const noexcept;  // with mutex_ held
  static Slot LoadSlot(const std::wstring& path) noexcept;

  const std::vector<std::wstring> paths_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t nextTake_;                 // the index Take is asked for next
  std::size_t nextLoad_;                 // the index the helper loads next
  std::deque<Slot> ready_;               // loaded and not yet taken, in order
  std::vector<DocumentHandle> unwanted_;  // disposed of, not yet freed
  bool failed_ = false;                  // a load failed: load nothing more
  bool stopping_ = false;                // the loader is going
  std::thread helper_;                   // Run(); none when documents stay on their thread
};

}  // namespace zantrel
