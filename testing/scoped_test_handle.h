#ifndef TESTING_SCOPED_TEST_HANDLE_H_
#define TESTING_SCOPED_TEST_HANDLE_H_

// The one owner of the Win32 handles that tests open themselves: closed when
// the owner goes, whatever the test's outcome. Each kind names the value its
// creating call returns on failure, so that a failed call is never closed and
// a null from CreateEventW is not mistaken for a file. Plain Win32, for the
// foundation's own tests, which must not depend on the code they test.

#include <utility>

#include "base/platform/windows_types.h"

namespace testing_support {

// What a creating call returns on failure.
enum class Failure { kNull, kInvalidHandleValue };

// Holds a `Handle` that `kClose` gives back. Move-only.
template <typename Handle, auto kClose, Failure kFailure>
class ScopedTestHandle {
 public:
  ScopedTestHandle() = default;
  explicit ScopedTestHandle(Handle handle) : handle_(handle) {}
  ScopedTestHandle(ScopedTestHandle&& other) noexcept : handle_(other.release()) {}
  ScopedTestHandle& operator=(ScopedTestHandle&& other) noexcept {
    reset(other.release());
    return *this;
  }
  ~ScopedTestHandle() { reset(); }

  static Handle Invalid() {
    return kFailure == Failure::kNull ? Handle() : reinterpret_cast<Handle>(INVALID_HANDLE_VALUE);
  }
  bool valid() const { return handle_ != Invalid(); }
  Handle get() const { return handle_; }
  // Closes the handle held, if any, and holds `handle`.
  void reset(Handle handle = Invalid()) {
    if (valid())
      kClose(handle_);
    handle_ = handle;
  }
  Handle release() { return std::exchange(handle_, Invalid()); }
  // For calls that hand the handle out through a pointer.
  Handle* receive() {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Invalid();
};

// CreateEventW, OpenEventW, OpenProcess, CreateThread, CreatePipe and the
// like return null on failure; CreateFileW and CreateToolhelp32Snapshot
// INVALID_HANDLE_VALUE.
using ScopedKernelHandle = ScopedTestHandle<HANDLE, ::CloseHandle, Failure::kNull>;
using ScopedFileHandle = ScopedTestHandle<HANDLE, ::CloseHandle, Failure::kInvalidHandleValue>;
using ScopedFindHandle = ScopedTestHandle<HANDLE, ::FindClose, Failure::kInvalidHandleValue>;
using ScopedActCtx = ScopedTestHandle<HANDLE, ::ReleaseActCtx, Failure::kInvalidHandleValue>;
using ScopedModule = ScopedTestHandle<HMODULE, ::FreeLibrary, Failure::kNull>;
using ScopedRegistryKey = ScopedTestHandle<HKEY, ::RegCloseKey, Failure::kNull>;

}  // namespace testing_support

#endif  // TESTING_SCOPED_TEST_HANDLE_H_
