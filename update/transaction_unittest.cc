#include "update/transaction.h"

#include <gtest/gtest.h>

#include <string>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "common/util/layout.h"
#include "testing/scoped_temp_dir.h"
#include "update/journal.h"
#include "update/package.h"

namespace update {
namespace {

namespace layout = common::layout;

constexpr wchar_t kStaged[] = L"zeltorcg_update_tmp\\Client";
constexpr wchar_t kExtracted[] = L"zeltorcg_update_tmp\\package.partial-1-1\\Client";
constexpr wchar_t kExtraction[] = L"zeltorcg_update_tmp\\package.partial-1-1";
constexpr wchar_t kPrevious[] = L"zeltorcg_update_old";

class InstallTransactionTest : public testing::Test {
 protected:
  // A folder holding one file whose content names the version; "" makes none.
  void MakeVersion(const std::wstring& relative, const std::string& version) {
    if (version.empty())
      return;
    const base::FilePath dir = root_.Append(relative);
    ASSERT_TRUE(base::CreateDirectoryAndGetError(dir, nullptr));
    ASSERT_TRUE(testing_support::WriteTestFile(dir.Append(L"version.txt").value(), version));
  }
  // The version a folder holds, "" when it is absent.
  std::string VersionIn(const std::wstring& relative) {
    return testing_support::ReadTestFile(root_.Append(relative).Append(L"version.txt").value())
        .value_or("");
  }
  void WriteJournal(const std::string& text) {
    ASSERT_TRUE(base::CreateDirectoryAndGetError(layout::WorkDir(root_), nullptr));
    ASSERT_TRUE(testing_support::WriteTestFile(layout::JournalPath(root_).value(), text));
  }
  size_t CountMatching(const base::FilePath& dir, const std::wstring& pattern) {
    size_t count = 0;
    base::FileEnumerator found(
        dir, false, base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, pattern);
    while (!found.Next().empty())
      ++count;
    return count;
  }

