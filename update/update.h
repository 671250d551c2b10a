#ifndef UPDATE_UPDATE_H_
#define UPDATE_UPDATE_H_

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/file_path.h"

// The update procedure. Every step is logged with its outcome; nothing throws.
// Paths are formed from the root directory exactly as given.

// Waits at most 10 s for the client `pid` (when > 0) to end, then
// InstallNewVersion. True only when the new version is installed and the
// client was started.
[[nodiscard]] bool RunUpdate(int32_t pid,
                             const std::wstring& root_dir,
                             const std::wstring& package);

// Package mode when `package` is non-empty (UnpackPackage, then LaunchClient),
// else staged mode (InstallStagedVersion), holding the installation lock of
// `root_dir` throughout; waits up to kInstallLockWaitMs for an updater already
// at work there, and fails when it does not finish.
[[nodiscard]] bool InstallNewVersion(const std::wstring& root_dir, const std::wstring& package);
inline constexpr unsigned long kInstallLockWaitMs = 5 * 60 * 1000;

// The name of the installation lock of `root_dir`, a named mutex of the
// session: one per folder, the same for every spelling of it.
std::wstring InstallLockName(const std::wstring& root_dir);

// Extracts `package` over `root_dir` with the unpacker beside the executable
// and deletes the package on success. False when the unpacker cannot start,
// its exit code cannot be read, or it reports failure; the package is kept then.
// The unpacker splits its own command line and reads no backslash escapes, so
// its output switch is written as -o"<root>" verbatim after the arguments the
// command-line builder quotes: quoted as one argument, a root with a blank or a
// non-ASCII character would reach it split and it would extract nothing.
[[nodiscard]] bool UnpackPackage(const std::wstring& root_dir, const std::wstring& package);

// Staged mode end to end: ReplaceClientDirectory, LaunchClient, and once the
// new client runs, RemoveOldVersions. When the new client cannot be started,
// the previous version is restored (RestorePreviousVersion) and it fails.
[[nodiscard]] bool InstallStagedVersion(const std::wstring& root_dir);

// Swaps root_dir\zeltorcg_update_tmp\Client into root_dir\Client by renames.
// Refuses, touching nothing, unless StagedVersionUsable. The delete phase
// renames the installed Client to PreviousClientDir (5 attempts; when all are
// refused the installation stays as it was); the move phase moves the staged
// Client in (8 attempts, MoveStagedClient). When no move succeeds, the previous
// version is renamed back and the staged one stays staged.
[[nodiscard]] bool ReplaceClientDirectory(const std::wstring& root_dir);

// One move attempt of the staged client directory, to root_dir itself or, with
// `to_client_dir`, to root_dir\Client; both give root_dir\Client. Fails without
// moving while anything stands under root_dir\Client.
[[nodiscard]] bool MoveStagedClient(const std::wstring& root_dir, bool to_client_dir);

// Starts root_dir\Client\ZeltorCloudPlay.exe outside any job, without waiting.
[[nodiscard]] bool LaunchClient(const std::wstring& root_dir);

// Renames PreviousClientDir back to root_dir\Client and logs an ERROR saying
// so. With `new_version_installed`, the new version in root_dir\Client first
// goes back to the staged name (or to the trash when its source is still
// staged). Does nothing when there is no previous version.
void RestorePreviousVersion(const std::wstring& root_dir, bool new_version_installed);

// Deletes the previous version (renamed to a trash name first) and what
// earlier runs left: trash and unfinished copies. Logs a WARNING for each that
// cannot be deleted; they are tried again by the next staged update.
void RemoveOldVersions(const std::wstring& root_dir);

// True when the staged client can be installed: the root references no parent
// directory, and the staged directory exists, has a path short enough to move
// (below kMaxMovablePath units), is not empty and holds ZeltorCloudPlay.exe.
// Otherwise logs an ERROR naming the path.
[[nodiscard]] bool StagedVersionUsable(const std::wstring& root_dir);
inline constexpr size_t kMaxMovablePath = 260;

// root_dir\Client, root_dir\zeltorcg_update_tmp\Client, and the name the
// installed client is moved aside to during a staged update.
base::FilePath InstalledClientDir(const std::wstring& root_dir);
base::FilePath StagedClientDir(const std::wstring& root_dir);
base::FilePath PreviousClientDir(const std::wstring& root_dir);

// The client's pid from the text of the "pid" switch: optional white space and
// sign, then decimal digits; the rest is ignored ("1234abc" gives 1234). A text
// without digits, or outside the signed 32-bit range, is treated as absent: it
// is logged as a WARNING with the raw value and gives 0 (no wait).
int32_t PidFromSwitchValue(const std::wstring& raw);

// Test builds only: the event a paused updater sets (see update.cc).
inline constexpr wchar_t kTestPauseEvent[] = L"Local\\ZeltorCloudGame2.update.test-pause";

#endif  // UPDATE_UPDATE_H_
