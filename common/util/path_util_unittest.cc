#include "common/util/path_util.h"

#include <gtest/gtest.h>

#include <string>

#include "base/base_paths.h"
#include "base/logging.h"
#include "base/logging_internal.h"
#include "base/path_service.h"
#include "base/platform/windows_types.h"
#include "testing/scoped_temp_dir.h"

namespace {

// While set, FILE_EXE resolves to an empty path, which makes its lookup fail.
bool g_hide_executable = false;

bool HideExecutable(int key, base::FilePath* result) {
  if (key != base::FILE_EXE || !g_hide_executable)
    return false;
  *result = base::FilePath();
  return true;
}

TEST(GetExeDirFilePath, JoinsOntoTheExecutablesFolderOrLogsOnItsStatedLine) {
  wchar_t exe[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const base::FilePath dir = base::FilePath(std::wstring(exe, length)).DirName();
  EXPECT_EQ(common::GetExeDirFilePath(L"7z.exe"), dir.Append(L"7z.exe"));
  EXPECT_EQ(common::GetExeDirFilePath(nullptr), dir);

  const testing_support::ScopedTempDir temp(L"path_util_test");
  const base::FilePath log(temp.Append(L"test.log"));
  logging::LoggingSettings settings;
  settings.log_file_path = log.value().c_str();
  settings.delete_old = logging::DELETE_OLD_LOG_FILE;
  ASSERT_TRUE(logging::InitializeLogging(settings));
  base::PathService::DisableCache(true);
  base::PathService::RegisterProvider(HideExecutable);
  g_hide_executable = true;
  EXPECT_TRUE(common::GetExeDirFilePath(L"7z.exe").empty());
  g_hide_executable = false;

  // Logging goes nowhere again and lets go of the file, so that its folder can go.
  settings.logging_dest = logging::LOG_NONE;
  ASSERT_TRUE(logging::InitializeLogging(settings));
  logging::internal::CloseLogFile();
  const std::string text = testing_support::ReadTestFile(log.value()).value_or("");
  EXPECT_NE(text.find(":ERROR:"), std::string::npos) << text;
  EXPECT_NE(text.find("path_util.cc(13)] Get FILE_EXE path failed\n"), std::string::npos) << text;
}

}  // namespace
