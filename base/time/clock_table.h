#ifndef BASE_TIME_CLOCK_TABLE_H_
#define BASE_TIME_CLOCK_TABLE_H_

#include <stdint.h>

#include <atomic>

#include "base/time/processor_info.h"
#include "base/time/time.h"

namespace base::internal {

// Every clock reading goes through this process-wide table, in this order.
// Entries start as the platform's functions; `tick_source` first selects the
// tick implementation once, then replaces itself (and `time_ticks_now`, if
// still the default) with it. Tests may swap entries to feed values.
struct ClockTable {
  std::atomic<Time (*)()> time_now;                   // 0: Time::Now()
  std::atomic<Time (*)()> time_now_from_system_time;  // 1: Time::NowFromSystemTime()
  std::atomic<TimeTicks (*)()> time_ticks_now;        // 2: TimeTicks::Now()
  std::atomic<ThreadTicks (*)()> thread_ticks_now;    // 3: ThreadTicks::Now()
  std::atomic<uint32_t (*)()> tick_count;             // 4: timeGetTime
  std::atomic<TimeTicks (*)()> tick_source;           // 5: the tick implementation
};

ClockTable& GetClockTable();

// The initial functions of entries 2 and 5, so callers can tell whether an
// entry still holds its default.
TimeTicks DefaultTimeTicksNow();
TimeTicks SelectTickSource();

// Microseconds of a performance-counter value `qpc` at `frequency` counts per
// second, without intermediate overflow for any non-negative `qpc`.
int64_t PerformanceCounterToMicroseconds(int64_t qpc, int64_t frequency);

// True when the tick clock must be the low-resolution millisecond counter: no
// usable performance-counter frequency, no invariant time-stamp counter, or a
// family-15 AMD processor.
bool ShouldUseLowResolutionClock(int64_t frequency, const ProcessorInfo& cpu);

// The two tick implementations. The low-resolution one reads entry 4 and
// extends it past its 32-bit rollover.
TimeTicks PerformanceCounterNow();
TimeTicks RolloverProtectedNow();

// The rollover state word: low byte = bits 24-31 of the last counter reading,
// bits 16-31 = rollover count. Returns the word after a reading of `now`.
uint32_t NextRolloverState(uint32_t state, uint32_t now);
// Milliseconds of a reading `now` under the rollover state `state`.
int64_t RolloverMilliseconds(uint32_t state, uint32_t now);

// Test hooks: set the rollover state word; forget the wall-clock anchor so the
// next Time::Now() re-reads the system time; read the anchor.
void SetRolloverStateForTesting(uint32_t state);
void ResetWallClockForTesting();
int64_t WallClockAnchorForTesting();

}  // namespace base::internal

#endif  // BASE_TIME_CLOCK_TABLE_H_
