#include "base/files/file_util.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/statistics_recorder.h"
#include "gtest/gtest.h"
#include "testing/scoped_temp_dir.h"

namespace base {
namespace {

void WriteTextFile(const FilePath& path, const char* text = "x") {
  ASSERT_TRUE(testing_support::WriteTestFile(path.value(), text)) << ::GetLastError();
}

void MakeDir(const FilePath& path) {
  ASSERT_TRUE(::CreateDirectoryW(path.value().c_str(), nullptr)) << ::GetLastError();
}

void SetReadOnly(const FilePath& path) {
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  ASSERT_TRUE(::SetFileAttributesW(path.value().c_str(), attributes | FILE_ATTRIBUTE_READONLY));
}

// A fresh directory below the temporary directory, deleted afterwards.
class FileUtilTest : public testing::Test {
 protected:
  const testing_support::ScopedTempDir temp_{L"file_util_test"};
  const FilePath dir_{temp_.path()};
};

TEST(FileError, FromWin32MapsEveryListedCode) {
  const struct {
    uint32_t code;
    FileError expected;
  } cases[] = {
      {32, FileError::InUse},
      {80, FileError::Exists},
      {183, FileError::Exists},
      {2, FileError::NotFound},
      {3, FileError::NotFound},
      {5, FileError::AccessDenied},
      {4, FileError::TooManyOpened},
      {8, FileError::NoMemory},
      {14, FileError::NoMemory},
      {39, FileError::NoSpace},
      {112, FileError::NoSpace},
      {314, FileError::NoSpace},
      {1224, FileError::InvalidOperation},
      {21, FileError::IO},
      {27, FileError::IO},
      {55, FileError::IO},
      {1117, FileError::IO},
      {1392, FileError::IO},
      {1393, FileError::IO},
      {0, FileError::Failed},
      {123, FileError::Failed},
      {145, FileError::Failed},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    EXPECT_EQ(FileErrorFromWin32(c.code), c.expected);
  }
}

TEST_F(FileUtilTest, CreateDirectoryAndGetError_CreatesEveryMissingParent) {
  const FilePath deepest = dir_.Append(L"a").Append(L"b").Append(L"c");
  FileError error = FileError::Ok;
  EXPECT_TRUE(CreateDirectoryAndGetError(deepest, &error));
  EXPECT_TRUE(DirectoryExists(dir_.Append(L"a")));
  EXPECT_TRUE(DirectoryExists(dir_.Append(L"a").Append(L"b")));
  EXPECT_TRUE(DirectoryExists(deepest));
  EXPECT_EQ(error, FileError::Ok);
  // Existing already: success, nothing else to do.
  EXPECT_TRUE(CreateDirectoryAndGetError(deepest, nullptr));
}

// Parties creating the same tree at once all succeed, and the tree is the
// one a single party creates.
TEST_F(FileUtilTest, CreateDirectoryAndGetError_ToleratesConcurrentCreators) {
  const FilePath serial = dir_.Append(L"serial").Append(L"a").Append(L"b").Append(L"c");
  ASSERT_TRUE(CreateDirectoryAndGetError(serial, nullptr));
  const FilePath shared = dir_.Append(L"shared").Append(L"a").Append(L"b").Append(L"c");
  constexpr int kThreads = 4;
  bool results[kThreads] = {};
  FileError errors[kThreads] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] { results[i] = CreateDirectoryAndGetError(shared, &errors[i]); });
  }
  for (std::thread& t : threads)
    t.join();
  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(results[i]);
    EXPECT_EQ(errors[i], FileError::Ok);
  }
  for (const FilePath& p : {shared, shared.DirName(), shared.DirName().DirName()})
    EXPECT_TRUE(DirectoryExists(p)) << p.value().c_str();
}

