#ifndef BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_INTERNAL_H_
#define BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_INTERNAL_H_

// What the allocator asks the system, defined in
// persistent_memory_allocator_win.cc.

namespace base::internal {

// The virtual-memory page size in bytes, never 0; blocks spanning pages touch
// each one. Thread-safe.
unsigned long PersistentMemoryVmPageSize();

}  // namespace base::internal

#endif  // BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_INTERNAL_H_
