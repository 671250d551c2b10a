#include "base/win/windows_version.h"

#include <string>
#include <thread>
#include <vector>

#include "base/platform/windows_types.h"
#include "gtest/gtest.h"
#include "testing/scoped_test_handle.h"

namespace base {
namespace win {
namespace {

TEST(WindowsVersion, MajorMinorBuildToVersion_Table) {
  const struct {
    int32_t major, minor, build;
    WindowsVersion expected;
  } cases[] = {
      {4, 90, 0, WindowsVersion::kPreXP},
      {5, 0, 2195, WindowsVersion::kPreXP},
      {5, 1, 2600, WindowsVersion::kXP},
      {5, 2, 3790, WindowsVersion::kServer2003},
      {5, 3, 0, WindowsVersion::kServer2003},
      {6, 0, 6002, WindowsVersion::kVista},
      {6, 1, 7601, WindowsVersion::kWin7},
      {6, 2, 9200, WindowsVersion::kWin8},
      {6, 3, 9600, WindowsVersion::kWin8_1},
      {6, 4, 0, WindowsVersion::kWin8_1},
      {10, 0, 10585, WindowsVersion::kWin10},
      {10, 0, 10586, WindowsVersion::kWin10Build10586},
      {10, 0, 14392, WindowsVersion::kWin10Build10586},
      {10, 0, 14393, WindowsVersion::kWin10Build14393},
      {10, 0, 15062, WindowsVersion::kWin10Build14393},
      {10, 0, 15063, WindowsVersion::kWin10Build15063},
      {10, 0, 16298, WindowsVersion::kWin10Build15063},
      {10, 0, 16299, WindowsVersion::kWin10Build16299},
      {10, 0, 17133, WindowsVersion::kWin10Build16299},
      {10, 0, 17134, WindowsVersion::kWin10Build17134},
      {10, 0, 22631, WindowsVersion::kWin10Build17134},
      {7, 0, 0, WindowsVersion::kLastVersion},
      {9, 9, 0, WindowsVersion::kLastVersion},
      {11, 0, 0, WindowsVersion::kLastVersion},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << "." << c.build);
    EXPECT_EQ(c.expected, OSInfo::MajorMinorBuildToVersion(c.major, c.minor, c.build));
  }
}

TEST(WindowsVersion, EditionFromVersionInfo_Table) {
  constexpr uint16_t kPersonal = VER_SUITE_PERSONAL;
  constexpr uint16_t kHomeServer = VER_SUITE_WH_SERVER;
  const struct {
    int32_t major, minor;
    uint32_t product;
    uint8_t product_type;
    uint16_t suite;
    WindowsArchitecture architecture;
    WindowsEdition expected;
  } cases[] = {
      {6, 1, 1, 0, 0, WindowsArchitecture::kX86, WindowsEdition::kProfessional},
      {10, 0, 48, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kProfessional},
      {10, 0, 4, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kEnterprise},
      {10, 0, 130, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kEnterprise},
      {6, 1, 7, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kServer},
      {6, 1, 25, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kServer},
      {6, 1, 11, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kHome},  // Between servers.
      {10, 0, 121, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kEducation},
      {10, 0, 122, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kEducation},
      {10, 0, 101, 0, 0, WindowsArchitecture::kX64, WindowsEdition::kHome},
      {5, 2, 0, VER_NT_WORKSTATION, 0, WindowsArchitecture::kX64, WindowsEdition::kProfessional},
      {5, 2, 0, VER_NT_WORKSTATION, 0, WindowsArchitecture::kX86, WindowsEdition::kServer},
      {5, 2, 0, VER_NT_SERVER, kHomeServer, WindowsArchitecture::kX86, WindowsEdition::kHome},
      {5, 1, 0, VER_NT_WORKSTATION, kPersonal, WindowsArchitecture::kX86, WindowsEdition::kHome},
      {5, 1, 0, VER_NT_WORKSTATION, 0, WindowsArchitecture::kX86, WindowsEdition::kProfessional},
      {5, 0, 4, 0, 0, WindowsArchitecture::kX86, WindowsEdition::kHome},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.major << "." << c.minor << " product " << c.product);
    EXPECT_EQ(c.expected, OSInfo::EditionFromVersionInfo(c.major, c.minor, c.product,
                                                         c.product_type, c.suite, c.architecture));
  }
}

TEST(WindowsVersion, ArchitectureFromProcessorArchitecture_Table) {
  const struct {
    uint32_t code;
    WindowsArchitecture expected;
  } cases[] = {
      {PROCESSOR_ARCHITECTURE_INTEL, WindowsArchitecture::kX86},
      {PROCESSOR_ARCHITECTURE_AMD64, WindowsArchitecture::kX64},
      {PROCESSOR_ARCHITECTURE_IA64, WindowsArchitecture::kIA64},
      {PROCESSOR_ARCHITECTURE_ARM, WindowsArchitecture::kOtherArchitecture},
      {PROCESSOR_ARCHITECTURE_UNKNOWN, WindowsArchitecture::kOtherArchitecture},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "code " << c.code);
    EXPECT_EQ(c.expected, OSInfo::ArchitectureFromProcessorArchitecture(c.code));
  }
}

