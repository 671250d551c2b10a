#include "base/time/time.h"

#include <stdint.h>

#include <atomic>
#include <limits>
#include <thread>
#include <vector>

#include "base/platform/windows_types.h"
#include "base/time/clock_table.h"
#include "base/time/processor_info.h"
#include "gtest/gtest.h"

namespace base {
namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

// Must stay the first reading of the thread clock in this program.
TEST(ThreadTicks, FirstReadingOfTheProcessIsZero) {
  EXPECT_EQ(ThreadTicks::Now().ToInternalValue(), 0);
}

TEST(TimeDelta, AdditionSaturatesAtBothEnds) {
  struct {
    int64_t a, b, expected;
  } cases[] = {
      {kMax, 1, kMax},
      {kMax - 1, 1, kMax},
      {kMax - 2, 1, kMax - 1},
      {kMin, -1, kMin},
      {kMin + 1, -1, kMin},
      {kMin + 2, -1, kMin + 1},
      {kMax, kMin, -1},
      {kMin, kMax, -1},
      {1, -1, 0},
      {kMax / 2 + 1, kMax / 2 + 1, kMax},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.a << " + " << c.b);
    EXPECT_EQ((Microseconds(c.a) + Microseconds(c.b)).InMicroseconds(), c.expected);
    EXPECT_EQ((TimeTicks::FromInternalValue(c.a) + Microseconds(c.b)).ToInternalValue(),
              c.expected);
    EXPECT_EQ((Time::FromInternalValue(c.a) + Microseconds(c.b)).ToInternalValue(), c.expected);
  }
  // A point minus a large duration saturates at the smallest value.
  EXPECT_EQ((TimeTicks::FromInternalValue(-5) - TimeDelta::Max()).ToInternalValue(), kMin);
  EXPECT_EQ((TimeTicks::FromInternalValue(-5) + TimeDelta::Min()).ToInternalValue(), kMin);
  // Unit constructors saturate too.
  EXPECT_TRUE(Milliseconds(kMax / 10).is_max());
  EXPECT_TRUE(Seconds(kMin / 10).is_min());
  EXPECT_EQ(-TimeDelta::Min(), TimeDelta::Max());
}

TEST(TimeDelta, DifferenceOfPointsIsPlainSubtraction) {
  EXPECT_EQ((TimeTicks::FromInternalValue(10) - TimeTicks::FromInternalValue(25)).InMicroseconds(),
            -15);
  // Wraps rather than saturates, as 64-bit subtraction does.
  EXPECT_EQ((TimeTicks::FromInternalValue(kMin) - TimeTicks::FromInternalValue(1)).InMicroseconds(),
            kMax);
  EXPECT_LT(TimeTicks::FromInternalValue(-1), TimeTicks());
}

TEST(TimeDelta, MillisecondConversionsRound) {
  struct {
    int64_t us, truncated, rounded_up;
  } cases[] = {
      {0, 0, 0},
      {1, 0, 1},
      {999, 0, 1},
      {1000, 1, 1},
      {1001, 1, 2},
      {-1, 0, 0},
      {-999, 0, 0},
      {-1000, -1, -1},
      {-1500, -1, -1},
      {-1001, -1, -1},
      {kMax, kMax, kMax},
      {kMax - 1, kMax / 1000, kMax / 1000 + 1},
      {kMin, kMin / 1000, kMin / 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.us);
    EXPECT_EQ(Microseconds(c.us).InMilliseconds(), c.truncated);
    EXPECT_EQ(Microseconds(c.us).InMillisecondsRoundedUp(), c.rounded_up);
  }
}

TEST(ClockTable, PerformanceCounterConversionIsExactAcrossTheThreshold) {
  const int64_t kThreshold = INT64_C(0x8637BD05AF7);
  // Frequencies for which the exact quotient is easy to state.
  struct {
    int64_t qpc, frequency, expected;
  } cases[] = {
      {kThreshold - 1, 10000000, (kThreshold - 1) / 10},
      {kThreshold, 10000000, kThreshold / 10},
      {kThreshold - 1, 3000000, (kThreshold - 1) / 3},
      {kThreshold, 3000000, kThreshold / 3},
      {kThreshold + 1, 3000000, (kThreshold + 1) / 3},
      {kMax, 1000000, kMax},
      {kMax, 4000000, kMax / 4},
      {0, 3579545, 0},
      {3579545, 3579545, 1000000},
      {1, 3579545, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.qpc << " @ " << c.frequency);
    EXPECT_EQ(internal::PerformanceCounterToMicroseconds(c.qpc, c.frequency), c.expected);
  }
}

