#include "base/metrics/persistent_memory_allocator_internal.h"

#include "base/platform/windows_types.h"

namespace base::internal {

// The virtual-memory page size; blocks spanning pages touch each one.
unsigned long PersistentMemoryVmPageSize() {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  return info.dwPageSize ? info.dwPageSize : 4096;
}

}  // namespace base::internal
