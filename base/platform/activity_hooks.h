#ifndef BASE_PLATFORM_ACTIVITY_HOOKS_H_
#define BASE_PLATFORM_ACTIVITY_HOOKS_H_

#include <atomic>
#include <cstddef>

namespace base::debug {

// The entry points through which the low layers (locks, logging) report to the
// activity tracker without linking to it. The tracker installs one table when
// it is created; while none is installed every hook is one load and a branch.
struct ActivityHooks {
  // Called before a lock acquire that did not succeed at once. Returns a token
  // handed to `lock_acquire_end`, or nullptr when nothing was recorded.
  void* (*lock_acquire_begin)(const void* lock, const void* origin);
  void (*lock_acquire_end)(void* token);
  // Called with the full text of a FATAL message before the process ends.
  void (*log_message)(const char* text, size_t length);
};

// The installed table, or nullptr. Written once by the tracker, read anywhere.
inline std::atomic<const ActivityHooks*> g_activity_hooks{nullptr};

inline const ActivityHooks* GetActivityHooks() {
  return g_activity_hooks.load(std::memory_order_acquire);
}

}  // namespace base::debug

#endif  // BASE_PLATFORM_ACTIVITY_HOOKS_H_
