#include "base/debug/activity_tracker.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

#include "base/debug/activity_tracker_internal.h"
#include "base/metrics/histogram.h"
#include "base/platform/activity_hooks.h"
#include "base/strings/utf_string_conversions.h"
#include "base/threading/platform_thread.h"
#include "base/time/time.h"

namespace base::debug {

namespace {

// Hands out the data ids of owner records; 0 is never handed out because it
// means "not initialised".
std::atomic<uint32_t> g_next_data_id{1};

uint32_t TakeDataId() {
  uint32_t id;
  do {
    id = g_next_data_id.fetch_add(1, std::memory_order_relaxed);
  } while (id == 0);
  return id;
}

constexpr size_t kThreadNameSize = 32;

}  // namespace

// OwningProcess ---------------------------------------------------------------

OwningProcess::OwningProcess() : data_id(0), padding(0), process_id(0), create_stamp(0) {}
OwningProcess::~OwningProcess() = default;

void OwningProcess::Release_Initialize(int64_t pid) {
  if (!pid) {
    GlobalActivityTracker* tracker = GlobalActivityTracker::Get();
    pid = tracker ? tracker->process_id() : 0;
  }
  if (!pid)
    pid = static_cast<int64_t>(internal::CurrentProcessIdForTracker());
  process_id = pid;
  create_stamp = Time::Now().ToInternalValue();
  data_id.store(TakeDataId(), std::memory_order_release);
}

void OwningProcess::SetOwningProcessIdForTesting(int64_t pid, int64_t stamp) {
  process_id = pid;
  create_stamp = stamp;
}

// static
bool OwningProcess::GetOwningProcessId(const void* memory, int64_t* out_id, int64_t* out_stamp) {
  const OwningProcess* info = static_cast<const OwningProcess*>(memory);
  const uint32_t id = info->data_id.load(std::memory_order_acquire);
  if (id == 0)
    return false;
  *out_id = info->process_id;
  *out_stamp = info->create_stamp;
  // A record retyped or reused meanwhile has another (or no) data id.
  return id == info->data_id.load(std::memory_order_seq_cst);
}

// ActivityUserData ------------------------------------------------------------

namespace {

struct UserDataEntryHeader {
  uint8_t type;
  uint8_t name_size;
  uint16_t value_size;
};

constexpr size_t RoundUp8(size_t n) {
  return (n + 7) & ~size_t{7};
}

}  // namespace

ActivityUserData::ActivityUserData(void* memory, size_t size, int64_t pid)
    : memory_(nullptr), available_(0), base_(static_cast<char*>(memory)), size_(size) {
  if (!memory || size < sizeof(OwningProcess) + sizeof(UserDataEntryHeader))
    return;
  OwningProcess* owner = static_cast<OwningProcess*>(memory);
  if (owner->data_id.load(std::memory_order_acquire) == 0)
    owner->Release_Initialize(pid);
  // Continue after the entries another instance may have written.
  size_t offset = sizeof(OwningProcess);
  while (offset + sizeof(UserDataEntryHeader) <= size) {
    const auto* header = reinterpret_cast<const UserDataEntryHeader*>(base_ + offset);
    if (header->type == END_OF_VALUES)
      break;
    const size_t entry =
        RoundUp8(sizeof(UserDataEntryHeader) + header->name_size + header->value_size);
    if (entry > size - offset)
      break;
    offset += entry;
  }
  memory_ = base_ + offset;
  available_ = size - offset;
}

ActivityUserData::~ActivityUserData() = default;

void ActivityUserData::Set(std::string_view name, ValueType type, const void* memory, size_t size) {
  if (!memory_ || name.empty() || name.size() > 255 || size > 0xFFFF)
    return;
  std::string existing;
  if (Find(name, type, &existing))
    return;  // First value wins; entries are never rewritten in place.
  const size_t entry = RoundUp8(sizeof(UserDataEntryHeader) + name.size() + size);
  // Keep room for the end marker of the next entry.
  if (entry + sizeof(UserDataEntryHeader) > available_)
    return;
  char* out = memory_;
  std::memcpy(out + sizeof(UserDataEntryHeader), name.data(), name.size());
  std::memcpy(out + sizeof(UserDataEntryHeader) + name.size(), memory, size);
  auto* header = reinterpret_cast<UserDataEntryHeader*>(out);
  header->name_size = static_cast<uint8_t>(name.size());
  header->value_size = static_cast<uint16_t>(size);
  // The type goes last: a reader stops at a zero type.
  std::atomic_ref<uint8_t>(header->type).store(type, std::memory_order_release);
  memory_ += entry;
  available_ -= entry;
}

bool ActivityUserData::Find(std::string_view name, ValueType type, std::string* value) const {
  if (!base_ || size_ < sizeof(OwningProcess))
    return false;
  size_t offset = sizeof(OwningProcess);
  while (offset + sizeof(UserDataEntryHeader) <= size_) {
    const auto* header = reinterpret_cast<const UserDataEntryHeader*>(base_ + offset);
    if (header->type == END_OF_VALUES)
      return false;
    const size_t entry =
        RoundUp8(sizeof(UserDataEntryHeader) + header->name_size + header->value_size);
    if (entry > size_ - offset)
      return false;
    const char* entry_name = base_ + offset + sizeof(UserDataEntryHeader);
    if (header->type == type && std::string_view(entry_name, header->name_size) == name) {
      value->assign(entry_name + header->name_size, header->value_size);
      return true;
    }
    offset += entry;
  }
  return false;
}

bool ActivityUserData::GetString(std::string_view name, std::string* value) const {
  return Find(name, STRING_VALUE, value);
}

bool ActivityUserData::GetInt(std::string_view name, int64_t* value) const {
  std::string raw;
  if (!Find(name, INT_VALUE, &raw) || raw.size() != sizeof(int64_t))
    return false;
  std::memcpy(value, raw.data(), sizeof(int64_t));
  return true;
}

// ThreadActivityTracker -------------------------------------------------------

struct ThreadActivityTracker::Header {
  OwningProcess owner;
  int64_t thread_id;
  int64_t start_time;
  int64_t start_ticks;
  uint32_t stack_slots;
  uint32_t padding;
  std::atomic<uint32_t> current_depth;
  std::atomic<uint32_t> data_version;
  Activity last_exception;
  char thread_name[kThreadNameSize];
};

ThreadActivityTracker::Snapshot::Snapshot() = default;
ThreadActivityTracker::Snapshot::~Snapshot() = default;

ThreadActivityTracker::ThreadActivityTracker(void* base, size_t size)
    : header_(static_cast<Header*>(base)),
      stack_(reinterpret_cast<Activity*>(static_cast<char*>(base) + kHeaderSize)),
      stack_slots_(size >= kHeaderSize
                       ? static_cast<uint32_t>((size - kHeaderSize) / sizeof(Activity))
                       : 0) {
  static_assert(sizeof(Header) == kHeaderSize, "tracker header layout is fixed");
  static_assert(offsetof(Header, current_depth) == 56, "tracker header layout is fixed");
  static_assert(offsetof(Header, thread_name) == 192, "tracker header layout is fixed");
  if (!base || size < kHeaderSize)
    return;
  if (header_->owner.data_id.load(std::memory_order_acquire) == 0) {
    header_->thread_id = CurrentThreadId();
    header_->start_time = Time::Now().ToInternalValue();
    header_->start_ticks = TimeTicks::Now().ToInternalValue();
    header_->stack_slots = stack_slots_;
    const std::string name = ThreadName();
    const size_t length = std::min(name.size(), kThreadNameSize - 1);
    std::memcpy(header_->thread_name, name.data(), length);
    std::memset(header_->thread_name + length, 0, kThreadNameSize - length);
    header_->owner.Release_Initialize();
    valid_ = true;
  } else {
    int64_t pid, stamp;
    valid_ = OwningProcess::GetOwningProcessId(header_, &pid, &stamp) && pid != 0 &&
             header_->thread_id != 0 && header_->start_time != 0 && header_->start_ticks != 0 &&
             header_->stack_slots == stack_slots_ &&
             std::memchr(header_->thread_name, '\0', kThreadNameSize) != nullptr;
  }
}

ThreadActivityTracker::~ThreadActivityTracker() = default;

// static
size_t ThreadActivityTracker::SizeForStackDepth(int stack_depth) {
  const size_t depth = static_cast<size_t>(std::max(stack_depth, 0));
  // Saturated: a wrapped size would give a small block with no slots at all.
  if (depth > (SIZE_MAX - kHeaderSize) / sizeof(Activity))
    return SIZE_MAX;
  return kHeaderSize + depth * sizeof(Activity);
}

ThreadActivityTracker::ActivityId ThreadActivityTracker::PushActivity(const void* origin,
                                                                      Activity::Type type,
                                                                      uint64_t data) {
  if (!valid_)
    return 0;
  const uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  if (depth < stack_slots_) {
    Activity* activity = &stack_[depth];
    activity->time_internal = TimeTicks::Now().ToInternalValue();
    activity->calling_address = reinterpret_cast<uintptr_t>(origin);
    activity->call_stack[0] = 0;
    activity->call_stack[1] = 0;
    activity->user_data_ref = 0;
    activity->user_data_id = 0;
    activity->activity_type = type;
    activity->data = data;
  }
  // Release: a reader that sees the new depth sees the filled slot.
  header_->current_depth.store(depth + 1, std::memory_order_release);
  return depth;
}

void ThreadActivityTracker::PopLastActivity() {
  if (!valid_)
    return;
  const uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  if (depth != 0)
    PopActivity(depth - 1);
}

void ThreadActivityTracker::PopActivity(ActivityId id) {
  if (!valid_)
    return;
  const uint32_t depth = header_->current_depth.load(std::memory_order_relaxed);
  if (depth == 0 || id != depth - 1)
    return;  // Unbalanced pop: keep the stack as it is.
  if (id < stack_slots_)
    stack_[id].user_data_ref = 0;
  header_->current_depth.store(id, std::memory_order_release);
  header_->data_version.fetch_add(1, std::memory_order_release);
}

bool ThreadActivityTracker::IsValid() const {
  return valid_;
}

bool ThreadActivityTracker::CreateSnapshot(Snapshot* output_snapshot) const {
  if (!valid_ || !output_snapshot)
    return false;
  constexpr int kMaxAttempts = 10;
  for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
    const uint32_t version = header_->data_version.load(std::memory_order_acquire);
    const uint32_t depth = header_->current_depth.load(std::memory_order_acquire);
    const uint32_t count = std::min(depth, stack_slots_);
    output_snapshot->activity_stack.assign(stack_, stack_ + count);
    output_snapshot->activity_stack_depth = depth;
    int64_t pid, stamp;
    if (!OwningProcess::GetOwningProcessId(header_, &pid, &stamp))
      return false;
    output_snapshot->process_id = pid;
    output_snapshot->create_stamp = stamp;
    output_snapshot->thread_id = header_->thread_id;
    output_snapshot->thread_name.assign(header_->thread_name,
                                        strnlen(header_->thread_name, kThreadNameSize));
    // An activity popped during the copy may have been overwritten.
    if (header_->data_version.load(std::memory_order_seq_cst) == version)
      return true;
  }
  return false;
}

