#include "comments/progress.hpp"

#include <string>

namespace zantrel {

void ProgressTick(std::atomic<int>& lastReported, std::size_t index, std::size_t count,
                  LogCallback log) {
  if (count == 0) return;
  const auto percent = static_cast<int>((100 * static_cast<unsigned long long>(index)) / count);
  if (percent % 5 != 0) return;
  if (lastReported.exchange(percent) == percent) return;
  static const std::wstring kTick = L"%RAW%|";
  log(kTick);
}

std::atomic<int>& MergeProgress() {
  static std::atomic<int> value{0};
  return value;
}

std::atomic<int>& RemovalProgress() {
  static std::atomic<int> value{0};
  return value;
}

void ResetProgressTicks() {
  MergeProgress().store(0);
  RemovalProgress().store(0);
}

}  // namespace zantrel
