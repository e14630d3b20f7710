// Where a merge job holds its comments: the one object the job driver works on,
// step by step. Two ways stand behind it: the whole tree (every input a document,
// merged node by node) and the compact form (each kept comment as its saved
// bytes, so memory follows the output, not ten times the input). What the job
// shows is the same either way, byte for byte: the saved file, every log line and
// tick, every failure with its text and place.
//
// The worker thread of one job calls every step, in the job's order. A step of a
// store answers whether it was done or needs the whole tree; one that needs it
// has logged nothing and changed nothing the job shows, and JobComments, which
// chose the store, hands the job to the whole tree built to the same point. A
// store may run a helper thread of its own that reads inputs ahead. Failures
// throw what the job reports: CallTextError, ComError, boost::bad_lexical_cast,
// std::bad_alloc, and std::logic_error where the program breaks its own rules
// (an input taken out of order, a read taken after it was stopped).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/log.hpp"
#include "comments/progress.hpp"
#include "engine/documents.hpp"

namespace zantrel {

// Which way a job holds its comments where it may choose: the better one for
// the job, or one of them wherever it can follow the job (to compare them).
enum class MergePath { Best, Compact, WholeTree };

// What a job's store works from: owned by the driver, outliving the store.
struct MergeInputs {
  const std::vector<std::wstring>& paths;  // input 0 is the base
  const StyleSheet& sheet;
  TickState& progress;  // the job's last reported percentages
};

enum class Step { Done, NeedsWholeTree };

class CommentStore {
 public:
  virtual ~CommentStore() = default;
  CommentStore(const CommentStore&) = delete;
  CommentStore& operator=(const CommentStore&) = delete;

  // LoadDocument of input 0, as the base.
  virtual Step LoadBase() = 0;
  // Input `index` (in order from 1) loaded and merged, with MergeComments' log.
  virtual Step Merge(std::size_t index, LogCallback log) = 0;
  // ApplyStyleSheet of the merged comments into `destination`.
  virtual void Transform(const DocumentHandle& destination) = 0;
  // UpdateLastRes on that destination.
  virtual void UpdateLastRes(const DocumentHandle& destination) = 0;
  // SaveDocument of that destination.
  virtual void Save(const DocumentHandle& destination, const std::wstring& path) = 0;

 protected:
  CommentStore() = default;
};

// The comments of one job, in the store chosen for it: the compact form where
// `preferred` allows, the back end can read comments as a stream and the sheet
// is ready, else the whole tree. Best takes the compact form for a sheet of one's
// own only for large inputs: building its tree again costs more than it saves
// for small ones. Where the compact form needs the whole tree, the job goes on in
// it from that step.
class JobComments {
 public:
  JobComments(const MergeInputs& job, MergePath preferred);

  void LoadBase();
  void Merge(std::size_t index, LogCallback log);
  void Transform(const DocumentHandle& destination) { store_->Transform(destination); }
  void UpdateLastRes(const DocumentHandle& destination) { store_->UpdateLastRes(destination); }
  void Save(const DocumentHandle& destination, const std::wstring& path) { store_->Save(destination, path); }

 private:
  template <typename Run>
  void Take(const Run& step);

  const MergeInputs& job_;
  std::unique_ptr<CommentStore> store_;
  std::size_t merged_ = 0;  // inputs merged so far, the base included
};

// The whole tree with inputs 0 .. merged - 1 already loaded and merged (without
// a log line or tick): none for a job that starts with it, more for a job the
// compact form hands over. Its steps are always done.
std::unique_ptr<CommentStore> OpenWholeTree(const MergeInputs& job, std::size_t merged);

}  // namespace zantrel
