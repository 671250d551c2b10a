#include "base/win/windows_types.h"

namespace base::internal {

// The page whose words Histogram::ValidateContents scans: the system's
// virtual-memory allocation granularity.
unsigned long HistogramValidationPageSize() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwAllocationGranularity;
}

}  // namespace base::internal
