#include "base/synchronization/lock.h"

#include "base/platform/activity_hooks.h"
#include "base/platform/windows_types.h"

namespace base {

namespace {

// An address inside the caller (the acquire operation itself), recorded as
// the origin of a blocking acquire.
__attribute__((noinline)) const void* CurrentCodeAddress() {
  return __builtin_return_address(0);
}

}  // namespace

static_assert(sizeof(void*) == sizeof(SRWLOCK), "Lock stores one SRWLOCK");

#define NATIVE_LOCK reinterpret_cast<PSRWLOCK>(&native_)

void Lock::Acquire() {
  const debug::ActivityHooks* hooks = debug::GetActivityHooks();
  if (!hooks) {
    ::AcquireSRWLockExclusive(NATIVE_LOCK);
    return;
  }
  // Only an acquire that has to wait is worth a record.
  if (::TryAcquireSRWLockExclusive(NATIVE_LOCK))
    return;
  void* token =
      hooks->lock_acquire_begin ? hooks->lock_acquire_begin(this, CurrentCodeAddress()) : nullptr;
  ::AcquireSRWLockExclusive(NATIVE_LOCK);
  if (hooks->lock_acquire_end)
    hooks->lock_acquire_end(token);
}

bool Lock::TryAcquire() {
  return ::TryAcquireSRWLockExclusive(NATIVE_LOCK) != 0;
}

void Lock::Release() {
  ::ReleaseSRWLockExclusive(NATIVE_LOCK);
}

#undef NATIVE_LOCK

}  // namespace base
