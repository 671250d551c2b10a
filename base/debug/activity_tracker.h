#ifndef BASE_DEBUG_ACTIVITY_TRACKER_H_
#define BASE_DEBUG_ACTIVITY_TRACKER_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/metrics/persistent_memory_allocator.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local_storage.h"

namespace base {
class HistogramBase;
}

namespace base::debug {

// Record types of the blocks the tracker allocates. A freed record is retyped
// to the bitwise complement of its id.
inline constexpr uint32_t kTypeIdActivityTracker = 0x5D7381B3;
inline constexpr uint32_t kTypeIdUserDataRecord = 0x615EDDDA;
inline constexpr uint32_t kTypeIdProcessDataRecord = 0x615EDEDA;
inline constexpr uint32_t kTypeIdGlobalLogMessage = 0x4CF434FA;
inline constexpr uint32_t kTypeIdModuleInfoRecord = 0x05DB5F42;
inline constexpr uint32_t kTypeIdActivityTrackerFree = ~kTypeIdActivityTracker;
inline constexpr uint32_t kTypeIdUserDataRecordFree = ~kTypeIdUserDataRecord;
inline constexpr uint32_t kTypeIdProcessDataRecordFree = ~kTypeIdProcessDataRecord;

// The 24 bytes at the start of tracker and data records that say which
// process made them. A non-zero data id (written last) marks it initialised.
struct OwningProcess {
  OwningProcess();
  ~OwningProcess();

  // Fills the record for `pid` (0: the current process), data id last.
  void Release_Initialize(int64_t pid = 0);
  // Retargets the record at another process id (tests).
  void SetOwningProcessIdForTesting(int64_t pid, int64_t stamp);
  // Reads process id and creation stamp of a record that may change
  // concurrently; false when it is not initialised or changed meanwhile.
  static bool GetOwningProcessId(const void* memory, int64_t* out_id, int64_t* out_stamp);

  std::atomic<uint32_t> data_id;
  uint32_t padding;
  int64_t process_id;
  int64_t create_stamp;
};
static_assert(sizeof(OwningProcess) == 24, "owner record layout is fixed");

// One entry of a thread's activity stack (128 bytes in the segment).
struct Activity {
  enum Type : uint8_t {
    ACT_NULL = 0,
    ACT_LOCK_ACQUIRE = 0x20,
    ACT_PROCESS_WAIT = 0x51,
  };
  static constexpr int kActivityCallStackSize = 11;

  int64_t time_internal;                        // monotonic time of the start
  uint64_t calling_address;                     // where the activity was entered
  uint64_t call_stack[kActivityCallStackSize];  // first two cleared, rest unused
  uint32_t user_data_ref;                       // attached user data block, 0 if none
  uint32_t user_data_id;
  uint8_t activity_type;  // a Type
  uint8_t padding[7];
  uint64_t data;  // lock address or process id
};
static_assert(sizeof(Activity) == 128, "activity layout is fixed");
static_assert(offsetof(Activity, user_data_ref) == 104, "activity layout is fixed");
static_assert(offsetof(Activity, activity_type) == 112, "activity layout is fixed");
static_assert(offsetof(Activity, data) == 120, "activity layout is fixed");

// A typed key-value store inside a block. Entries: type byte, name length,
// value size, name and value, 8-byte aligned. Not thread-safe; one writer.
class ActivityUserData {
 public:
  enum ValueType : uint8_t { END_OF_VALUES = 0, RAW_VALUE = 1, STRING_VALUE = 2, INT_VALUE = 3 };

  // Over `size` bytes at `memory` (may be null: then nothing is stored). Data
  // already present (written by another instance) is kept and readable.
  ActivityUserData(void* memory, size_t size, int64_t pid = 0);
  ActivityUserData(const ActivityUserData&) = delete;
  ActivityUserData& operator=(const ActivityUserData&) = delete;
  virtual ~ActivityUserData();