// GlobalActivityTracker -------------------------------------------------------

std::atomic<GlobalActivityTracker*> GlobalActivityTracker::g_tracker_{nullptr};

class GlobalActivityTracker::ManagedActivityTracker : public ThreadActivityTracker {
 public:
  ManagedActivityTracker(PersistentMemoryAllocator::Reference ref, void* base, size_t size)
      : ThreadActivityTracker(base, size), ref_(ref) {}
  ~ManagedActivityTracker() override {
    if (GlobalActivityTracker* global = GlobalActivityTracker::Get())
      global->ReturnTrackerMemory(this);
  }
  PersistentMemoryAllocator::Reference ref() const { return ref_; }

 private:
  const PersistentMemoryAllocator::Reference ref_;
};

namespace {

void* OnLockAcquireBegin(const void* lock, const void* origin) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global)
    return nullptr;
  ThreadActivityTracker* tracker = global->GetTrackerForCurrentThread();
  if (!tracker)
    return nullptr;
  tracker->PushActivity(origin, Activity::ACT_LOCK_ACQUIRE,
                        static_cast<uint64_t>(reinterpret_cast<uintptr_t>(lock)));
  return tracker;
}

void OnLockAcquireEnd(void* token) {
  // Nothing runs inside a blocking acquire, so the lock's activity is the
  // innermost one.
  if (token)
    static_cast<ThreadActivityTracker*>(token)->PopLastActivity();
}

