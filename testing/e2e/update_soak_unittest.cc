// Many consecutive updates of one installation, alternating package and
// staged mode: every one must install exactly the new tree, start the client
// once, and add exactly its own lines to the log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/e2e/e2e_support.h"

namespace e2e {
namespace {

// Each version holds a file of its own: one left behind would show.
constexpr VersionShape kShape = {.files = 0, .own_file = true};

TEST(UpdaterSoak, AlternatingModesInstallEveryVersionExactly) {
  int updates = 200;
  if (const char* n = std::getenv("SOAK_UPDATES"))
    updates = std::atoi(n);
  const ScopedTempDir work_dir(L"soak");
  const std::wstring& work = work_dir.path();
  const std::wstring root = work + L"\\root";
  SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", (work + L"\\starts.txt").c_str());
  ASSERT_TRUE(WriteVersion(root + L"\\Client", "0", kShape));

  for (int i = 1; i <= updates; ++i) {
    SCOPED_TRACE(i);
    const bool packaged = i % 2 == 1;
    // The expected tree: exactly version i with the client program.
    const std::wstring expected_dir = work + L"\\expected";
    RemoveTree(expected_dir);
    ASSERT_TRUE(WriteVersion(expected_dir, std::to_string(i), kShape));
    std::wstring args = Args(0, root);
    if (packaged) {
      // A package overwrites and adds but never removes: start from the same
      // file set so that the result is exactly version i.
      RemoveTree(root + L"\\Client\\data");
      const std::wstring source = work + L"\\src";
      RemoveTree(source);
      ASSERT_TRUE(WriteVersion(source + L"\\Client", std::to_string(i), kShape));
      const std::wstring package = work + L"\\update.7z";
      ASSERT_TRUE(MakePackage(source, package));
      args += L" --unzip=" + Quote(package);
    } else {
      const std::wstring staged = root + L"\\zeltorcg_update_tmp\\Client";
      ASSERT_TRUE(WriteVersion(staged, std::to_string(i), kShape));
    }
    UpdateRun run = RunUpdater(args);
    ASSERT_EQ(run.process.exit_code, 0u);
    // The updater's own lines: package mode 7, staged mode 6 (the file
    // operations may add lines of their own), then the two empty lines.
    const size_t expected_lines = packaged ? 7 : 6;
    size_t updater_lines = 0, empty = 0;
    for (const LogLine& line : run.lines) {
      if (line.file == "main.cc" || line.file == "update.cc")
        ++updater_lines;
      if (line.file.empty())
        ++empty;
    }
    EXPECT_EQ(updater_lines, expected_lines) << run.log;
    EXPECT_EQ(empty, 2u) << run.log;
    ASSERT_EQ(TreeHash(root + L"\\Client"), TreeHash(expected_dir)) << run.log;
    // The started client runs on briefly; the next update would have to wait
    // for it like for any client, so let it end first.
    const auto records = ReadClientRecords(work + L"\\starts.txt", i);
    if (records.size() >= static_cast<size_t>(i))
      ChildProcess::Adopt(std::stoul(records.back().at("pid"))).WaitForExit(5000);
  }
  // Every update started the client once; the last one may still be starting.
  EXPECT_EQ(ReadClientRecords(work + L"\\starts.txt", updates).size(),
            static_cast<size_t>(updates));
  SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", nullptr);
}

}  // namespace
}  // namespace e2e
