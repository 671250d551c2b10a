#ifndef UPDATE_UPDATE_PLATFORM_H_
#define UPDATE_UPDATE_PLATFORM_H_

#include <cstdint>

#include "base/file_path.h"
#include "base/win/scoped_handle.h"

// The update procedure's own calls into the system (update_win.cc).

namespace update {

// Moves the process's current directory out of the installation, which it
// would otherwise hold open: to the folder of its own program when that is
// not inside root\Client, else to the temporary folder. Logs a WARNING when
// it cannot.
void LeaveInstallation(const base::FilePath& root);

// Whether `staged` can be renamed into `root`: neither it nor its folder is a
// link, and it lies on the root's volume. When the volumes cannot be told,
// the rename is tried.
bool RenamableInto(const base::FilePath& staged, const base::FilePath& root);

// One updater at a time per installation, whoever and wherever it runs: the
// lock file root\zeltorcg_update_tmp\update.lock, opened with no sharing and
// deleted when closed. The system closes it when the process ends, killed or
// not; it holds across sessions and users, and for a root on a shared folder
// across machines. Not thread-safe.
class InstallLock {
 public:
  InstallLock() = default;
  InstallLock(const InstallLock&) = delete;
  InstallLock& operator=(const InstallLock&) = delete;
  // Lets go of the lock, and of the work folder when Acquire made it and
  // nothing else is in it.
  ~InstallLock();

  // Takes the lock of `root`, waiting up to `wait_ms` while another program
  // holds it (one INFO line says so). False, logged as an ERROR, when it is
  // still held then or the lock file cannot be made.
  [[nodiscard]] bool Acquire(const base::FilePath& root, int64_t wait_ms);

 private:
  base::win::ScopedHandle file_;
  base::FilePath made_work_dir_;
};

}  // namespace update

#endif  // UPDATE_UPDATE_PLATFORM_H_
