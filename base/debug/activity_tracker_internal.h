#ifndef BASE_DEBUG_ACTIVITY_TRACKER_INTERNAL_H_
#define BASE_DEBUG_ACTIVITY_TRACKER_INTERNAL_H_

// What the activity tracker asks the system, defined in
// activity_tracker_win.cc.

namespace base::debug::internal {

// The id of the calling process, recorded in owner records. Thread-safe.
unsigned long CurrentProcessIdForTracker();

}  // namespace base::debug::internal

#endif  // BASE_DEBUG_ACTIVITY_TRACKER_INTERNAL_H_
