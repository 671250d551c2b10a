#include "base/synchronization/lazy_creation.h"

#include <atomic>
#include <thread>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

struct Widget {
  int value = 7;
};

TEST(LazyCreation, ExactlyOneCreatorWhenManyThreadsRace) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20;
  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    LazyState state{0};
    std::atomic<int> creations{0};
    std::atomic<bool> go{false};
    std::vector<Widget*> seen(kThreads, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        while (!go.load())
          std::this_thread::yield();
        seen[t] = GetOrCreateLazyInstance<Widget>(&state, [&] {
          creations.fetch_add(1);
          std::this_thread::yield();  // widen the window in which others wait
          return new Widget;
        });
      });
    }
    go.store(true);
    for (auto& th : threads)
      th.join();
    EXPECT_EQ(creations.load(), 1);
    for (Widget* w : seen) {
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(w, seen[0]);
      EXPECT_EQ(w->value, 7);
    }
    delete seen[0];
  }
}

TEST(LazyCreation, StateWordMovesFromZeroToCreatingToInstance) {
  LazyState state{0};
  ASSERT_TRUE(NeedsLazyCreation(&state));
  EXPECT_EQ(state.load(), kLazyStateCreating);
  Widget widget;
  CompleteLazyCreation(&state, &widget, nullptr, nullptr);
  EXPECT_EQ(state.load(), reinterpret_cast<uintptr_t>(&widget));
  EXPECT_FALSE(NeedsLazyCreation(&state));  // created: never true again
  EXPECT_EQ(state.load(), reinterpret_cast<uintptr_t>(&widget));
}

TEST(LazyCreation, WaiterReturnsOnlyAfterCompletion) {
  LazyState state{0};
  ASSERT_TRUE(NeedsLazyCreation(&state));
  Widget widget;
  std::atomic<bool> returned{false};
  std::thread waiter([&] {
    EXPECT_FALSE(NeedsLazyCreation(&state));
    EXPECT_EQ(state.load(), reinterpret_cast<uintptr_t>(&widget));
    returned.store(true);
  });
  EXPECT_FALSE(returned.load());
  CompleteLazyCreation(&state, &widget, nullptr, nullptr);
  waiter.join();
  EXPECT_TRUE(returned.load());
}

}  // namespace
}  // namespace base
