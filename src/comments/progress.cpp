#include "comments/progress.hpp"

#include <string>

namespace zantrel {

void ProgressTick(int& lastReported, std::size_t index, std::size_t count, LogCallback log) {
  if (count == 0) return;
  const auto percent = static_cast<int>((100 * static_cast<unsigned long long>(index)) / count);
  if (percent % 5 != 0 || percent == lastReported) return;
  lastReported = percent;
  static const std::wstring kTick = L"%RAW%|";
  log(kTick);
}

void ProgressTicksBefore(int& lastReported, std::size_t end, std::size_t count, LogCallback log) {
  if (count == 0) return;
  for (unsigned long long m = 0; m < 100; m += 5) {
    // The first index whose percentage reaches m; it has percentage m exactly or
    // the percentage skipped m (then no index has it).
    const unsigned long long k = (m * count + 99) / 100;
    if (k >= end) break;
    ProgressTick(lastReported, static_cast<std::size_t>(k), count, log);
  }
}

std::atomic<int>& MergeProgress() {
  static std::atomic<int> value{0};
  return value;
}

std::atomic<int>& RemovalProgress() {
  static std::atomic<int> value{0};
  return value;
}

JobProgress::JobProgress()
    : TickState{MergeProgress().load(), RemovalProgress().load()}, takenMerge_(merge), takenRemoval_(removal) {}

JobProgress::~JobProgress() {
  if (merge != takenMerge_) MergeProgress().store(merge);
  if (removal != takenRemoval_) RemovalProgress().store(removal);
}

void ResetProgressTicks() {
  MergeProgress().store(0);
  RemovalProgress().store(0);
}

}  // namespace zantrel
