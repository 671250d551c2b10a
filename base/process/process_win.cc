#include "base/process/process.h"

#include <algorithm>
#include <cstdint>

#include "base/debug/activity_tracker.h"
#include "base/logging.h"

namespace base {

namespace {

constexpr DWORD kOpenAccess = SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE;
constexpr DWORD kTerminationWaitMs = 60 * 1000;

// The line the fatal check on adopting the pseudo handle reports: tests and
// crash reports match it.
constexpr int kPseudoHandleCheckLine = 28;

}  // namespace

// The pseudo handle of the calling process has the value of
// INVALID_HANDLE_VALUE: adopting it would make this object stand for itself
// through a value the holder never keeps. The holder refuses the value, and
// the check below ends the process, so a caller that passes the result of a
// failed CreateFileW-style call (INVALID_HANDLE_VALUE) learns of it at once
// instead of waiting on a handle that means "this process".
Process::Process(ProcessHandle handle) : process_(handle) {
  CHECK_NE_AT(handle, ::GetCurrentProcess(), kPseudoHandleCheckLine);
}

Process::Process(Process&& other) noexcept = default;
Process& Process::operator=(Process&& other) noexcept = default;
Process::~Process() = default;

// static
Process Process::Open(ProcessId pid) {
  return Process(::OpenProcess(kOpenAccess, FALSE, pid));
}

bool Process::IsValid() const {
  return process_.IsValid();
}

ProcessHandle Process::Handle() const {
  return process_.Get();
}

ProcessId Process::Pid() const {
  return ::GetProcessId(Handle());
}

namespace {

// Tells the activity tracker, when one exists, that `pid` ended with `code`.
void ReportProcessExit(ProcessId pid, int code) {
  if (debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get())
    tracker->RecordProcessExit(pid, code);
}

}  // namespace

bool Process::Terminate(int exit_code, bool wait) const {
  if (::TerminateProcess(Handle(), static_cast<UINT>(exit_code))) {
    if (wait)
      ::WaitForSingleObject(Handle(), kTerminationWaitMs);
    ReportProcessExit(Pid(), exit_code);
    return true;
  }
  // Termination fails when the process is already on its way out: it counts
  // as done once it has actually ended.
  if (::WaitForSingleObject(Handle(), kTerminationWaitMs) != WAIT_OBJECT_0)
    return false;
  DWORD actual = 0;
  const bool read = ::GetExitCodeProcess(Handle(), &actual) != 0;
  ReportProcessExit(Pid(), read ? static_cast<int>(actual) : exit_code);
  return true;
}

bool Process::WaitForExit(int* exit_code) const {
  return WaitForExitWithTimeout(TimeDelta::FromMilliseconds(INFINITE), exit_code);
}

bool Process::WaitForExitWithTimeout(TimeDelta timeout, int* exit_code) const {
  debug::ScopedProcessWaitActivity activity(Pid());

  const int64_t ms = std::clamp<int64_t>(timeout.InMilliseconds(), 0, INFINITE);
  if (::WaitForSingleObject(Handle(), static_cast<DWORD>(ms)) != WAIT_OBJECT_0)
    return false;
  DWORD code = 0;
  if (!::GetExitCodeProcess(Handle(), &code))
    return false;
  if (exit_code)
    *exit_code = static_cast<int>(code);
  ReportProcessExit(Pid(), static_cast<int>(code));
  return true;
}

}  // namespace base
