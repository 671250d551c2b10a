#include "base/threading/thread_local_storage.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "base/platform/windows_types.h"
#include "testing/scoped_test_handle.h"

namespace base {
namespace {

using internal::GetTlsVectorForTesting;
using internal::PlatformThreadLocalStorage;

void* const kTornDownValue = reinterpret_cast<void*>(1);

// Runs `body` on a new thread and returns once the thread has ended, which
// includes its exit processing (the TLS callback runs before the thread
// handle is signalled).
enum class ThreadKind { kCreateThread, kStdThread };

template <typename Body>
void RunOnThread(ThreadKind kind, Body body) {
  if (kind == ThreadKind::kStdThread) {
    std::thread thread(body);
    thread.join();
    return;
  }
  struct Trampoline {
    static DWORD WINAPI Run(void* param) {
      (*static_cast<Body*>(param))();
      return 0;
    }
  };
  const testing_support::ScopedKernelHandle thread(
      ::CreateThread(nullptr, 0, &Trampoline::Run, &body, 0, nullptr));
  ASSERT_TRUE(thread.valid());
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(thread.get(), INFINITE));
}

// Destructor bookkeeping shared by the tests; reset by each test.
std::vector<void*> g_destroyed;

void RecordDestructor(void* value) {
  g_destroyed.push_back(value);
}

TEST(ThreadLocalStorage, FreshProcess_FirstSlotIsOneAndReadersGetNoVector) {
  // Runs in a child process of its own, where no slot exists yet.
  EXPECT_EXIT(
      {
        if (GetTlsVectorForTesting() != nullptr)
          std::_Exit(10);
        TlsSlot first;
        TlsSlot second;
        if (first.index() != 1 || second.index() != 2)
          std::_Exit(11);
        if (GetTlsVectorForTesting() == nullptr)
          std::_Exit(12);
        bool reader_ok = false;
        std::thread reader(
            [&] { reader_ok = first.Get() == nullptr && GetTlsVectorForTesting() == nullptr; });
        reader.join();
        std::_Exit(reader_ok ? 0 : 13);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ThreadLocalStorage, DestructorRunsAtThreadExit) {
  static TlsSlot slot(&RecordDestructor);
  static TlsSlot no_destructor;
  int marker = 0;
  int kept = 0;
  const struct {
    ThreadKind kind;
    const char* name;
  } cases[] = {
      {ThreadKind::kCreateThread, "CreateThread"},
      {ThreadKind::kStdThread, "std::thread"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_destroyed.clear();
    void* seen_before = &kept;
    RunOnThread(c.kind, [&] {
      seen_before = slot.Get();
      slot.Set(&marker);
      no_destructor.Set(&kept);
    });
    EXPECT_EQ(nullptr, seen_before);
    ASSERT_EQ(1u, g_destroyed.size());
    EXPECT_EQ(&marker, g_destroyed[0]);
    // The main thread never stored a value.
    EXPECT_EQ(nullptr, slot.Get());
  }
}

TEST(ThreadLocalStorage, ThreadWithoutSlotsRunsNoDestructorAndAllocatesNothing) {
  static TlsSlot slot(&RecordDestructor);
  g_destroyed.clear();
  void* vector_at_end = kTornDownValue;
  RunOnThread(ThreadKind::kCreateThread, [&] { vector_at_end = GetTlsVectorForTesting(); });
  EXPECT_EQ(nullptr, vector_at_end);
  EXPECT_TRUE(g_destroyed.empty());
}

TEST(ThreadLocalStorage, OtherThreadsValuesAreUntouched) {
  static TlsSlot slot(&RecordDestructor);
  int main_value = 0;
  slot.Set(&main_value);
  g_destroyed.clear();

  constexpr int kThreads = 4;
  int thread_values[kThreads] = {};
  std::vector<void*> first_reads(kThreads, kTornDownValue);
  std::vector<void*> last_reads(kThreads, nullptr);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      first_reads[i] = slot.Get();
      slot.Set(&thread_values[i]);
      std::this_thread::yield();
      last_reads[i] = slot.Get();
    });
  }
  for (auto& t : threads)
    t.join();

  for (int i = 0; i < kThreads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(nullptr, first_reads[i]);
    EXPECT_EQ(&thread_values[i], last_reads[i]);
  }
  // Each thread's value went to the destructor once; the main thread's
  // value stays.
  std::vector<void*> expected;
  for (int i = 0; i < kThreads; ++i)
    expected.push_back(&thread_values[i]);
  std::sort(g_destroyed.begin(), g_destroyed.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(expected, g_destroyed);
  EXPECT_EQ(&main_value, slot.Get());
  slot.Set(nullptr);
}

// A destructor that stores a value into a second slot: the second slot's
// destructor runs too, also when its index was already passed.
TlsSlot* g_chain_target = nullptr;
int g_chain_value = 0;

void ChainDestructor(void* value) {
  g_destroyed.push_back(value);
  g_chain_target->Set(&g_chain_value);
}

TEST(ThreadLocalStorage, DestructorStoringAnotherSlotCausesAnotherPass) {
  // Allocated in this order, so the indices ascend.
  static TlsSlot lower(&RecordDestructor);
  static TlsSlot chain(&ChainDestructor);
  static TlsSlot higher(&RecordDestructor);
  ASSERT_LT(lower.index(), chain.index());
  ASSERT_LT(chain.index(), higher.index());
  int start = 0;
  const struct {
    TlsSlot* target;
    const char* name;
  } cases[] = {
      {&lower, "target already passed: needs a second pass"},
      {&higher, "target still ahead in the same pass"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_destroyed.clear();
    g_chain_target = c.target;
    RunOnThread(ThreadKind::kStdThread, [&] { chain.Set(&start); });
    const std::vector<void*> expected = {&start, &g_chain_value};
    EXPECT_EQ(expected, g_destroyed);
  }
}

// A destructor that stores its own slot again, `g_reset_limit` times.
TlsSlot* g_self_slot = nullptr;
int g_self_calls = 0;
int g_reset_limit = 0;

void SelfResettingDestructor(void* value) {
  ++g_self_calls;
  if (g_self_calls <= g_reset_limit)
    g_self_slot->Set(value);
}

TEST(ThreadLocalStorage, DestructorPassesStopAfterTheLimit) {
  static TlsSlot slot(&SelfResettingDestructor);
  g_self_slot = &slot;
  const struct {
    int resets;
    int expected_calls;
  } cases[] = {
      {0, 1},      {254, 255}, {255, 256},  // the last pass allowed
      {256, 256},                           // one more would be pass 257
      {1000, 256},
  };
  int value = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.resets);
    g_self_calls = 0;
    g_reset_limit = c.resets;
    RunOnThread(ThreadKind::kCreateThread, [&] { slot.Set(&value); });
    EXPECT_EQ(c.expected_calls, g_self_calls);
  }
}

// Reads the destructor-less slot while exit processing runs.
TlsSlot* g_keeper = nullptr;
void* g_keeper_value_during_exit = nullptr;

void ProbeDestructor(void*) {
  g_keeper_value_during_exit = g_keeper->Get();
}

TEST(ThreadLocalStorage, SlotWithoutDestructorKeepsValueThroughExit) {
  static TlsSlot keeper;
  static TlsSlot probe(&ProbeDestructor);
  ASSERT_LT(keeper.index(), probe.index());
  g_keeper = &keeper;
  g_keeper_value_during_exit = nullptr;
  int value = 0;
  RunOnThread(ThreadKind::kStdThread, [&] {
    keeper.Set(&value);
    probe.Set(&value);
  });
  // The pass went over the keeper's index before the probe's destructor ran.
  EXPECT_EQ(&value, g_keeper_value_during_exit);
}

TEST(ThreadLocalStorage, UseAfterTearDown_GetIsNullAndSetIsIgnored) {
  static TlsSlot slot(&RecordDestructor);
  g_destroyed.clear();
  int value = 0;
  int late_value = 0;
  struct {
    void* raw_after_exit = nullptr;
    void* get_after_exit = kTornDownValue;
    void* raw_after_late_set = nullptr;
    void* raw_after_second_exit = kTornDownValue;
  } seen;
  RunOnThread(ThreadKind::kCreateThread, [&] {
    slot.Set(&value);
    PlatformThreadLocalStorage::OnThreadExit();
    seen.raw_after_exit = GetTlsVectorForTesting();
    seen.get_after_exit = slot.Get();
    slot.Set(&late_value);
    seen.raw_after_late_set = GetTlsVectorForTesting();
    PlatformThreadLocalStorage::OnThreadExit();
    seen.raw_after_second_exit = GetTlsVectorForTesting();
  });
  EXPECT_EQ(kTornDownValue, seen.raw_after_exit);
  EXPECT_EQ(nullptr, seen.get_after_exit);
  EXPECT_EQ(kTornDownValue, seen.raw_after_late_set);
  EXPECT_EQ(nullptr, seen.raw_after_second_exit);
  // One destructor call, from the first exit processing only; the late value
  // was dropped and the real thread exit found nothing to do.
  ASSERT_EQ(1u, g_destroyed.size());
  EXPECT_EQ(&value, g_destroyed[0]);
}

TEST(ThreadLocalStorage, ConcurrentAllocationMatchesSerialOrder) {
  // In a fresh child process: 8 threads allocating 4 slots each get the same
  // set of indices that 32 serial allocations get, 1 to 32, each once.
  EXPECT_EXIT(
      {
        constexpr int kThreads = 8;
        constexpr int kPerThread = 4;
        std::vector<int> indices(kThreads * kPerThread, -1);
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
          threads.emplace_back([&, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads)
              std::this_thread::yield();
            for (int i = 0; i < kPerThread; ++i)
              indices[t * kPerThread + i] = (new TlsSlot())->index();
          });
        }
        for (auto& thread : threads)
          thread.join();
        std::sort(indices.begin(), indices.end());
        for (int i = 0; i < kThreads * kPerThread; ++i) {
          if (indices[i] != i + 1)
            std::_Exit(20 + i);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ThreadLocalFlag, IsPerThreadAndFalseByDefault) {
  static ThreadLocalFlag flag;
  EXPECT_FALSE(flag.Get());
  flag.Set(true);
  EXPECT_TRUE(flag.Get());
  bool other_thread_saw = true;
  bool other_thread_set = false;
  RunOnThread(ThreadKind::kStdThread, [&] {
    other_thread_saw = flag.Get();
    flag.Set(true);
    flag.Set(false);
    other_thread_set = flag.Get();
  });
  EXPECT_FALSE(other_thread_saw);
  EXPECT_FALSE(other_thread_set);
  EXPECT_TRUE(flag.Get());
  flag.Set(false);
  EXPECT_FALSE(flag.Get());
}

TEST(ThreadLocalStorageDeathTest, AllSlotsInUse) {
  // Boundary pair in fresh child processes: 256 slots are handed out (1 to
  // 255, then 0); the 257th allocation is fatal.
  EXPECT_EXIT(
      {
        for (int i = 1; i < ThreadLocalStorage::kThreadLocalStorageSize; ++i) {
          if ((new TlsSlot())->index() != i)
            std::_Exit(1);
        }
        std::_Exit((new TlsSlot())->index() == 0 ? 0 : 2);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_DEATH(
      {
        for (int i = 0; i < ThreadLocalStorage::kThreadLocalStorageSize; ++i)
          new TlsSlot();
        new TlsSlot();
      },
      "thread_local_storage\\.cc\\(345\\)\\] Check failed: slot_ != kInvalidSlotValue "
      "\\(-1 vs\\. -1\\)");
}

TEST(ThreadLocalStorageDeathTest, SecondVectorForOneThread) {
  EXPECT_DEATH(
      {
        internal::ConstructTlsVectorForTesting();
        internal::ConstructTlsVectorForTesting();
      },
      "thread_local_storage\\.cc\\(181\\)\\] Check failed: "
      "PlatformThreadLocalStorage::GetTLSValue\\(key\\) == kUninitialized");
}

TEST(ThreadLocalStorageDeathTest, NoPlatformIndexLeft) {
  // Use up the platform's indexes before the first slot exists.
  EXPECT_DEATH(
      {
        while (::TlsAlloc() != TLS_OUT_OF_INDEXES) {
        }
        TlsSlot slot;
      },
      "thread_local_storage\\.cc\\(153\\)\\] Check failed: "
      "PlatformThreadLocalStorage::AllocTLS\\(&key\\)");
}

}  // namespace
}  // namespace base
