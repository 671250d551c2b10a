#include "update/update.h"

#include <gtest/gtest.h>

#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/logging_internal.h"
#include "base/platform/windows_types.h"
#include "common/util/layout.h"
#include "testing/scoped_temp_dir.h"

// After <windows.h>, which it needs.
#include <psapi.h>

namespace {

class UpdateStepsTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(base::CreateDirectoryAndGetError(base::FilePath(root_), nullptr));
    logging::LoggingSettings settings;
    settings.log_file_path = log_.c_str();
    settings.delete_old = logging::DELETE_OLD_LOG_FILE;
    ASSERT_TRUE(logging::InitializeLogging(settings));
    SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", temp_.Append(L"starts.txt").c_str());
  }
  void TearDown() override {
    // Logging goes nowhere again and lets go of the file, so that its folder can go.
    logging::LoggingSettings none;
    none.logging_dest = logging::LOG_NONE;
    EXPECT_TRUE(logging::InitializeLogging(none));
    logging::internal::CloseLogFile();
    SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", nullptr);
  }

  void Stage(const std::string& version) {
    const base::FilePath staged = common::layout::StagedClientDir(base::FilePath(root_));
    ASSERT_TRUE(base::CreateDirectoryAndGetError(staged.AppendASCII("data"), nullptr));
    ASSERT_TRUE(testing_support::WriteTestFile(staged.AppendASCII("version.txt").value(), version));
    // Not a program: staged versions need the file, launching it fails.
    ASSERT_TRUE(
        testing_support::WriteTestFile(staged.AppendASCII("ZeltorCloudPlay.exe").value(), ""));
  }

  const testing_support::ScopedTempDir temp_{L"update_steps"};
  const std::wstring root_ = temp_.Append(L"root");
  const std::wstring log_ = temp_.Append(L"update.log");
};

TEST_F(UpdateStepsTest, RepeatedUpdatesKeepHandlesAndMemoryFlat) {
  auto handles = [] {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return count;
  };
  auto private_bytes = [] {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                         sizeof(counters));
    return counters.PrivateUsage;
  };
  auto one_update = [this](int i) {
    Stage(std::to_string(i));
    // The client program is no program here: the launch fails and the swap
    // is undone, cleanly.
    EXPECT_FALSE(RunUpdate(0, root_, L""));
    EXPECT_TRUE(base::DirectoryExists(common::layout::StagedClientDir(base::FilePath(root_))));
  };
  for (int i = 0; i < 5; ++i)
    one_update(i);  // warm-up: singletons, caches
  const DWORD handles_before = handles();
  const size_t bytes_before = private_bytes();
  for (int i = 0; i < 100; ++i)
    one_update(i);
  EXPECT_EQ(handles(), handles_before);
  EXPECT_LT(private_bytes(), bytes_before + 256 * 1024);
}

}  // namespace
