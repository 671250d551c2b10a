#include "update/update.h"

#include <cwctype>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "common/util/path_util.h"

namespace {

// The source lines the log reports for the update's steps. Support tooling and
// the tests read them from the log prefix, so they are stated here and do not
// follow the statements around when this file is edited.
constexpr int kWaitResultLine = 17;
constexpr int kDeleteResultLine = 29;
constexpr int kMoveResultLine = 46;
constexpr int kLaunchClientLine = 56;
constexpr int kLaunchUnpackerLine = 93;
constexpr int kUnpackerExitLine = 97;
constexpr int kPackageRemovedLine = 100;
constexpr int kUnpackerFailedLine = 105;

constexpr char kClientExe[] = "ZeltorCloudPlay.exe";

// How long an updater waits for another one at work on the same folder.
constexpr unsigned long kInstallLockWaitMs = 5 * 60 * 1000;

// Longer staged paths cannot be renamed by the plain (not \\?\-prefixed) calls.
constexpr size_t kMaxMovablePath = 260;

// Test builds can hold the updater at a step boundary, so that a test can end
// the process exactly there: when ZELTORCG_UPDATE_TEST_PAUSE names the step,
// the updater sets the event kTestPauseEvent (if a test made it) and waits
// until it is ended.
void PauseForTest([[maybe_unused]] const wchar_t* step) {
#if defined(UPDATE_TEST_PAUSES)
  constexpr wchar_t kTestPauseEvent[] = L"Local\\ZeltorCloudGame2.update.test-pause";
  wchar_t wanted[64];
  const DWORD length = GetEnvironmentVariableW(L"ZELTORCG_UPDATE_TEST_PAUSE", wanted, 64);
  if (length == 0 || length >= 64 || std::wstring(wanted, length) != step)
    return;
  const base::win::ScopedHandle paused(OpenEventW(EVENT_MODIFY_STATE, FALSE, kTestPauseEvent));
  if (paused.IsValid())
    SetEvent(paused.Get());
  Sleep(INFINITE);
#endif
}

// The name the installed client is moved aside to during a staged update.
base::FilePath PreviousClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).AppendASCII("zeltorcg_update_old");
}

// Renames `path` to a fresh trash name beside it. Whatever stands under a
// trash name is garbage that any later run may delete.
bool MoveToTrash(const base::FilePath& path) {
  const base::FilePath trash = base::UniqueSiblingPath(path, base::kTrashSuffix);
  return MoveFileExW(path.value().c_str(), trash.value().c_str(), 0) != 0;
}

// One attempt of the delete phase: true when root\Client is gone from its
// place, by one rename to the previous-version name. A previous version that
// an earlier run left there goes to the trash first.
bool MoveInstalledClientAside(const std::wstring& root_dir) {
  const base::FilePath client = InstalledClientDir(root_dir);
  const base::FilePath previous = PreviousClientDir(root_dir);
  if (!base::PathExists(client))
    return true;
  if (base::PathExists(previous) && !MoveToTrash(previous))
    return false;
  return MoveFileExW(client.value().c_str(), previous.value().c_str(), 0) != 0;
}

// Deletes the entries of `dir` whose names start with `prefix`, logging a
// WARNING for each that cannot be deleted.
void DeleteLeftovers(const base::FilePath& dir, const std::wstring& prefix) {
  base::FileEnumerator entries(
      dir, false, base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, prefix + L"*");
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    if (!base::DeleteFile(entry, true))
      LOG(WARNING) << "leftover of an update not deleted: " << entry;
  }
}

