#include "update/update.h"

#include <gtest/gtest.h>

#include <algorithm>
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
    SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", starts_.c_str());
  }
  void TearDown() override {
    // Logging goes nowhere again and lets go of the file, so that its folder can go.
    logging::LoggingSettings none;
    none.logging_dest = logging::LOG_NONE;
    EXPECT_TRUE(logging::InitializeLogging(none));
    logging::internal::CloseLogFile();
    SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", nullptr);
  }

  // A staged version with the client fixture as its program (built beside
  // this test), which records its start in starts_ and ends at once.
  void Stage(const std::string& version) {
    const base::FilePath staged = common::layout::StagedClientDir(base::FilePath(root_));
    ASSERT_TRUE(base::CreateDirectoryAndGetError(staged.AppendASCII("data"), nullptr));
    ASSERT_TRUE(testing_support::WriteTestFile(staged.AppendASCII("version.txt").value(), version));
    wchar_t exe[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    const base::FilePath client =
        base::FilePath(std::wstring(exe, length)).DirName().Append(L"ZeltorCloudPlay.exe");
    ASSERT_TRUE(CopyFileW(client.value().c_str(),
                          staged.Append(L"ZeltorCloudPlay.exe").value().c_str(), FALSE))
        << client << " missing: build the target client_fixture";
  }

  // The client starts recorded so far, one line each.
  size_t Starts() const {
    const std::string text = testing_support::ReadTestFile(starts_).value_or("");
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  }

  const testing_support::ScopedTempDir temp_{L"update_steps"};
  const std::wstring root_ = temp_.Append(L"root");
  const std::wstring log_ = temp_.Append(L"update.log");
  const std::wstring starts_ = temp_.Append(L"starts.txt");
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
  // Every update succeeds: the staged version is swapped in and its client
  // started once, so the launch and the start check are part of each round.
  auto one_update = [this](int i) {
    const size_t starts = Starts();
    Stage(std::to_string(i));
    EXPECT_TRUE(RunUpdate(0, root_, L""));
    EXPECT_EQ(
        testing_support::ReadTestFile(common::layout::InstalledClientDir(base::FilePath(root_))
                                          .Append(L"version.txt")
                                          .value()),
        std::to_string(i));
    EXPECT_FALSE(base::DirectoryExists(common::layout::StagedClientDir(base::FilePath(root_))));
    EXPECT_EQ(Starts(), starts + 1) << "the client starts once per update";
  };
  for (int i = 0; i < 5; ++i)
    one_update(i);  // warm-up: singletons, caches
  const DWORD handles_before = handles();
  const size_t bytes_before = private_bytes();
  // 40 rounds: a handle left open per update shows as 40 more, and memory
  // kept per update above 6 KiB crosses the margin.
  for (int i = 5; i < 45; ++i)
    one_update(i);
  EXPECT_EQ(handles(), handles_before);
  EXPECT_LT(private_bytes(), bytes_before + 256 * 1024);
}

}  // namespace
