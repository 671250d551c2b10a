// Many consecutive updates of one installation, alternating package and
// staged mode: every one must install exactly the new tree, start the client
// once, and add exactly its own lines to the log.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "testing/e2e/e2e_support.h"

namespace e2e {
namespace {

Tree Version(int version) {
  const std::string v = std::to_string(version);
  return {{L"version.txt", v + "\n"},
          {L"data\\common.txt", "common " + v},
          {L"data\\v" + std::to_wstring(version % 3) + L".txt", "rotating " + v}};
}

TEST(UpdaterSoak, AlternatingModesInstallEveryVersionExactly) {
  int updates = 200;
  if (const char* n = std::getenv("SOAK_UPDATES"))
    updates = std::atoi(n);
  const std::wstring work = MakeTempDir(L"soak");
  const std::wstring root = work + L"\\root";
  const std::wstring client = BinDir() + L"\\ZeltorCloudPlay.exe";
  SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", (work + L"\\starts.txt").c_str());
  ASSERT_TRUE(WriteTree(root + L"\\Client", Version(0)));
  ASSERT_TRUE(CopyFileTo(client, root + L"\\Client\\ZeltorCloudPlay.exe"));

  for (int i = 1; i <= updates; ++i) {
    SCOPED_TRACE(i);
    const bool packaged = i % 2 == 1;
    // The expected tree: exactly version i with the client program.
    const std::wstring expected_dir = work + L"\\expected";
    RemoveTree(expected_dir);
    ASSERT_TRUE(WriteTree(expected_dir, Version(i)));
    ASSERT_TRUE(CopyFileTo(client, expected_dir + L"\\ZeltorCloudPlay.exe"));
    std::wstring args = L"--pid=0 --root_dir=" + Quote(root);
    if (packaged) {
      // A package overwrites and adds but never removes: start from the same
      // file set so that the result is exactly version i.
      RemoveTree(root + L"\\Client\\data");
      const std::wstring source = work + L"\\src";
      RemoveTree(source);
      ASSERT_TRUE(WriteTree(source + L"\\Client", Version(i)));
      ASSERT_TRUE(CopyFileTo(client, source + L"\\Client\\ZeltorCloudPlay.exe"));
      const std::wstring package = work + L"\\update.7z";
      ASSERT_TRUE(MakePackage(source, package));
      args += L" --unzip=" + Quote(package);
    } else {
      const std::wstring staged = root + L"\\zeltorcg_update_tmp\\Client";
      ASSERT_TRUE(WriteTree(staged, Version(i)));
      ASSERT_TRUE(CopyFileTo(client, staged + L"\\ZeltorCloudPlay.exe"));
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
  RemoveTree(work);
}

}  // namespace
}  // namespace e2e
