#include "base/os_paths.h"

#include <stdlib.h>

#include <string_view>

#include "base/platform/windows_types.h"

#include <shlobj.h>

namespace base {

bool GetTempDir(FilePath* path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetTempPathW(MAX_PATH, buffer);
  if (length < 1 || length >= MAX_PATH)
    return false;
  *path = FilePath(std::wstring_view(buffer, length)).StripTrailingSeparators();
  return true;
}

FilePath GetHomeDir() {
  wchar_t buffer[MAX_PATH];
  if (SUCCEEDED(::SHGetFolderPathW(nullptr, CSIDL_PROFILE, nullptr, 0, buffer)) && buffer[0])
    return FilePath(buffer);
  FilePath temp;
  if (GetTempDir(&temp))
    return temp;
  return FilePath(L"C:\\");
}

bool GetCurrentDirectory(FilePath* path) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
  // A directory that fits comes back with at most MAX_PATH - 1 units; one that
  // does not comes back as the size it needs, terminator included, which is
  // then more than MAX_PATH. (MAX_PATH itself is never returned, so this test
  // and `length >= MAX_PATH` reject the same results.)
  if (length == 0 || length > MAX_PATH)
    return false;
  *path = FilePath(std::wstring_view(buffer, length)).StripTrailingSeparators();
  return true;
}

FilePath MakeAbsoluteFilePath(const FilePath& path) {
  wchar_t buffer[MAX_PATH];
  if (!::_wfullpath(buffer, path.value().c_str(), MAX_PATH))
    return FilePath();
  return FilePath(buffer);
}

}  // namespace base
