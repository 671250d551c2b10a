#include "base/base_paths_win.h"

#include <memory>
#include <string>
#include <vector>

#include "base/environment.h"
#include "base/os_paths.h"
#include "base/path_service.h"
#include "base/platform/scoped_any_win.h"
#include "base/platform/windows_types.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"

#include <objbase.h>
#include <shlobj.h>

namespace base {

namespace {

// {A3918781-E5F2-4890-B3D9-A7E54332328C}
constexpr GUID kFolderIdApplicationShortcuts = {0xa3918781,
                                                0xe5f2,
                                                0x4890,
                                                {0xb3, 0xd9, 0xa7, 0xe5, 0x43, 0x32, 0x32, 0x8c}};

// A string the shell allocated with CoTaskMemAlloc.
struct CoTaskMemoryTraits {
  using Type = wchar_t*;
  static wchar_t* InvalidValue() { return nullptr; }
  static void Free(wchar_t* memory) { ::CoTaskMemFree(memory); }
};

// A shell folder of the current user (or all users) as it is now.
bool GetShellFolder(int csidl, FilePath* result) {
  wchar_t buffer[MAX_PATH + 1] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)))
    return false;
  *result = FilePath(buffer);
  return true;
}

bool GetApplicationShortcutsPath(FilePath* result) {
  if (win::GetWindowsVersion() < win::WindowsVersion::kWin8)
    return false;
  // The shell may hand out a buffer even when it fails; it is ours to free.
  win::ScopedAny<CoTaskMemoryTraits> path;
  const HRESULT hr =
      ::SHGetKnownFolderPath(kFolderIdApplicationShortcuts, 0, nullptr, path.Receive());
  if (FAILED(hr) || !path)
    return false;
  *result = FilePath(path.get());
  return true;
}

// The path of `key` joined with `components`, through PathService so the
// intermediate answer is cached too.
bool GetJoinedPath(int key, std::initializer_list<const char*> components, FilePath* result) {
  FilePath path;
  if (!PathService::Get(key, &path))
    return false;
  for (const char* component : components)
    path = path.AppendASCII(component);
  *result = path;
  return true;
}

}  // namespace

