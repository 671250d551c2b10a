#ifndef UPDATE_ARGUMENTS_H_
#define UPDATE_ARGUMENTS_H_

#include <cstdint>
#include <string>

// The checks the updater's arguments pass before anything runs: names that
// cannot be a real file or folder on Windows, or that the unpacker and the
// file calls would read differently, are refused rather than guessed at.

namespace update {

// The switch that makes update.exe log its version and end at once, doing
// nothing else: a new updater from a package is started so before it may
// replace the working one.
inline constexpr char kCheckSwitch[] = "check";

// Why `path` cannot name an installation root or a package, or empty when it
// can: it holds a wildcard, a quote or another character no name may hold,
// a component that ends in a dot or a blank, or a device name (CON, PRN, AUX,
// NUL, COM1 to COM9, LPT1 to LPT9, with or without an extension); or it is
// not absolute (a drive and a separator, or two separators).
std::string UnsafePathProblem(const std::wstring& path);

// Whether `text` is a SHA-256 digest: 64 hexadecimal digits, either case.
bool IsSha256Text(const std::wstring& text);

// Why the update must not run with these arguments, as an ERROR text naming
// the value, or empty when it may: an unsafe root or package (above), a root
// that exists but is no folder, a package that is no existing file or does
// not start with a 7z or zip signature, a malformed digest. `sha256` is null
// when the switch is absent; staged mode (no package) ignores it.
std::string RefusedArguments(const std::wstring& root_dir,
                             const std::wstring& package,
                             const std::wstring* sha256);

// The client's pid from the text of the "pid" switch: optional white space and
// sign, then decimal digits; the rest is ignored ("1234abc" gives 1234). A text
// without digits, or outside the signed 32-bit range, is treated as absent: it
// is logged as a WARNING with the raw value and gives 0 (no wait).
int32_t PidFromSwitchValue(const std::wstring& raw);

}  // namespace update

#endif  // UPDATE_ARGUMENTS_H_
