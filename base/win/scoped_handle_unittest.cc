#include "base/win/scoped_handle.h"

#include <gtest/gtest.h>

#include <utility>

#include "base/platform/windows_types.h"
#include "base/win/scoped_handle_verifier.h"

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

// Set and the constructor: null and INVALID_HANDLE_VALUE leave the holder
// empty; the old handle is closed unless it is the value set again (which is
// neither closed nor tracked twice); the thread's last error is kept.
TEST(ScopedHandle, SetClosesTheOldHandleAndKeepsTheLastError) {
  constexpr DWORD kError = ERROR_FILE_NOT_FOUND;
  enum NewValue { kNull, kInvalid, kFresh, kHeld };
  const struct {
    const char* name;
    bool start_with_handle;
    NewValue value;
  } cases[] = {
      {"empty holder adopts", false, kFresh},
      {"empty holder, null", false, kNull},
      {"empty holder, INVALID_HANDLE_VALUE", false, kInvalid},
      {"old handle closed, new adopted", true, kFresh},
      {"old handle closed, null empties", true, kNull},
      {"old handle closed, INVALID_HANDLE_VALUE empties", true, kInvalid},
      {"held value set again: nothing happens", true, kHeld},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    HANDLE old_handle = c.start_with_handle ? NewEvent() : nullptr;
    ScopedHandle holder(old_handle);
    HANDLE value = c.value == kFresh     ? NewEvent()
                   : c.value == kHeld    ? old_handle
                   : c.value == kInvalid ? INVALID_HANDLE_VALUE
                                         : nullptr;
    const HANDLE expected = c.value == kFresh || c.value == kHeld ? value : nullptr;
    ::SetLastError(kError);
    holder.Set(value);
    EXPECT_EQ(kError, ::GetLastError());
    EXPECT_EQ(expected, holder.Get());
    EXPECT_EQ(expected != nullptr, holder.IsValid());
    if (old_handle) {
      EXPECT_EQ(c.value == kHeld, IsOpen(old_handle));
    }
    if (!expected) {
      ScopedHandle constructed(value);
      EXPECT_FALSE(constructed.IsValid());
      EXPECT_EQ(nullptr, constructed.Get());
    }
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
