#include "base/debug/debugger.h"

#include "base/platform/windows_types.h"

namespace base::debug {

bool IsDebuggerAttached() {
  return IsDebuggerPresent() != 0;
}

void TrapProcess() {
  asm volatile("int3");
  // A debugger may continue past the trap; never return to the caller.
  __builtin_trap();
}

}  // namespace base::debug