  void SetString(std::string_view name, std::string_view value) {
    Set(name, STRING_VALUE, value.data(), value.size());
  }
  void SetInt(std::string_view name, int64_t value) { Set(name, INT_VALUE, &value, sizeof(value)); }

  // The value stored under `name`, read from the memory; false if none.
  bool GetString(std::string_view name, std::string* value) const;
  bool GetInt(std::string_view name, int64_t* value) const;

  bool initialized() const { return memory_ != nullptr; }

 protected:
  // Appends an entry; silently drops it when the block is full or the name
  // exists with another size.
  virtual void Set(std::string_view name, ValueType type, const void* memory, size_t size);

 private:
  bool Find(std::string_view name, ValueType type, std::string* value) const;

  char* memory_;
  size_t available_;
  char* const base_;
  const size_t size_;
};

// Manages the tracker block of one thread: the header and a stack of
// activity slots. Only its own thread writes it; any thread or process may
// take a snapshot (concurrent pops are detected through the data version).
class ThreadActivityTracker {
 public:
  using ActivityId = uint32_t;

  // What a snapshot holds.
  struct Snapshot {
    Snapshot();
    ~Snapshot();
    std::string thread_name;
    int64_t process_id = 0;
    int64_t thread_id = 0;
    int64_t create_stamp = 0;
    // The stored activities, outermost first (at most the slot count).
    std::vector<Activity> activity_stack;
    // The full depth, which may exceed the stored activities.
    uint32_t activity_stack_depth = 0;
  };

  // Over a block of `size` bytes (header 224, then 128-byte slots). Fills the
  // header for the calling thread unless it is already initialised, in which
  // case it is only checked (IsValid() tells the result).
  ThreadActivityTracker(void* base, size_t size);
  ThreadActivityTracker(const ThreadActivityTracker&) = delete;
  ThreadActivityTracker& operator=(const ThreadActivityTracker&) = delete;
  virtual ~ThreadActivityTracker();

  // Pushes an activity (stored only while the depth is below the slot
  // count) and returns its depth index; PopActivity takes that index.
  ActivityId PushActivity(const void* origin, Activity::Type type, uint64_t data);
  // Pops activity `id` when it is the innermost one; otherwise nothing.
  void PopActivity(ActivityId id);
  // Pops the innermost activity, if any.
  void PopLastActivity();

  // True when the header is sound.
  bool IsValid() const;
  // Copies the header and stack; false when the tracker is invalid or kept
  // changing during the copy.
  bool CreateSnapshot(Snapshot* output_snapshot) const;

  // The block size needed for `stack_depth` slots (a negative depth counts as
  // 0). Saturates: a depth whose size does not fit in size_t gives SIZE_MAX,
  // which no allocation satisfies, so such a tracker is never made.
  static size_t SizeForStackDepth(int stack_depth);

  static constexpr size_t kHeaderSize = 224;

 private:
  struct Header;

  Header* const header_;
  Activity* const stack_;
  const uint32_t stack_slots_;
  bool valid_ = false;
};

// The process-wide tracker. At most one exists; hooks find it through Get()
// and do nothing while it is absent (update.exe never creates one). Creating
// it installs the lock and logging hooks; it is never destroyed.
class GlobalActivityTracker {
 public:
  // Called for an ended process whose records are being cleaned up: pid,
  // exit stamp, exit code, the "process-phase" entry (or -1), its command
  // line and the process data record.
  using ProcessExitCallback = std::function<void(int64_t process_id,
                                                 int64_t exit_stamp,
                                                 int exit_code,
                                                 int64_t process_phase,
                                                 std::string&& command_line,
                                                 ActivityUserData* process_data)>;

  // Creates and installs the tracker over `allocator`'s segment with
  // `stack_depth` slots per thread. `process_id` 0 means the current one.
  // A second creation in one process is refused (returns false).
  static bool CreateWithAllocator(std::unique_ptr<PersistentMemoryAllocator> allocator,
                                  int stack_depth,
                                  int64_t process_id);
  // The same over a zeroed heap segment of `size` bytes owned by the tracker.
  // Refused (false) as well when `size` is more than an array may hold or the
  // heap can give.
  static bool CreateWithLocalMemory(size_t size,
                                    uint64_t id,
                                    std::string_view name,
                                    int stack_depth,
                                    int64_t process_id);