// True when the staged client can be installed: the root references no parent
// directory, and the staged directory exists, has a path short enough to move
// (below kMaxMovablePath units), is not empty and holds ZeltorCloudPlay.exe.
// Otherwise logs an ERROR naming the path.
bool StagedVersionUsable(const std::wstring& root_dir) {
  const base::FilePath staged = StagedClientDir(root_dir);
  const base::FilePath exe = staged.AppendASCII(kClientExe);
  if (base::FilePath(root_dir).ReferencesParent()) {
    LOG(ERROR) << "root directory references a parent directory, installation kept: " << root_dir;
  } else if (!base::DirectoryExists(staged)) {
    LOG(ERROR) << "staged client directory missing, installation kept: " << staged;
  } else if (staged.value().size() >= kMaxMovablePath) {
    LOG(ERROR) << "staged client directory path too long to move, installation kept: " << staged;
  } else if (base::IsDirectoryEmpty(staged)) {
    LOG(ERROR) << "staged client directory empty, installation kept: " << staged;
  } else if (!base::PathExists(exe) || base::DirectoryExists(exe)) {
    LOG(ERROR) << "staged client program missing, installation kept: " << exe;
  } else {
    return true;
  }
  return false;
}

// One move attempt of the staged client directory, to root_dir itself or, with
// `to_client_dir`, to root_dir\Client; both give root_dir\Client. Fails without
// moving while anything stands under root_dir\Client.
bool MoveStagedClient(const std::wstring& root_dir, bool to_client_dir) {
  const base::FilePath from = StagedClientDir(root_dir);
  const base::FilePath to = to_client_dir ? InstalledClientDir(root_dir) : base::FilePath(root_dir);
  bool moved = false;
  if (base::PathExists(InstalledClientDir(root_dir))) {
    // Something took the Client name after the delete phase: a move now would
    // merge into it or nest below it.
    LOG(ERROR) << "installed client directory present, not moving onto it: "
               << InstalledClientDir(root_dir);
  } else {
    // A source that had to be copied is deleted with the other leftovers once
    // the new client runs.
    base::FilePath source_trash;
    moved = base::Move(from, to, &source_trash);
  }
  LOG_AT(INFO, kMoveResultLine) << "move result:" << moved << ",from:" << from << ",to:" << to;
  return moved;
}

// Renames PreviousClientDir back to root_dir\Client and logs an ERROR saying
// so. With `new_version_installed`, the new version in root_dir\Client first
// goes back to the staged name (or to the trash when its source is still
// staged). Does nothing when there is no previous version.
void RestorePreviousVersion(const std::wstring& root_dir, bool new_version_installed) {
  const base::FilePath client = InstalledClientDir(root_dir);
  const base::FilePath previous = PreviousClientDir(root_dir);
  const base::FilePath staged = StagedClientDir(root_dir);
  if (!base::PathExists(previous))
    return;  // Nothing was installed before: nothing to restore.
  if (new_version_installed && base::PathExists(client)) {
    // The new version goes back to where it was staged; when its source is
    // still there (it had to be copied), this copy is surplus.
    const bool staged_back =
        !base::PathExists(staged) && MoveFileExW(client.value().c_str(), staged.value().c_str(), 0);
    if (!staged_back && !MoveToTrash(client)) {
      LOG(ERROR) << "new client did not start and cannot be moved away, previous version kept in "
                 << previous;
      return;
    }
  }
  if (MoveFileExW(previous.value().c_str(), client.value().c_str(), 0)) {
    LOG(ERROR) << "update undone, previous version restored: " << client;
  } else {
    const DWORD error = GetLastError();
    LOG(ERROR) << "previous version not restored, it stays in " << previous << ", error " << error;
  }
}

