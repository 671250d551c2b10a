#include "base/synchronization/lazy_creation.h"

#include "base/platform/windows_types.h"
#include "base/time/time.h"

namespace base {

bool NeedsLazyCreation(LazyState* state) {
  uintptr_t expected = 0;
  if (state->compare_exchange_strong(expected, kLazyStateCreating, std::memory_order_acquire))
    return true;
  if (expected == kLazyStateCreating) {
    // Another thread is creating the instance: yield for the first
    // millisecond, then sleep a millisecond at a time.
    const TimeTicks start = TimeTicks::Now();
    while (state->load(std::memory_order_acquire) == kLazyStateCreating) {
      if (TimeTicks::Now() - start < TimeDelta::FromMilliseconds(1))
        ::Sleep(0);
      else
        ::Sleep(1);
    }
  }
  return false;
}

void CompleteLazyCreation(LazyState* state,
                          void* instance,
                          void (*destructor)(void*),
                          void* argument) {
  // No exit list is installed in this process, so a destructor would never
  // run; instances live until the process ends.
  (void)destructor;
  (void)argument;
  state->store(reinterpret_cast<uintptr_t>(instance), std::memory_order_release);
}

}  // namespace base
