#ifndef BASE_PLATFORM_SYSTEM_LIBRARY_WIN_H_
#define BASE_PLATFORM_SYSTEM_LIBRARY_WIN_H_

// DLLs that are not among Windows' KnownDLLs are loaded by these, from the
// system folder only: a DLL of the same name in the program's folder (which
// the user can write) or in the current directory is never loaded.

#include <string>

#include "base/platform/windows_types.h"

namespace base::win {

// Loads `name` (such as L"dbghelp.dll") from the system folder; null when it is
// not there. The module stays loaded for the life of the process. Thread-safe.
inline HMODULE LoadSystemLibrary(const wchar_t* name) {
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module || ::GetLastError() != ERROR_INVALID_PARAMETER)
    return module;
  // Windows 7 without its search-path update knows no search flags: the full
  // path names the same file.
  wchar_t folder[MAX_PATH];
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  return ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

// The export `function` of the system DLL `dll` as a `F` (a function pointer
// type), or null when either is missing. Thread-safe.
template <typename F>
F SystemFunction(const wchar_t* dll, const char* function) {
  const HMODULE module = LoadSystemLibrary(dll);
  return module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, function)))
                : nullptr;
}

// Restricts the DLL search of this process to the system folder (and the
// folders of DLLs loaded by full path), before anything loads a library. False
// where Windows cannot restrict it (Windows 7 without its search-path update).
inline bool RestrictDllSearchToSystemFolder() {
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  const auto set_default =
      reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
          ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
  return set_default && set_default(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace base::win

#endif  // BASE_PLATFORM_SYSTEM_LIBRARY_WIN_H_