void OnLogMessage(const char* text, size_t length) {
  GlobalActivityTracker::RecordLogMessageIfEnabled(std::string_view(text, length));
}

constexpr ActivityHooks kTrackerHooks = {&OnLockAcquireBegin, &OnLockAcquireEnd, &OnLogMessage};

}  // namespace

GlobalActivityTracker::GlobalActivityTracker(std::unique_ptr<PersistentMemoryAllocator> allocator,
                                             int stack_depth,
                                             int64_t process_id)
    : allocator_(std::move(allocator)),
      stack_memory_size_(ThreadActivityTracker::SizeForStackDepth(stack_depth)),
      process_id_(process_id ? process_id
                             : static_cast<int64_t>(internal::CurrentProcessIdForTracker())),
      this_thread_tracker_(&GlobalActivityTracker::OnThreadExit) {}

GlobalActivityTracker::~GlobalActivityTracker() = default;

// static
bool GlobalActivityTracker::Install(GlobalActivityTracker* tracker) {
  GlobalActivityTracker* expected = nullptr;
  if (!g_tracker_.compare_exchange_strong(expected, tracker, std::memory_order_acq_rel))
    return false;
  g_activity_hooks.store(&kTrackerHooks, std::memory_order_release);
  return true;
}

// static
bool GlobalActivityTracker::CreateWithAllocator(
    std::unique_ptr<PersistentMemoryAllocator> allocator,
    int stack_depth,
    int64_t process_id) {
  if (Get() || !allocator || allocator->IsReadonly() || allocator->IsCorrupt())
    return false;
  auto* tracker = new GlobalActivityTracker(std::move(allocator), stack_depth, process_id);
  if (!Install(tracker)) {
    delete tracker;
    return false;
  }
  return true;
}

