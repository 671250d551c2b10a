#include "base/debug/activity_tracker_internal.h"

#include "base/platform/windows_types.h"

namespace base::debug::internal {

// The id of the calling process, recorded in owner records.
unsigned long CurrentProcessIdForTracker() {
  return ::GetCurrentProcessId();
}

}  // namespace base::debug::internal
