#include "base/win/windows_version.h"

#include <atomic>

#include "base/platform/windows_types.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/registry.h"

namespace base {
namespace win {

namespace {

std::atomic<OSInfo*> g_os_info{nullptr};

using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
using GetProductInfoFunction = BOOL(WINAPI*)(DWORD, DWORD, DWORD, DWORD, PDWORD);

template <typename Function>
Function GetKernel32Function(const char* name) {
  const HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return nullptr;
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(kernel32, name)));
}

WindowsEdition EditionFromProductCode(uint32_t product_code) {
  switch (product_code) {
    case 1:   // Ultimate.
    case 48:  // Professional.
      return WindowsEdition::kProfessional;
    case 4:    // Enterprise.
    case 6:    // Business.
    case 16:   // Business N.
    case 27:   // Enterprise N.
    case 70:   // Enterprise E.
    case 72:   // Enterprise evaluation.
    case 84:   // Enterprise N evaluation.
    case 125:  // Enterprise LTSB.
    case 126:  // Enterprise LTSB N.
    case 129:  // Enterprise LTSB evaluation.
    case 130:  // Enterprise LTSB N evaluation.
      return WindowsEdition::kEnterprise;
    case 7:
    case 8:
    case 9:
    case 10:
    case 12:
    case 13:
    case 14:
    case 15:
    case 17:
    case 18:
    case 25:  // The server products.
      return WindowsEdition::kServer;
    case 121:  // Education.
    case 122:  // Education N.
      return WindowsEdition::kEducation;
    default:
      return WindowsEdition::kHome;
  }
}

}  // namespace

// static
OSInfo* OSInfo::GetInstance() {
  OSInfo* info = g_os_info.load(std::memory_order_acquire);
  if (info)
    return info;
  OSInfo* const fresh = new OSInfo();
  if (g_os_info.compare_exchange_strong(info, fresh, std::memory_order_acq_rel,
                                        std::memory_order_acquire)) {
    return fresh;
  }
  // Another thread installed its record first; `info` now holds it.
  delete fresh;
  return info;
}

OSInfo::OSInfo() {
  wow64_status_ = GetWow64StatusForProcess(::GetCurrentProcess());

  OSVERSIONINFOEXW version_info = {};
  version_info.dwOSVersionInfoSize = sizeof(version_info);
  // GetVersionExW is deprecated in favour of manifest-based checks, but it is
  // what reports the numbers the process actually sees.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  ::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&version_info));
#pragma GCC diagnostic pop
  version_number_.major = static_cast<int32_t>(version_info.dwMajorVersion);
  version_number_.minor = static_cast<int32_t>(version_info.dwMinorVersion);
  version_number_.build = static_cast<int32_t>(version_info.dwBuildNumber);

  RegistryKey key;
  DWORD ubr = 0;
  if (key.Open(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion",
               KEY_QUERY_VALUE) == ERROR_SUCCESS &&
      key.ReadValueDword(L"UBR", &ubr) == ERROR_SUCCESS) {
    version_number_.patch = static_cast<int32_t>(ubr);
  }
  key.Close();

  version_ =
      MajorMinorBuildToVersion(version_number_.major, version_number_.minor, version_number_.build);
  service_pack_.major = version_info.wServicePackMajor;
  service_pack_.minor = version_info.wServicePackMinor;
  WideToUTF8(version_info.szCSDVersion, wcsnlen(version_info.szCSDVersion, 128),
             &service_pack_str_);

  SYSTEM_INFO system_info = {};
  ::GetNativeSystemInfo(&system_info);
  architecture_ = ArchitectureFromProcessorArchitecture(system_info.wProcessorArchitecture);
  processors_ = static_cast<int32_t>(system_info.dwNumberOfProcessors);
  allocation_granularity_ = system_info.dwAllocationGranularity;

  DWORD product_code = 0;
  if (version_number_.major == 6 || version_number_.major == 10) {
    // Present since Vista; still checked so that a stripped-down system
    // reads as the default edition instead of crashing.
    const auto get_product_info = GetKernel32Function<GetProductInfoFunction>("GetProductInfo");
    if (get_product_info) {
      get_product_info(version_info.dwMajorVersion, version_info.dwMinorVersion, 0, 0,
                       &product_code);
    }
  }
  edition_ =
      EditionFromVersionInfo(version_number_.major, version_number_.minor, product_code,
                             version_info.wProductType, version_info.wSuiteMask, architecture_);
}

