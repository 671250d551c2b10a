#include "update/update.h"

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "common/util/path_util.h"

// The steps below log on fixed lines of this file; keep their positions.
bool RunUpdate(int32_t pid, const std::wstring& root_dir, const std::wstring& package) {
  if (pid > 0) {
    base::Process client = base::Process::Open(static_cast<base::ProcessId>(pid));
    if (client.IsValid()) {
      const bool ended = client.WaitForExitWithTimeout(base::Milliseconds(10000), nullptr);
      LOG(INFO) << "wait result " << ended;
    }
  }
  return InstallNewVersion(root_dir, package) && LaunchClient(root_dir);
}

bool ReplaceClientDirectory(const std::wstring& root_dir) {
  if (!StagedClientMovable(root_dir))
    return false;
  for (int attempt = 0; attempt < 5; ++attempt) {
    Sleep(10);
    const bool deleted = base::DeleteFile(InstalledClientDir(root_dir), true);
    LOG(INFO) << "delete file result:" << deleted << "," << InstalledClientDir(root_dir);
    if (deleted)
      break;
  }
  bool to_client_dir = false;
  for (int attempt = 0; attempt < 8; ++attempt, to_client_dir = !to_client_dir) {
    if (MoveStagedClient(root_dir, to_client_dir))
      return true;
    Sleep(20);
  }
  return false;
}

bool MoveStagedClient(const std::wstring& root_dir, bool to_client_dir) {
  const base::FilePath from = StagedClientDir(root_dir);
  const base::FilePath to = to_client_dir ? InstalledClientDir(root_dir) : base::FilePath(root_dir);
  const bool moved = InstalledClientDirCleared(root_dir) && base::Move(from, to);
  LOG(INFO) << "move result:" << moved << ",from:" << from << ",to:" << to;
  return moved;
}

bool LaunchClient(const std::wstring& root_dir) {
  // Plain text, no path join: the root is used exactly as the client gave it.
  const std::wstring command_line = L"\"" + root_dir + L"\\Client\\ZeltorCloudPlay.exe\"";
  base::LaunchOptions options;
  options.breakaway_from_job = true;
  const base::Process client = base::LaunchProcess(command_line, options);
  LOG(INFO) << "launch process vaild:" << client.IsValid() << " path:" << command_line;
  return client.IsValid();
}

base::FilePath InstalledClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).AppendASCII("Client");
}

base::FilePath StagedClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).AppendASCII("zeltorcg_update_tmp").AppendASCII("Client");
}

bool InstalledClientDirCleared(const std::wstring& root_dir) {
  const base::FilePath client_dir = InstalledClientDir(root_dir);
  if (!base::PathExists(client_dir) || base::DeleteFile(client_dir, true))
    return true;
  LOG(ERROR) << "installed client directory still present, not moving onto it: " << client_dir;
  return false;
}

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
  LOG(INFO) << "launch 7z vaild:" << unpacker.IsValid() << " cmd:" << command;
  if (unpacker.IsValid()) {
    int exit_code = 0;
    const bool ret = unpacker.WaitForExit(&exit_code);
    LOG(INFO) << "7z exit with code:" << exit_code << ",ret:" << ret;
    if (ret && exit_code == 0) {
      (void)base::DeleteFile(base::FilePath(package), false);
      LOG(INFO) << "remove the zip file";
    }
    // An unreadable exit code is no proof of success: keep the package.
    return ret && exit_code == 0;
  }
  LOG(ERROR) << "7z launch failed";
  return false;
}

bool InstallNewVersion(const std::wstring& root_dir, const std::wstring& package) {
  // One installation at a time per root: a second updater started for the
  // same root would delete what the first is moving into place.
  const base::win::ScopedHandle lock(
      CreateMutexW(nullptr, FALSE, InstallLockName(root_dir).c_str()));
  if (!lock.IsValid()) {
    LOG(ERROR) << "cannot create the installation lock, error " << GetLastError();
    return false;
  }
  const DWORD waited = WaitForSingleObject(lock.Get(), kInstallLockWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    LOG(ERROR) << "another update of " << root_dir << " is still running, giving up";
    return false;
  }
  const bool installed =
      package.empty() ? ReplaceClientDirectory(root_dir) : UnpackPackage(root_dir, package);
  ReleaseMutex(lock.Get());
  return installed;
}

std::wstring InstallLockName(const std::wstring& root_dir) {
  // Kernel object names hold no backslash: name the lock by a hash of the
  // absolute, lower-cased root.
  base::FilePath absolute = base::MakeAbsoluteFilePath(base::FilePath(root_dir));
  std::wstring key = absolute.empty() ? root_dir : absolute.StripTrailingSeparators().value();
  uint64_t hash = 14695981039346656037ull;
  for (wchar_t c : key) {
    hash ^= static_cast<uint16_t>(towlower(c));
    hash *= 1099511628211ull;
  }
  wchar_t name[64];
  swprintf(name, 64, L"Local\\ZeltorCloudGame2.update.%016llx",
           static_cast<unsigned long long>(hash));
  return name;
}

bool StagedClientMovable(const std::wstring& root_dir) {
  const base::FilePath staged = StagedClientDir(root_dir);
  if (!base::DirectoryExists(staged)) {
    LOG(ERROR) << "staged client directory missing, installation kept: " << staged;
  } else if (staged.value().size() >= kMaxMovablePath) {
    LOG(ERROR) << "staged client directory path too long to move, installation kept: " << staged;
  } else {
    return true;
  }
  return false;
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
