#include "base/sys_info.h"

#include "base/win/windows_version.h"

namespace base {

// static
int SysInfo::NumberOfProcessors() {
  const int32_t processors = win::OSInfo::GetInstance()->processors();
  return processors > 0 ? processors : 1;
}

// static
size_t SysInfo::VMAllocationGranularity() {
  return win::OSInfo::GetInstance()->allocation_granularity();
}

// static
void SysInfo::OperatingSystemVersionNumbers(int32_t* major_version,
                                            int32_t* minor_version,
                                            int32_t* build_number) {
  const win::OSInfo::VersionNumber version = win::OSInfo::GetInstance()->version_number();
  *major_version = version.major;
  *minor_version = version.minor;
  *build_number = version.build;
}

// static
std::string SysInfo::OperatingSystemArchitecture() {
  switch (win::OSInfo::GetInstance()->architecture()) {
    case win::WindowsArchitecture::kX86:
      return "x86";
    case win::WindowsArchitecture::kX64:
      return "x86_64";
    case win::WindowsArchitecture::kIA64:
      return "ia64";
    default:
      return std::string();
  }
}

}  // namespace base
