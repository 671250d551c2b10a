#include "base/debug/activity_tracker.h"

#include <atomic>
#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/logging.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/platform/windows_types.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/synchronization/lock.h"
#include "base/threading/platform_thread.h"
#include "gtest/gtest.h"
#include "testing/process_guard.h"
#include "testing/scoped_temp_dir.h"

namespace base::debug {
namespace {

constexpr int kStackDepth = 4;
constexpr size_t kSegmentSize = 256 * 1024;
// Set in the environment of a child that must wait for the named event.
constexpr wchar_t kChildEventVariable[] = L"ACTIVITY_TEST_CHILD_EVENT";
constexpr int kChildExitCode = 7;
// Polls of another thread's state before a test gives up waiting.
constexpr int kMaxPolls = 5000000;

GlobalActivityTracker* EnsureTracker() {
  if (!GlobalActivityTracker::Get())
    GlobalActivityTracker::CreateWithLocalMemory(kSegmentSize, 1, "ActivityTest", kStackDepth, 0);
  return GlobalActivityTracker::Get();
}

// Finds the tracker block of thread `tid` in the segment, the way a reader in
// another process would, and snapshots it.
bool SnapshotThread(const PersistentMemoryAllocator& allocator,
                    PlatformThreadId tid,
                    ThreadActivityTracker::Snapshot* snapshot) {
  PersistentMemoryAllocator::Iterator iter(&allocator);
  const size_t size = ThreadActivityTracker::SizeForStackDepth(kStackDepth);
  while (PersistentMemoryAllocator::Reference ref = iter.GetNextOfType(kTypeIdActivityTracker)) {
    void* memory = allocator.GetBlockData(ref, kTypeIdActivityTracker, size);
    int64_t pid, stamp;
    if (!memory || !OwningProcess::GetOwningProcessId(memory, &pid, &stamp))
      continue;
    ThreadActivityTracker reader(memory, size);
    if (reader.CreateSnapshot(snapshot) && snapshot->thread_id == tid)
      return true;
  }
  return false;
}

// True when thread `tid` has `type` with `data` as its innermost activity.
bool HasTopActivity(PlatformThreadId tid, Activity::Type type, uint64_t data) {
  ThreadActivityTracker::Snapshot snapshot;
  if (!SnapshotThread(*GlobalActivityTracker::Get()->allocator(), tid, &snapshot) ||
      snapshot.activity_stack.empty()) {
    return false;
  }
  const Activity& top = snapshot.activity_stack.back();
  return top.activity_type == type && top.data == data;
}

TEST(ActivityTracker, ThreadTrackerHeaderAndStackLayout) {
  std::vector<uint64_t> words(ThreadActivityTracker::SizeForStackDepth(2) / 8);
  SetThreadName("a thread name longer than thirty-one characters");
  ThreadActivityTracker tracker(words.data(), words.size() * 8);
  ASSERT_TRUE(tracker.IsValid());
  const char* bytes = reinterpret_cast<const char*>(words.data());
  uint32_t slots, depth;
  std::memcpy(&slots, bytes + 48, 4);
  EXPECT_EQ(2u, slots);
  // The name is cut to 31 characters and a NUL.
  EXPECT_EQ(std::string("a thread name longer than thirt"), std::string(bytes + 192));

  int marker = 0;
  const auto outer = tracker.PushActivity(&marker, Activity::ACT_PROCESS_WAIT, 1234);
  const auto middle = tracker.PushActivity(nullptr, Activity::ACT_LOCK_ACQUIRE, 0xABCD);
  // Deeper than the slots: counted, not stored.
  const auto inner = tracker.PushActivity(nullptr, Activity::ACT_LOCK_ACQUIRE, 99);
  std::memcpy(&depth, bytes + 56, 4);
  EXPECT_EQ(3u, depth);
  const char* slot0 = bytes + ThreadActivityTracker::kHeaderSize;
  EXPECT_EQ(0x51, static_cast<uint8_t>(slot0[112]));
  uint64_t data, origin;
  std::memcpy(&data, slot0 + 120, 8);
  std::memcpy(&origin, slot0 + 8, 8);
  EXPECT_EQ(1234u, data);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(&marker), origin);

