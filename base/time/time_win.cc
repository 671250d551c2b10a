#include <stdint.h>
#include <x86intrin.h>

#include <atomic>

#include "base/platform/system_library_win.h"
#include "base/platform/windows_types.h"
#include "base/time/clock_table.h"
#include "base/time/processor_info.h"
#include "base/time/time.h"

// timeGetTime's declaration lives outside the lean Windows headers.
#include <mmsystem.h>

namespace base {

namespace internal {
namespace {

static_assert(std::atomic<int64_t>::is_always_lock_free, "64-bit clock state must not tear");
static_assert(std::atomic<double>::is_always_lock_free, "the cached frequency must not tear");

// The largest performance-counter value that can be multiplied by 1,000,000
// without overflow, plus one.
constexpr int64_t kQpcOverflowThreshold = INT64_C(0x8637BD05AF7);
constexpr int64_t kMicrosecondsPerSecond = 1000000;
// The wall clock is re-anchored to the system time after this long.
constexpr int64_t kMaxWallClockDriftMicroseconds = 60 * kMicrosecondsPerSecond;

// Performance-counter frequency in counts per second, stored before the tick
// entries of the table are replaced.
std::atomic<int64_t> g_qpc_frequency{0};
// See NextRolloverState.
std::atomic<uint32_t> g_rollover_state{0};
// The wall-clock anchor: a tick reading and the system time taken with it
// (microseconds since 1601, 0 = not yet anchored).
std::atomic<int64_t> g_initial_ticks{0};
std::atomic<int64_t> g_initial_time{0};
// The time-stamp-counter frequency (0 = not measured) and the first readings
// it is measured from.
std::atomic<double> g_tsc_ticks_per_second{0};
std::atomic<uint64_t> g_tsc_initial{0};
std::atomic<int64_t> g_qpc_initial{0};
std::atomic<bool> g_tsc_initial_taken{false};

int64_t QpcNow() {
  LARGE_INTEGER counter;
  ::QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

TimeTicks TickSourceNow() {
  return GetClockTable().tick_source.load(std::memory_order_acquire)();
}

void AnchorWallClock() {
  g_initial_ticks.store(TickSourceNow().ToInternalValue(), std::memory_order_relaxed);
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  uint64_t file_time = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  g_initial_time.store(static_cast<int64_t>(file_time / 10), std::memory_order_relaxed);
}

Time WallClockNow() {
  if (g_initial_time.load(std::memory_order_relaxed) == 0)
    AnchorWallClock();
  for (;;) {
    TimeTicks ticks = TickSourceNow();
    TimeDelta elapsed =
        ticks - TimeTicks::FromInternalValue(g_initial_ticks.load(std::memory_order_relaxed));
    if (elapsed.InMicroseconds() > kMaxWallClockDriftMicroseconds) {
      AnchorWallClock();
      continue;
    }
    return Time::FromInternalValue(g_initial_time.load(std::memory_order_relaxed)) + elapsed;
  }
}

Time WallClockFromSystemTime() {
  AnchorWallClock();
  return Time::FromInternalValue(g_initial_time.load(std::memory_order_relaxed));
}

// Measures the time-stamp-counter frequency against the performance counter,
// at high priority so the two readings stay close. Returns 0 until at least
// 50 ms separate the first readings from the current ones.
double TscTicksPerSecond() {
  double cached = g_tsc_ticks_per_second.load(std::memory_order_relaxed);
  if (cached != 0)
    return cached;
  HANDLE thread = ::GetCurrentThread();
  int previous_priority = ::GetThreadPriority(thread);
  ::SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
  if (!g_tsc_initial_taken.exchange(true)) {
    g_tsc_initial.store(__rdtsc(), std::memory_order_relaxed);
    g_qpc_initial.store(QpcNow(), std::memory_order_relaxed);
  }
  uint64_t tsc_now = __rdtsc();
  int64_t qpc_now = QpcNow();
  ::SetThreadPriority(thread, previous_priority);

  LARGE_INTEGER frequency;
  if (!::QueryPerformanceFrequency(&frequency) || frequency.QuadPart <= 0)
    return 0;
  double seconds = static_cast<double>(qpc_now - g_qpc_initial.load(std::memory_order_relaxed)) /
                   static_cast<double>(frequency.QuadPart);
  if (seconds < 0.05)
    return 0;
  double ticks_per_second =
      static_cast<double>(tsc_now - g_tsc_initial.load(std::memory_order_relaxed)) / seconds;
  g_tsc_ticks_per_second.store(ticks_per_second, std::memory_order_relaxed);
  return ticks_per_second;
}

ThreadTicks ThreadClockNow() {
  ULONG64 cycles = 0;
  if (!::QueryThreadCycleTime(::GetCurrentThread(), &cycles))
    cycles = 0;
  double ticks_per_second = TscTicksPerSecond();
  if (ticks_per_second == 0)
    return ThreadTicks();
  return ThreadTicks::FromInternalValue(
      static_cast<int64_t>(static_cast<double>(cycles) / ticks_per_second *
                           static_cast<double>(kMicrosecondsPerSecond)));
}

// winmm.dll's timeGetTime, from the system folder's copy at first use; where
// it is missing, GetTickCount counts the same milliseconds more coarsely.
uint32_t TimeGetTime() {
  static const auto time_get_time =
      base::win::SystemFunction<decltype(&::timeGetTime)>(L"winmm.dll", "timeGetTime");
  return time_get_time ? time_get_time() : ::GetTickCount();
}

constinit ClockTable g_clock_table = {
    {&WallClockNow}, {&WallClockFromSystemTime}, {&DefaultTimeTicksNow}, {&ThreadClockNow},
    {&TimeGetTime},  {&SelectTickSource},
};

}  // namespace

ClockTable& GetClockTable() {
  return g_clock_table;
}

TimeTicks DefaultTimeTicksNow() {
  return TickSourceNow();
}

TimeTicks SelectTickSource() {
  LARGE_INTEGER frequency;
  int64_t qpc_frequency = ::QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
  ProcessorInfo cpu = ProcessorInfo::Identify();
  TimeTicks (*chosen)() = ShouldUseLowResolutionClock(qpc_frequency, cpu) ? &RolloverProtectedNow
                                                                          : &PerformanceCounterNow;
  // Racing threads all store the same values; the frequency goes first so a
  // reader that finds the new entry also finds the frequency.
  g_qpc_frequency.store(qpc_frequency, std::memory_order_release);
  g_clock_table.tick_source.store(chosen, std::memory_order_release);
  TimeTicks (*expected)() = &DefaultTimeTicksNow;
  g_clock_table.time_ticks_now.compare_exchange_strong(expected, chosen, std::memory_order_acq_rel);
  return chosen();
}

int64_t PerformanceCounterToMicroseconds(int64_t qpc, int64_t frequency) {
  if (frequency <= 0)
    return 0;
  if (qpc < kQpcOverflowThreshold)
    return qpc * kMicrosecondsPerSecond / frequency;
  // Split into whole seconds and the rest so neither product overflows.
  int64_t whole_seconds = qpc / frequency;
  int64_t leftover = qpc - whole_seconds * frequency;
  return SaturatedAdd(SaturatedMul(whole_seconds, kMicrosecondsPerSecond),
                      leftover * kMicrosecondsPerSecond / frequency);
}

bool ShouldUseLowResolutionClock(int64_t frequency, const ProcessorInfo& cpu) {
  if (frequency <= 0 || !cpu.has_invariant_tsc)
    return true;
  // Family-15 AMD processors drift between cores despite the flag.
  return cpu.vendor == "AuthenticAMD" && cpu.family == 15;
}

TimeTicks PerformanceCounterNow() {
  int64_t us =
      PerformanceCounterToMicroseconds(QpcNow(), g_qpc_frequency.load(std::memory_order_acquire));
  return TimeTicks() + TimeDelta::FromMicroseconds(us);
}

uint32_t NextRolloverState(uint32_t state, uint32_t now) {
  uint32_t top = now >> 24;
  uint32_t rollovers = state >> 16;
  if (top < (state & 0xFF))
    rollovers = (rollovers + 1) & 0xFFFF;
  return (rollovers << 16) | top;
}

int64_t RolloverMilliseconds(uint32_t state, uint32_t now) {
  return static_cast<int64_t>(now) + (static_cast<int64_t>(state >> 16) << 32);
}

TimeTicks RolloverProtectedNow() {
  for (;;) {
    uint32_t state = g_rollover_state.load(std::memory_order_acquire);
    uint32_t now = g_clock_table.tick_count.load(std::memory_order_acquire)();
    uint32_t next = NextRolloverState(state, now);
    // One compare-and-swap publishes the whole state; on a conflict another
    // thread moved it, so read again.
    if (next == state ||
        g_rollover_state.compare_exchange_strong(state, next, std::memory_order_acq_rel)) {
      return TimeTicks() + TimeDelta::FromMilliseconds(RolloverMilliseconds(next, now));
    }
  }
}

void SetRolloverStateForTesting(uint32_t state) {
  g_rollover_state.store(state);
}

void ResetWallClockForTesting() {
  g_initial_time.store(0);
}

int64_t WallClockAnchorForTesting() {
  return g_initial_time.load();
}

}  // namespace internal

Time Time::Now() {
  return internal::GetClockTable().time_now.load(std::memory_order_acquire)();
}

Time Time::NowFromSystemTime() {
  return internal::GetClockTable().time_now_from_system_time.load(std::memory_order_acquire)();
}

TimeTicks TimeTicks::Now() {
  return internal::GetClockTable().time_ticks_now.load(std::memory_order_acquire)();
}

ThreadTicks ThreadTicks::Now() {
  return internal::GetClockTable().thread_ticks_now.load(std::memory_order_acquire)();
}

}  // namespace base
