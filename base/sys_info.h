#ifndef BASE_SYS_INFO_H_
#define BASE_SYS_INFO_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace base {

// Facts about the machine and the operating system, read once per process
// and then constant. Thread-safe.
class SysInfo {
 public:
  SysInfo() = delete;

  // Number of logical processors, at least 1.
  static int NumberOfProcessors();

  // Granularity of virtual-memory reservations, in bytes.
  static size_t VMAllocationGranularity();

  // Major, minor and build number of the running Windows.
  static void OperatingSystemVersionNumbers(int32_t* major_version,
                                            int32_t* minor_version,
                                            int32_t* build_number);

  // "x86", "x86_64", "ia64" or "" for the native processor architecture.
  static std::string OperatingSystemArchitecture();
};

}  // namespace base

#endif  // BASE_SYS_INFO_H_
