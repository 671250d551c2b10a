#ifndef BASE_SYNCHRONIZATION_LAZY_CREATION_H_
#define BASE_SYNCHRONIZATION_LAZY_CREATION_H_

#include <stdint.h>

#include <atomic>

namespace base {

// One-time creation of process-wide instances that are never freed. `state`
// is a pointer-sized word: 0 = not created, 1 = being created, any other value
// = the instance. A zero-initialised `static std::atomic<uintptr_t>` is ready.
using LazyState = std::atomic<uintptr_t>;
inline constexpr uintptr_t kLazyStateCreating = 1;

// True for exactly one caller, which must then create the instance and call
// CompleteLazyCreation. Every other caller waits while another thread creates
// it and returns false once the instance exists.
[[nodiscard]] bool NeedsLazyCreation(LazyState* state);

// Publishes `instance` (release ordering). A non-null `destructor` would be
// registered with the process exit list; this process installs none, so
// instances live until the process ends.
void CompleteLazyCreation(LazyState* state,
                          void* instance,
                          void (*destructor)(void*),
                          void* argument);

// The instance behind `state`, created by `create()` (returning T*) on first
// use. Thread-safe; `create` runs at most once per state.
template <typename T, typename Creator>
T* GetOrCreateLazyInstance(LazyState* state, Creator&& create) {
  uintptr_t value = state->load(std::memory_order_acquire);
  if (value != 0 && value != kLazyStateCreating)
    return reinterpret_cast<T*>(value);
  if (NeedsLazyCreation(state)) {
    T* instance = create();
    CompleteLazyCreation(state, instance, nullptr, nullptr);
    return instance;
  }
  return reinterpret_cast<T*>(state->load(std::memory_order_acquire));
}

}  // namespace base

#endif  // BASE_SYNCHRONIZATION_LAZY_CREATION_H_
