#include "base/win/scoped_handle.h"

#include <gtest/gtest.h>

#include <utility>

#include "base/win/scoped_handle_verifier.h"
#include "base/win/windows_types.h"

namespace base::win {
namespace {

HANDLE NewEvent() {
  return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// Whether `handle` is still an open handle of this process, as the system
// sees it.
bool IsOpen(HANDLE handle) {
  DWORD flags = 0;
  return ::GetHandleInformation(handle, &flags) != 0;
}

TEST(ScopedHandle, InvalidValuesLeaveHolderEmpty) {
  const struct {
    HANDLE value;
    const char* name;
  } cases[] = {
      {nullptr, "null"},
      {INVALID_HANDLE_VALUE, "INVALID_HANDLE_VALUE"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedHandle constructed(c.value);
    EXPECT_FALSE(constructed.IsValid());
    EXPECT_EQ(nullptr, constructed.Get());

    // On a holder with a handle: the old one is closed, the holder empty.
    HANDLE old_handle = NewEvent();
    ScopedHandle holder(old_handle);
    ASSERT_TRUE(holder.IsValid());
    holder.Set(c.value);
    EXPECT_FALSE(holder.IsValid());
    EXPECT_EQ(nullptr, holder.Get());
    EXPECT_FALSE(IsOpen(old_handle));
  }
}

TEST(ScopedHandle, CloseClosesOnceAndEmpties) {
  HANDLE handle = NewEvent();
  ScopedHandle holder(handle);
  EXPECT_TRUE(holder.IsValid());
  EXPECT_EQ(handle, holder.Get());
  holder.Close();
  EXPECT_FALSE(holder.IsValid());
  EXPECT_FALSE(IsOpen(handle));
  // A second Close on the empty holder does nothing (no failed close).
  holder.Close();
  EXPECT_FALSE(holder.IsValid());
}

TEST(ScopedHandle, SetOfHeldValueDoesNothing) {
  HANDLE handle = NewEvent();
  ScopedHandle holder(handle);
  // Adopting the held value again would be a double adoption if it were
  // reported; it must neither close nor re-track.
  holder.Set(handle);
  EXPECT_EQ(handle, holder.Get());
  EXPECT_TRUE(IsOpen(handle));
}

TEST(ScopedHandle, SetKeepsTheThreadsLastError) {
  constexpr DWORD kError = ERROR_FILE_NOT_FOUND;
  const struct {
    bool start_with_handle;
    bool set_valid;
    const char* name;
  } cases[] = {
      {false, true, "empty holder adopts"},
      {true, true, "old handle closed, new adopted"},
      {true, false, "old handle closed, holder emptied"},
      {false, false, "nothing to do at all"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE old_handle = c.start_with_handle ? NewEvent() : nullptr;
    ScopedHandle holder(old_handle);
    HANDLE new_handle = c.set_valid ? NewEvent() : nullptr;
    ::SetLastError(kError);
    holder.Set(new_handle);
    EXPECT_EQ(kError, ::GetLastError());
    EXPECT_EQ(new_handle, holder.Get());
    if (old_handle != nullptr) {
      EXPECT_FALSE(IsOpen(old_handle));
    }
  }
}

TEST(ScopedHandle, TakeHandsOverAnUntrackedHandle) {
  ScopedHandle empty;
  EXPECT_EQ(nullptr, empty.Take());

  HANDLE handle = NewEvent();
  ScopedHandle first(handle);
  HANDLE taken = first.Take();
  EXPECT_EQ(handle, taken);
  EXPECT_FALSE(first.IsValid());
  EXPECT_TRUE(IsOpen(taken));
  // Untracked now: an outside close passes the check, and another holder
  // may adopt the value without a double adoption.
  GetHandleVerifier()->CheckHandleBeforeClose(taken);
  ScopedHandle second(taken);
  EXPECT_EQ(handle, second.Get());
}

TEST(ScopedHandle, MoveTransfersOwnership) {
  HANDLE handle = NewEvent();
  ScopedHandle source(handle);
  ScopedHandle constructed(std::move(source));
  EXPECT_FALSE(source.IsValid());
  EXPECT_EQ(handle, constructed.Get());

  HANDLE other = NewEvent();
  ScopedHandle assigned(other);
  assigned = std::move(constructed);
  EXPECT_EQ(handle, assigned.Get());
  EXPECT_FALSE(IsOpen(other));
  EXPECT_TRUE(IsOpen(handle));

  // The new owner is the one the verifier knows: releasing through it works.
  assigned.Close();
  EXPECT_FALSE(IsOpen(handle));
}

TEST(ScopedHandle, CurrentCodeAddressLiesInTheCaller) {
  // Two calls from one function give addresses close to each other and to
  // the function itself.
  const auto* first = static_cast<const char*>(CurrentCodeAddress());
  const auto* second = static_cast<const char*>(CurrentCodeAddress());
  EXPECT_LT(first, second);
  EXPECT_LT(second - first, 64);
}

}  // namespace
}  // namespace base::win