// static
bool GlobalActivityTracker::CreateWithLocalMemory(size_t size,
                                                  uint64_t id,
                                                  std::string_view name,
                                                  int stack_depth,
                                                  int64_t process_id) {
  // Whole words, counted without wrapping ((size + 7) / 8 would wrap to a tiny
  // array from 0xFFFFFFF9 up). More than an array may hold is refused, and so
  // is what the heap cannot give.
  const size_t word_count = size / 8 + (size % 8 != 0);
  if (Get() || word_count > PTRDIFF_MAX / sizeof(uint64_t))
    return false;
  // 8-byte aligned, zero-filled memory for the segment.
  std::unique_ptr<uint64_t[]> words(new (std::nothrow) uint64_t[word_count]());
  if (!words)
    return false;
  auto allocator =
      std::make_unique<PersistentMemoryAllocator>(words.get(), size, 0, id, name, false);
  if (allocator->IsCorrupt())
    return false;
  auto* tracker = new GlobalActivityTracker(std::move(allocator), stack_depth, process_id);
  tracker->local_memory_ = std::move(words);
  if (!Install(tracker)) {
    // The allocator points into local_memory_; both go together.
    delete tracker;
    return false;
  }
  return true;
}

ThreadActivityTracker* GlobalActivityTracker::GetTrackerForCurrentThread() {
  return static_cast<ThreadActivityTracker*>(this_thread_tracker_.Get());
}

