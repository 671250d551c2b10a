#ifndef UPDATE_UPDATE_H_
#define UPDATE_UPDATE_H_

#include <cstdint>
#include <string>

#include "base/file_path.h"

// The update procedure. Every step is logged with its outcome; nothing throws.
// Paths are formed from the root directory exactly as given.

// Waits at most 10 s for the client `pid` (when > 0) to end, installs the new
// version (package mode when `package` is non-empty, else staged mode) and
// starts the client. True only when the new version is installed and the
// client was started.
bool RunUpdate(int32_t pid, const std::wstring& root_dir, const std::wstring& package);

// Extracts `package` over `root_dir` with the unpacker beside the executable
// and deletes the package on success. False when the unpacker cannot start,
// its exit code cannot be read, or it reports failure; the package is kept then.
// The unpacker splits its own command line and reads no backslash escapes, so
// its output switch is written as -o"<root>" verbatim after the arguments the
// command-line builder quotes: quoted as one argument, a root with a blank or a
// non-ASCII character would reach it split and it would extract nothing.
bool UnpackPackage(const std::wstring& root_dir, const std::wstring& package);

// Replaces root_dir\Client by root_dir\zeltorcg_update_tmp\Client: deletes the
// installed directory (5 attempts), then moves the staged one (8 attempts). A
// missing staged directory fails at once and leaves the installation alone.
bool ReplaceClientDirectory(const std::wstring& root_dir);

// One move attempt of the staged client directory, to root_dir itself or, with
// `to_client_dir`, to root_dir\Client. The move phase alternates the two: a
// move onto an existing directory lands inside it under the source's name, so
// both give root_dir\Client when that folder is gone.
bool MoveStagedClient(const std::wstring& root_dir, bool to_client_dir);

// Starts root_dir\Client\ZeltorCloudPlay.exe outside any job, without waiting.
bool LaunchClient(const std::wstring& root_dir);

// Package mode when `package` is non-empty, else staged mode, holding the
// installation lock of `root_dir` (waiting up to kInstallLockWaitMs for an
// updater already installing there; false when it does not finish).
bool InstallNewVersion(const std::wstring& root_dir, const std::wstring& package);

// The name of the per-root installation lock (a named mutex of the session).
std::wstring InstallLockName(const std::wstring& root_dir);
inline constexpr unsigned long kInstallLockWaitMs = 5 * 60 * 1000;

// The client's pid from the text of the "pid" switch: optional white space and
// sign, then decimal digits; the rest is ignored ("1234abc" gives 1234). A text
// without digits, or outside the signed 32-bit range, is treated as absent: it
// is logged as a WARNING with the raw value and gives 0 (no wait).
int32_t PidFromSwitchValue(const std::wstring& raw);

// root_dir\Client and root_dir\zeltorcg_update_tmp\Client.
base::FilePath InstalledClientDir(const std::wstring& root_dir);
base::FilePath StagedClientDir(const std::wstring& root_dir);

// Before each move attempt: true when root_dir\Client is gone, after one more
// recursive delete if it is still there. A move onto a Client folder that the
// delete phase could not remove would merge the new version into the old one,
// or nest it below as Client\Client, and then report success; such an attempt
// fails instead (logged as an ERROR), and the staged version stays intact.
bool InstalledClientDirCleared(const std::wstring& root_dir);

// True when the staged client directory exists and its path is short enough
// for the move (below kMaxMovablePath units); logs an ERROR naming it when
// not. Checked before anything is deleted: without a staged version that can
// be moved, deleting the installed client would leave the user with nothing.
// File operations refuse paths of this many units or more.
inline constexpr size_t kMaxMovablePath = 260;
bool StagedClientMovable(const std::wstring& root_dir);

#endif  // UPDATE_UPDATE_H_
