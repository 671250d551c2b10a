#ifndef BASE_DEBUG_DEBUGGER_H_
#define BASE_DEBUG_DEBUGGER_H_

namespace base::debug {

// True when a debugger is attached to this process (IsDebuggerPresent).
bool IsDebuggerAttached();

// Executes a breakpoint trap. An attached debugger stops there; without one
// the exception is unhandled and the system ends the process abnormally.
[[noreturn]] void TrapProcess();

}  // namespace base::debug

#endif  // BASE_DEBUG_DEBUGGER_H_
