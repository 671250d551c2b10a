// A caller built with UNICODE, as wide Win32 programs are; file_util_unittest.cc
// is one built without. Both must reach the same functions under their own
// names, whatever <windows.h> maps DeleteFile and GetCurrentDirectory to.
#define UNICODE
#define _UNICODE

#include "base/files/file_util.h"

#include "base/platform/windows_types.h"
#include "gtest/gtest.h"
#include "testing/scoped_temp_dir.h"

#if defined(DeleteFile) || defined(GetCurrentDirectory)
#error "file_util.h must leave DeleteFile and GetCurrentDirectory unmapped"
#endif

namespace base {
namespace {

TEST(FileUtilUnicodeCaller, DeleteFileAndGetCurrentDirectoryKeepTheirNames) {
  FilePath current;
  ASSERT_TRUE(GetCurrentDirectory(&current));
  wchar_t buffer[MAX_PATH];
  ASSERT_GT(::GetCurrentDirectoryW(MAX_PATH, buffer), 0u);
  EXPECT_EQ(current, FilePath(buffer).StripTrailingSeparators());

  const testing_support::ScopedTempDir temp(L"file_util_unicode");
  const FilePath file(temp.Append(L"file"));
  ASSERT_TRUE(testing_support::WriteTestFile(file.value(), ""));
  EXPECT_TRUE(DeleteFile(file, false));
  EXPECT_FALSE(PathExists(file));
}

}  // namespace
}  // namespace base
