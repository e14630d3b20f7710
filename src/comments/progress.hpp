// Progress ticks of merging and duplicate removal: a "%RAW%|" each time the
// percentage 100*i/n reaches a new multiple of 5.
//
// Each operation has one process-wide last reported percentage that starts at 0
// and is never reset, so the 0 % tick is skipped while the stored value is 0.
// The values are atomic: two jobs at once do not corrupt them (their ticks may
// interleave). Any thread; never throws beyond what the log callback does.
#pragma once

#include <atomic>
#include <cstddef>

#include "base/log.hpp"

namespace zantrel {

// Writes the tick for item `index` of `count` when the rule says so.
void ProgressTick(std::atomic<int>& lastReported, std::size_t index, std::size_t count,
                  LogCallback log);

// The same as ProgressTick for every index from 0 to end - 1, without visiting
// each: only the first index of each percentage can write a tick.
void ProgressTicksBefore(std::atomic<int>& lastReported, std::size_t end, std::size_t count,
                         LogCallback log);

std::atomic<int>& MergeProgress();
std::atomic<int>& RemovalProgress();

// Back to the state of a fresh process (tests and benchmarks only).
void ResetProgressTicks();

}  // namespace zantrel
