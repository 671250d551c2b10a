// A caller built with UNICODE, as wide Win32 programs are; file_util_unittest.cc
// is one built without. Both must reach the same functions under their own
// names, whatever <windows.h> maps DeleteFile and GetCurrentDirectory to.
#define UNICODE
#define _UNICODE

#include "base/files/file_util.h"

#include "base/platform/windows_types.h"
#include "gtest/gtest.h"

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

  FilePath temp;
  ASSERT_TRUE(GetTempDir(&temp));
  const FilePath file =
      temp.Append(L"file_util_unicode_" + std::to_wstring(::GetCurrentProcessId()));
  HANDLE handle = ::CreateFileW(file.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  ::CloseHandle(handle);
  EXPECT_TRUE(DeleteFile(file, false));
  EXPECT_FALSE(PathExists(file));
}

}  // namespace
}  // namespace base