ThreadActivityTracker* GlobalActivityTracker::GetOrCreateTrackerForCurrentThread() {
  ThreadActivityTracker* tracker = GetTrackerForCurrentThread();
  return tracker ? tracker : CreateTrackerForCurrentThread();
}

ThreadActivityTracker* GlobalActivityTracker::CreateTrackerForCurrentThread() {
  PersistentMemoryAllocator::Reference ref = 0;
  {
    AutoLock auto_lock(free_trackers_lock_);
    if (!free_trackers_.empty()) {
      ref = free_trackers_.back();
      free_trackers_.pop_back();
    }
  }
  if (ref) {
    if (!allocator_->ChangeType(ref, kTypeIdActivityTracker, kTypeIdActivityTrackerFree, false))
      ref = 0;
  } else {
    ref = allocator_->Allocate(stack_memory_size_, kTypeIdActivityTracker);
    if (ref)
      allocator_->MakeIterable(ref);
  }
  void* memory = allocator_->GetBlockData(ref, kTypeIdActivityTracker, stack_memory_size_);
  if (!memory) {
    static HistogramBase* const mem_limit =
        Histogram::Get("ActivityTracker.ThreadTrackers.MemLimitTrackerCount", 1, 1000, 50,
                       HistogramBase::kReportFlag);
    mem_limit->Add(thread_tracker_count());
    return nullptr;
  }
  auto* tracker = new ManagedActivityTracker(ref, memory, stack_memory_size_);
  this_thread_tracker_.Set(tracker);
  const int count = thread_tracker_count_.fetch_add(1, std::memory_order_relaxed) + 1;
  static HistogramBase* const count_histogram = LinearHistogram::Get(
      "ActivityTracker.ThreadTrackers.Count", 1, 100, 101, HistogramBase::kReportFlag);
  count_histogram->Add(count);
  return tracker;
}

void GlobalActivityTracker::ReturnTrackerMemory(ManagedActivityTracker* tracker) {
  thread_tracker_count_.fetch_sub(1, std::memory_order_relaxed);
  // Cleared so that the next thread finds a blank header to fill.
  if (allocator_->ChangeType(tracker->ref(), kTypeIdActivityTrackerFree, kTypeIdActivityTracker,
                             true)) {
    AutoLock auto_lock(free_trackers_lock_);
    free_trackers_.push_back(tracker->ref());
  }
}

// static
void GlobalActivityTracker::OnThreadExit(void* value) {
  delete static_cast<ManagedActivityTracker*>(value);
}

// static
void GlobalActivityTracker::RecordProcessLaunchIfEnabled(int64_t process_id,
                                                         const std::wstring& command_line) {
  if (GlobalActivityTracker* tracker = Get())
    tracker->RecordProcessLaunch(process_id, command_line);
}

// static
void GlobalActivityTracker::RecordProcessExitIfEnabled(int64_t process_id, int exit_code) {
  if (GlobalActivityTracker* tracker = Get())
    tracker->RecordProcessExit(process_id, exit_code);
}

// static
void GlobalActivityTracker::RecordLogMessageIfEnabled(std::string_view message) {
  if (GlobalActivityTracker* tracker = Get())
    tracker->RecordLogMessage(message);
}

void GlobalActivityTracker::RecordProcessLaunch(int64_t process_id,
                                                const std::wstring& command_line) {
  std::string narrow = WideToUTF8(command_line);
  AutoLock auto_lock(launched_lock_);
  known_processes_[process_id] = std::move(narrow);
}

