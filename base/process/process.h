#ifndef BASE_PROCESS_PROCESS_H_
#define BASE_PROCESS_PROCESS_H_

#include <cstdint>

#include "base/platform/windows_types.h"
#include "base/time/time.h"
#include "base/win/scoped_handle.h"

namespace base {

using ProcessHandle = HANDLE;
using ProcessId = DWORD;

// The sole owner of a handle to another process: opened from a process id or
// adopted from a launch. The handle stays open until the Process is destroyed
// or replaced, so Pid() keeps working after the process ended. Used by one
// thread at a time; move-only. No operation logs.
class Process {
 public:
  // Adopts `handle`; null gives an invalid Process. Adopting the pseudo
  // handle of the calling process (the value INVALID_HANDLE_VALUE) is a fatal
  // check.
  explicit Process(ProcessHandle handle = nullptr);
  Process(Process&& other) noexcept;
  Process& operator=(Process&& other) noexcept;
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;
  ~Process();

  // Opens `pid` with SYNCHRONIZE, PROCESS_QUERY_INFORMATION and
  // PROCESS_TERMINATE, not inheritable. Invalid when the open fails.
  static Process Open(ProcessId pid);

  // True when a usable handle is held.
  bool IsValid() const;
  // The held handle (still owned by this object).
  ProcessHandle Handle() const;
  // The process id, 0 when the handle is unusable.
  ProcessId Pid() const;

  // Terminates the process with `exit_code`; with `wait`, waits up to 60 s
  // for it to end. When termination fails because the process is already
  // ending, waits up to 60 s and succeeds if it ended. True on success.
  bool Terminate(int exit_code, bool wait) const;

  // Waits without limit for the process to end. True with its exit code in
  // `*exit_code` (when not null); false on failure, `*exit_code` untouched.
  bool WaitForExit(int* exit_code) const;

  // As WaitForExit, for at most `timeout` (truncated to milliseconds; zero or
  // negative only polls, 0xFFFFFFFF ms or more waits without limit). False on
  // time-out, with `*exit_code` untouched.
  bool WaitForExitWithTimeout(TimeDelta timeout, int* exit_code) const;

 private:
  win::ScopedHandle process_;
};

}  // namespace base

#endif  // BASE_PROCESS_PROCESS_H_
