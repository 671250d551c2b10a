#include "update/package.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "base/files/file_util.h"
#include "base/platform/windows_types.h"
#include "testing/scoped_temp_dir.h"

namespace update {
namespace {

TEST(ParseArchiveListing, ReadsEntriesAfterTheSeparatorOnly) {
  const std::string listing =
      "7-Zip\r\n\r\nListing archive: p.7z\r\n\r\n--\r\nPath = p.7z\r\nType = 7z\r\n\r\n"
      "----------\r\nPath = Client\r\nSize = 0\r\nAttributes = D\r\n\r\n"
      "Path = Client\\Version.txt\r\nSize = 12\r\nAttributes = A\r\n\r\n"
      "Path = Client\\zip folder\r\nFolder = +\r\nSize = 0\r\n\r\n"
      "Path = Client\\version.txt\r\nSize = 7\r\n";
  ArchiveListing entries;
  ASSERT_TRUE(ParseArchiveListing(listing, &entries));
  ASSERT_EQ(entries.size(), 3u) << "the archive's own block is no entry; a repeat replaces";
  EXPECT_TRUE(entries[L"client"].directory);
  EXPECT_TRUE(entries[L"client\\zip folder"].directory);
  EXPECT_FALSE(entries[L"client\\version.txt"].directory);
  EXPECT_EQ(entries[L"client\\version.txt"].size, 7u);
  EXPECT_FALSE(ParseArchiveListing("Can not open the file as archive\r\n", &entries));
}

// A folder moves whole only when the package lists nothing at or below it;
// a folder it lists, or one above a listed entry, is joined file by file.
TEST(ListedEntry, FoldersAboveListedEntriesAreThereAndNothingElse) {
  ArchiveListing listing;
  for (const wchar_t* path : {L"Client\\version.txt", L"Client\\data\\d0\\f1.txt",
                              L"Client\\data\\New", L"Client\\Data\\d2\\x\\y.txt"}) {
    listing[ListingKey(path)] = {path, false, 1};
  }
  listing[ListingKey(L"Client\\empty")] = {L"Client\\empty", true, 0};
  const std::set<std::wstring> touched = TouchedKeys(listing);
  constexpr FreshEntry kNone = FreshEntry::kNone, kFile = FreshEntry::kFile,
                       kFolder = FreshEntry::kDirectory;
  const struct {
    const wchar_t* path;
    FreshEntry entry;
  } cases[] = {
      {L"Client", kFolder},
      {L"Client\\data", kFolder},
      {L"Client\\data\\d0", kFolder},
      {L"client\\DATA\\D0", kFolder},
      {L"Client\\data\\new", kFile},
      {L"Client\\data\\d2\\x", kFolder},
      {L"Client\\empty", kFolder},
      {L"Client\\data\\d1", kNone},
      {L"Client\\data\\d0x", kNone},
      {L"Client\\data\\d", kNone},
      {L"Client\\data\\d0\\sub", kNone},
      {L"Client\\data\\d2\\z", kNone},
      {L"Client\\other", kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(c.path)));
    EXPECT_EQ(ListedEntry(listing, touched, c.path), c.entry);
  }
}

class PackageTreeTest : public testing::Test {
 protected:
  void Write(const std::wstring& relative, const std::string& bytes) {
    const base::FilePath path = dir_.Append(relative);
    ASSERT_TRUE(base::CreateDirectoryAndGetError(path.DirName(), nullptr));
    ASSERT_TRUE(testing_support::WriteTestFile(path.value(), bytes));
  }
  const testing_support::ScopedTempDir temp_{L"package_tree"};
  const base::FilePath dir_{temp_.path()};
};

TEST_F(PackageTreeTest, ExtractedTreeMustMatchTheListingExactly) {
  Write(L"x\\Client\\a.txt", "abc");
  Write(L"x\\Client\\d\\b.txt", "");
  const ArchiveListing listed = {
      {L"client\\a.txt", {L"Client\\a.txt", false, 3}},
      {L"client\\d\\b.txt", {L"Client\\d\\b.txt", false, 0}},
  };
  const base::FilePath tree = dir_.Append(L"x");
  std::string problem;
  EXPECT_TRUE(ExtractedTreeMatches(tree, listed, &problem)) << problem;
  const struct {
    const char* name;
    ArchiveListing entries;
  } cases[] = {
      {"a file cut short",
       {{L"client\\a.txt", {L"Client\\a.txt", false, 4}},
        {L"client\\d\\b.txt", {L"Client\\d\\b.txt", false, 0}}}},
      {"a file not extracted",
       {{L"client\\a.txt", {L"Client\\a.txt", false, 3}},
        {L"client\\d\\b.txt", {L"Client\\d\\b.txt", false, 0}},
        {L"client\\c.txt", {L"Client\\c.txt", false, 1}}}},
      {"an entry not listed", {{L"client\\a.txt", {L"Client\\a.txt", false, 3}}}},
      {"another kind",
       {{L"client\\a.txt", {L"Client\\a.txt", true, 0}},
        {L"client\\d\\b.txt", {L"Client\\d\\b.txt", false, 0}}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    problem.clear();
    EXPECT_FALSE(ExtractedTreeMatches(tree, c.entries, &problem));
    EXPECT_FALSE(problem.empty());
  }
}

TEST_F(PackageTreeTest, JoinAddsWhatTheNewVersionLacksAndLetsItWinConflicts) {
  Write(L"old\\kept.txt", "old only");
  Write(L"old\\same.txt", "old");
  Write(L"old\\was folder\\inside.txt", "old");
  Write(L"old\\was file", "old");
  Write(L"old\\sub\\deep.txt", "old deep");
  Write(L"new\\same.txt", "new");
  Write(L"new\\was folder", "new file");
  Write(L"new\\was file\\inside.txt", "new");
  std::string problem;
  ASSERT_TRUE(JoinInstalledFiles(dir_.Append(L"old"), dir_.Append(L"new"), &problem)) << problem;
  const base::FilePath fresh = dir_.Append(L"new");
  EXPECT_TRUE(base::PathExists(fresh.Append(L"kept.txt")));
  EXPECT_TRUE(base::PathExists(fresh.Append(L"sub\\deep.txt")));
  EXPECT_FALSE(base::DirectoryExists(fresh.Append(L"was folder")));
  EXPECT_TRUE(base::DirectoryExists(fresh.Append(L"was file")));
  EXPECT_TRUE(base::PathExists(dir_.Append(L"old\\was folder\\inside.txt"))) << "installed intact";
}

// The walk may run while the new version is still being unpacked: a folder
// written to since is walked again, so that what was added meanwhile is
// joined too; the plan alone would have lost it.
TEST_F(PackageTreeTest, JoinByTheListingLeavesOutWhatTheNewVersionLacksAndRewalksChanges) {
  Write(L"old\\a\\x.txt", "old");
  Write(L"old\\a\\b\\y.txt", "old");
  Write(L"old\\c", "old file");
  Write(L"old\\n\\o.txt", "old");
  ArchiveListing listing;
  for (const wchar_t* path : {L"n\\new.txt", L"c\\z.txt"})
    listing[ListingKey(path)] = {path, false, 3};
  const std::set<std::wstring> touched = TouchedKeys(listing);
  for (bool written_meanwhile : {false, true}) {
    SCOPED_TRACE(written_meanwhile ? "written meanwhile" : "as walked");
    ASSERT_TRUE(base::DeleteFile(dir_.Append(L"new"), true));
    JoinPlan plan = PlanJoin(
        dir_.Append(L"old"),
        [&](const std::wstring& relative) { return ListedEntry(listing, touched, relative); },
        true);
    Write(L"new\\n\\new.txt", "new");
    Write(L"new\\c\\z.txt", "new");
    if (written_meanwhile) {
      Sleep(20);  // a later last-write time than the walk saw, at any clock step
      Write(L"old\\n\\later.txt", "later");
      EXPECT_EQ(plan.entries.size(), 1u) << "the plan alone has o.txt only";
    }
    std::string problem;
    ASSERT_TRUE(JoinAsPlanned(dir_.Append(L"old"), dir_.Append(L"new"), &plan, &problem))
        << problem;
    EXPECT_EQ(plan.left_out, (std::vector<std::wstring>{L"a"})) << "a\\b lies within a";
    EXPECT_FALSE(base::PathExists(dir_.Append(L"new\\a")));
    EXPECT_TRUE(base::DirectoryExists(dir_.Append(L"new\\c"))) << "the new version's kind wins";
    EXPECT_TRUE(base::PathExists(dir_.Append(L"new\\n\\o.txt")));
    EXPECT_EQ(base::PathExists(dir_.Append(L"new\\n\\later.txt")), written_meanwhile);
  }
}

}  // namespace
}  // namespace update
