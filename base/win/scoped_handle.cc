#include "base/win/scoped_handle.h"

#include "base/platform/windows_types.h"
#include "base/win/scoped_handle_verifier.h"

namespace base::win {

ScopedHandle::ScopedHandle(Handle handle) {
  Set(handle);
}

ScopedHandle::ScopedHandle(ScopedHandle&& other) {
  Set(other.Take());
}

ScopedHandle& ScopedHandle::operator=(ScopedHandle&& other) {
  if (this != &other)
    Set(other.Take());
  return *this;
}

ScopedHandle::~ScopedHandle() {
  Close();
}

// Out of line (as are Take and Close) so that the return address names the
// code that adopted or released the handle.
__attribute__((noinline)) void ScopedHandle::Set(Handle handle) {
  if (handle_ == handle)
    return;
  // Adopting a handle usually happens right after the call that produced it;
  // the caller may still want to read that call's error code.
  const DWORD last_error = ::GetLastError();
  Close();
  if (IsHandleValid(handle)) {
    handle_ = handle;
    internal::VerifierBeginTracking(handle, this, __builtin_return_address(0),
                                    CurrentCodeAddress());
  }
  ::SetLastError(last_error);
}

__attribute__((noinline)) ScopedHandle::Handle ScopedHandle::Take() {
  Handle handle = handle_;
  handle_ = nullptr;
  if (IsHandleValid(handle)) {
    internal::VerifierEndTracking(handle, this, __builtin_return_address(0), CurrentCodeAddress());
  }
  return handle;
}

__attribute__((noinline)) void ScopedHandle::Close() {
  if (!IsHandleValid(handle_))
    return;
  internal::VerifierEndTracking(handle_, this, __builtin_return_address(0), CurrentCodeAddress());
  internal::VerifierCloseHandle(handle_);
  handle_ = nullptr;
}

}  // namespace base::win