  ThreadActivityTracker::Snapshot snapshot;
  ASSERT_TRUE(tracker.CreateSnapshot(&snapshot));
  EXPECT_EQ(3u, snapshot.activity_stack_depth);
  ASSERT_EQ(2u, snapshot.activity_stack.size());
  EXPECT_EQ(0xABCDu, snapshot.activity_stack[1].data);
  EXPECT_EQ(CurrentThreadId(), snapshot.thread_id);

  tracker.PopActivity(outer);  // not the innermost: ignored
  tracker.PopActivity(inner);
  tracker.PopActivity(middle);
  tracker.PopActivity(outer);
  ASSERT_TRUE(tracker.CreateSnapshot(&snapshot));
  EXPECT_EQ(0u, snapshot.activity_stack_depth);
  EXPECT_TRUE(snapshot.activity_stack.empty());

  // A second tracker over the same block checks, rather than rewrites, it.
  ThreadActivityTracker again(words.data(), words.size() * 8);
  EXPECT_TRUE(again.IsValid());
  ThreadActivityTracker wrong_size(words.data(), words.size() * 8 + 128);
  EXPECT_FALSE(wrong_size.IsValid());
  SetThreadName("");
}

TEST(ActivityTracker, ContendedLockIsOnTheStackWhileWaiting) {
  GlobalActivityTracker* global = EnsureTracker();
  ASSERT_NE(nullptr, global);
  Lock lock;
  std::atomic<PlatformThreadId> waiter_id{0};
  std::atomic<uint32_t> depth_after{99};
  lock.Acquire();
  std::thread waiter([&] {
    ASSERT_NE(nullptr, global->GetOrCreateTrackerForCurrentThread());
    waiter_id = CurrentThreadId();
    lock.Acquire();
    lock.Release();
    ThreadActivityTracker::Snapshot snapshot;
    if (global->GetTrackerForCurrentThread()->CreateSnapshot(&snapshot))
      depth_after = snapshot.activity_stack_depth;
  });
  const uint64_t lock_address = reinterpret_cast<uintptr_t>(&lock);
  bool seen = false;
  for (int i = 0; i < kMaxPolls && !seen; ++i) {
    seen = waiter_id != 0 && HasTopActivity(waiter_id, Activity::ACT_LOCK_ACQUIRE, lock_address);
    if (!seen)
      YieldThread();
  }
  lock.Release();
  waiter.join();
  EXPECT_TRUE(seen);
  EXPECT_EQ(0u, depth_after.load());

  // An uncontended acquire records nothing.
  ASSERT_NE(nullptr, global->GetOrCreateTrackerForCurrentThread());
  lock.Acquire();
  ThreadActivityTracker::Snapshot snapshot;
  ASSERT_TRUE(global->GetTrackerForCurrentThread()->CreateSnapshot(&snapshot));
  EXPECT_EQ(0u, snapshot.activity_stack_depth);
  lock.Release();
}

int CountBlocksOfType(const PersistentMemoryAllocator& allocator, uint32_t type) {
  PersistentMemoryAllocator::Iterator iter(&allocator);
  int count = 0;
  while (iter.GetNextOfType(type))
    ++count;
  return count;
}

TEST(ActivityTracker, SizeForStackDepth_SaturatesInsteadOfWrapping) {
  // The deepest stack whose block size still fits in size_t.
  constexpr int kDeepest = static_cast<int>((SIZE_MAX - 224) / 128);
  const struct {
    int depth;
    size_t expected;
  } cases[] = {
      {-1, 224},
      {0, 224},
      {2, 224 + 2 * 128},
      {kDeepest, 224 + static_cast<size_t>(kDeepest) * 128},
      {kDeepest + 1, SIZE_MAX},
      {1 << 25, SIZE_MAX},  // would wrap to 224: a block without slots
      {INT_MAX, SIZE_MAX},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.depth);
    EXPECT_EQ(c.expected, ThreadActivityTracker::SizeForStackDepth(c.depth));
  }
}

