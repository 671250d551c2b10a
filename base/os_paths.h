#ifndef BASE_OS_PATHS_H_
#define BASE_OS_PATHS_H_

// The directories the operating system reports for the process and its user,
// read into buffers of 260 units (the platform's MAX_PATH). Below the path
// lookup and the file operations, which both answer with them.

#include "base/file_path.h"

namespace base {

// The user's temporary directory without trailing separators. False (and
// `*path` untouched) when the platform gives none that fits 259 units.
bool GetTempDir(FilePath* path);

// The user's profile directory; else the temporary directory; else "C:\".
FilePath GetHomeDir();

// The process's current directory without trailing separators. False (and
// `*path` untouched) when it cannot be read into 260 units.
bool GetCurrentDirectory(FilePath* path);

// The absolute form of `path`, computed lexically (the path need not exist).
// Empty on failure.
FilePath MakeAbsoluteFilePath(const FilePath& path);

}  // namespace base

#endif  // BASE_OS_PATHS_H_