// Extracts `package` over `root_dir` with the unpacker beside the executable
// and deletes the package on success. False when the unpacker cannot start,
// its exit code cannot be read, or it reports failure; the package is kept then.
// The unpacker splits its own command line and reads no backslash escapes, so
// its output switch is written as -o"<root>" verbatim after the arguments the
// command-line builder quotes: quoted as one argument, a root with a blank or a
// non-ASCII character would reach it split and it would extract nothing.
//
// Package mode: the unpacker writes the package's files below the root,
// overwriting what is there and leaving files it does not carry. Only its exit
// code tells success; a code that cannot be read counts as failure, so the
// package is kept for another attempt and the old client is not started as if
// it were new. The unpacker has no time limit: a large package on a slow disk
// takes what it takes, and the user's client is not running meanwhile.
// Its console window stays hidden: the user sees only the outcome, and a
// failure only through the dialog.
bool UnpackPackage(const std::wstring& root_dir, const std::wstring& package) {
  base::LaunchOptions options;
  options.hide_window = true;
  base::CommandLine unpack(common::GetExeDirFilePath(L"7z.exe"));
  unpack.AppendArg("x");
  unpack.AppendArgWide(package);
  unpack.AppendArg("-aoa");
  const std::wstring command = unpack.GetCommandLineString() + L" -o\"" + root_dir + L"\"";
  const base::Process unpacker = base::LaunchProcess(command, options);
  LOG_AT(INFO, kLaunchUnpackerLine)
      << "launch 7z vaild:" << unpacker.IsValid() << " cmd:" << command;
  if (!unpacker.IsValid()) {
    LOG_AT(ERROR, kUnpackerFailedLine) << "7z launch failed";
    return false;
  }
  int exit_code = 0;
  const bool ret = unpacker.WaitForExit(&exit_code);
  LOG_AT(INFO, kUnpackerExitLine) << "7z exit with code:" << exit_code << ",ret:" << ret;
  // An unreadable exit code is no proof of success: keep the package.
  if (!ret || exit_code != 0)
    return false;
  (void)base::DeleteFile(base::FilePath(package), false);
  LOG_AT(INFO, kPackageRemovedLine) << "remove the zip file";
  return true;
}

// The name of the installation lock of `root_dir`, a named mutex of the
// session: one per folder, the same for every spelling of it.
std::wstring InstallLockName(const std::wstring& root_dir) {
  // Kernel object names hold no backslash. The folder's volume serial number
  // and file index name it whatever the spelling (letter case, 8.3 names,
  // another drive letter, a link onto it); a root that cannot be opened is
  // named by a hash of its absolute, lower-cased spelling.
  wchar_t name[80];
  const base::win::ScopedHandle folder(
      CreateFileW(root_dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!root_dir.empty() && folder.IsValid() && GetFileInformationByHandle(folder.Get(), &info)) {
    swprintf(name, 80, L"Local\\ZeltorCloudGame2.update.%08lx-%08lx%08lx",
             info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow);
    return name;
  }
  const base::FilePath absolute = base::MakeAbsoluteFilePath(base::FilePath(root_dir));
  const std::wstring key = absolute.empty() ? root_dir : absolute.StripTrailingSeparators().value();
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : key) {
    hash ^= static_cast<uint16_t>(std::towlower(c));
    hash *= 1099511628211ull;
  }
  swprintf(name, 80, L"Local\\ZeltorCloudGame2.update.%016llx",
           static_cast<unsigned long long>(hash));
  return name;
}

// Staged mode end to end: ReplaceClientDirectory, LaunchClient, and once the
// new client runs, RemoveOldVersions. When the new client cannot be started,
// the previous version is restored (RestorePreviousVersion) and it fails.
bool InstallStagedVersion(const std::wstring& root_dir) {
  if (!ReplaceClientDirectory(root_dir))
    return false;
  if (!LaunchClient(root_dir)) {
    RestorePreviousVersion(root_dir, true);
    return false;
  }
  PauseForTest(L"after-launch");
  RemoveOldVersions(root_dir);
  return true;
}

// Package mode when `package` is non-empty (UnpackPackage, then LaunchClient),
// else staged mode (InstallStagedVersion), holding the installation lock of
// `root_dir` throughout; waits up to kInstallLockWaitMs for an updater already
// at work there, and fails when it does not finish.
bool InstallNewVersion(const std::wstring& root_dir, const std::wstring& package) {
  // One update at a time per installation: a second updater for the same
  // folder would move away what the first is moving into place.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, InstallLockName(root_dir).c_str());
  const DWORD create_error = GetLastError();
  const base::win::ScopedHandle lock(mutex);
  if (!lock.IsValid()) {
    LOG(ERROR) << "cannot create the installation lock, error " << create_error;
    return false;
  }
  const DWORD waited = WaitForSingleObject(lock.Get(), kInstallLockWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    LOG(ERROR) << "another update of " << root_dir << " is still running, giving up";
    return false;
  }
  const bool updated = package.empty() ? InstallStagedVersion(root_dir)
                                       : UnpackPackage(root_dir, package) && LaunchClient(root_dir);
  ReleaseMutex(lock.Get());
  return updated;
}

}  // namespace