// A thread's tracker block goes back to the pool (retyped free, cleared) when
// the thread ends, and the next thread takes it instead of a new block.
TEST(ActivityTracker, ThreadTrackerBlocksAreReusedAfterThreadExit) {
  GlobalActivityTracker* global = EnsureTracker();
  ASSERT_NE(nullptr, global);
  const PersistentMemoryAllocator& allocator = *global->allocator();
  const int live_before = global->thread_tracker_count();
  std::thread([&] {
    ThreadActivityTracker* tracker = global->GetOrCreateTrackerForCurrentThread();
    ASSERT_NE(nullptr, tracker);
    // Left on the stack at thread exit: the next owner must not see it.
    tracker->PushActivity(nullptr, Activity::ACT_PROCESS_WAIT, 1);
    EXPECT_EQ(live_before + 1, global->thread_tracker_count());
  }).join();
  EXPECT_EQ(live_before, global->thread_tracker_count());
  const int blocks = CountBlocksOfType(allocator, kTypeIdActivityTracker) +
                     CountBlocksOfType(allocator, kTypeIdActivityTrackerFree);
  EXPECT_LE(1, CountBlocksOfType(allocator, kTypeIdActivityTrackerFree));

  std::thread([&] {
    ThreadActivityTracker* tracker = global->GetOrCreateTrackerForCurrentThread();
    ASSERT_NE(nullptr, tracker);
    ThreadActivityTracker::Snapshot snapshot;
    ASSERT_TRUE(tracker->CreateSnapshot(&snapshot));
    // A fresh header for this thread (thread ids may be reused, so the
    // empty stack and the live count tell it apart from the old one).
    EXPECT_EQ(CurrentThreadId(), snapshot.thread_id);
    EXPECT_EQ(0u, snapshot.activity_stack_depth);
    EXPECT_EQ(live_before + 1, global->thread_tracker_count());
  }).join();
  EXPECT_EQ(blocks, CountBlocksOfType(allocator, kTypeIdActivityTracker) +
                        CountBlocksOfType(allocator, kTypeIdActivityTrackerFree));
}

std::wstring OwnProgram() {
  wchar_t path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::wstring(path, length);
}

TEST(ActivityTracker, ProcessLaunchAndWaitAreRecordedWhileInProgress) {
  GlobalActivityTracker* global = EnsureTracker();
  ASSERT_NE(nullptr, global);
  const std::wstring event_name =
      L"ActivityTrackerTest." + std::to_wstring(::GetCurrentProcessId());
  const testing_support::ScopedKernelHandle event(
      ::CreateEventW(nullptr, TRUE, FALSE, event_name.c_str()));
  ASSERT_TRUE(event.valid());

  ASSERT_TRUE(::SetEnvironmentVariableW(kChildEventVariable, event_name.c_str()));
  const std::wstring command_line = L"\"" + OwnProgram() + L"\" --child";
  Process child = LaunchProcess(command_line, LaunchOptions());
  testing_support::ProcessGuard guard(child.Handle());  // the child waits for the event
  ::SetEnvironmentVariableW(kChildEventVariable, nullptr);
  ASSERT_TRUE(child.IsValid());
  const ProcessId pid = child.Pid();

  std::string recorded;
  ASSERT_TRUE(global->GetLaunchedCommandLine(pid, &recorded));
  EXPECT_NE(std::string::npos, recorded.find("--child"));

  const PlatformThreadId main_id = CurrentThreadId();
  bool seen = false;
  std::thread watcher([&] {
    for (int i = 0; i < kMaxPolls && !seen; ++i) {
      seen = HasTopActivity(main_id, Activity::ACT_PROCESS_WAIT, pid);
      if (!seen)
        YieldThread();
    }
    ::SetEvent(event.get());  // lets the child end, seen or not
  });
  int exit_code = -1;
  EXPECT_TRUE(child.WaitForExit(&exit_code));
  watcher.join();
  EXPECT_TRUE(seen);
  EXPECT_EQ(kChildExitCode, exit_code);

  ThreadActivityTracker::Snapshot snapshot;
  ASSERT_TRUE(SnapshotThread(*global->allocator(), main_id, &snapshot));
  EXPECT_EQ(0u, snapshot.activity_stack_depth);
  // The exit removed the launch record.
  EXPECT_FALSE(global->GetLaunchedCommandLine(pid, &recorded));
}

