#ifndef BASE_WIN_SCOPED_HANDLE_H_
#define BASE_WIN_SCOPED_HANDLE_H_

#include <cstdint>

namespace base::win {

// The sole owner of one Win32 kernel handle (the HANDLE type, a void*).
// Null and INVALID_HANDLE_VALUE are never held: adopting either leaves the
// holder empty. Every adoption and release is reported to the process's
// handle verifier, which ends the process when ownership is broken (the same
// value adopted twice, a close the system refuses). Move-only; one holder
// must not be used from two threads at once.
class ScopedHandle {
 public:
  using Handle = void*;

  ScopedHandle() = default;
  // Adopts `handle` as Set() does.
  explicit ScopedHandle(Handle handle);
  ScopedHandle(ScopedHandle&& other);
  ScopedHandle& operator=(ScopedHandle&& other);
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  // Closes the held handle.
  ~ScopedHandle();

  // True when a handle is held.
  bool IsValid() const { return IsHandleValid(handle_); }

  // The held handle (null when empty); ownership stays with the holder.
  Handle Get() const { return handle_; }

  // Closes the held handle and adopts `handle` (null or INVALID_HANDLE_VALUE
  // leave the holder empty). Setting the value already held does nothing.
  // The thread's last-error code is the same after Set as before it.
  void Set(Handle handle);

  // Releases ownership without closing: the caller now owns an untracked
  // handle. Returns null when empty.
  [[nodiscard]] Handle Take();

  // Closes the held handle, if any, and leaves the holder empty.
  void Close();

  // Whether `handle` is neither null nor INVALID_HANDLE_VALUE.
  static bool IsHandleValid(Handle handle) {
    return handle != nullptr && reinterpret_cast<intptr_t>(handle) != -1;
  }

 private:
  Handle handle_ = nullptr;
};

// The address that follows this function's call in the calling function.
// With the caller's own return address it tells where a handle was adopted
// or released. Also usable for activity records.
const void* CurrentCodeAddress();

}  // namespace base::win

#endif  // BASE_WIN_SCOPED_HANDLE_H_
