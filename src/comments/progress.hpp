// Progress ticks of merging and duplicate removal: a "%RAW%|" each time the
// percentage 100*i/n reaches a new multiple of 5.
//
// Each operation has one process-wide last reported percentage that starts at 0
// and is never reset, so the 0 % tick is skipped while the stored value is 0.
// A job ticks against copies of its own (JobProgress): taken from the process-wide
// values when it starts and handed back when it ends, so jobs one after another
// carry the values on, and two jobs at once each tick as if they ran alone.
//
// Threads: JobProgress lives on the thread of its job and is used by it alone; the
// process-wide values are atomic and may be read and written from any thread.
// Never throws beyond what the log callback does.
#pragma once

#include <atomic>
#include <cstddef>

#include "base/log.hpp"

namespace zantrel {

// Writes the tick for item `index` of `count` when the rule says so.
void ProgressTick(int& lastReported, std::size_t index, std::size_t count, LogCallback log);

// The same as ProgressTick for every index from 0 to end - 1, without visiting
// each: only the first index of each percentage can write a tick.
void ProgressTicksBefore(int& lastReported, std::size_t end, std::size_t count, LogCallback log);

// The process-wide last reported percentages.
std::atomic<int>& MergeProgress();
std::atomic<int>& RemovalProgress();

// Last reported percentages that ticks go against. A plain copy ticks without
// effect on anyone else (a rebuild that must not show).
struct TickState {
  int merge = 0;
  int removal = 0;
};

// One job's last reported percentages (scoped to the job: construct it when the
// job starts, on the job's thread).
class JobProgress : public TickState {
 public:
  JobProgress();
  // Hands back what this job changed; a value it never moved stays as another job
  // may have left it.
  ~JobProgress();
  JobProgress(const JobProgress&) = delete;
  JobProgress& operator=(const JobProgress&) = delete;

 private:
  int takenMerge_;
  int takenRemoval_;
};

// Back to the state of a fresh process (tests and benchmarks only).
void ResetProgressTicks();

}  // namespace zantrel
