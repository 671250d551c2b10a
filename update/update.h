#ifndef UPDATE_UPDATE_H_
#define UPDATE_UPDATE_H_

#include <cstdint>
#include <string>

#include "base/file_path.h"

// The update procedure. Every step is logged with its outcome; nothing throws.
// Paths are formed from the root directory exactly as given, which must be
// absolute (the caller refuses others): the current directory is left first.

// Moves the current directory out of the installation, waits at most 10 s for
// the client `pid` (when > 0) to end, then, under the installation lock of
// `root_dir`, finishes what an updater cut short left and installs the new
// version: the package extracted aside, checked and swapped in by renames
// when `package` is non-empty, else the staged Client swapped in. True only
// when the new version is installed and its client started and did not fail
// at once; on failure the previous version is in place again.
// With a non-empty `sha256` (64 hexadecimal digits) the package must have that
// SHA-256 digest, checked before the unpacker runs.
[[nodiscard]] bool RunUpdate(int32_t pid,
                             const std::wstring& root_dir,
                             const std::wstring& package,
                             const std::wstring& sha256 = std::wstring());

#endif  // UPDATE_UPDATE_H_