bool RunUpdate(int32_t pid, const std::wstring& root_dir, const std::wstring& package) {
  if (pid > 0) {
    base::Process client = base::Process::Open(static_cast<base::ProcessId>(pid));
    if (client.IsValid()) {
      const bool ended = client.WaitForExitWithTimeout(base::Milliseconds(10000), nullptr);
      LOG_AT(INFO, kWaitResultLine) << "wait result " << ended;
    }
  }
  return InstallNewVersion(root_dir, package);
}

bool ReplaceClientDirectory(const std::wstring& root_dir) {
  if (!StagedVersionUsable(root_dir))
    return false;
  bool aside = false;
  for (int attempt = 0; attempt < 5 && !aside; ++attempt) {
    Sleep(10);
    aside = MoveInstalledClientAside(root_dir);
    LOG_AT(INFO, kDeleteResultLine)
        << "delete file result:" << aside << "," << InstalledClientDir(root_dir);
  }
  if (!aside) {
    LOG(ERROR) << "installed client directory could not be moved aside, installation kept: "
               << InstalledClientDir(root_dir);
    return false;
  }
  PauseForTest(L"after-aside");
  bool to_client_dir = false;
  for (int attempt = 0; attempt < 8; ++attempt, to_client_dir = !to_client_dir) {
    if (MoveStagedClient(root_dir, to_client_dir)) {
      PauseForTest(L"after-move-in");
      return true;
    }
    Sleep(20);
  }
  RestorePreviousVersion(root_dir, false);
  return false;
}

bool LaunchClient(const std::wstring& root_dir) {
  // Plain text, no path join: the root is used exactly as the client gave it.
  const std::wstring command_line = L"\"" + root_dir + L"\\Client\\ZeltorCloudPlay.exe\"";
  base::LaunchOptions options;
  options.breakaway_from_job = true;
  const base::Process client = base::LaunchProcess(command_line, options);
  LOG_AT(INFO, kLaunchClientLine) << "launch process vaild:" << client.IsValid()
                                  << " path:" << command_line;
  return client.IsValid();
}

void RemoveOldVersions(const std::wstring& root_dir) {
  const base::FilePath root(root_dir);
  const base::FilePath previous = PreviousClientDir(root_dir);
  if (base::PathExists(previous) && !MoveToTrash(previous))
    LOG(WARNING) << "previous version not deleted: " << previous;
  const std::wstring trash(base::kTrashSuffix);
  DeleteLeftovers(root, previous.BaseName().value() + trash);
  DeleteLeftovers(root, L"Client" + trash);
  DeleteLeftovers(root, L"Client" + std::wstring(base::kCopySuffix));
  DeleteLeftovers(StagedClientDir(root_dir).DirName(), L"Client" + trash);
}

base::FilePath InstalledClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).AppendASCII("Client");
}

base::FilePath StagedClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).AppendASCII("zeltorcg_update_tmp").AppendASCII("Client");
}

int32_t PidFromSwitchValue(const std::wstring& raw) {
  // The value is read as ASCII: a value with any other character is no pid.
  bool ascii = true;
  for (wchar_t c : raw)
    ascii = ascii && c < 0x80;
  size_t i = raw.find_first_not_of(L" \t\n\v\f\r");
  if (i == std::wstring::npos)
    i = raw.size();
  const bool negative = i < raw.size() && raw[i] == L'-';
  if (i < raw.size() && (raw[i] == L'-' || raw[i] == L'+'))
    ++i;
  int64_t value = 0;
  size_t digits = 0;
  for (; i < raw.size() && raw[i] >= L'0' && raw[i] <= L'9'; ++i, ++digits) {
    if (value <= INT32_MAX)
      value = value * 10 + (raw[i] - L'0');
  }
  if (negative)
    value = -value;
  if (ascii && digits > 0 && value >= INT32_MIN && value <= INT32_MAX)
    return static_cast<int32_t>(value);
  LOG(WARNING) << "ignoring pid value \"" << raw << "\": not a 32-bit decimal number";
  return 0;
}