TEST(WindowsVersion, OSInfo_MatchesWhatThePlatformReports) {
  OSVERSIONINFOEXW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ASSERT_TRUE(::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version)));
#pragma GCC diagnostic pop
  EXPECT_EQ(284u, sizeof(version));

  const OSInfo* os = OSInfo::GetInstance();
  EXPECT_EQ(static_cast<int32_t>(version.dwMajorVersion), os->version_number().major);
  EXPECT_EQ(static_cast<int32_t>(version.dwMinorVersion), os->version_number().minor);
  EXPECT_EQ(static_cast<int32_t>(version.dwBuildNumber), os->version_number().build);
  EXPECT_EQ(version.wServicePackMajor, os->service_pack().major);
  EXPECT_EQ(version.wServicePackMinor, os->service_pack().minor);
  EXPECT_EQ(OSInfo::MajorMinorBuildToVersion(version.dwMajorVersion, version.dwMinorVersion,
                                             version.dwBuildNumber),
            os->version());
  EXPECT_EQ(os->version(), GetWindowsVersion());
  // The service-pack text is ASCII on every release ("Service Pack 1").
  std::string service_pack;
  for (const wchar_t* p = version.szCSDVersion; *p; ++p)
    service_pack.push_back(static_cast<char>(*p));
  EXPECT_EQ(service_pack, os->service_pack_str());

  SYSTEM_INFO system = {};
  ::GetNativeSystemInfo(&system);
  EXPECT_EQ(OSInfo::ArchitectureFromProcessorArchitecture(system.wProcessorArchitecture),
            os->architecture());
  EXPECT_EQ(static_cast<int32_t>(system.dwNumberOfProcessors), os->processors());
  EXPECT_EQ(system.dwAllocationGranularity, os->allocation_granularity());

  BOOL wow64 = FALSE;
  ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64));
  EXPECT_EQ(wow64 ? Wow64Status::kWow64Enabled : Wow64Status::kWow64Disabled, os->wow64_status());
  // A 32-bit process on 64-bit Windows runs under WOW64 and sees the native
  // architecture.
  if (wow64) {
    EXPECT_EQ(WindowsArchitecture::kX64, os->architecture());
  }

  // The update build revision, when the registry has one.
  testing_support::ScopedRegistryKey key;
  DWORD ubr = 0;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_QUERY_VALUE, key.receive()) == ERROR_SUCCESS) {
    DWORD type = 0;
    DWORD size = sizeof(ubr);
    if (::RegQueryValueExW(key.get(), L"UBR", nullptr, &type, reinterpret_cast<BYTE*>(&ubr),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD) {
      ubr = 0;
    }
  }
  EXPECT_EQ(static_cast<int32_t>(ubr), os->version_number().patch);
}

TEST(WindowsVersion, Wow64Status_UnknownWhenTheCallFails) {
  // An invalid handle makes IsWow64Process itself fail.
  EXPECT_EQ(Wow64Status::kWow64Unknown, OSInfo::GetWow64StatusForProcess(nullptr));
}

TEST(WindowsVersion, GetInstance_OneRecordForAllThreads) {
  std::vector<const OSInfo*> seen(4, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i)
    threads.emplace_back([&seen, i] { seen[i] = OSInfo::GetInstance(); });
  for (std::thread& thread : threads)
    thread.join();
  for (const OSInfo* info : seen)
    EXPECT_EQ(OSInfo::GetInstance(), info);
}

}  // namespace
}  // namespace win
}  // namespace base
