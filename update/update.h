#ifndef UPDATE_UPDATE_H_
#define UPDATE_UPDATE_H_

#include <cstdint>
#include <string>

#include "base/file_path.h"

// The update procedure. Every step is logged with its outcome; nothing throws.
// Paths are formed from the root directory exactly as given.

// Waits at most 10 s for the client `pid` (when > 0) to end, then installs the
// new version under the installation lock of `root_dir`: the package extracted
// over the root when `package` is non-empty, else the staged Client swapped in.
// True only when the new version is installed and the client was started.
[[nodiscard]] bool RunUpdate(int32_t pid,
                             const std::wstring& root_dir,
                             const std::wstring& package);

// Swaps root_dir\zeltorcg_update_tmp\Client into root_dir\Client by renames.
// Refuses, touching nothing, when the staged version is not usable. The
// installed Client is first moved aside (5 attempts; when all are refused the
// installation stays as it was), then the staged one is moved in (8 attempts).
// When no move succeeds, the previous version is renamed back and the staged
// one stays staged.
[[nodiscard]] bool ReplaceClientDirectory(const std::wstring& root_dir);

// Starts root_dir\Client\ZeltorCloudPlay.exe outside any job, without waiting.
[[nodiscard]] bool LaunchClient(const std::wstring& root_dir);

// Deletes the previous version (renamed to a trash name first) and what
// earlier runs left: trash and unfinished copies. Logs a WARNING for each that
// cannot be deleted; they are tried again by the next staged update.
void RemoveOldVersions(const std::wstring& root_dir);

// root_dir\Client and root_dir\zeltorcg_update_tmp\Client.
base::FilePath InstalledClientDir(const std::wstring& root_dir);
base::FilePath StagedClientDir(const std::wstring& root_dir);

// The client's pid from the text of the "pid" switch: optional white space and
// sign, then decimal digits; the rest is ignored ("1234abc" gives 1234). A text
// without digits, or outside the signed 32-bit range, is treated as absent: it
// is logged as a WARNING with the raw value and gives 0 (no wait).
int32_t PidFromSwitchValue(const std::wstring& raw);

#endif  // UPDATE_UPDATE_H_