TEST(ActivityTracker, ExitOfAProcessFreesTheRecordsItOwned) {
  GlobalActivityTracker* global = EnsureTracker();
  ASSERT_NE(nullptr, global);
  PersistentMemoryAllocator* allocator = global->allocator();
  constexpr int64_t kOtherPid = 0x7FFF0001;
  const PersistentMemoryAllocator::Reference mine = allocator->Allocate(64, kTypeIdUserDataRecord);
  const PersistentMemoryAllocator::Reference theirs =
      allocator->Allocate(64, kTypeIdProcessDataRecord);
  ActivityUserData my_data(allocator->GetBlockData(mine, kTypeIdUserDataRecord, 64), 64);
  ActivityUserData their_data(allocator->GetBlockData(theirs, kTypeIdProcessDataRecord, 64), 64,
                              kOtherPid);
  their_data.SetInt("process-phase", 3);
  allocator->MakeIterable(mine);
  allocator->MakeIterable(theirs);

  int64_t phase_seen = -2;
  global->SetProcessExitCallback(
      [&](int64_t pid, int64_t, int code, int64_t phase, std::string&&, ActivityUserData*) {
        if (pid == kOtherPid && code == 3)
          phase_seen = phase;
      });
  global->RecordProcessLaunch(kOtherPid, L"other.exe --flag");
  global->RecordProcessExit(kOtherPid, 3);
  global->SetProcessExitCallback(nullptr);

  EXPECT_EQ(3, phase_seen);
  EXPECT_EQ(~kTypeIdProcessDataRecord, allocator->GetType(theirs));
  EXPECT_EQ(kTypeIdUserDataRecord, allocator->GetType(mine));
  int64_t value = 0;
  EXPECT_FALSE(their_data.GetInt("process-phase", &value));  // cleared
}