TEST(ClockTable, LowResolutionClockChoice) {
  ProcessorInfo good;
  good.vendor = "GenuineIntel";
  good.family = 6;
  good.has_invariant_tsc = true;
  ProcessorInfo no_tsc = good;
  no_tsc.has_invariant_tsc = false;
  ProcessorInfo old_amd = good;
  old_amd.vendor = "AuthenticAMD";
  old_amd.family = 15;
  ProcessorInfo new_amd = old_amd;
  new_amd.family = 14;
  struct {
    int64_t frequency;
    const ProcessorInfo* cpu;
    bool low_resolution;
  } cases[] = {
      {10000000, &good, false},    {0, &good, true},          {-1, &good, true},
      {1, &good, false},           {10000000, &no_tsc, true}, {10000000, &old_amd, true},
      {10000000, &new_amd, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(internal::ShouldUseLowResolutionClock(cases[i].frequency, *cases[i].cpu),
              cases[i].low_resolution);
  }
}

uint32_t g_fake_tick_count = 0;
uint32_t FakeTickCount() {
  return g_fake_tick_count;
}

TEST(ClockTable, LowResolutionClockCountsRollovers) {
  auto& table = internal::GetClockTable();
  auto* original = table.tick_count.exchange(&FakeTickCount);
  internal::SetRolloverStateForTesting(0);
  struct {
    uint32_t reading;
    int64_t expected_ms;
  } steps[] = {
      {0x00000005, 5},
      {0xFF000000, 0xFF000000},
      {0x00000010, (INT64_C(1) << 32) + 0x10},  // fell: one rollover
      {0x7F000000, (INT64_C(1) << 32) + 0x7F000000},
      {0x7F000000, (INT64_C(1) << 32) + 0x7F000000},  // unchanged word
      {0x00000001, (INT64_C(2) << 32) + 1},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.reading);
    g_fake_tick_count = s.reading;
    EXPECT_EQ(internal::RolloverProtectedNow().ToInternalValue(), s.expected_ms * 1000);
  }
  table.tick_count.store(original);
  // The count is 16 bits and wraps.
  EXPECT_EQ(internal::NextRolloverState(0xFFFF00FF, 0), 0x00000000u);
  EXPECT_EQ(internal::NextRolloverState(0x00010080, 0x80000000), 0x00010080u);
}

// A counter that advances 1/1024 of its 32-bit range per reading, so the
// racing readers below wrap it many times.
constexpr uint32_t kRacingStep = 0x00400000;
std::atomic<uint64_t> g_racing_readings{0};
uint32_t RacingTickCount() {
  return static_cast<uint32_t>((g_racing_readings.fetch_add(1) + 1) * kRacingStep);
}

TEST(ClockTable, LowResolutionClockRollsOverConsistentlyUnderRacingReaders) {
  auto& table = internal::GetClockTable();
  auto* original = table.tick_count.exchange(&RacingTickCount);
  internal::SetRolloverStateForTesting(0);
  g_racing_readings.store(0);
  constexpr int kThreads = 4;
  constexpr int kReadings = 3000;
  std::atomic<int> decreases{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      int64_t last = 0;
      for (int i = 0; i < kReadings; ++i) {
        int64_t now = internal::RolloverProtectedNow().ToInternalValue();
        if (now < last)
          decreases.fetch_add(1);
        last = now;
      }
    });
  }
  for (auto& th : threads)
    th.join();
  // Serial oracle: one more reading must equal the exact 64-bit count of all
  // readings taken (retries included), however the threads interleaved.
  int64_t final_us = internal::RolloverProtectedNow().ToInternalValue();
  uint64_t readings = g_racing_readings.load();
  table.tick_count.store(original);
  EXPECT_EQ(decreases.load(), 0);
  EXPECT_GE(readings, static_cast<uint64_t>(kThreads * kReadings + 1));
  EXPECT_EQ(final_us, static_cast<int64_t>(readings * kRacingStep) * 1000);
}