// The module that holds this code; in the updater it is the executable.
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace {

template <int csidl>
bool GetShellFolderOf(FilePath* result) {
  return GetShellFolder(csidl, result);
}

bool GetExePath(FilePath* result) {
  return internal::GetModuleFilePath(nullptr, MAX_PATH, result);
}

bool GetModulePath(FilePath* result) {
  return internal::GetModuleFilePath(&__ImageBase, MAX_PATH, result);
}

bool GetExeGrandparentPath(FilePath* result) {
  // A failed DIR_EXE starts from the empty path, which yields ".".
  FilePath exe_dir;
  if (!PathService::Get(DIR_EXE, &exe_dir))
    exe_dir = FilePath();
  *result = exe_dir.DirName().DirName();
  return true;
}

bool GetWindowsDirectoryPath(FilePath* result) {
  // A failure leaves the buffer empty, which makes the lookup fail.
  wchar_t buffer[MAX_PATH + 1] = {};
  ::GetWindowsDirectoryW(buffer, MAX_PATH);
  *result = FilePath(buffer);
  return true;
}

bool GetSystemDirectoryPath(FilePath* result) {
  wchar_t buffer[MAX_PATH + 1] = {};
  ::GetSystemDirectoryW(buffer, MAX_PATH);
  *result = FilePath(buffer);
  return true;
}

bool GetProgramFilesX86Path(FilePath* result) {
  // 32-bit Windows has one Program Files folder.
  if (win::OSInfo::GetInstance()->architecture() == win::WindowsArchitecture::kX86)
    return GetShellFolder(CSIDL_PROGRAM_FILES, result);
  return GetShellFolder(CSIDL_PROGRAM_FILESX86, result);
}

bool GetProgramFiles6432Path(FilePath* result) {
  if (win::OSInfo::GetInstance()->wow64_status() != win::Wow64Status::kWow64Enabled)
    return GetShellFolder(CSIDL_PROGRAM_FILES, result);
  // The shell answers a WOW64 process with the 32-bit folder; the 64-bit one
  // is only in the environment.
  std::string program_files;
  if (!Environment::Create()->GetVariable("ProgramW6432", &program_files))
    return false;
  *result = FilePath(UTF8ToWide(program_files));
  return true;
}

bool GetQuickLaunchPath(FilePath* result) {
  return GetJoinedPath(DIR_APP_DATA, {"Microsoft", "Internet Explorer", "Quick Launch"}, result);
}

bool GetTaskbarPinsPath(FilePath* result) {
  return GetJoinedPath(DIR_QUICK_LAUNCH, {"User Pinned", "TaskBar"}, result);
}

bool GetImplicitAppShortcutsPath(FilePath* result) {
  return GetJoinedPath(DIR_QUICK_LAUNCH, {"User Pinned", "ImplicitAppShortcuts"}, result);
}

// Each key of WindowsPathProvider and how its folder is obtained. A getter
// fills `*result` and returns true, or returns false and leaves it alone.
constexpr struct {
  int key;
  bool (*get)(FilePath* result);
} kWindowsFolders[] = {
    {FILE_EXE, &GetExePath},
    {FILE_MODULE, &GetModulePath},
    {DIR_EXE_GRANDPARENT, &GetExeGrandparentPath},
    {DIR_USER_DESKTOP, &GetShellFolderOf<CSIDL_DESKTOPDIRECTORY>},
    {DIR_WINDOWS, &GetWindowsDirectoryPath},
    {DIR_SYSTEM, &GetSystemDirectoryPath},
    {DIR_PROGRAM_FILES, &GetShellFolderOf<CSIDL_PROGRAM_FILES>},
    {DIR_PROGRAM_FILESX86, &GetProgramFilesX86Path},
    {DIR_PROGRAM_FILES6432, &GetProgramFiles6432Path},
    {DIR_INTERNET_CACHE, &GetShellFolderOf<CSIDL_INTERNET_CACHE>},
    {DIR_COMMON_PROGRAMS, &GetShellFolderOf<CSIDL_COMMON_PROGRAMS>},
    {DIR_PROGRAMS, &GetShellFolderOf<CSIDL_PROGRAMS>},
    {DIR_APP_DATA, &GetShellFolderOf<CSIDL_APPDATA>},
    {DIR_LOCAL_APP_DATA, &GetShellFolderOf<CSIDL_LOCAL_APPDATA>},
    {DIR_COMMON_APP_DATA, &GetShellFolderOf<CSIDL_COMMON_APPDATA>},
    {DIR_APP_SHORTCUTS, &GetApplicationShortcutsPath},
    {DIR_COMMON_DESKTOP, &GetShellFolderOf<CSIDL_COMMON_DESKTOPDIRECTORY>},
    {DIR_QUICK_LAUNCH, &GetQuickLaunchPath},
    {DIR_TASKBAR_PINS, &GetTaskbarPinsPath},
    {DIR_IMPLICIT_APP_SHORTCUTS, &GetImplicitAppShortcutsPath},
    {DIR_FONTS, &GetShellFolderOf<CSIDL_FONTS>},
};

}  // namespace

bool WindowsPathProvider(int key, FilePath* result) {
  for (const auto& folder : kWindowsFolders) {
    if (folder.key != key)
      continue;
    FilePath path;
    if (!folder.get(&path))
      return false;
    *result = path;
    return true;
  }
  return false;
}

bool BasePathProvider(int key, FilePath* result) {
  FilePath path;
  switch (key) {
    case DIR_EXE:
      if (!PathService::Get(FILE_EXE, &path))
        return false;
      path = path.DirName();
      break;
    case DIR_MODULE:
      if (!PathService::Get(FILE_MODULE, &path))
        return false;
      path = path.DirName();
      break;
    case DIR_MODULE_ALIAS:
      if (!PathService::Get(DIR_MODULE, &path))
        return false;
      break;
    case DIR_TEMP:
      if (!GetTempDir(&path))
        return false;
      break;
    case DIR_HOME:
      path = GetHomeDir();
      break;
    case DIR_TEST_DATA:
      if (!GetJoinedPath(DIR_EXE_GRANDPARENT, {"base", "test", "data"}, &path))
        return false;
      if (::GetFileAttributesW(path.value().c_str()) == INVALID_FILE_ATTRIBUTES)
        return false;
      break;
    default:
      return false;
  }
  *result = path;
  return true;
}

namespace internal {

bool GetModuleFilePath(void* module, size_t buffer_units, FilePath* result) {
  std::vector<wchar_t> buffer(buffer_units + 1, L'\0');
  const DWORD length = ::GetModuleFileNameW(static_cast<HMODULE>(module), buffer.data(),
                                            static_cast<DWORD>(buffer_units));
  // A name that fills the buffer was cut: it is not the module's path.
  if (length == 0 || length >= buffer_units)
    return false;
  *result = FilePath(std::wstring_view(buffer.data(), length));
  return true;
}

}  // namespace internal

}  // namespace base
