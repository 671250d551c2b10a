#include "base/environment.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "base/platform/windows_types.h"
#include "base/sys_info.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// The variable as the platform holds it, read with a generous buffer.
bool PlatformValue(const wchar_t* name, std::wstring* value) {
  wchar_t buffer[4096];
  ::SetLastError(ERROR_SUCCESS);
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, 4096);
  if (length == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND)
    return false;
  value->assign(buffer, length);
  return true;
}

TEST(Environment, SetGetUnset_UTF8NamesAndValues) {
  std::unique_ptr<Environment> env = Environment::Create();
  const std::string long_value(1000, 'x');
  const std::wstring wide_long_value(1000, L'x');
  const struct {
    const char* name;
    const char* value;
    const wchar_t* wide_name;
    const wchar_t* wide_value;
  } cases[] = {
      {"ENV_TEST_PLAIN", "value", L"ENV_TEST_PLAIN", L"value"},
      {"ENV_TEST_EMPTY", "", L"ENV_TEST_EMPTY", L""},
      {"ENV_TEST_\xc3\xa9", "\xe4\xb8\xad \xc3\xa9", L"ENV_TEST_\u00e9", L"\u4e2d \u00e9"},
      {"_env_test_underscore", "a=b", L"_env_test_underscore", L"a=b"},
      {"ENV_TEST_LONG", long_value.c_str(), L"ENV_TEST_LONG", wide_long_value.c_str()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(env->SetVariable(c.name, c.value));
    std::wstring platform;
    ASSERT_TRUE(PlatformValue(c.wide_name, &platform));
    EXPECT_EQ(c.wide_value, platform);

    std::string value = "stale";
    EXPECT_TRUE(env->GetVariable(c.name, &value));
    EXPECT_EQ(c.value, value);
    EXPECT_TRUE(env->HasVariable(c.name));

    ASSERT_TRUE(env->UnsetVariable(c.name));
    value = "untouched";
    EXPECT_FALSE(env->GetVariable(c.name, &value));
    EXPECT_EQ("untouched", value);
    EXPECT_FALSE(env->HasVariable(c.name));
    EXPECT_FALSE(PlatformValue(c.wide_name, &platform));
  }
}

TEST(Environment, GetVariable_FindsNameInEitherCase) {
  std::unique_ptr<Environment> env = Environment::Create();
  std::wstring expected;
  ASSERT_TRUE(PlatformValue(L"PATH", &expected));
  for (const char* name : {"PATH", "path", "Path"}) {
    SCOPED_TRACE(name);
    std::string value;
    EXPECT_TRUE(env->GetVariable(name, &value));
    EXPECT_EQ(expected.size(), value.size());  // PATH is ASCII here.
  }
}

TEST(Environment, GetVariable_EmptyNameIsNotFound) {
  std::unique_ptr<Environment> env = Environment::Create();
  std::string value = "untouched";
  EXPECT_FALSE(env->GetVariable("", &value));
  EXPECT_EQ("untouched", value);
  EXPECT_FALSE(env->HasVariable(""));
}

// One thread keeps switching a variable between a short and a long value;
// every read must give one of them whole, never a cut or empty one.
TEST(Environment, GetVariable_ValueGrowingBetweenCallsIsReadWhole) {
  std::unique_ptr<Environment> env = Environment::Create();
  const std::string short_value = "s";
  const std::string long_value(2000, 'L');
  ASSERT_TRUE(env->SetVariable("ENV_TEST_GROWING", short_value));

  std::atomic<bool> stop{false};
  std::thread writer([&] {
    std::unique_ptr<Environment> writer_env = Environment::Create();
    for (int i = 0; !stop; ++i)
      writer_env->SetVariable("ENV_TEST_GROWING", i % 2 ? long_value : short_value);
  });
  int bad_reads = 0;
  for (int i = 0; i < 20000; ++i) {
    std::string value;
    if (!env->GetVariable("ENV_TEST_GROWING", &value) ||
        (value != short_value && value != long_value)) {
      ++bad_reads;
    }
  }
  stop = true;
  writer.join();
  EXPECT_EQ(0, bad_reads);
  env->UnsetVariable("ENV_TEST_GROWING");
}

TEST(SysInfo, MatchesNativeSystemInfo) {
  SYSTEM_INFO info = {};
  ::GetNativeSystemInfo(&info);
  EXPECT_EQ(static_cast<int>(info.dwNumberOfProcessors), SysInfo::NumberOfProcessors());
  EXPECT_EQ(info.dwAllocationGranularity, SysInfo::VMAllocationGranularity());
  const char* architecture = "";
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      architecture = "x86";
      break;
    case PROCESSOR_ARCHITECTURE_AMD64:
      architecture = "x86_64";
      break;
    case PROCESSOR_ARCHITECTURE_IA64:
      architecture = "ia64";
      break;
  }
  EXPECT_EQ(architecture, SysInfo::OperatingSystemArchitecture());
}

}  // namespace
}  // namespace base