void GlobalActivityTracker::RecordProcessExit(int64_t process_id, int exit_code) {
  const int64_t exit_stamp = Time::Now().ToInternalValue();
  std::string command_line;
  {
    AutoLock auto_lock(launched_lock_);
    auto it = known_processes_.find(process_id);
    if (it != known_processes_.end()) {
      command_line = std::move(it->second);
      known_processes_.erase(it);
    }
  }
  // No task runner exists here: clean up on the calling thread.
  CleanupAfterProcess(process_id, exit_stamp, exit_code, std::move(command_line));
}

bool GlobalActivityTracker::GetLaunchedCommandLine(int64_t process_id, std::string* command_line) {
  AutoLock auto_lock(launched_lock_);
  auto it = known_processes_.find(process_id);
  if (it == known_processes_.end())
    return false;
  *command_line = it->second;
  return true;
}

void GlobalActivityTracker::RecordLogMessage(std::string_view message) {
  const PersistentMemoryAllocator::Reference ref =
      allocator_->Allocate(message.size() + 1, kTypeIdGlobalLogMessage);
  char* memory = static_cast<char*>(
      allocator_->GetBlockData(ref, kTypeIdGlobalLogMessage, message.size() + 1));
  if (!memory)
    return;
  std::memcpy(memory, message.data(), message.size());
  memory[message.size()] = '\0';
  allocator_->MakeIterable(ref);
}

void GlobalActivityTracker::SetProcessExitCallback(ProcessExitCallback callback) {
  AutoLock auto_lock(exit_callback_lock_);
  process_exit_callback_ = std::move(callback);
}

void GlobalActivityTracker::CleanupAfterProcess(int64_t process_id,
                                                int64_t exit_stamp,
                                                int exit_code,
                                                std::string&& command_line) {
  {
    AutoLock auto_lock(exit_callback_lock_);
    if (process_exit_callback_) {
      PersistentMemoryAllocator::Iterator iter(allocator_.get());
      while (PersistentMemoryAllocator::Reference ref =
                 iter.GetNextOfType(kTypeIdProcessDataRecord)) {
        void* memory =
            allocator_->GetBlockData(ref, kTypeIdProcessDataRecord, sizeof(OwningProcess));
        int64_t owner, stamp;
        if (!memory || !OwningProcess::GetOwningProcessId(memory, &owner, &stamp) ||
            owner != process_id || stamp > exit_stamp) {
          continue;
        }
        ActivityUserData data(memory, allocator_->GetAllocSize(ref));
        int64_t phase = -1;
        if (!data.GetInt("process-phase", &phase))
          phase = -1;
        process_exit_callback_(process_id, exit_stamp, exit_code, phase, std::move(command_line),
                               &data);
        break;
      }
    }
  }

  PersistentMemoryAllocator::Iterator iter(allocator_.get());
  uint32_t type;
  while (PersistentMemoryAllocator::Reference ref = iter.GetNext(&type)) {
    if (type != kTypeIdModuleInfoRecord && type != kTypeIdActivityTracker &&
        type != kTypeIdUserDataRecord && type != kTypeIdProcessDataRecord) {
      continue;
    }
    const void* memory = allocator_->GetBlockData(ref, type, sizeof(OwningProcess));
    int64_t owner, stamp;
    if (!memory || !OwningProcess::GetOwningProcessId(memory, &owner, &stamp) ||
        owner != process_id || stamp > exit_stamp) {
      continue;
    }
    allocator_->ChangeType(ref, ~type, type, true);
  }
}

// ScopedProcessWaitActivity ---------------------------------------------------

ScopedProcessWaitActivity::ScopedProcessWaitActivity(int64_t process_id) {
  GlobalActivityTracker* global = GlobalActivityTracker::Get();
  if (!global)
    return;
  tracker_ = global->GetOrCreateTrackerForCurrentThread();
  if (tracker_) {
    id_ = tracker_->PushActivity(__builtin_return_address(0), Activity::ACT_PROCESS_WAIT,
                                 static_cast<uint64_t>(process_id));
  }
}

ScopedProcessWaitActivity::~ScopedProcessWaitActivity() {
  if (tracker_)
    tracker_->PopActivity(id_);
}

}  // namespace base::debug
