// Cost of recording through the registry and of the activity hooks.

#include <cstdint>
#include <string>

#include "base/debug/activity_tracker.h"
#include "base/metrics/histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/synchronization/lock.h"
#include "bench/bench.h"

int main() {
  constexpr int64_t kIterations = 200000;
  base::HistogramBase* held = base::LinearHistogram::Get("Bench.Registry.Linear", 1, 64, 65,
                                                         base::HistogramBase::kReportFlag);
  // Other names in the registry, so the lookup is not into a one-entry table.
  for (int i = 0; i < 200; ++i)
    base::LinearHistogram::Get("Bench.Registry.Filler." + std::to_string(i), 1, 64, 65, 0);

  int32_t sample = 0;
  auto held_add = bench::Measure(
      [&] {
        held->Add(sample);
        sample = (sample + 7) & 63;
      },
      kIterations);
  bench::Report("registry", "Add through a held pointer", held_add.median_ns, "ns/op");

  auto found_add = bench::Measure(
      [&] {
        base::StatisticsRecorder::FindHistogram("Bench.Registry.Linear")->Add(sample);
        sample = (sample + 7) & 63;
      },
      kIterations);
  bench::Report("registry", "Add through FindHistogram by name", found_add.median_ns, "ns/op",
                "Add through a held pointer");

  auto get_add = bench::Measure(
      [&] {
        base::LinearHistogram::Get("Bench.Registry.Linear", 1, 64, 65,
                                   base::HistogramBase::kReportFlag)
            ->Add(sample);
        sample = (sample + 7) & 63;
      },
      kIterations);
  bench::Report("registry", "Add through LinearHistogram::Get by name", get_add.median_ns, "ns/op",
                "Add through a held pointer");

  base::Lock lock;
  auto wait_none =
      bench::Measure([] { base::debug::ScopedProcessWaitActivity wait(1234); }, kIterations);
  bench::Report("activity", "process-wait hook, no tracker", wait_none.median_ns, "ns/op");
  auto lock_none = bench::Measure(
      [&] {
        lock.Acquire();
        lock.Release();
      },
      kIterations);
  bench::Report("activity", "uncontended lock, no tracker", lock_none.median_ns, "ns/op");

  base::debug::GlobalActivityTracker::CreateWithLocalMemory(1 << 20, 1, "bench", 8, 0);
  base::debug::GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
  auto wait_tracked =
      bench::Measure([] { base::debug::ScopedProcessWaitActivity wait(1234); }, kIterations);
  bench::Report("activity", "process-wait hook, with tracker", wait_tracked.median_ns, "ns/op",
                "process-wait hook, no tracker");
  auto lock_tracked = bench::Measure(
      [&] {
        lock.Acquire();
        lock.Release();
      },
      kIterations);
  bench::Report("activity", "uncontended lock, with tracker", lock_tracked.median_ns, "ns/op",
                "uncontended lock, no tracker");
  return 0;
}
