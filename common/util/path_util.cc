#include "common/util/path_util.h"

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/path_service.h"
#include "common/util/layout.h"

namespace common {

namespace {

// The source line the log reports for a missing executable path.
constexpr int kNoExecutablePathLine = 13;

}  // namespace

base::FilePath GetExeDirFilePath(const wchar_t* name) {
  base::FilePath exe;
  if (base::PathService::Get(base::FILE_EXE, &exe)) {
    return exe.DirName().Append(name ? name : L"");
  }
  LOG_AT(ERROR, kNoExecutablePathLine) << "Get FILE_EXE path failed";
  return base::FilePath();
}

namespace {

// Any kind of entry counts as existing; a file in the way stays and the log
// file below it then fails to open.
void CreateIfMissing(const base::FilePath& dir) {
  if (!base::PathExists(dir))
    (void)base::CreateDirectoryAndGetError(dir, nullptr);
}

}  // namespace

base::FilePath GetLogDirectory() {
  base::FilePath dir;
  base::FilePath app_data;
  if (base::PathService::Get(base::DIR_APP_DATA, &app_data)) {
    dir = app_data.Append(layout::kCompanyDir);
  }
  CreateIfMissing(dir);
  dir = dir.Append(layout::kLogDir);
  CreateIfMissing(dir);
  return dir;
}

}  // namespace common
