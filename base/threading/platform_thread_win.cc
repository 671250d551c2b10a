#include "base/threading/platform_thread.h"

#include <map>
#include <set>

#include "base/platform/windows_types.h"
#include "base/synchronization/lazy_creation.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

// Names of threads: each distinct name is stored once, and thread ids map to
// the interned names. Created on first use and never freed.
class ThreadNameRegistry {
 public:
  std::string GetName(PlatformThreadId id) {
    AutoLock guard(lock_);
    auto it = thread_names_.find(id);
    return it == thread_names_.end() ? std::string() : *it->second;
  }

  void SetName(PlatformThreadId id, StringPiece name) {
    AutoLock guard(lock_);
    if (name.empty()) {
      thread_names_.erase(id);
      return;
    }
    thread_names_[id] = &*interned_names_.insert(name.as_string()).first;
  }

 private:
  Lock lock_;
  std::set<std::string> interned_names_;
  std::map<PlatformThreadId, const std::string*> thread_names_;
};

LazyState g_thread_name_registry{0};

ThreadNameRegistry* GetRegistry() {
  return GetOrCreateLazyInstance<ThreadNameRegistry>(&g_thread_name_registry,
                                                     [] { return new ThreadNameRegistry; });
}

}  // namespace

namespace internal {

uint32_t SleepMilliseconds(TimeDelta remaining) {
  int64_t ms = remaining.InMillisecondsRoundedUp();
  if (ms < 0)
    return 0;
  return ms > kMaxSleepMilliseconds ? kMaxSleepMilliseconds : static_cast<uint32_t>(ms);
}

}  // namespace internal

void SleepFor(TimeDelta duration) {
  const TimeTicks end = TimeTicks::Now() + duration;
  for (TimeTicks now = TimeTicks::Now(); now < end; now = TimeTicks::Now()) {
    ::Sleep(internal::SleepMilliseconds(end - now));
  }
}

void YieldThread() {
  ::Sleep(0);
}

PlatformThreadHandle CurrentThreadHandle() {
  return ::GetCurrentThread();
}

PlatformThreadId CurrentThreadId() {
  return ::GetCurrentThreadId();
}

std::string ThreadName() {
  return GetRegistry()->GetName(CurrentThreadId());
}

void SetThreadName(StringPiece name) {
  GetRegistry()->SetName(CurrentThreadId(), name);
}

}  // namespace base
