#ifndef UPDATE_STEPS_H_
#define UPDATE_STEPS_H_

#include <string>

#include "base/file_path.h"

// What the update's steps share across their files: the log lines whose text
// and source line (update.cc, see the table there) readers of the log rely
// on, and the test builds' pause at a step boundary.

namespace update {

void LogDeleteResult(bool deleted, const base::FilePath& path);
void LogMoveResult(bool moved, const base::FilePath& from, const base::FilePath& to);
void LogClientLaunch(bool valid, const std::wstring& command_line);
void LogUnpackerLaunch(bool valid, const std::wstring& command_line);
void LogUnpackerExit(int exit_code, bool ret);
void LogPackageRemoved();
void LogUnpackerLaunchFailed();

// Test builds: when the environment names `step` (layout::kTestPauseVariable),
// sets the test's event and waits until the process is ended. Elsewhere,
// and in shipped builds, returns at once.
void PauseForTest(const wchar_t* step);

}  // namespace update

#endif  // UPDATE_STEPS_H_
