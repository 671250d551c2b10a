#include <stdio.h>

#include <memory>
#include <ostream>

#include "base/debug/stack_trace.h"
#include "base/debug/stack_trace_internal.h"
#include "base/platform/system_library_win.h"
#include "base/platform/windows_types.h"
#include "base/synchronization/lazy_creation.h"
#include "base/synchronization/lock.h"

// dbghelp.h needs <windows.h> first. Only its declarations are used: the DLL
// is loaded from the system folder at first use.
#include <dbghelp.h>

namespace base::debug {

namespace internal {

namespace {

// Deferred symbol loading, undecorated names, line information.
constexpr DWORD kSymbolOptions = SYMOPT_DEFERRED_LOADS | SYMOPT_UNDNAME | SYMOPT_LOAD_LINES;
static_assert(kSymbolOptions == 0x16);
constexpr DWORD kSearchPathLength = 1024;
constexpr DWORD kModulePathLength = 260;
constexpr size_t kSymbolRecordSize = 600;
constexpr ULONG kMaxSymbolNameLength = 255;
static_assert(sizeof(SYMBOL_INFO) + kMaxSymbolNameLength <= kSymbolRecordSize);

// Set up at most once per process; a failure is final.
bool g_symbol_engine_set_up = false;
DWORD g_symbol_engine_error = 0;

// The functions of the system folder's dbghelp.dll, all or none.
struct DbgHelp {
  decltype(&SymSetOptions) set_options = nullptr;
  decltype(&SymInitialize) initialize = nullptr;
  decltype(&SymGetSearchPathW) get_search_path = nullptr;
  decltype(&SymSetSearchPathW) set_search_path = nullptr;
  decltype(&SymFromAddr) from_address = nullptr;
  decltype(&SymGetLineFromAddr64) line_from_address = nullptr;
};
DbgHelp g_dbghelp;

bool LoadDbgHelp() {
  constexpr wchar_t kDll[] = L"dbghelp.dll";
  DbgHelp d;
  d.set_options = win::SystemFunction<decltype(d.set_options)>(kDll, "SymSetOptions");
  d.initialize = win::SystemFunction<decltype(d.initialize)>(kDll, "SymInitialize");
  d.get_search_path = win::SystemFunction<decltype(d.get_search_path)>(kDll, "SymGetSearchPathW");
  d.set_search_path = win::SystemFunction<decltype(d.set_search_path)>(kDll, "SymSetSearchPathW");
  d.from_address = win::SystemFunction<decltype(d.from_address)>(kDll, "SymFromAddr");
  d.line_from_address =
      win::SystemFunction<decltype(d.line_from_address)>(kDll, "SymGetLineFromAddr64");
  if (!d.set_options || !d.initialize || !d.get_search_path || !d.set_search_path ||
      !d.from_address || !d.line_from_address)
    return false;
  g_dbghelp = d;
  return true;
}

bool IsPathSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Runs once, from the SymbolResolver's creation (which the lazy creation
// serialises).
bool SetUpSymbolEngine() {
  if (g_symbol_engine_set_up)
    return g_symbol_engine_error == 0;
  g_symbol_engine_set_up = true;

  if (!LoadDbgHelp()) {
    g_symbol_engine_error = ERROR_MOD_NOT_FOUND;
    return false;
  }
  g_dbghelp.set_options(kSymbolOptions);
  if (!g_dbghelp.initialize(GetCurrentProcess(), nullptr, TRUE)) {
    g_symbol_engine_error = GetLastError();
    return false;
  }

  std::unique_ptr<wchar_t[]> search_path(new wchar_t[kSearchPathLength]);
  if (!g_dbghelp.get_search_path(GetCurrentProcess(), search_path.get(), kSearchPathLength)) {
    g_symbol_engine_error = GetLastError();
    return false;
  }

  wchar_t module_path[kModulePathLength];
  GetModuleFileNameW(nullptr, module_path, kModulePathLength);
  module_path[kModulePathLength - 1] = L'\0';

  const std::wstring new_path =
      std::wstring(search_path.get()) + L";" + ExecutableDirectory(module_path);
  if (!g_dbghelp.set_search_path(GetCurrentProcess(), new_path.c_str())) {
    g_symbol_engine_error = GetLastError();
    return false;
  }
  g_symbol_engine_error = 0;
  return true;
}

// The process-wide symbol context: dbghelp is not thread-safe, so every
// lookup runs under `lock_`. Created on first use and never destroyed.
class SymbolResolver {
 public:
  static SymbolResolver* Get() {
    static LazyState state;
    return GetOrCreateLazyInstance<SymbolResolver>(&state, [] { return new SymbolResolver(); });
  }

