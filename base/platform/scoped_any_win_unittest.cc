#include "base/platform/scoped_any_win.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <utility>
#include <vector>

#include "base/platform/windows_types.h"

namespace base::win {
namespace {

// Records every value freed, and clobbers the last-error code as a real
// free may.
std::vector<int> g_freed;

struct RecordingTraits {
  using Type = int;
  static int InvalidValue() { return -1; }
  static void Free(int value) {
    g_freed.push_back(value);
    ::SetLastError(ERROR_INVALID_HANDLE);
  }
};
using Holder = ScopedAny<RecordingTraits>;

static_assert(!std::is_copy_constructible_v<Holder> && !std::is_copy_assignable_v<Holder>);
static_assert(std::is_nothrow_move_constructible_v<Holder> &&
              std::is_nothrow_move_assignable_v<Holder>);
static_assert(!std::is_convertible_v<Holder, bool> && !std::is_convertible_v<Holder, int>);

// Each operation on a holder of 5: what it frees on the spot, what the holder
// owns afterwards (freed in turn when it ends), and the thread's last-error
// code left as it was before, whatever was freed.
TEST(ScopedAny, FreesEveryOwnedValueOnceAndKeepsTheLastError) {
  constexpr DWORD kError = ERROR_FILE_NOT_FOUND;
  const struct {
    const char* name;
    void (*operation)(Holder& holder);
    std::vector<int> freed;
    int held_after;
  } cases[] = {
      {"nothing done", [](Holder&) {}, {}, 5},
      {"reset frees", [](Holder& h) { h.reset(); }, {5}, -1},
      {"reset twice frees once",
       [](Holder& h) {
         h.reset();
         h.reset();
       },
       {5},
       -1},
      {"reset to another value", [](Holder& h) { h.reset(7); }, {5}, 7},
      {"release hands over without freeing", [](Holder& h) { EXPECT_EQ(5, h.release()); }, {}, -1},
      {"Receive frees first, then owns what is written",
       [](Holder& h) { *h.Receive() = 9; },
       {5},
       9},
      {"Receive left untouched owns nothing", [](Holder& h) { (void)h.Receive(); }, {5}, -1},
      {"move construction transfers",
       [](Holder& h) {
         Holder target(std::move(h));
         EXPECT_EQ(5, target.get());
       },
       {5},
       -1},
      {"move assignment frees the target's value first",
       [](Holder& h) {
         Holder target(3);
         target = std::move(h);
         EXPECT_EQ(5, target.get());
       },
       {3, 5},
       -1},
      {"move assignment to itself keeps the value",
       [](Holder& h) {
         Holder& same = h;
         h = std::move(same);
       },
       {},
       5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    g_freed.clear();
    {
      Holder holder(5);
      ::SetLastError(kError);
      c.operation(holder);
      EXPECT_EQ(kError, ::GetLastError());
      EXPECT_EQ(c.freed, g_freed);
      EXPECT_EQ(c.held_after, holder.get());
      EXPECT_EQ(c.held_after != -1, holder.is_valid());
      EXPECT_EQ(c.held_after != -1, static_cast<bool>(holder));
    }
    std::vector<int> freed_in_all = c.freed;
    if (c.held_after != -1)
      freed_in_all.push_back(c.held_after);
    EXPECT_EQ(freed_in_all, g_freed);
  }
}

TEST(ScopedAny, DefaultHolderOwnsNothing) {
  g_freed.clear();
  {
    Holder holder;
    EXPECT_FALSE(holder.is_valid());
    EXPECT_EQ(-1, holder.get());
  }
  EXPECT_TRUE(g_freed.empty());
}

}  // namespace
}  // namespace base::win
