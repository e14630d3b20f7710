// The compact merge path: a job whose style sheet copies its source unchanged
// holds each kept comment as its serialised bytes instead of as a tree, so its
// memory follows the size of the output rather than ten times the input's.
//
// What the job sees is the whole-tree path's, byte for byte: the saved file, every
// log line and tick, every failure with its text and place, the result. The
// driver (merge_job.cpp) writes its own lines and calls these steps where it would
// call LoadDocument, MergeComments, ApplyStyleSheet, UpdateLastRes and
// SaveDocument. A shape the compact form does not reproduce exactly (namespaces,
// chats that hold more than text, chats below other elements of the base, a base
// whose root is not packet, a path that is not a file) is found before the step
// writes anything; the step answers false and the job goes on with the whole tree,
// which WholeTree builds as that path would hold it at that point.
//
// Called on the worker thread of one job; from LoadBase until the last input is
// merged (or WholeTree, or its end) the object runs a helper thread of its own
// that reads inputs ahead. The object owns its copy of the input paths and every
// document and byte it holds. Failures throw what the whole-tree step would:
// CallTextError, ComError, boost::bad_lexical_cast.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "base/log.hpp"
#include "comments/progress.hpp"
#include "engine/documents.hpp"

namespace zantrel {

class CompactMerge {
 public:
  virtual ~CompactMerge() = default;

  // A compact merge for the job, or null where it cannot apply: the style sheet
  // does not load or is no plain copy, or the XML component has no compact path.
  static std::unique_ptr<CompactMerge> ForJob(const std::wstring& styleSheetPath,
                                              const std::vector<std::wstring>& inputs);

  // Loads input 0 as the base (LoadDocument's failures). False: not handled.
  virtual bool LoadBase() = 0;
  // Loads input `index` and merges it, with MergeComments' log lines and failures.
  // Inputs come in order from 1. False, having logged nothing: not handled.
  virtual bool Merge(std::size_t index, LogCallback log, TickState& ticks) = 0;
  // The base document of the whole-tree path after the inputs before `next` were
  // merged, built again from the files without log lines or ticks. The object is
  // spent afterwards.
  virtual DocumentHandle WholeTree(std::size_t next, const TickState& ticks) = 0;

  // ApplyStyleSheet into `destination`. False when the sheet no longer copies its
  // source as it did at the start (the file changed): the destination is then
  // meaningless and the job goes on with WholeTree.
  virtual bool ApplyStyleSheet(const std::wstring& styleSheetPath,
                               const DocumentHandle& destination) = 0;
  // UpdateLastRes on the destination of ApplyStyleSheet.
  virtual void UpdateLastRes(const DocumentHandle& destination) = 0;
  // SaveDocument of that destination with the kept comments in their places.
  virtual void Save(const DocumentHandle& destination, const std::wstring& path) = 0;

 protected:
  CompactMerge() = default;
  CompactMerge(const CompactMerge&) = default;
  CompactMerge& operator=(const CompactMerge&) = default;
};

}  // namespace zantrel
