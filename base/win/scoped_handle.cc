#include "base/win/scoped_handle.h"

#include "base/win/windows_types.h"

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

void ScopedHandle::Set(Handle handle) {
  if (handle_ == handle)
    return;
  // Adopting a handle usually happens right after the call that produced it;
  // the caller may still want to read that call's error code.
  const DWORD last_error = ::GetLastError();
  Close();
  if (IsHandleValid(handle))
    handle_ = handle;
  ::SetLastError(last_error);
}

ScopedHandle::Handle ScopedHandle::Take() {
  Handle handle = handle_;
  handle_ = nullptr;
  return handle;
}

void ScopedHandle::Close() {
  if (!IsHandleValid(handle_))
    return;
  ::CloseHandle(handle_);
  handle_ = nullptr;
}

}  // namespace base::win