TEST_F(FileUtilTest, CreateDirectoryAndGetError_ReportsEachProvokedError) {
  WriteTextFile(dir_.Append(L"file"));
  // A drive letter that is not mapped: even the root is missing. Searched
  // from D: up, away from Y:, which the end-to-end tests' link fixture may map
  // into this prefix while this test runs.
  const DWORD drives = ::GetLogicalDrives();
  wchar_t free_drive = 0;
  for (int i = 3; i < 24 && !free_drive; ++i) {
    if (!(drives & (1u << i)))
      free_drive = static_cast<wchar_t>(L'A' + i);
  }
  ASSERT_NE(free_drive, 0);
  const std::wstring missing_root = std::wstring(1, free_drive) + L":\\x\\y";

  // A name the platform refuses: the expected error is what the platform says.
  const FilePath bad_name = dir_.Append(L"bad<name>");
  ASSERT_FALSE(::CreateDirectoryW(bad_name.value().c_str(), nullptr));
  const FileError bad_name_error = FileErrorFromWin32(::GetLastError());

  const struct {
    FilePath path;
    FileError expected;
  } cases[] = {
      {dir_.Append(L"file"), FileError::NotADirectory},
      {dir_.Append(L"file").Append(L"below"), FileError::NotADirectory},
      {FilePath(missing_root), FileError::NotFound},
      {bad_name, bad_name_error},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.value().c_str());
    FileError error = FileError::Ok;
    EXPECT_FALSE(CreateDirectoryAndGetError(c.path, &error));
    EXPECT_EQ(error, c.expected);
  }
}

TEST_F(FileUtilTest, DeleteFile_RemovesReadOnlyTree) {
  const FilePath root = dir_.Append(L"tree");
  MakeDir(root);
  MakeDir(root.Append(L"ro_dir"));
  WriteTextFile(root.Append(L"ro_dir").Append(L"ro_file"));
  WriteTextFile(root.Append(L"plain"));
  SetReadOnly(root.Append(L"ro_dir").Append(L"ro_file"));
  SetReadOnly(root.Append(L"ro_dir"));
  SetReadOnly(root.Append(L"plain"));
  SetReadOnly(root);

  EXPECT_TRUE(DeleteFile(root, true));
  EXPECT_FALSE(PathExists(root));
}

