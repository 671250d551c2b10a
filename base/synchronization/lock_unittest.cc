#include "base/synchronization/lock.h"

#include <stdint.h>

#include <atomic>
#include <thread>
#include <vector>

#include "base/platform/activity_hooks.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// A non-atomic read-modify-write of several fields: only mutual exclusion
// keeps them consistent with what a serial run computes.
struct Ledger {
  uint64_t sum = 0;
  uint64_t count = 0;
  void Add(uint64_t value) {
    uint64_t s = sum;
    uint64_t c = count;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    sum = s + value;
    count = c + 1;
  }
};

TEST(Lock, MutualExclusionMatchesSerialOracle) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 20000;
  Ledger serial;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i)
      serial.Add(static_cast<uint64_t>(t * kPerThread + i));
  }

  Lock lock;
  Ledger shared;
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i) {
        AutoLock guard(lock);
        if (inside.fetch_add(1) != 0)
          overlaps.fetch_add(1);
        shared.Add(static_cast<uint64_t>(t * kPerThread + i));
        inside.fetch_sub(1);
      }
    });
  }
  for (auto& th : threads)
    th.join();
  EXPECT_EQ(overlaps.load(), 0);
  EXPECT_EQ(shared.sum, serial.sum);
  EXPECT_EQ(shared.count, serial.count);
}

TEST(Lock, TryAcquireFailsWhileHeldElsewhere) {
  Lock lock;
  ASSERT_TRUE(lock.TryAcquire());
  bool other_got_it = true;
  std::thread([&] { other_got_it = lock.TryAcquire(); }).join();
  EXPECT_FALSE(other_got_it);
  lock.Release();
  std::thread([&] {
    other_got_it = lock.TryAcquire();
    if (other_got_it)
      lock.Release();
  }).join();
  EXPECT_TRUE(other_got_it);
  {
    AutoLock guard(lock);
    {
      AutoUnlock unlock(lock);
      EXPECT_TRUE(lock.Try());
      lock.Release();
    }
    EXPECT_FALSE(lock.Try());
  }
}

std::atomic<int> g_begins{0};
std::atomic<int> g_ends{0};
std::atomic<const void*> g_lock_seen{nullptr};
int g_token;

void* RecordBegin(const void* lock, const void* origin) {
  g_lock_seen.store(lock);
  EXPECT_NE(origin, nullptr);
  g_begins.fetch_add(1);
  return &g_token;
}
void RecordEnd(void* token) {
  EXPECT_EQ(token, &g_token);
  g_ends.fetch_add(1);
}

TEST(Lock, OnlyABlockingAcquireReachesTheActivityHook) {
  static const debug::ActivityHooks hooks = {&RecordBegin, &RecordEnd, nullptr};
  debug::g_activity_hooks.store(&hooks);
  Lock lock;
  lock.Acquire();  // free: taken at once, nothing recorded
  lock.Release();
  EXPECT_EQ(g_begins.load(), 0);

  lock.Acquire();
  std::atomic<bool> acquired{false};
  std::thread waiter([&] {
    lock.Acquire();  // held by the main thread: must block and report
    acquired.store(true);
    lock.Release();
  });
  // Let the waiter reach the hook before the lock is released.
  while (g_begins.load() == 0)
    std::this_thread::yield();
  EXPECT_FALSE(acquired.load());
  lock.Release();
  waiter.join();
  debug::g_activity_hooks.store(nullptr);
  EXPECT_EQ(g_begins.load(), 1);
  EXPECT_EQ(g_ends.load(), 1);
  EXPECT_EQ(g_lock_seen.load(), &lock);
}

}  // namespace
}  // namespace base
