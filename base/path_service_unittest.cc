#include "base/path_service.h"

#include <atomic>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/base_paths_win.h"
#include "base/environment.h"
#include "base/platform/windows_types.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/windows_version.h"
#include "gtest/gtest.h"
#include "testing/scoped_temp_dir.h"

#include <objbase.h>
#include <shlobj.h>

namespace base {
namespace {

std::optional<FilePath> ShellFolder(int csidl) {
  wchar_t buffer[MAX_PATH + 1] = {};
  if (FAILED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) ||
      buffer[0] == L'\0') {
    return std::nullopt;
  }
  return FilePath(buffer);
}

FilePath ExePath() {
  wchar_t buffer[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  EXPECT_GT(length, 0u);
  return FilePath(std::wstring_view(buffer, length));
}

FilePath TempPath() {
  return FilePath(testing_support::TempFolder());
}

FilePath CurrentDirectory() {
  wchar_t buffer[MAX_PATH + 1] = {};
  ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return FilePath(buffer).StripTrailingSeparators();
}

std::optional<FilePath> Joined(std::optional<FilePath> base,
                               std::initializer_list<const char*> components) {
  if (!base)
    return std::nullopt;
  for (const char* component : components)
    base = base->AppendASCII(component);
  return base;
}

std::optional<FilePath> Lookup(int key) {
  FilePath path;
  if (!PathService::Get(key, &path))
    return std::nullopt;
  return path;
}

// The text of a lookup answer, or nothing, for comparisons that print well.
std::optional<std::wstring> Text(const std::optional<FilePath>& path) {
  if (!path)
    return std::nullopt;
  return path->value();
}

// Program Files of the 32-bit programs: the only one on 32-bit Windows.
std::optional<FilePath> ProgramFilesX86() {
  return win::OSInfo::GetInstance()->architecture() == win::WindowsArchitecture::kX86
             ? ShellFolder(CSIDL_PROGRAM_FILES)
             : ShellFolder(CSIDL_PROGRAM_FILESX86);
}

// Program Files of the native programs: under WOW64 only the environment
// names it.
std::optional<FilePath> ProgramFiles6432() {
  if (win::OSInfo::GetInstance()->wow64_status() != win::Wow64Status::kWow64Enabled)
    return ShellFolder(CSIDL_PROGRAM_FILES);
  wchar_t buffer[MAX_PATH + 1] = {};
  if (!::GetEnvironmentVariableW(L"ProgramW6432", buffer, MAX_PATH))
    return std::nullopt;
  return FilePath(buffer);
}

// The known folder of application shortcuts, which exists from Windows 8.
std::optional<FilePath> AppShortcuts() {
  if (win::GetWindowsVersion() < win::WindowsVersion::kWin8)
    return std::nullopt;
  // {A3918781-E5F2-4890-B3D9-A7E54332328C}
  const GUID id = {0xa3918781, 0xe5f2, 0x4890, {0xb3, 0xd9, 0xa7, 0xe5, 0x43, 0x32, 0x32, 0x8c}};
  wchar_t* path = nullptr;
  const HRESULT hr = ::SHGetKnownFolderPath(id, 0, nullptr, &path);
  std::optional<FilePath> folder;
  if (SUCCEEDED(hr) && path && path[0])
    folder = FilePath(path);
  ::CoTaskMemFree(path);
  return folder;
}

// base\test\data below the grandparent of the program's folder, only when
// it exists.
std::optional<FilePath> TestData() {
  const FilePath data =
      ExePath().DirName().DirName().DirName().AppendASCII("base").AppendASCII("test").AppendASCII(
          "data");
  if (::GetFileAttributesW(data.value().c_str()) == INVALID_FILE_ATTRIBUTES)
    return std::nullopt;
  return data;
}

TEST(PathService, EveryKey_MatchesWhatThePlatformReports) {
  wchar_t windows[MAX_PATH + 1] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  wchar_t system[MAX_PATH + 1] = {};
  ::GetSystemDirectoryW(system, MAX_PATH);
  const FilePath exe = ExePath();
  const std::optional<FilePath> app_data = ShellFolder(CSIDL_APPDATA);
  const std::optional<FilePath> quick_launch =
      Joined(app_data, {"Microsoft", "Internet Explorer", "Quick Launch"});
  const std::optional<FilePath> profile = ShellFolder(CSIDL_PROFILE);

  const struct {
    int key;
    std::optional<FilePath> expected;
  } cases[] = {
      {DIR_CURRENT, CurrentDirectory()},
      {DIR_EXE, exe.DirName()},
      {DIR_MODULE, exe.DirName()},  // The code under test is in the executable.
      {DIR_MODULE_ALIAS, exe.DirName()},
      {DIR_TEMP, TempPath()},
      {DIR_HOME, profile ? *profile : TempPath()},
      {FILE_EXE, exe},
      {FILE_MODULE, exe},
      {DIR_EXE_GRANDPARENT, exe.DirName().DirName().DirName()},
      {DIR_USER_DESKTOP, ShellFolder(CSIDL_DESKTOPDIRECTORY)},
      {DIR_WINDOWS, FilePath(windows)},
      {DIR_SYSTEM, FilePath(system)},
      {DIR_PROGRAM_FILES, ShellFolder(CSIDL_PROGRAM_FILES)},
      {DIR_PROGRAM_FILESX86, ProgramFilesX86()},
      {DIR_PROGRAM_FILES6432, ProgramFiles6432()},
      {DIR_INTERNET_CACHE, ShellFolder(CSIDL_INTERNET_CACHE)},
      {DIR_COMMON_PROGRAMS, ShellFolder(CSIDL_COMMON_PROGRAMS)},
      {DIR_PROGRAMS, ShellFolder(CSIDL_PROGRAMS)},
      {DIR_APP_DATA, app_data},
      {DIR_LOCAL_APP_DATA, ShellFolder(CSIDL_LOCAL_APPDATA)},
      {DIR_COMMON_APP_DATA, ShellFolder(CSIDL_COMMON_APPDATA)},
      {DIR_COMMON_DESKTOP, ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY)},
      {DIR_QUICK_LAUNCH, quick_launch},
      {DIR_TASKBAR_PINS, Joined(quick_launch, {"User Pinned", "TaskBar"})},
      {DIR_IMPLICIT_APP_SHORTCUTS, Joined(quick_launch, {"User Pinned", "ImplicitAppShortcuts"})},
      {DIR_FONTS, ShellFolder(CSIDL_FONTS)},
      {DIR_APP_SHORTCUTS, AppShortcuts()},
      {DIR_TEST_DATA, TestData()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "key " << c.key);
    // Twice: the second answer comes from the cache and must not differ.
    for (int round = 0; round < 2; ++round) {
      const std::optional<FilePath> actual = Lookup(c.key);
      EXPECT_EQ(Text(c.expected), Text(actual));
    }
  }
}

TEST(PathService, UnknownKeys_FailAndLeaveResultUnchanged) {
  for (int key : {-1, 0, 12, 50, 99, 100, 118, 5000000}) {
    SCOPED_TRACE(testing::Message() << "key " << key);
    FilePath result(L"untouched");
    EXPECT_FALSE(PathService::Get(key, &result));
    EXPECT_EQ(L"untouched", result.value());
  }
}

TEST(PathService, ModulePath_TruncatedNameIsFailure) {
  const FilePath exe = ExePath();
  const size_t length = exe.value().size();
  FilePath result(L"untouched");
  // A buffer exactly as long as the name has no room for its NUL: cut.
  EXPECT_FALSE(internal::GetModuleFilePath(nullptr, length, &result));
  EXPECT_EQ(L"untouched", result.value());
  EXPECT_TRUE(internal::GetModuleFilePath(nullptr, length + 1, &result));
  EXPECT_EQ(exe.value(), result.value());
}

TEST(PathService, CurrentDirectory_IsNeverCached) {
  const FilePath original = CurrentDirectory();
  const FilePath exe_dir = ExePath().DirName();
  const FilePath temp = TempPath();
  for (const FilePath& dir : {exe_dir, temp, exe_dir}) {
    SCOPED_TRACE(testing::Message() << dir);
    ASSERT_TRUE(::SetCurrentDirectoryW(dir.value().c_str()));
    FilePath current;
    ASSERT_TRUE(PathService::Get(DIR_CURRENT, &current));
    EXPECT_EQ(CurrentDirectory().value(), current.value());
  }
  ASSERT_TRUE(::SetCurrentDirectoryW(original.value().c_str()));
}

TEST(PathService, Cache_KeepsFirstAnswerUntilDisabled) {
  const FilePath first = Lookup(DIR_TEMP).value();
  std::unique_ptr<Environment> env = Environment::Create();
  std::string tmp, temp;
  const bool had_tmp = env->GetVariable("TMP", &tmp);
  const bool had_temp = env->GetVariable("TEMP", &temp);
  const std::string other = WideToUTF8(ExePath().DirName().value());
  ASSERT_TRUE(env->SetVariable("TMP", other));
  ASSERT_TRUE(env->SetVariable("TEMP", other));
  ASSERT_NE(first.value(), TempPath().value());

  EXPECT_EQ(first.value(), Lookup(DIR_TEMP)->value());
  PathService::DisableCache(true);
  EXPECT_EQ(TempPath().value(), Lookup(DIR_TEMP)->value());
  PathService::DisableCache(false);

  had_tmp ? env->SetVariable("TMP", tmp) : env->UnsetVariable("TMP");
  had_temp ? env->SetVariable("TEMP", temp) : env->UnsetVariable("TEMP");
  EXPECT_EQ(first.value(), Lookup(DIR_TEMP)->value());
}

// Keys 7000 to 7003 belong to this provider; it counts its calls.
std::atomic<int> g_counted_calls{0};

bool CountingProvider(int key, FilePath* result) {
  switch (key) {
    case 7000:
      ++g_counted_calls;
      *result = FilePath(L"C:\\counted");
      return true;
    case 7001:
      *result = FilePath(L"C:\\a\\..\\b");
      return true;
    case 7002:
      *result = FilePath();  // Answered, but with nothing.
      return true;
    case 7003: {
      // Re-enters the lookup: the lock is not held while providers run.
      FilePath inner;
      if (!PathService::Get(7000, &inner))
        return false;
      *result = inner.AppendASCII("x");
      return true;
    }
    default:
      return false;
  }
}

TEST(PathService, Providers_CachedReenteredAndChecked) {
  static bool registered = false;
  if (!registered) {
    PathService::RegisterProvider(CountingProvider);
    registered = true;
  }
  const int before = g_counted_calls;
  EXPECT_EQ(L"C:\\counted", Lookup(7000)->value());
  EXPECT_EQ(L"C:\\counted", Lookup(7000)->value());
  EXPECT_EQ(L"C:\\counted\\x", Lookup(7003)->value());
  EXPECT_EQ(before + 1, g_counted_calls);

  // A path with a parent reference is made absolute.
  EXPECT_EQ(L"C:\\b", Lookup(7001)->value());

  FilePath result(L"untouched");
  EXPECT_FALSE(PathService::Get(7002, &result));
  EXPECT_EQ(L"untouched", result.value());
}

TEST(PathService, Override_ReplacesAnswerUntilRemoved) {
  const std::optional<FilePath> fonts = Lookup(DIR_FONTS);
  ASSERT_TRUE(PathService::Override(DIR_FONTS, FilePath(L"C:\\my fonts")));
  EXPECT_EQ(L"C:\\my fonts", Lookup(DIR_FONTS)->value());
  EXPECT_TRUE(PathService::RemoveOverride(DIR_FONTS));
  EXPECT_FALSE(PathService::RemoveOverride(DIR_FONTS));
  EXPECT_EQ(Text(fonts), Text(Lookup(DIR_FONTS)));

  ASSERT_TRUE(PathService::Override(7100, FilePath(L"D:\\x")));
  EXPECT_EQ(L"D:\\x", Lookup(7100)->value());
  EXPECT_TRUE(PathService::RemoveOverride(7100));
  EXPECT_FALSE(Lookup(7100).has_value());

  EXPECT_FALSE(PathService::Override(DIR_CURRENT, FilePath(L"C:\\")));
  EXPECT_FALSE(PathService::Override(7101, FilePath()));
}

// Threads missing the cache together get the same answers as one thread.
TEST(PathService, ConcurrentLookups_MatchSerialOracle) {
  std::vector<int> keys;
  for (int key = 0; key <= 12; ++key)
    keys.push_back(key);
  for (int key = 100; key <= 118; ++key)
    keys.push_back(key);

  PathService::DisableCache(true);
  std::map<int, std::optional<FilePath>> oracle;
  for (int key : keys)
    oracle[key] = Lookup(key);
  PathService::DisableCache(false);  // Starts empty: the threads race to fill it.

  constexpr int kThreads = 4;
  std::vector<std::map<int, std::optional<FilePath>>> seen(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&keys, &seen, t] {
      for (int round = 0; round < 2; ++round) {
        for (size_t i = 0; i < keys.size(); ++i) {
          // Each thread walks the keys from a different start.
          const int key = keys[(i + t * 7) % keys.size()];
          seen[t][key] = Lookup(key);
        }
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t) {
    for (int key : keys) {
      SCOPED_TRACE(testing::Message() << "thread " << t << " key " << key);
      EXPECT_EQ(Text(oracle[key]), Text(seen[t][key]));
    }
  }
}

}  // namespace
}  // namespace base
