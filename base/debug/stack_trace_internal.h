#ifndef BASE_DEBUG_STACK_TRACE_INTERNAL_H_
#define BASE_DEBUG_STACK_TRACE_INTERNAL_H_

#include <stddef.h>
#include <stdint.h>

#include <iosfwd>
#include <string>

// Pieces of the trace output, shared by stack_trace_win.cc and its tests.

namespace base::debug::internal {

// `address` as eight upper-case hexadecimal digits, no prefix (the pointer
// form of traces on this 32-bit platform).
std::string AddressText(const void* address);

// The listing written when the symbol engine could not be set up:
// "Error initializing symbols (<error>).  Dumping unresolved backtrace:\n",
// then "\t<address>\n" per address while `os` is good.
void OutputUnresolvedTrace(uint32_t error,
                           const void* const* trace,
                           size_t count,
                           std::ostream* os);

// The set-up error of the process-wide symbol engine (0 = set up), setting it
// up first when this is the first use. Thread-safe.
uint32_t SymbolEngineSetUpError();

// The directory of an executable path: "C:\a\b.exe" -> "C:\a",
// "C:\b.exe" -> "C:\", "\\srv\share\b.exe" -> "\\srv\share", "b.exe" -> ".".
std::wstring ExecutableDirectory(const std::wstring& module_path);

}  // namespace base::debug::internal

#endif  // BASE_DEBUG_STACK_TRACE_INTERNAL_H_
