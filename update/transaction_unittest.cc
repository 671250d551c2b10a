#include "update/transaction.h"

#include <gtest/gtest.h>

#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/platform/windows_types.h"
#include "testing/scoped_temp_dir.h"

namespace update {
namespace {

class InstallTransactionTest : public testing::Test {
 protected:
  // A folder holding one file whose content names it.
  void MakeVersion(const base::FilePath& dir, const std::string& version) {
    ASSERT_TRUE(base::CreateDirectoryAndGetError(dir, nullptr));
    ASSERT_TRUE(testing_support::WriteTestFile(dir.Append(L"version.txt").value(), version));
  }
  // The version a folder holds, "none" when it is absent.
  std::string VersionIn(const base::FilePath& dir) {
    return testing_support::ReadTestFile(dir.Append(L"version.txt").value()).value_or("none");
  }
  SwapEntry Entry() {
    return {root_.Append(L"Client"), root_.Append(L"new"), root_.Append(L"old")};
  }

  const testing_support::ScopedTempDir temp_{L"transaction"};
  const base::FilePath root_{temp_.path()};
};

TEST_F(InstallTransactionTest, UndoFromEveryStepOfTheSwapRestoresTheInstalledVersion) {
  // How far the swap got before it was undone, and whether a version was
  // installed at all.
  const struct {
    const char* name;
    bool installed;
    int steps;  // 0 none, 1 moved aside, 2 moved in
  } cases[] = {
      {"nothing moved", true, 0},
      {"moved aside", true, 1},
      {"moved in", true, 2},
      {"new entry, nothing moved", false, 0},
      {"new entry, moved in", false, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(root_, true));
    if (c.installed)
      MakeVersion(Entry().live, "1");
    MakeVersion(Entry().source, "2");
    {
      InstallTransaction transaction(root_);
      transaction.Add(Entry());
      ASSERT_TRUE(transaction.Record(InstallTransaction::Phase::kPrepared));
      if (c.steps >= 1) {
        ASSERT_TRUE(transaction.MoveAside(0));
      }
      if (c.steps >= 2) {
        ASSERT_TRUE(transaction.MoveIn(0));
      }
      EXPECT_EQ(transaction.AllMovedIn(), c.steps == 2);
    }
    // Undone by a later run, from the journal alone.
    InstallTransaction later(root_);
    ASSERT_TRUE(later.Load());
    ASSERT_EQ(later.entries().size(), 1u);
    later.Undo();
    EXPECT_EQ(VersionIn(Entry().live), c.installed ? "1" : "none");
    EXPECT_EQ(VersionIn(Entry().source), "2");
    EXPECT_FALSE(base::PathExists(Entry().previous));
    EXPECT_FALSE(base::PathExists(later.JournalPath()));
  }
}

TEST_F(InstallTransactionTest, CleanUpAfterTheStartKeepsOnlyTheNewVersion) {
  MakeVersion(Entry().live, "1");
  MakeVersion(Entry().source, "2");
  MakeVersion(root_.Append(L"extracted"), "x");
  InstallTransaction transaction(root_);
  transaction.Add(Entry());
  transaction.AddLeftover(root_.Append(L"extracted"));
  transaction.set_package(root_.Append(L"pkg.7z"));
  ASSERT_TRUE(transaction.Record(InstallTransaction::Phase::kPrepared));
  ASSERT_TRUE(transaction.MoveAside(0) && transaction.MoveIn(0));
  ASSERT_TRUE(transaction.Record(InstallTransaction::Phase::kStarted));

  InstallTransaction later(root_);
  ASSERT_TRUE(later.Load());
  EXPECT_EQ(later.phase(), InstallTransaction::Phase::kStarted);
  EXPECT_EQ(later.package(), root_.Append(L"pkg.7z"));
  later.CleanUp();
  EXPECT_EQ(VersionIn(Entry().live), "2");
  for (const wchar_t* gone : {L"old", L"new", L"extracted"})
    EXPECT_FALSE(base::PathExists(root_.Append(gone))) << gone;
  EXPECT_FALSE(base::PathExists(later.JournalPath()));
}

TEST_F(InstallTransactionTest, DamagedOrMissingJournalIsNotActedOn) {
  InstallTransaction none(root_);
  EXPECT_FALSE(none.Load());
  InstallTransaction transaction(root_);
  transaction.Add(Entry());
  ASSERT_TRUE(transaction.Record(InstallTransaction::Phase::kPrepared));
  // Cut off before its end line: not a journal this system wrote whole.
  {
    const testing_support::ScopedFileHandle file(
        CreateFileW(transaction.JournalPath().value().c_str(), GENERIC_WRITE, 0, nullptr,
                    OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid());
    SetFilePointer(file.get(), 40, nullptr, FILE_BEGIN);
    SetEndOfFile(file.get());
  }
  InstallTransaction later(root_);
  EXPECT_FALSE(later.Load());
  EXPECT_TRUE(later.entries().empty());
  EXPECT_FALSE(base::PathExists(later.JournalPath()));
}

}  // namespace
}  // namespace update
