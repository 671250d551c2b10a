#include "base/command_line.h"

#include "base/platform/scoped_any_win.h"
#include "base/platform/windows_types.h"
#include "base/strings/string_util.h"

#include <shellapi.h>

namespace base {

namespace {

// The array CommandLineToArgvW returns, which is one LocalAlloc block.
struct ArgvArrayTraits {
  using Type = LPWSTR*;
  static LPWSTR* InvalidValue() { return nullptr; }
  static void Free(LPWSTR* array) { ::LocalFree(array); }
};

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
  win::ScopedAny<ArgvArrayTraits> args(::CommandLineToArgvW(trimmed.c_str(), &num_args));
  if (!args)
    num_args = 0;
  InitFromArgv(num_args, args.get());
}

}  // namespace base