TEST(ClockTable, FirstTickReadingInstallsTheChosenSource) {
  LARGE_INTEGER frequency;
  int64_t f = ::QueryPerformanceFrequency(&frequency) ? frequency.QuadPart : 0;
  bool low = internal::ShouldUseLowResolutionClock(f, ProcessorInfo::Identify());
  (void)TimeTicks::Now();
  auto& table = internal::GetClockTable();
  TimeTicks (*chosen)() = low ? &internal::RolloverProtectedNow : &internal::PerformanceCounterNow;
  EXPECT_EQ(table.tick_source.load(), chosen);
  EXPECT_EQ(table.time_ticks_now.load(), chosen);
}

TEST(TimeTicks, MonotonicAcrossReadingsAndThreads) {
  constexpr int kThreads = 4;
  constexpr int kReadings = 5000;
  std::atomic<int> decreases{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      TimeTicks last = TimeTicks::Now();
      for (int i = 0; i < kReadings; ++i) {
        TimeTicks now = TimeTicks::Now();
        if (now < last)
          decreases.fetch_add(1);
        last = now;
      }
    });
  }
  for (auto& t : threads)
    t.join();
  EXPECT_EQ(decreases.load(), 0);
  // The clock is not stuck: it moves while the platform's counter moves.
  TimeTicks start = TimeTicks::Now();
  DWORD begin = ::GetTickCount();
  while (::GetTickCount() - begin < 20)
    ::Sleep(5);
  EXPECT_GT(TimeTicks::Now(), start);
}

int64_t SystemTimeMicroseconds() {
  FILETIME ft;
  ::GetSystemTimeAsFileTime(&ft);
  return static_cast<int64_t>(
      ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10);
}

TEST(Time, NowFollowsTheSystemTime) {
  // Generous bounds: the test is about the epoch and units, not latency.
  const int64_t kSlack = 5 * 1000000;
  int64_t before = SystemTimeMicroseconds();
  int64_t now = Time::Now().ToInternalValue();
  int64_t from_system = Time::NowFromSystemTime().ToInternalValue();
  int64_t after = SystemTimeMicroseconds();
  EXPECT_GE(now, before - kSlack);
  EXPECT_LE(now, after + kSlack);
  EXPECT_GE(from_system, before - kSlack);
  EXPECT_LE(from_system, after + kSlack);
  EXPECT_EQ(Time::FromTimeT(0), Time());
  EXPECT_EQ(Time::FromTimeT(1).ToTimeT(), 1);
}

int64_t g_fake_ticks = 0;
TimeTicks FakeTicks() {
  return TimeTicks::FromInternalValue(g_fake_ticks);
}

TEST(Time, NowReanchorsAfterSixtySeconds) {
  (void)TimeTicks::Now();  // the real source is selected and installed
  auto& table = internal::GetClockTable();
  auto* original = table.tick_source.exchange(&FakeTicks);
  g_fake_ticks = 1000;
  internal::ResetWallClockForTesting();
  int64_t first = Time::Now().ToInternalValue();
  int64_t anchor = internal::WallClockAnchorForTesting();
  EXPECT_EQ(first, anchor);

  // Exactly 60 s later: still the old anchor, at tick resolution.
  g_fake_ticks = 1000 + 60 * INT64_C(1000000);
  EXPECT_EQ(Time::Now().ToInternalValue(), anchor + 60 * INT64_C(1000000));
  EXPECT_EQ(internal::WallClockAnchorForTesting(), anchor);

  // One microsecond more: the system time is read again, so the answer is the
  // fresh system time rather than 60 s past the old anchor.
  g_fake_ticks += 1;
  int64_t before = SystemTimeMicroseconds();
  int64_t reanchored = Time::Now().ToInternalValue();
  EXPECT_GE(reanchored, before - 1000000);
  EXPECT_LT(reanchored, anchor + 30 * INT64_C(1000000));
  table.tick_source.store(original);
  internal::ResetWallClockForTesting();
}

TEST(ProcessorInfo, AgreesWithThePlatform) {
  ProcessorInfo cpu = ProcessorInfo::Identify();
  EXPECT_EQ(cpu.vendor.size(), 12u);
  EXPECT_EQ(cpu.has_sse2, ::IsProcessorFeaturePresent(PF_XMMI64_INSTRUCTIONS_AVAILABLE) != 0);
  EXPECT_EQ(ProcessorInfo().vendor, "unknown");
}

}  // namespace
}  // namespace base
