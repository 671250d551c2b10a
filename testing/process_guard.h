#ifndef TESTING_PROCESS_GUARD_H_
#define TESTING_PROCESS_GUARD_H_

// Ends a process that a test started when the guard goes out of scope,
// whatever the test's outcome, so that a failed assertion cannot leave the
// child running. Plain Win32, for the foundation's own tests, which must not
// depend on the end-to-end support.

#include "base/platform/windows_types.h"

namespace testing_support {

// Holds a handle of its own to the guarded process (a duplicate), so that the
// test's owner of the process may wait on it, move it or close it freely. On
// destruction the process is terminated with exit code 1 unless it already
// ended, waited for (at most 10 s), and the guard's handle closed.
class ProcessGuard {
 public:
  // Guards the process that `process` names. Null, INVALID_HANDLE_VALUE (also
  // the calling process's pseudo handle) and a handle that cannot be
  // duplicated guard nothing.
  explicit ProcessGuard(HANDLE process) {
    if (process && process != INVALID_HANDLE_VALUE &&
        !::DuplicateHandle(::GetCurrentProcess(), process, ::GetCurrentProcess(), &handle_,
                           PROCESS_TERMINATE | SYNCHRONIZE, FALSE, 0)) {
      handle_ = nullptr;
    }
  }
  ProcessGuard(const ProcessGuard&) = delete;
  ProcessGuard& operator=(const ProcessGuard&) = delete;
  ~ProcessGuard() {
    if (!handle_)
      return;
    ::TerminateProcess(handle_, 1);  // fails, harmlessly, when it already ended
    ::WaitForSingleObject(handle_, 10000);
    ::CloseHandle(handle_);
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace testing_support

#endif  // TESTING_PROCESS_GUARD_H_
