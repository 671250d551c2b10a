#include "update/holders.h"

#include <string>

#include "base/platform/windows_types.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"

namespace update {
namespace {

// A file this process holds open is reported with this process as a holder,
// where the platform reports holders at all.
TEST(FindHolders, NamesThisProcessForAFileItHolds) {
  wchar_t folder[MAX_PATH], name[MAX_PATH];
  ASSERT_NE(GetTempPathW(MAX_PATH, folder), 0u);
  ASSERT_NE(GetTempFileNameW(folder, L"hld", 0, name), 0u);
  {
    const base::win::ScopedHandle held(
        CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.IsValid());
    std::vector<Holder> holders;
    const bool asked = FindHolders(base::FilePath(name), &holders);
    bool named = false;
    for (const Holder& holder : holders)
      named = named || holder.pid == GetCurrentProcessId();
    if (!asked || holders.empty()) {
      DeleteFileW(name);
      GTEST_SKIP() << "the platform names no holders here ("
                   << (asked ? "empty list" : "no session") << "): nothing to check";
    }
    EXPECT_TRUE(named) << holders.size() << " holders, none of them this process";
  }
  DeleteFileW(name);
}

}  // namespace
}  // namespace update
