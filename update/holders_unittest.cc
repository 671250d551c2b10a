#include "update/holders.h"

#include <string>

#include "base/platform/windows_types.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/scoped_temp_dir.h"

namespace update {
namespace {

// A file this process holds open is reported with this process as a holder,
// where the platform reports holders at all.
TEST(FindHolders, NamesThisProcessForAFileItHolds) {
  const testing_support::ScopedTempDir temp(L"holders");
  const std::wstring name = temp.Append(L"held");
  ASSERT_TRUE(testing_support::WriteTestFile(name, "x"));
  const base::win::ScopedHandle held(
      CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.IsValid());
  std::vector<Holder> holders;
  const bool asked = FindHolders(base::FilePath(name), &holders);
  bool named = false;
  for (const Holder& holder : holders)
    named = named || holder.pid == GetCurrentProcessId();
  if (!asked || holders.empty()) {
    GTEST_SKIP() << "the platform names no holders here (" << (asked ? "empty list" : "no session")
                 << "): nothing to check";
  }
  EXPECT_TRUE(named) << holders.size() << " holders, none of them this process";
}

}  // namespace
}  // namespace update