// static
WindowsVersion OSInfo::MajorMinorBuildToVersion(int32_t major, int32_t minor, int32_t build) {
  if (major < 5)
    return WindowsVersion::kPreXP;
  if (major == 5) {
    if (minor == 0)
      return WindowsVersion::kPreXP;
    if (minor == 1)
      return WindowsVersion::kXP;
    return WindowsVersion::kServer2003;
  }
  if (major == 6) {
    switch (minor) {
      case 0:
        return WindowsVersion::kVista;
      case 1:
        return WindowsVersion::kWin7;
      case 2:
        return WindowsVersion::kWin8;
      default:
        return WindowsVersion::kWin8_1;
    }
  }
  if (major == 10) {
    if (build >= 17134)
      return WindowsVersion::kWin10Build17134;
    if (build >= 16299)
      return WindowsVersion::kWin10Build16299;
    if (build >= 15063)
      return WindowsVersion::kWin10Build15063;
    if (build >= 14393)
      return WindowsVersion::kWin10Build14393;
    if (build >= 10586)
      return WindowsVersion::kWin10Build10586;
    return WindowsVersion::kWin10;
  }
  return WindowsVersion::kLastVersion;
}

// static
WindowsArchitecture OSInfo::ArchitectureFromProcessorArchitecture(uint32_t code) {
  switch (code) {
    case PROCESSOR_ARCHITECTURE_INTEL:
      return WindowsArchitecture::kX86;
    case PROCESSOR_ARCHITECTURE_AMD64:
      return WindowsArchitecture::kX64;
    case PROCESSOR_ARCHITECTURE_IA64:
      return WindowsArchitecture::kIA64;
    default:
      return WindowsArchitecture::kOtherArchitecture;
  }
}

// static
WindowsEdition OSInfo::EditionFromVersionInfo(int32_t major,
                                              int32_t minor,
                                              uint32_t product_code,
                                              uint8_t product_type,
                                              uint16_t suite_mask,
                                              WindowsArchitecture architecture) {
  if (major == 6 || major == 10)
    return EditionFromProductCode(product_code);
  if (major == 5 && minor == 2) {
    if (product_type == VER_NT_WORKSTATION && architecture == WindowsArchitecture::kX64)
      return WindowsEdition::kProfessional;
    if (suite_mask & VER_SUITE_WH_SERVER)
      return WindowsEdition::kHome;
    return WindowsEdition::kServer;
  }
  if (major == 5 && minor == 1)
    return (suite_mask & VER_SUITE_PERSONAL) ? WindowsEdition::kHome
                                             : WindowsEdition::kProfessional;
  return WindowsEdition::kHome;
}

// static
Wow64Status OSInfo::GetWow64StatusForProcess(void* process_handle) {
  const auto is_wow64_process = GetKernel32Function<IsWow64ProcessFunction>("IsWow64Process");
  if (!is_wow64_process)
    return Wow64Status::kWow64Disabled;
  BOOL is_wow64 = FALSE;
  if (!is_wow64_process(static_cast<HANDLE>(process_handle), &is_wow64))
    return Wow64Status::kWow64Unknown;
  return is_wow64 ? Wow64Status::kWow64Enabled : Wow64Status::kWow64Disabled;
}

WindowsVersion GetWindowsVersion() {
  return OSInfo::GetInstance()->version();
}

}  // namespace win
}  // namespace base
