#ifndef BASE_PLATFORM_SCOPED_ANY_WIN_H_
#define BASE_PLATFORM_SCOPED_ANY_WIN_H_

#include <utility>

#include "base/platform/windows_types.h"

namespace base {
namespace win {

// The sole, move-only owner of one plain OS resource, freed exactly once unless
// it is the invalid value; freeing keeps the thread's last-error code, so a
// holder may end between a failing call and its GetLastError. `Traits` gives:
//   using Type = ...;                // a handle or pointer type
//   static Type InvalidValue();      // the value that owns nothing
//   static void Free(Type value);    // called once per valid value owned
//
// Not thread-safe. Handles that the verifier must see belong in ScopedHandle.
template <typename Traits>
class ScopedAny {
 public:
  using Type = typename Traits::Type;

  ScopedAny() noexcept : value_(Traits::InvalidValue()) {}
  // Owns `value` from now on (the invalid value owns nothing).
  explicit ScopedAny(Type value) noexcept : value_(value) {}
  ScopedAny(ScopedAny&& other) noexcept : value_(other.release()) {}
  ScopedAny& operator=(ScopedAny&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  ScopedAny(const ScopedAny&) = delete;
  ScopedAny& operator=(const ScopedAny&) = delete;
  ~ScopedAny() { reset(); }

  // The held value, still owned here; the invalid value when none is held.
  Type get() const { return value_; }
  bool is_valid() const { return value_ != Traits::InvalidValue(); }
  explicit operator bool() const { return is_valid(); }

  // Frees the held value, if any, and owns `value` instead. The thread's
  // last-error code is the same afterwards. `value` must not be the value
  // held already.
  void reset(Type value = Traits::InvalidValue()) noexcept {
    const Type old = std::exchange(value_, value);
    if (old == Traits::InvalidValue())
      return;
    const DWORD last_error = ::GetLastError();
    Traits::Free(old);
    ::SetLastError(last_error);
  }

  // Hands the held value to the caller, who then owns it; holds nothing after.
  [[nodiscard]] Type release() noexcept { return std::exchange(value_, Traits::InvalidValue()); }

  // Frees the held value and returns where an API that creates a resource
  // writes it: `CreateThing(holder.Receive())`. Whatever is written there is
  // owned, also when the call reports failure.
  Type* Receive() noexcept {
    reset();
    return &value_;
  }

 private:
  Type value_;
};

}  // namespace win
}  // namespace base

#endif  // BASE_PLATFORM_SCOPED_ANY_WIN_H_
