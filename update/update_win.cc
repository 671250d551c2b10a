#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/platform/windows_types.h"
#include "common/util/layout.h"
#include "update/steps.h"
#include "update/update_platform.h"

namespace update {

namespace layout = common::layout;

void PauseForTest([[maybe_unused]] const wchar_t* step) {
#if defined(UPDATE_TEST_PAUSES)
  wchar_t wanted[64];
  const DWORD length = GetEnvironmentVariableW(layout::kTestPauseVariable, wanted, 64);
  if (length == 0 || length >= 64 || std::wstring(wanted, length) != step)
    return;
  wchar_t event[128];
  const DWORD event_length = GetEnvironmentVariableW(layout::kTestPauseEventVariable, event, 128);
  const base::win::ScopedHandle paused(
      OpenEventW(EVENT_MODIFY_STATE, FALSE,
                 event_length > 0 && event_length < 128 ? event : layout::kTestPauseEvent));
  if (paused.IsValid())
    SetEvent(paused.Get());
  Sleep(INFINITE);
#endif
}

void LeaveInstallation(const base::FilePath& root) {
  wchar_t exe[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH + 1);
  base::FilePath target;
  if (length > 0 && length <= MAX_PATH)
    target = base::FilePath(std::wstring(exe, length)).DirName();
  const base::FilePath client = base::MakeAbsoluteFilePath(layout::InstalledClientDir(root));
  const base::FilePath own = base::MakeAbsoluteFilePath(target);
  if (target.empty() || (!client.empty() && !own.empty() && base::IsSameOrBelow(client, own)))
    (void)base::GetTempDir(&target);
  if (!SetCurrentDirectoryW(target.value().c_str())) {
    const DWORD error = GetLastError();
    LOG(WARNING) << "current directory not changed to " << target << ", error " << error;
  }
}

namespace {

// The volume serial number of the folder `path`; false when it cannot be read.
bool VolumeOf(const base::FilePath& path, DWORD* serial) {
  const base::win::ScopedHandle folder(
      CreateFileW(path.value().c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!folder.IsValid() || !GetFileInformationByHandle(folder.Get(), &info))
    return false;
  *serial = info.dwVolumeSerialNumber;
  return true;
}

}  // namespace

bool RenamableInto(const base::FilePath& staged, const base::FilePath& root) {
  for (const base::FilePath& path : {staged, staged.DirName()}) {
    const DWORD attributes = GetFileAttributesW(path.value().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
  }
  DWORD staged_volume = 0;
  DWORD root_volume = 0;
  return !VolumeOf(staged, &staged_volume) || !VolumeOf(root, &root_volume) ||
         staged_volume == root_volume;
}

InstallLock::~InstallLock() {
  file_.Close();
  if (!made_work_dir_.empty())
    RemoveDirectoryW(made_work_dir_.value().c_str());
}

bool InstallLock::Acquire(const base::FilePath& root, int64_t wait_ms) {
  const base::FilePath long_root = base::LongPathForm(root);
  const base::FilePath work = layout::WorkDir(long_root.empty() ? root : long_root);
  if (CreateDirectoryW(work.value().c_str(), nullptr))
    made_work_dir_ = work;
  const base::FilePath path = work.Append(layout::kLockFile);
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(wait_ms);
  bool told = false;
  for (;;) {
    file_.Set(CreateFileW(path.value().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          OPEN_ALWAYS, FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    const DWORD error = GetLastError();
    if (file_.IsValid())
      return true;
    // Held open by another program, or on its way out as its holder closes it.
    if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) {
      LOG(ERROR) << "cannot create the installation lock " << path << ", error " << error;
      return false;
    }
    if (GetTickCount64() >= deadline) {
      LOG(ERROR) << "another update of " << root << " is still running, giving up";
      return false;
    }
    if (!told)
      LOG(INFO) << "waiting for another update of " << root << " to end";
    told = true;
    Sleep(100);
  }
}

}  // namespace update
