#include "base/threading/platform_thread.h"

#include <string>
#include <thread>

#include "base/platform/windows_types.h"
#include "base/time/time.h"
#include "gtest/gtest.h"

namespace base {
namespace {

TEST(PlatformThread, IdAndHandleAreThePlatformsValues) {
  EXPECT_EQ(CurrentThreadId(), ::GetCurrentThreadId());
  EXPECT_EQ(CurrentThreadHandle(), ::GetCurrentThread());
  PlatformThreadId other = 0;
  std::thread([&] { other = PlatformThread::CurrentId(); }).join();
  EXPECT_NE(other, CurrentThreadId());
}

TEST(PlatformThread, SleepChunksAreBoundedBelowInfinite) {
  struct {
    TimeDelta remaining;
    uint32_t expected_ms;
  } cases[] = {
      {TimeDelta(), 0},
      {Microseconds(-5000), 0},
      {Microseconds(1), 1},
      {Microseconds(1001), 2},
      {Milliseconds(0xFFFFFFFE), 0xFFFFFFFE},
      {Milliseconds(0xFFFFFFFF), 0xFFFFFFFE},  // would be INFINITE
      {Milliseconds(INT64_C(0x1FFFFFFFF)), 0xFFFFFFFE},
      {TimeDelta::Max(), 0xFFFFFFFE},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.remaining.InMicroseconds());
    EXPECT_EQ(internal::SleepMilliseconds(c.remaining), c.expected_ms);
    EXPECT_NE(internal::SleepMilliseconds(c.remaining), INFINITE);
  }
}

TEST(PlatformThread, SleepForSleepsAtLeastTheDuration) {
  for (TimeDelta duration : {TimeDelta(), Microseconds(-1), TimeDelta::Min()}) {
    TimeTicks start = TimeTicks::Now();
    SleepFor(duration);  // returns at once
    EXPECT_GE(TimeTicks::Now(), start);
  }
  TimeTicks start = TimeTicks::Now();
  SleepFor(Milliseconds(15));
  EXPECT_GE(TimeTicks::Now() - start, Milliseconds(15));
  YieldThread();
}

TEST(PlatformThread, ThreadNamesArePerThread) {
  EXPECT_EQ(ThreadName(), "");
  SetThreadName("main-test");
  EXPECT_EQ(ThreadName(), "main-test");
  std::string other_before = "stale", other_after;
  std::thread([&] {
    other_before = ThreadName();
    PlatformThread::SetName("worker");
    other_after = PlatformThread::GetName();
  }).join();
  EXPECT_EQ(other_before, "");
  EXPECT_EQ(other_after, "worker");
  EXPECT_EQ(ThreadName(), "main-test");
  SetThreadName("");
  EXPECT_EQ(ThreadName(), "");
}

}  // namespace
}  // namespace base
