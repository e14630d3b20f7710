// The two ends of the compact form (compact_end.hpp).
#include <exception>
#include <numeric>
#include <thread>

#include "comments/operations.hpp"
#include "job/compact_end.hpp"

namespace zantrel {
namespace {

class Splicing final : public CompactEnd {
 public:
  bool ReadBase(const std::wstring& path, const xml::Sheet& sheet, Arena& bytes,
                xml::ChatReceiver& receiver) override {
    base_ = xml::StreamSplicedBase(path, sheet, bytes, receiver);
    return base_ != nullptr;
  }
  bool BaseSettled(Kept&) override { return true; }
  void InputSettled(Kept&, const std::wstring&) override {}  // the bytes wait for the save

  void Transform(Kept& kept, const StyleSheet& sheet, const DocumentHandle& destination) override {
    // The small base is the whole result; the kept bytes join it when it is saved,
    // the base's own in their runs, the later inputs' after everything packet holds.
    const std::size_t base = std::accumulate(kept.keptPerRun.begin(), kept.keptPerRun.end(), std::size_t{0});
    base_->PlaceComments(kept.keptPerRun, kept.lengths.size() - base);
    ApplyStyleSheet(sheet, base_->Tree(), destination, xml::SourceAfter::Released);
  }
  void UpdateLastRes(const Kept& kept, const DocumentHandle& destination) override {
    zantrel::UpdateLastRes(destination, kept.lastNumber);
  }
  void Save(const Kept& kept, const DocumentHandle& destination, const std::wstring& path) override {
    base_->Save(destination, path, kept.bytes, kept.lengths);
  }

 private:
  std::unique_ptr<xml::SplicedBase> base_;
};

class Rebuilding final : public CompactEnd {
 public:
  ~Rebuilding() override {
    if (freeing_.joinable()) freeing_.join();
  }

  bool ReadBase(const std::wstring& path, const xml::Sheet& sheet, Arena& bytes,
                xml::ChatReceiver& receiver) override {
    tree_ = xml::StreamRebuiltBase(path, sheet, bytes, receiver);
    return tree_ != nullptr;
  }
  bool BaseSettled(Kept& kept) override {
    if (!tree_->Begin(kept.keptPerRun, kept.bytes, kept.lengths)) return false;
    Fed(kept);
    return true;
  }
  void InputSettled(Kept& kept, const std::wstring& path) override {
    tree_->Add(kept.bytes, fed_, kept.bytes.Size(), path);
    Fed(kept);
  }

  void Transform(Kept& kept, const StyleSheet& sheet, const DocumentHandle& destination) override {
    // The merged tree is gone as soon as the transform is done, and the memory
    // the kept bytes took before it.
    DocumentHandle merged = tree_->Finish();
    tree_.reset();
    kept.bytes.Clear();
    kept.pool->Release();
    kept.lengths = {};
    ApplyStyleSheet(sheet, merged, destination, xml::SourceAfter::Released);
    // Freeing a large tree takes a while: on a thread of its own, beside the save.
    try {
      freeing_ = std::thread([tree = std::move(merged)]() mutable { tree.reset(); });
    } catch (const std::exception&) {
      // No thread to be had: `merged` is freed here.
    }
  }
  // The result holds the comments themselves.
  void UpdateLastRes(const Kept&, const DocumentHandle& destination) override { zantrel::UpdateLastRes(destination); }
  void Save(const Kept&, const DocumentHandle& destination, const std::wstring& path) override {
    SaveDocument(destination, path);
  }

 private:
  // The kept bytes so far are in the tree: their blocks can go.
  void Fed(Kept& kept) noexcept {
    fed_ = kept.bytes.Size();
    kept.bytes.FreeBefore(fed_);
  }

  std::unique_ptr<xml::RebuiltTree> tree_;
  std::size_t fed_ = 0;  // kept bytes already pushed to the tree
  std::thread freeing_;  // frees the merged tree after the transform
};

}  // namespace

std::unique_ptr<CompactEnd> SplicingEnd() { return std::make_unique<Splicing>(); }
std::unique_ptr<CompactEnd> RebuildingEnd() { return std::make_unique<Rebuilding>(); }

}  // namespace zantrel
