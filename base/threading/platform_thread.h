#ifndef BASE_THREADING_PLATFORM_THREAD_H_
#define BASE_THREADING_PLATFORM_THREAD_H_

#include <stdint.h>

#include <string>

#include "base/strings/string_piece.h"
#include "base/time/time.h"

namespace base {

using PlatformThreadId = uint32_t;   // the platform's DWORD thread id
using PlatformThreadHandle = void*;  // the platform's HANDLE
inline constexpr PlatformThreadId kInvalidThreadId = 0;

// Sleeps at least `duration` by the tick clock, sleeping again after an early
// wake-up. Zero or negative returns at once without sleeping. Every single
// sleep is bounded below the platform's "forever", so even the unlimited
// duration sleeps in finite steps.
void SleepFor(TimeDelta duration);
// Gives up the rest of the time slice (Sleep(0)).
void YieldThread();
// The pseudo handle of the calling thread (valid only in this thread; never
// closed).
PlatformThreadHandle CurrentThreadHandle();
PlatformThreadId CurrentThreadId();

// The name registered for the calling thread, or the empty string. Names live
// in a process-wide registry under its own lock, created on first use.
std::string ThreadName();
// Registers `name` for the calling thread (empty removes it).
void SetThreadName(StringPiece name);

namespace internal {
// The longest single sleep: one below the platform's INFINITE (0xFFFFFFFF).
inline constexpr uint32_t kMaxSleepMilliseconds = 0xFFFFFFFE;
// The milliseconds of one sleep for `remaining`: rounded up, at least 0, at
// most kMaxSleepMilliseconds.
uint32_t SleepMilliseconds(TimeDelta remaining);
}  // namespace internal

// The same operations under the usual class names.
class PlatformThread {
 public:
  PlatformThread() = delete;
  static PlatformThreadId CurrentId() { return CurrentThreadId(); }
  static PlatformThreadHandle CurrentHandle() { return CurrentThreadHandle(); }
  static void Sleep(TimeDelta duration) { SleepFor(duration); }
  static void YieldCurrentThread() { YieldThread(); }
  static std::string GetName() { return ThreadName(); }
  static void SetName(StringPiece name) { SetThreadName(name); }
};

}  // namespace base

#endif  // BASE_THREADING_PLATFORM_THREAD_H_
