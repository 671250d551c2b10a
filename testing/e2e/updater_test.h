#ifndef TESTING_E2E_UPDATER_TEST_H_
#define TESTING_E2E_UPDATER_TEST_H_

// The fixture of the end-to-end suites: every test works in a fresh folder of
// its own, removed afterwards, installs below root_ in it and finds there the
// start records of the clients the updater started.

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "common/util/layout.h"
#include "testing/e2e/e2e_support.h"

namespace e2e {

// root\Client and root\zeltorcg_update_tmp\Client, in the updater's own names.
inline std::wstring ClientDir(const std::wstring& root) {
  return root + L"\\" + common::layout::kClientDir;
}
inline std::wstring StagedDir(const std::wstring& root) {
  return root + L"\\" + common::layout::kWorkDir + L"\\" + common::layout::kClientDir;
}

class UpdaterFixture : public ::testing::Test {
 protected:
  // The suite's versions have `shape` (see VersionTree).
  explicit UpdaterFixture(const VersionShape& shape = {}) : shape_(shape) {}

  void SetUp() override {
    ASSERT_FALSE(work_.empty());
    SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", record_file_.c_str());
  }
  void TearDown() override { SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", nullptr); }

  // Installs `version` below `dir`, with the client program.
  void Install(const std::wstring& dir, const std::string& version) {
    ASSERT_TRUE(WriteVersion(dir, version, shape_));
  }
  // root_ emptied, with `version` installed in its Client.
  void FreshInstall(const std::string& version = "1") {
    RemoveTree(root_);
    Install(ClientDir(root_), version);
  }
  // Version 1 installed in root\Client, version 2 staged.
  void InstallAndStage(const std::wstring& root) {
    Install(ClientDir(root), "1");
    Install(StagedDir(root), "2");
  }
  // The digest of `version` installed.
  uint64_t VersionHash(const std::string& version) {
    const ScopedTempDir dir(L"expected");
    EXPECT_TRUE(WriteVersion(dir.path(), version, shape_));
    return TreeHash(dir.path());
  }
  // A package work_\<name> holding Client\ of `version`, with the fixture
  // `program` as its client.
  std::wstring Package(const std::string& version,
                       const std::wstring& name = L"update.7z",
                       const std::wstring& program = L"ZeltorCloudPlay.exe") {
    const ScopedTempDir source(L"pkgsrc");
    const std::wstring package = work_ + L"\\" + name;
    EXPECT_TRUE(WriteVersion(ClientDir(source.path()), version, shape_, program) &&
                MakePackage(source.path(), package));
    return package;
  }
  // The clients' start records, once at least `expected` are there.
  std::vector<std::map<std::string, std::string>> ClientStarts(size_t expected = 0) {
    return ReadClientRecords(record_file_, expected);
  }

  const VersionShape shape_;
  const ScopedTempDir temp_{L"e2e"};
  const std::wstring work_ = temp_.path();
  const std::wstring root_ = work_ + L"\\root";
  const std::wstring record_file_ = work_ + L"\\starts.txt";
};

}  // namespace e2e

#endif  // TESTING_E2E_UPDATER_TEST_H_