  // The tracker, or null when none was created.
  static GlobalActivityTracker* Get() { return g_tracker_.load(std::memory_order_acquire); }

  // Hooks for process code: each returns at once when there is no tracker.
  static void RecordProcessLaunchIfEnabled(int64_t process_id, const std::wstring& command_line);
  static void RecordProcessExitIfEnabled(int64_t process_id, int exit_code);
  static void RecordLogMessageIfEnabled(std::string_view message);

  // The calling thread's tracker, or null when it has none.
  ThreadActivityTracker* GetTrackerForCurrentThread();
  // The calling thread's tracker, created on first use; null when the
  // segment has no room for another one.
  ThreadActivityTracker* GetOrCreateTrackerForCurrentThread();

  // Remembers the command line (as UTF-8) of a launched process.
  void RecordProcessLaunch(int64_t process_id, const std::wstring& command_line);
  // Forgets the launched process and cleans up the records it owned.
  void RecordProcessExit(int64_t process_id, int exit_code);
  // Stores the text in an iterable block of type kTypeIdGlobalLogMessage.
  void RecordLogMessage(std::string_view message);

  // Retypes as free every record owned by `process_id` that was made no
  // later than `exit_stamp`, after running the exit callback if set.
  void CleanupAfterProcess(int64_t process_id,
                           int64_t exit_stamp,
                           int exit_code,
                           std::string&& command_line);

  void SetProcessExitCallback(ProcessExitCallback callback);

  // The command line recorded for a launched process that has not exited.
  bool GetLaunchedCommandLine(int64_t process_id, std::string* command_line);

  // The number of live thread trackers.
  int thread_tracker_count() const { return thread_tracker_count_.load(std::memory_order_relaxed); }

  PersistentMemoryAllocator* allocator() { return allocator_.get(); }
  int64_t process_id() const { return process_id_; }

 private:
  class ManagedActivityTracker;

  GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator,
                        int stack_depth,
                        int64_t process_id);
  ~GlobalActivityTracker();
  static bool Install(GlobalActivityTracker* tracker);
  static void OnThreadExit(void* value);
  ThreadActivityTracker* CreateTrackerForCurrentThread();
  void ReturnTrackerMemory(ManagedActivityTracker* tracker);

  std::unique_ptr<PersistentMemoryAllocator> allocator_;
  const size_t stack_memory_size_;
  const int64_t process_id_;
  std::atomic<int> thread_tracker_count_{0};

  Lock free_trackers_lock_;
  std::vector<PersistentMemoryAllocator::Reference> free_trackers_;

  Lock launched_lock_;
  std::map<int64_t, std::string> known_processes_;

  Lock exit_callback_lock_;
  ProcessExitCallback process_exit_callback_;

  TlsSlot this_thread_tracker_;
  std::unique_ptr<uint64_t[]> local_memory_;

  static std::atomic<GlobalActivityTracker*> g_tracker_;
};

// Records a wait for process `process_id` on the calling thread's activity
// stack for the lifetime of this object (creating the thread's tracker if
// needed). Does nothing without a tracker.
class ScopedProcessWaitActivity {
 public:
  explicit ScopedProcessWaitActivity(int64_t process_id);
  ~ScopedProcessWaitActivity();
  ScopedProcessWaitActivity(const ScopedProcessWaitActivity&) = delete;
  ScopedProcessWaitActivity& operator=(const ScopedProcessWaitActivity&) = delete;

 private:
  ThreadActivityTracker* tracker_ = nullptr;
  ThreadActivityTracker::ActivityId id_ = 0;
};

}  // namespace base::debug

#endif  // BASE_DEBUG_ACTIVITY_TRACKER_H_
