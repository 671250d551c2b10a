#ifndef BASE_SYNCHRONIZATION_LOCK_H_
#define BASE_SYNCHRONIZATION_LOCK_H_

namespace base {

// An exclusive, non-recursive lock on the platform's slim reader-writer lock.
// Zero-initialised and trivially destructible, so a `static Lock` needs no
// run-time construction; locks are never destroyed while in use. Acquiring a
// lock the thread already holds deadlocks. Thread-safe.
class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;

  // Blocks until the lock is held. A blocking acquire is reported to the
  // activity tracker's hook when one is installed.
  void Acquire();
  // Takes the lock if it is free; true when it is now held. Never blocks.
  [[nodiscard]] bool TryAcquire();
  [[nodiscard]] bool Try() { return TryAcquire(); }
  // Releases a lock held by this thread.
  void Release();
  // The platform lock cannot tell its owner; kept so callers can state intent.
  void AssertAcquired() const {}

 private:
  // Storage of the platform's SRWLOCK (one pointer, zero = unlocked).
  void* native_ = nullptr;
};

// Holds `lock` for its own lifetime.
class AutoLock {
 public:
  explicit AutoLock(Lock& lock) : lock_(lock) { lock_.Acquire(); }
  ~AutoLock() { lock_.Release(); }
  AutoLock(const AutoLock&) = delete;
  AutoLock& operator=(const AutoLock&) = delete;

 private:
  Lock& lock_;
};

// Releases a held `lock` for its own lifetime and takes it again after.
class AutoUnlock {
 public:
  explicit AutoUnlock(Lock& lock) : lock_(lock) { lock_.Release(); }
  ~AutoUnlock() { lock_.Acquire(); }
  AutoUnlock(const AutoUnlock&) = delete;
  AutoUnlock& operator=(const AutoUnlock&) = delete;

 private:
  Lock& lock_;
};

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_LOCK_H_