TEST(ActivityTrackerDeathTest, HooksWithoutTrackerDoNothing) {
  // Runs in a fresh child process, where no tracker exists.
  EXPECT_EXIT(
      {
        bool ok = GlobalActivityTracker::Get() == nullptr;
        GlobalActivityTracker::RecordProcessLaunchIfEnabled(1, L"x");
        GlobalActivityTracker::RecordProcessExitIfEnabled(1, 0);
        GlobalActivityTracker::RecordLogMessageIfEnabled("x");
        { ScopedProcessWaitActivity wait(1); }
        Lock lock;
        lock.Acquire();
        lock.Release();
        ok = ok && GlobalActivityTracker::Get() == nullptr;
        ::ExitProcess(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(ActivityTrackerDeathTest, CreateWithLocalMemory_RefusesSizesItCannotProvide) {
  // In a fresh child process, where no tracker exists yet.
  EXPECT_EXIT(
      {
        bool ok = true;
        // Rounded up to whole words the first two would wrap to a tiny array;
        // the others are more than an array may hold or the heap can give.
        for (size_t size : {SIZE_MAX - 6, SIZE_MAX, SIZE_MAX - 7, size_t{PTRDIFF_MAX} - 7}) {
          ok = ok && !GlobalActivityTracker::CreateWithLocalMemory(size, 1, "Huge", kStackDepth, 0);
          ok = ok && GlobalActivityTracker::Get() == nullptr;
        }
        // A stack too deep for any block: the tracker exists, no thread gets one.
        ok =
            ok && GlobalActivityTracker::CreateWithLocalMemory(kSegmentSize, 1, "Deep", 1 << 25, 0);
        ok = ok && GlobalActivityTracker::Get() &&
             !GlobalActivityTracker::Get()->GetOrCreateTrackerForCurrentThread();
        ::ExitProcess(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

// A fixed name: the death-test child runs the test again on its own and must
// write where the parent reads.
std::wstring FatalSegmentPath() {
  return testing_support::TempFolder() + L"\\activity_tracker_fatal_test.pma";
}

// Runs in the death-test child: a tracker over a file mapping, then a fatal
// message.
void CreateFileTrackerAndDie() {
  HANDLE file = ::CreateFileW(FatalSegmentPath().c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
  CHECK(file != INVALID_HANDLE_VALUE);
  HANDLE mapping = ::CreateFileMappingW(file, nullptr, PAGE_READWRITE, 0, kSegmentSize, nullptr);
  CHECK(mapping != nullptr);
  void* view = ::MapViewOfFile(mapping, FILE_MAP_WRITE, 0, 0, kSegmentSize);
  CHECK(view != nullptr);
  CHECK(GlobalActivityTracker::CreateWithAllocator(
      std::make_unique<PersistentMemoryAllocator>(view, kSegmentSize, 0, 2, "Fatal", false),
      kStackDepth, 0));
  LOG(FATAL) << "the last words of the child";
}

TEST(ActivityTrackerDeathTest, FatalMessageIsRecordedInTheSharedSegment) {
  const std::wstring path = FatalSegmentPath();
  EXPECT_DEATH(CreateFileTrackerAndDie(), "the last words of the child");

  std::vector<uint64_t> words(kSegmentSize / 8);
  {
    const testing_support::ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                                               FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                               nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(file.valid());
    DWORD read = 0;
    ASSERT_TRUE(::ReadFile(file.get(), words.data(), kSegmentSize, &read, nullptr));
    ASSERT_EQ(kSegmentSize, read);
  }
  ::DeleteFileW(path.c_str());
  PersistentMemoryAllocator reader(words.data(), kSegmentSize, 0, 0, "", true);
  ASSERT_FALSE(reader.IsCorrupt());
  EXPECT_STREQ("Fatal", reader.Name());
  PersistentMemoryAllocator::Iterator iter(&reader);
  std::vector<std::string> messages;
  while (PersistentMemoryAllocator::Reference ref = iter.GetNextOfType(kTypeIdGlobalLogMessage)) {
    const char* text = static_cast<const char*>(reader.GetBlockData(ref, 0, 1));
    messages.emplace_back(text, strnlen(text, reader.GetAllocSize(ref)));
  }
  ASSERT_EQ(1u, messages.size());
  EXPECT_NE(std::string::npos, messages[0].find("the last words of the child"));
  EXPECT_NE(std::string::npos, messages[0].find(":FATAL:"));
}

}  // namespace
}  // namespace base::debug

// A child started by the process test waits for the event its parent names,
// then ends with a known code; otherwise the tests run.
int main(int argc, char** argv) {
  wchar_t event_name[256];
  if (::GetEnvironmentVariableW(base::debug::kChildEventVariable, event_name, 256) != 0) {
    const testing_support::ScopedKernelHandle event(::OpenEventW(SYNCHRONIZE, FALSE, event_name));
    if (event.valid())
      ::WaitForSingleObject(event.get(), INFINITE);
    return base::debug::kChildExitCode;
  }
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