  void OutputTrace(const void* const* trace, size_t count, std::ostream* os) {
    AutoLock lock(lock_);
    for (size_t i = 0; i < count && os->good(); ++i) {
      const DWORD64 address = reinterpret_cast<uintptr_t>(trace[i]);

      alignas(SYMBOL_INFO) char symbol_record[kSymbolRecordSize] = {};
      SYMBOL_INFO* symbol = reinterpret_cast<SYMBOL_INFO*>(symbol_record);
      symbol->SizeOfStruct = sizeof(SYMBOL_INFO);
      symbol->MaxNameLen = kMaxSymbolNameLength;
      DWORD64 symbol_displacement = 0;
      const BOOL has_symbol =
          g_dbghelp.from_address(GetCurrentProcess(), address, &symbol_displacement, symbol);

      IMAGEHLP_LINE64 line = {};
      line.SizeOfStruct = sizeof(IMAGEHLP_LINE64);
      DWORD line_displacement = 0;
      const BOOL has_line =
          g_dbghelp.line_from_address(GetCurrentProcess(), address, &line_displacement, &line);

      *os << '\t';
      if (has_symbol) {
        *os << symbol->Name << " [0x" << AddressText(trace[i]) << '+' << symbol_displacement << ']';
      } else {
        *os << "(No symbol) [0x" << AddressText(trace[i]) << ']';
      }
      if (has_line)
        *os << " (" << line.FileName << ':' << line.LineNumber << ')';
      *os << '\n';
    }
  }

 private:
  SymbolResolver() { SetUpSymbolEngine(); }

  Lock lock_;
};

}  // namespace

std::string AddressText(const void* address) {
  char text[2 * sizeof(void*) + 1];
  snprintf(text, sizeof(text), "%0*llX", static_cast<int>(2 * sizeof(void*)),
           static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(address)));
  return text;
}

void OutputUnresolvedTrace(uint32_t error,
                           const void* const* trace,
                           size_t count,
                           std::ostream* os) {
  *os << "Error initializing symbols (" << error << ").  Dumping unresolved backtrace:\n";
  for (size_t i = 0; i < count && os->good(); ++i)
    *os << '\t' << AddressText(trace[i]) << '\n';
}

uint32_t SymbolEngineSetUpError() {
  SymbolResolver::Get();
  return g_symbol_engine_error;
}

std::wstring ExecutableDirectory(const std::wstring& module_path) {
  size_t last = module_path.size();
  while (last > 0 && !IsPathSeparator(module_path[last - 1]))
    --last;
  if (last == 0)
    return L".";
  std::wstring directory = module_path.substr(0, last - 1);
  // The root keeps its separator: "C:\b.exe" lies in "C:\", "\b.exe" in "\".
  if (directory.empty() || (directory.size() == 2 && directory[1] == L':'))
    directory.push_back(module_path[last - 1]);
  return directory;
}

}  // namespace internal

// Not inlined, so the first captured address lies inside this constructor.
__attribute__((noinline)) StackSnapshot::StackSnapshot() : trace_{} {
  count_ = RtlCaptureStackBackTrace(0, kMaxTraces, const_cast<void**>(trace_), nullptr);
}

void StackSnapshot::OutputToStream(std::ostream* os) const {
  const uint32_t error = internal::SymbolEngineSetUpError();
  if (error != 0) {
    internal::OutputUnresolvedTrace(error, trace_, count_, os);
    return;
  }
  *os << "Backtrace:\n";
  internal::SymbolResolver::Get()->OutputTrace(trace_, count_, os);
}

}  // namespace base::debug