  const testing_support::ScopedTempDir temp_{L"transaction"};
  const base::FilePath outside_{temp_.Append(L"outside")};
  const base::FilePath root_{temp_.Append(L"root")};
};

// A run that finds a journal acts on what it says only once it is sure of it:
// an undo under way is finished and never taken for a swap forward, a clean-up
// deletes only the previous versions, and a swap that was cut short is checked
// again before its new version may start (here it cannot start: the program is
// no program, so it is undone).
TEST_F(InstallTransactionTest, AnEarlierRunIsFinishedFromItsJournalAndTheDisk) {
  const struct {
    const char* name;
    JournalPhase phase;
    bool had_installed;
    std::string live, source, previous;  // versions on the disk, "" for none
    EarlierRun result;
    std::string live_after, source_after;
  } cases[] = {
      {"undoing, new version in", JournalPhase::kUndoing, true, "2", "", "1", EarlierRun::kUndone,
       "1", "2"},
      {"undoing, between its renames", JournalPhase::kUndoing, true, "", "2", "1",
       EarlierRun::kUndone, "1", "2"},
      {"undoing, restored, extraction being deleted", JournalPhase::kUndoing, true, "1", "", "",
       EarlierRun::kUndone, "1", ""},
      {"undoing, nothing moved yet", JournalPhase::kUndoing, true, "1", "2", "",
       EarlierRun::kUndone, "1", "2"},
      {"undoing, a new entry moved in", JournalPhase::kUndoing, false, "2", "", "",
       EarlierRun::kUndone, "", "2"},
      {"started, clean-up cut short", JournalPhase::kStarted, true, "2", "", "1",
       EarlierRun::kInstalled, "2", ""},
      {"prepared, between the renames", JournalPhase::kPrepared, true, "", "2", "1",
       EarlierRun::kFailed, "1", "2"},
      {"prepared, moved in", JournalPhase::kPrepared, true, "2", "", "1", EarlierRun::kFailed, "1",
       "2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(root_, true));
    MakeVersion(layout::kClientDir, c.live);
    MakeVersion(kStaged, c.source);
    MakeVersion(kPrevious, c.previous);
    // Not a program: a new version that gets to its start check fails it.
    const wchar_t* new_version = c.source == "2" ? kStaged : layout::kClientDir;
    ASSERT_TRUE(testing_support::WriteTestFile(
        root_.Append(new_version).Append(layout::kClientExe).value(), ""));
    Journal journal;
    journal.phase = c.phase;
    journal.entries = {{layout::kClientDir, kStaged, kPrevious, c.had_installed}};
    WriteJournal(SerializeJournal(journal));

    EXPECT_EQ(FinishEarlierRun(root_, nullptr), c.result);
    EXPECT_EQ(VersionIn(layout::kClientDir), c.live_after);
    EXPECT_EQ(VersionIn(kStaged), c.source_after);
    EXPECT_FALSE(base::PathExists(root_.Append(kPrevious)));
    EXPECT_FALSE(base::PathExists(layout::JournalPath(root_)));
  }
}

// A journal that cannot be read is kept aside and nothing it names is
// touched; the disk is read instead: a Client cut off by a swap comes back,
// and without one nothing new may be installed over the gap.
TEST_F(InstallTransactionTest, ADamagedOrLostJournalIsKeptAndTheDiskIsRead) {
  Journal outside_journal;
  outside_journal.phase = JournalPhase::kStarted;
  outside_journal.entries = {{layout::kClientDir, kStaged, kPrevious, true}};
  std::string foreign = SerializeJournal(outside_journal);
  foreign.replace(foreign.find("zeltorcg_update_old"), 19, "..\\outside");
  const struct {
    const char* name;
    bool journal;
    std::string text;
    std::string previous;  // the previous version on the disk
    EarlierRun result;
    std::string live_after;
  } cases[] = {
      {"empty", true, "", "1", EarlierRun::kNone, "1"},
      {"truncated", true, SerializeJournal(outside_journal).substr(0, 50), "1", EarlierRun::kNone,
       "1"},
      {"garbage", true, "\x01\xff garbage\n", "1", EarlierRun::kNone, "1"},
      {"naming a folder outside the root", true, foreign, "1", EarlierRun::kNone, "1"},
      {"damaged, no previous version either", true, "", "", EarlierRun::kFailed, ""},
      {"deleted", false, "", "1", EarlierRun::kNone, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(base::DeleteFile(root_, true));
    ASSERT_TRUE(base::DeleteFile(outside_, true));
    ASSERT_TRUE(base::CreateDirectoryAndGetError(outside_, nullptr));
    ASSERT_TRUE(testing_support::WriteTestFile(outside_.Append(L"keep.txt").value(), "keep"));
    MakeVersion(kPrevious, c.previous);
    MakeVersion(kStaged, "2");
    if (c.journal)
      WriteJournal(c.text);

    EXPECT_EQ(FinishEarlierRun(root_, nullptr), c.result);
    EXPECT_EQ(VersionIn(layout::kClientDir), c.live_after);
    EXPECT_EQ(VersionIn(kStaged), "2");
    EXPECT_EQ(testing_support::ReadTestFile(outside_.Append(L"keep.txt").value()), "keep");
    EXPECT_FALSE(base::PathExists(layout::JournalPath(root_)));
    EXPECT_EQ(CountMatching(layout::WorkDir(root_), L"transaction.journal.damaged-*"),
              c.journal ? 1u : 0u);
  }
}

// The clean-up deletes the package only while the file at its path is the
// one the journal names: a new package the client put there is kept.
TEST_F(InstallTransactionTest, CleanUpDeletesThePackageOnlyWhileItIsTheSameFile) {
  for (const bool replaced : {false, true}) {
    SCOPED_TRACE(replaced ? "another package at the path" : "the installed package");
    ASSERT_TRUE(base::DeleteFile(root_, true));
    ASSERT_TRUE(base::CreateDirectoryAndGetError(outside_, nullptr));
    const base::FilePath package = outside_.Append(L"update.7z");
    ASSERT_TRUE(testing_support::WriteTestFile(package.value(), "package 1"));
    MakeVersion(layout::kClientDir, "2");
    MakeVersion(kPrevious, "1");
    MakeVersion(kExtraction, "x");
    Journal journal;
    journal.phase = JournalPhase::kStarted;
    journal.entries = {{layout::kClientDir, kExtracted, kPrevious, true}};
    journal.leftovers = {kExtraction};
    journal.package = package.value();
    journal.package_identity = PackageFile::IdentityAt(package);
    ASSERT_FALSE(journal.package_identity.empty());
    WriteJournal(SerializeJournal(journal));
    if (replaced) {
      ASSERT_TRUE(base::DeleteFile(package, false));
      ASSERT_TRUE(testing_support::WriteTestFile(package.value(), "package 2, longer"));
    }

    EXPECT_EQ(FinishEarlierRun(root_, nullptr), EarlierRun::kInstalled);
    EXPECT_EQ(VersionIn(layout::kClientDir), "2");
    EXPECT_FALSE(base::PathExists(root_.Append(kPrevious)));
    EXPECT_FALSE(base::PathExists(root_.Append(kExtraction)));
    EXPECT_EQ(base::PathExists(package), replaced);
  }
}

using InstallTransactionDeathTest = InstallTransactionTest;

TEST_F(InstallTransactionDeathTest, StepsOutOfOrderAreFatal) {
  InstallTransaction transaction(root_);
  EXPECT_DEATH((void)transaction.Swap(SwapLog::kFailuresOnly),
               "Check failed: step_ == Step::kPrepared");
  EXPECT_DEATH((void)transaction.Start(), "Check failed: step_ == Step::kSwapped");
  EXPECT_DEATH(transaction.CleanUp(), "Check failed: step_ == Step::kStarted");
}

}  // namespace
}  // namespace update
