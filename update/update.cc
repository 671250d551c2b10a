#include "update/update.h"

#include "base/command_line.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/windows_types.h"
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
  if (!StagedClientPresent(root_dir))
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
  const bool moved = base::Move(from, to);
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

// Whatever the delete phase of staged mode achieved, its move phase runs; the
// move attempts alternate between the root and the installed client directory,
// since a move onto an existing directory lands inside it under its own name.
bool InstallNewVersion(const std::wstring& root_dir, const std::wstring& package) {
  return package.empty() ? ReplaceClientDirectory(root_dir) : UnpackPackage(root_dir, package);
}

base::FilePath InstalledClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).AppendASCII("Client");
}

base::FilePath StagedClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).AppendASCII("zeltorcg_update_tmp").AppendASCII("Client");
}

bool StagedClientPresent(const std::wstring& root_dir) {
  const base::FilePath staged = StagedClientDir(root_dir);
  if (base::DirectoryExists(staged))
    return true;
  // Deleting the installed client now would leave the user with nothing.
  LOG(ERROR) << "staged client directory missing, installation kept: " << staged;
  return false;
}

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
