#ifndef BASE_WIN_WINDOWS_VERSION_H_
#define BASE_WIN_WINDOWS_VERSION_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {
namespace win {

// Windows releases, ordered: compare by magnitude (version < kWin8).
enum class WindowsVersion : int {
  kPreXP = 0,
  kXP = 1,
  kServer2003 = 2,  // Also any later 5.x.
  kVista = 3,
  kWin7 = 4,
  kWin8 = 5,
  kWin8_1 = 6,  // Also any later 6.x.
  kWin10 = 7,
  kWin10Build10586 = 8,
  kWin10Build14393 = 9,
  kWin10Build15063 = 10,
  kWin10Build16299 = 11,
  kWin10Build17134 = 12,
  kLastVersion = 13,  // Unknown later majors (7, 8, 9, 11 and above).
};

enum class WindowsEdition : int {
  kHome = 0,
  kProfessional = 1,
  kServer = 2,
  kEnterprise = 3,
  kEducation = 4,
};

enum class WindowsArchitecture : int {
  kX86 = 0,
  kX64 = 1,
  kIA64 = 2,
  kOtherArchitecture = 3,
};

enum class Wow64Status : int {
  kWow64Disabled = 0,
  kWow64Enabled = 1,
  kWow64Unknown = 2,
};

// What the running Windows reports about itself, read once per process.
// GetInstance is lock-free and the record is never freed; all accessors are
// read-only and thread-safe.
class OSInfo {
 public:
  struct VersionNumber {
    int32_t major = 0;
    int32_t minor = 0;
    int32_t build = 0;
    int32_t patch = 0;  // The update build revision; 0 when unknown.
  };
  struct ServicePack {
    int32_t major = 0;
    int32_t minor = 0;
  };

  OSInfo(const OSInfo&) = delete;
  OSInfo& operator=(const OSInfo&) = delete;

  // The process's record, built on first use.
  static OSInfo* GetInstance();

  WindowsVersion version() const { return version_; }
  VersionNumber version_number() const { return version_number_; }
  WindowsEdition edition() const { return edition_; }
  ServicePack service_pack() const { return service_pack_; }
  // The service-pack text as UTF-8 ("" when none).
  const std::string& service_pack_str() const { return service_pack_str_; }
  WindowsArchitecture architecture() const { return architecture_; }
  int32_t processors() const { return processors_; }
  size_t allocation_granularity() const { return allocation_granularity_; }
  Wow64Status wow64_status() const { return wow64_status_; }

  // The release for raw version numbers (see WindowsVersion).
  static WindowsVersion MajorMinorBuildToVersion(int32_t major, int32_t minor, int32_t build);

  // The architecture for a SYSTEM_INFO processor-architecture code.
  static WindowsArchitecture ArchitectureFromProcessorArchitecture(uint32_t code);

  // The edition: for majors 6 and 10 from `product_code` (GetProductInfo);
  // for 5.2 from `product_type`, `architecture` and `suite_mask`; for 5.1
  // from `suite_mask`; kHome otherwise.
  static WindowsEdition EditionFromVersionInfo(int32_t major,
                                               int32_t minor,
                                               uint32_t product_code,
                                               uint8_t product_type,
                                               uint16_t suite_mask,
                                               WindowsArchitecture architecture);

  // WOW64 status of `process_handle` through IsWow64Process looked up by
  // name: kWow64Disabled when the function is absent, kWow64Unknown when the
  // call fails.
  static Wow64Status GetWow64StatusForProcess(void* process_handle);

 private:
  OSInfo();

  WindowsVersion version_ = WindowsVersion::kPreXP;
  VersionNumber version_number_;
  WindowsEdition edition_ = WindowsEdition::kHome;
  ServicePack service_pack_;
  std::string service_pack_str_;
  WindowsArchitecture architecture_ = WindowsArchitecture::kOtherArchitecture;
  int32_t processors_ = 0;
  size_t allocation_granularity_ = 0;
  Wow64Status wow64_status_ = Wow64Status::kWow64Disabled;
};

// OSInfo::GetInstance()->version().
WindowsVersion GetWindowsVersion();

}  // namespace win
}  // namespace base

#endif  // BASE_WIN_WINDOWS_VERSION_H_