// A read-only file's attribute belongs to the file, which its other hard
// links share: deleting one name leaves the others read-only. The control,
// clearing the bit through one name, shows that the platform shares it.
TEST_F(FileUtilTest, DeletePath_ReadOnlyFileKeepsItsBitForItsOtherLinks) {
  const FilePath kept = dir_.Append(L"kept");
  const FilePath link = dir_.Append(L"link");
  WriteTextFile(kept);
  ASSERT_TRUE(::CreateHardLinkW(link.value().c_str(), kept.value().c_str(), nullptr));
  SetReadOnly(link);
  ASSERT_TRUE(::SetFileAttributesW(link.value().c_str(), FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(::GetFileAttributesW(kept.value().c_str()) & FILE_ATTRIBUTE_READONLY, 0u)
      << "the platform keeps attributes per name";
  SetReadOnly(link);
  EXPECT_EQ(DeletePath(link, false), 0u);
  EXPECT_FALSE(PathExists(link));
  EXPECT_NE(::GetFileAttributesW(kept.value().c_str()) & FILE_ATTRIBUTE_READONLY, 0u);
  ASSERT_TRUE(::SetFileAttributesW(kept.value().c_str(), FILE_ATTRIBUTE_NORMAL));
}

TEST_F(FileUtilTest, DeletePath_ResultsAtTheEdges) {
  MakeDir(dir_.Append(L"full"));
  WriteTextFile(dir_.Append(L"full").Append(L"f"));
  WriteTextFile(dir_.Append(L"single"));
  SetReadOnly(dir_.Append(L"single"));
  // Missing paths just below and at the length limit.
  auto padded = [&](size_t length) {
    std::wstring value = dir_.Append(L"").value() + L"\\";
    value.append(length - value.size(), L'p');
    return FilePath(value);
  };
  const struct {
    FilePath path;
    bool recursive;
    uint32_t expected;
  } cases[] = {
      {FilePath(), true, 0},
      {dir_.Append(L"missing"), true, 0},
      {dir_.Append(L"missing").Append(L"below"), false, 0},
      {padded(259), true, 0},
      {padded(260), true, ERROR_BAD_PATHNAME},
      {padded(261), false, ERROR_BAD_PATHNAME},
      {dir_.Append(L"full"), false, ERROR_DIR_NOT_EMPTY},
      {dir_.Append(L"single"), false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.value().c_str());
    EXPECT_EQ(DeletePath(c.path, c.recursive), c.expected);
  }
  EXPECT_TRUE(PathExists(dir_.Append(L"full").Append(L"f")));
  EXPECT_FALSE(PathExists(dir_.Append(L"single")));
}

TEST_F(FileUtilTest, DeleteFile_WildcardRemovesOnlyMatchingEntries) {
  for (bool recursive : {false, true}) {
    SCOPED_TRACE(recursive);
    const FilePath root = dir_.Append(recursive ? L"r" : L"n");
    MakeDir(root);
    WriteTextFile(root.Append(L"a.tmp"));
    WriteTextFile(root.Append(L"b.txt"));
    MakeDir(root.Append(L"gone.tmp"));
    WriteTextFile(root.Append(L"gone.tmp").Append(L"x.tmp"));
    MakeDir(root.Append(L"kept.tmp"));
    WriteTextFile(root.Append(L"kept.tmp").Append(L"x.tmp"));
    WriteTextFile(root.Append(L"kept.tmp").Append(L"keep.txt"));
    MakeDir(root.Append(L"plain"));
    WriteTextFile(root.Append(L"plain").Append(L"c.tmp"));

    EXPECT_EQ(DeletePath(root.Append(L"*.tmp"), recursive),
              recursive ? static_cast<uint32_t>(ERROR_DIR_NOT_EMPTY) : 0u);
    EXPECT_FALSE(PathExists(root.Append(L"a.tmp")));
    EXPECT_TRUE(PathExists(root.Append(L"b.txt")));
    EXPECT_TRUE(PathExists(root.Append(L"plain").Append(L"c.tmp")));
    EXPECT_EQ(PathExists(root.Append(L"gone.tmp")), !recursive);
    EXPECT_EQ(PathExists(root.Append(L"kept.tmp").Append(L"x.tmp")), !recursive);
    EXPECT_TRUE(PathExists(root.Append(L"kept.tmp").Append(L"keep.txt")));
  }
}

TEST_F(FileUtilTest, DeletePath_HeldFileFailsAndLeavesItsBranch) {
  const FilePath root = dir_.Append(L"tree");
  MakeDir(root);
  MakeDir(root.Append(L"busy"));
  WriteTextFile(root.Append(L"busy").Append(L"held"));
  WriteTextFile(root.Append(L"busy").Append(L"other"));
  WriteTextFile(root.Append(L"loose"));
  const FilePath held = root.Append(L"busy").Append(L"held");
  testing_support::ScopedFileHandle file(::CreateFileW(held.value().c_str(), GENERIC_READ,
                                                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                                       OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.valid());
  // What the platform says to deleting the held file is what the tree's
  // deletion must report.
  ASSERT_FALSE(::DeleteFileW(held.value().c_str()));
  const DWORD expected = ::GetLastError();

  EXPECT_EQ(DeletePath(root, true), expected);
  EXPECT_TRUE(expected == ERROR_SHARING_VIOLATION || expected == ERROR_ACCESS_DENIED) << expected;
  EXPECT_TRUE(PathExists(held));
  EXPECT_FALSE(PathExists(root.Append(L"busy").Append(L"other")));
  EXPECT_FALSE(PathExists(root.Append(L"loose")));
  EXPECT_FALSE(DeleteFile(root, true));
  file.reset();
  EXPECT_TRUE(DeleteFile(root, true));
  EXPECT_FALSE(PathExists(root));
}

TEST_F(FileUtilTest, Move_FileAndDirectory) {
  WriteTextFile(dir_.Append(L"file"));
  EXPECT_TRUE(Move(dir_.Append(L"file"), dir_.Append(L"renamed")));
  EXPECT_FALSE(PathExists(dir_.Append(L"file")));
  EXPECT_TRUE(PathExists(dir_.Append(L"renamed")));

  // Onto an existing, non-empty directory of another folder the rename
  // fails; the fallback renames the source into it under its own name.
  const FilePath from = dir_.Append(L"one").Append(L"src");
  const FilePath to = dir_.Append(L"two").Append(L"dst");
  ASSERT_TRUE(CreateDirectoryAndGetError(from.Append(L"sub"), nullptr));
  ASSERT_TRUE(CreateDirectoryAndGetError(to, nullptr));
  WriteTextFile(from.Append(L"sub").Append(L"f"));
  WriteTextFile(to.Append(L"existing"));
  SetReadOnly(from.Append(L"sub").Append(L"f"));
  ASSERT_FALSE(::MoveFileExW(from.value().c_str(), to.value().c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));

  EXPECT_TRUE(Move(from, to));
  EXPECT_FALSE(PathExists(from));
  EXPECT_TRUE(PathExists(to.Append(L"existing")));
  EXPECT_TRUE(PathExists(to.Append(L"src").Append(L"sub").Append(L"f")));
}

TEST_F(FileUtilTest, MovePath_FailureLeavesTheRenameError) {
  WriteTextFile(dir_.Append(L"file"));
  MakeDir(dir_.Append(L"dir"));
  MakeDir(dir_.Append(L"src"));
  WriteTextFile(dir_.Append(L"src").Append(L"inside"));
  MakeDir(dir_.Append(L"dir").Append(L"src"));
  // A file onto a directory (no fallback for files), a directory below a file
  // (the fallback copy fails too), into a directory that already holds its
  // name (nothing is merged), and into itself spelt in other letter case.
  const struct {
    FilePath from;
    FilePath to;
  } cases[] = {
      {dir_.Append(L"file"), dir_.Append(L"dir")},
      {dir_.Append(L"src"), dir_.Append(L"file").Append(L"below")},
      {dir_.Append(L"src"), dir_.Append(L"dir")},
      {dir_.Append(L"src"), dir_.Append(L"SRC").Append(L"into")},  // itself: no copy
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to.value().c_str());
    ASSERT_FALSE(::MoveFileExW(c.from.value().c_str(), c.to.value().c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    const DWORD expected = ::GetLastError();
    ::SetLastError(0);
    EXPECT_FALSE(MovePath(c.from, c.to));
    EXPECT_EQ(::GetLastError(), expected);
    EXPECT_TRUE(PathExists(c.from));
  }
  EXPECT_TRUE(PathExists(dir_.Append(L"src").Append(L"inside")));
  EXPECT_TRUE(IsDirectoryEmpty(dir_.Append(L"dir").Append(L"src")));
  EXPECT_FALSE(PathExists(dir_.Append(L"src").Append(L"into")));
}

TEST_F(FileUtilTest, Move_RefusalsLeaveLastErrorAlone) {
  WriteTextFile(dir_.Append(L"file"));
  std::wstring long_name = dir_.value() + L"\\";
  long_name.append(260 - long_name.size(), L'q');
  const struct {
    FilePath from;
    FilePath to;
  } cases[] = {
      {dir_.Append(L"..").Append(L"file"), dir_.Append(L"x")},
      {dir_.Append(L"file"), dir_.Append(L"a").Append(L"..").Append(L"x")},
      {dir_.Append(L"file"), FilePath(long_name)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.to.value().c_str());
    ::SetLastError(12345);
    EXPECT_FALSE(Move(c.from, c.to));
    EXPECT_EQ(::GetLastError(), 12345u);
  }
  EXPECT_TRUE(PathExists(dir_.Append(L"file")));
}

TEST_F(FileUtilTest, CopyDirectoryTree_RefusesItselfAndCopiesIntoExisting) {
  const FilePath from = dir_.Append(L"src");
  ASSERT_TRUE(CreateDirectoryAndGetError(from.Append(L"sub"), nullptr));
  WriteTextFile(from.Append(L"sub").Append(L"ro"));
  SetReadOnly(from.Append(L"sub").Append(L"ro"));
  // The file system ignores letter case, and so does the refusal.
  const struct {
    FilePath from;
    FilePath to;
  } refused[] = {
      {from, from},
      {from, from.Append(L"sub").Append(L"inner")},
      {from, dir_.Append(L"SRC")},
      {from, dir_.Append(L"Src").Append(L"new")},
      {from, dir_.Append(L"sRC").Append(L"SUB").Append(L"inner")},
      {dir_.Append(L"missing"), dir_.Append(L"m2")},
  };
  for (const auto& c : refused) {
    SCOPED_TRACE(c.to.value().c_str());
    EXPECT_FALSE(CopyDirectoryTree(c.from, c.to, true, false));
  }
  FileEnumerator inside(from, true, FileEnumerator::kFiles | FileEnumerator::kDirectories);
  EXPECT_EQ(inside.Next(), from.Append(L"sub"));
  EXPECT_EQ(inside.Next(), from.Append(L"sub").Append(L"ro"));
  EXPECT_TRUE(inside.Next().empty());

  MakeDir(dir_.Append(L"dst"));
  EXPECT_TRUE(CopyDirectoryTree(from, dir_.Append(L"dst"), true, false));
  const FilePath copy = dir_.Append(L"dst").Append(L"src").Append(L"sub").Append(L"ro");
  const DWORD attributes = ::GetFileAttributesW(copy.value().c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
  EXPECT_FALSE(attributes & FILE_ATTRIBUTE_READONLY);
  EXPECT_TRUE(PathExists(from.Append(L"sub").Append(L"ro")));
}

TEST_F(FileUtilTest, PathQueriesMatchThePlatform) {
  wchar_t buffer[MAX_PATH];
  FilePath current;
  ASSERT_TRUE(GetCurrentDirectory(&current));
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, buffer), 0u);
  EXPECT_EQ(current, FilePath(buffer).StripTrailingSeparators());
  EXPECT_FALSE(GetHomeDir().empty());
  const FilePath absolute = MakeAbsoluteFilePath(FilePath(L"x\\..\\y"));
  EXPECT_EQ(absolute, current.Append(L"y"));
}

TEST_F(FileUtilTest, FileEnumerator_OrderTypesAndPattern) {
  MakeDir(dir_.Append(L"d.log"));
  MakeDir(dir_.Append(L"e"));
  WriteTextFile(dir_.Append(L"a.log"));
  WriteTextFile(dir_.Append(L"b.txt"));
  WriteTextFile(dir_.Append(L"d.log").Append(L"x.txt"));
  WriteTextFile(dir_.Append(L"e").Append(L"y.log"));

  auto list = [](FileEnumerator* e) {
    std::vector<std::wstring> names;
    for (FilePath p = e->Next(); !p.empty(); p = e->Next())
      names.push_back(p.value());
    std::sort(names.begin(), names.end());
    return names;
  };
  const std::wstring d = dir_.value() + L"\\";
  {
    FileEnumerator e(dir_, true, FileEnumerator::kFiles | FileEnumerator::kDirectories, L"*.log");
    EXPECT_EQ(list(&e),
              (std::vector<std::wstring>{d + L"a.log", d + L"d.log", d + L"d.log\\x.txt"}));
    EXPECT_EQ(e.GetInfo().find_data().dwFileAttributes, 0u);
  }
  {
    FileEnumerator e(dir_, false, FileEnumerator::kDirectories);
    EXPECT_EQ(list(&e), (std::vector<std::wstring>{d + L"d.log", d + L"e"}));
  }
  {
    FileEnumerator e(dir_, true, FileEnumerator::kFiles);
    EXPECT_EQ(list(&e), (std::vector<std::wstring>{d + L"a.log", d + L"b.txt", d + L"d.log\\x.txt",
                                                   d + L"e\\y.log"}));
  }
  {
    // ".." is reported on request, and never walked into.
    FileEnumerator e(dir_.Append(L"e"), true,
                     FileEnumerator::kDirectories | FileEnumerator::kIncludeDotDot);
    EXPECT_EQ(list(&e), (std::vector<std::wstring>{d + L"e\\.."}));
  }
  {
    FileEnumerator e(dir_, true, FileEnumerator::kFiles | FileEnumerator::kDirectories);
    std::vector<std::wstring> names;
    for (FilePath p = e.Next(); !p.empty(); p = e.Next()) {
      names.push_back(p.value());
      // Skipping after a file, or twice, must not drop another directory.
      const bool skipped = p.BaseName().value() == L"d.log";
      if (skipped || !e.GetInfo().IsDirectory())
        e.SkipLastDirectory();
      if (skipped)
        e.SkipLastDirectory();
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::wstring>{d + L"a.log", d + L"b.txt", d + L"d.log", d + L"e",
                                                d + L"e\\y.log"}));
  }
  {
    FileEnumerator e(dir_.Append(L"missing"), true, FileEnumerator::kFiles);
    EXPECT_TRUE(e.Next().empty());
  }
  EXPECT_FALSE(IsDirectoryEmpty(dir_));
  EXPECT_TRUE(IsDirectoryEmpty(dir_.Append(L"missing")));
}

// The subdirectory found last is listed first.
TEST_F(FileUtilTest, FileEnumerator_ListsLastFoundDirectoryFirst) {
  MakeDir(dir_.Append(L"p"));
  MakeDir(dir_.Append(L"q"));
  WriteTextFile(dir_.Append(L"p").Append(L"1"));
  WriteTextFile(dir_.Append(L"q").Append(L"2"));
  std::vector<std::wstring> top;
  {
    FileEnumerator e(dir_, false, FileEnumerator::kDirectories);
    for (FilePath p = e.Next(); !p.empty(); p = e.Next())
      top.push_back(p.BaseName().value());
  }
  ASSERT_EQ(top.size(), 2u);
  FileEnumerator e(dir_, true, FileEnumerator::kFiles | FileEnumerator::kDirectories);
  std::vector<std::wstring> all;
  for (FilePath p = e.Next(); !p.empty(); p = e.Next())
    all.push_back(p.BaseName().value());
  const std::wstring first_file = top[1] == L"p" ? L"1" : L"2";
  const std::wstring second_file = top[1] == L"p" ? L"2" : L"1";
  EXPECT_EQ(all, (std::vector<std::wstring>{top[0], top[1], first_file, second_file}));
}

// The host-made links of the test's link fixture, or an empty path when the
// test runs without it.
FilePath LinkFixtureDir() {
  const char* dir = std::getenv("BASE_FILES_LINK_DIR");
  if (!dir || !*dir)
    return FilePath();
  std::wstring value = L"Z:";
  for (const char* c = dir; *c; ++c)
    value.push_back(*c == '/' ? L'\\' : static_cast<wchar_t>(*c));
  return FilePath(value);
}

TEST(FileUtilLinks, RecursiveDeleteNeverEntersADirectoryLink) {
  const FilePath dir = LinkFixtureDir();
  if (dir.empty())
    GTEST_SKIP() << "runs with the link fixture of ctest";
  const FilePath target = dir.Append(L"target");
  const FilePath target_files[] = {target.Append(L"a.txt"), target.Append(L"sub").Append(L"b.txt")};
  for (const FilePath& link : {dir.Append(L"link"), dir.Append(L"tree").Append(L"link")}) {
    const DWORD attributes = ::GetFileAttributesW(link.value().c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(attributes & FILE_ATTRIBUTE_REPARSE_POINT) << attributes;
  }

  // The link itself, and a tree that holds one.
  const struct {
    FilePath path;
    FilePath link;
  } cases[] = {
      {dir.Append(L"link"), dir.Append(L"link")},
      {dir.Append(L"tree"), dir.Append(L"tree").Append(L"link")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path.value().c_str());
    const bool deleted = DeleteFile(c.path, true);
    for (const FilePath& f : target_files)
      EXPECT_TRUE(PathExists(f)) << f.value().c_str();
    // The result is the link removal's: success exactly when it is gone.
    EXPECT_EQ(deleted, !PathExists(c.link));
  }
  EXPECT_FALSE(PathExists(dir.Append(L"tree").Append(L"file.txt")));
}

// The names below `dir` that a fallback move gives copies and trash.
std::vector<std::wstring> MoveLeftovers(const FilePath& dir) {
  std::vector<std::wstring> found;
  FileEnumerator e(dir, false, FileEnumerator::kFiles | FileEnumerator::kDirectories);
  for (FilePath p = e.Next(); !p.empty(); p = e.Next()) {
    const std::wstring name = p.BaseName().value();
    if (name.find(kCopySuffix) != std::wstring::npos ||
        name.find(kTrashSuffix) != std::wstring::npos)
      found.push_back(name);
  }
  return found;
}

TEST(FileUtilLinks, MoveToAnotherVolumeArrivesWholeOrNotAtAll) {
  const FilePath dir = LinkFixtureDir();
  if (dir.empty() || !DirectoryExists(dir.Append(L"other")))
    GTEST_SKIP() << "runs with the link fixture of ctest, on a host with a second file system";
  const FilePath other = dir.Append(L"other");
  const FilePath src = other.Append(L"src");
  auto make_source = [&] {
    ASSERT_TRUE(CreateDirectoryAndGetError(src.Append(L"sub"), nullptr));
    WriteTextFile(src.Append(L"sub").Append(L"f"), "f");
    WriteTextFile(src.Append(L"top"), "t");
  };
  make_source();

  // A source file nobody else may read: the copy fails and is removed again.
  testing_support::ScopedFileHandle held(::CreateFileW(
      src.Append(L"top").value().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  EXPECT_FALSE(Move(src, dir.Append(L"moved")));
  held.reset();
  EXPECT_FALSE(PathExists(dir.Append(L"moved")));
  EXPECT_TRUE(PathExists(src.Append(L"top")));
  EXPECT_TRUE(MoveLeftovers(dir).empty());

  // The copy stands complete under its name; the source went to the trash.
  EXPECT_TRUE(Move(src, dir.Append(L"moved")));
  EXPECT_TRUE(PathExists(dir.Append(L"moved").Append(L"sub").Append(L"f")));
  EXPECT_FALSE(PathExists(src));
  EXPECT_TRUE(MoveLeftovers(dir).empty());
  EXPECT_TRUE(MoveLeftovers(other).empty());

  // Asked for, the trash is left to the caller.
  make_source();
  FilePath trash;
  EXPECT_TRUE(Move(src, dir.Append(L"moved2"), &trash));
  EXPECT_FALSE(PathExists(src));
  EXPECT_EQ(trash.DirName(), other);
  EXPECT_TRUE(PathExists(trash.Append(L"sub").Append(L"f")));
  EXPECT_TRUE(DeleteFile(trash, true));
  EXPECT_TRUE(DeleteFile(dir.Append(L"moved"), true));
  EXPECT_TRUE(DeleteFile(dir.Append(L"moved2"), true));
}

TEST_F(FileUtilTest, DeleteFile_RecordsOutcomeHistograms) {
  std::unique_ptr<StatisticsRecorder> recorder = StatisticsRecorder::CreateTemporaryForTesting();
  const FilePath tree = dir_.Append(L"ro_tree");
  MakeDir(tree);
  WriteTextFile(tree.Append(L"f"));
  SetReadOnly(tree.Append(L"f"));
  SetReadOnly(tree);
  const FilePath locked = dir_.Append(L"locked");
  WriteTextFile(locked);
  testing_support::ScopedFileHandle file(::CreateFileW(
      locked.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(file.valid());
  ASSERT_FALSE(::DeleteFileW(locked.value().c_str()));
  const int lock_error = static_cast<int>(::GetLastError());

  const FilePath full = dir_.Append(L"full");
  MakeDir(full);
  WriteTextFile(full.Append(L"f"));

  EXPECT_TRUE(DeleteFile(dir_.Append(L"missing"), false));
  EXPECT_FALSE(DeleteFile(locked, false));
  EXPECT_FALSE(DeleteFile(full, false));
  EXPECT_TRUE(DeleteFile(tree, true));
  file.reset();
  // A code without a mapping is counted as unknown.
  EXPECT_EQ(FileErrorFromWin32(ERROR_INVALID_NAME), FileError::Failed);
  EXPECT_EQ(FileErrorFromWin32(ERROR_ACCESS_DENIED), FileError::AccessDenied);

  const struct {
    const char* name;
    std::vector<std::pair<int, int>> counts;  // sample, count
  } cases[] = {
      {"Windows.PostOperationState.DeleteFile.NonRecursive", {{0, 1}, {6, 1}, {7, 1}}},
      {"Windows.PostOperationState.DeleteFile.Recursive", {{0, 1}}},
      {"Windows.FilesystemError.DeleteFile.NonRecursive", {{lock_error, 1}, {145, 1}}},
      {"PlatformFile.UnknownErrors.Windows", {{ERROR_INVALID_NAME, 1}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HistogramBase* histogram = StatisticsRecorder::FindHistogram(c.name);
    ASSERT_NE(histogram, nullptr);
    std::unique_ptr<HistogramSamples> samples = histogram->SnapshotSamples();
    int total = 0;
    for (const auto& [sample, count] : c.counts) {
      EXPECT_EQ(samples->CountOf(sample), count) << sample;
      total += count;
    }
    EXPECT_EQ(samples->SampleCount(), total);
  }
  EXPECT_EQ(StatisticsRecorder::FindHistogram("Windows.FilesystemError.DeleteFile.Recursive"),
            nullptr);
}

}  // namespace
}  // namespace base
