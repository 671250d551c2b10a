#include "base/command_line.h"

#include <memory>

#include "base/strings/string_util.h"
#include "base/win/windows_types.h"

#include <shellapi.h>

namespace base {

namespace {

// Owns the array CommandLineToArgvW returns, which is one LocalAlloc block.
struct LocalFreeDeleter {
  void operator()(LPWSTR* array) const { ::LocalFree(array); }
};
using ScopedArgvArray = std::unique_ptr<LPWSTR, LocalFreeDeleter>;

}  // namespace

// static
std::wstring_view CommandLine::RawProcessCommandLine() {
  const wchar_t* command_line = ::GetCommandLineW();
  return command_line ? std::wstring_view(command_line) : std::wstring_view();
}

void CommandLine::ParseFromString(std::wstring_view command_line) {
  std::wstring trimmed;
  TrimWhitespace(std::wstring(command_line), TRIM_ALL, &trimmed);
  if (trimmed.empty())
    return;

  int num_args = 0;
  ScopedArgvArray args(::CommandLineToArgvW(trimmed.c_str(), &num_args));
  if (!args)
    num_args = 0;
  InitFromArgv(num_args, args.get());
}

}  // namespace base
