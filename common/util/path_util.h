#ifndef COMMON_UTIL_PATH_UTIL_H_
#define COMMON_UTIL_PATH_UTIL_H_

#include "base/file_path.h"

namespace common {

// The directory of the running executable joined with `name` (null counts as
// ""). Logs "Get FILE_EXE path failed" and returns an empty path when the
// executable's own path cannot be found.
base::FilePath GetExeDirFilePath(const wchar_t* name);

// The updater's log directory, <roaming app data>\ZeltorCloudGame2\log,
// created (with missing parents) when absent. Without an application-data
// folder it is the relative path "log". Creation failures are not reported:
// the caller's log file then cannot open and logging falls back.
base::FilePath GetLogDirectory();

}  // namespace common

#endif  // COMMON_UTIL_PATH_UTIL_H_
