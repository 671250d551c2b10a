#include "update/holders.h"

#include <sstream>
#include <string>
#include <vector>

#include "base/logging.h"
#include "base/logging_internal.h"
#include "base/platform/windows_types.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/scoped_temp_dir.h"

namespace update {
namespace {

// The messages of the WARNING lines `log` holds, in order, prefixes removed; a
// line of another severity is kept whole, so that it shows.
std::vector<std::string> WarningTexts(const std::string& log) {
  std::vector<std::string> texts;
  std::istringstream lines(log);
  for (std::string line; std::getline(lines, line);) {
    const size_t text = line.find("] ");
    if (text != std::string::npos && line.find(":WARNING:") < text)
      texts.push_back(line.substr(text + 2));
    else if (!line.empty())
      texts.push_back(line);
  }
  return texts;
}

// The report's lines for lists of holders as FindHolders gives them, written
// to a real log file and read back. Names and paths outside ASCII must arrive
// as UTF-8.
TEST(LogHolders, WritesOneWarningPerHolderOrSaysWhyThereIsNone) {
  const base::FilePath held(L"C:\\Games\\\x4E91\x6E38\x620F\\Client\\data");
  const std::string held_utf8 = "C:\\Games\\\xE4\xBA\x91\xE6\xB8\xB8\xE6\x88\x8F\\Client\\data";
  const struct {
    const char* name;
    std::vector<Holder> holders;
    bool asked;
    std::vector<std::string> expected;
  } cases[] = {
      {"two holders, in the order given",
       {{L"ZeltorCloudPlay", 4242, 1}, {L"\x6740\x6BD2", 7, 0}},
       true,
       {"held by ZeltorCloudPlay (pid 4242, session 1): " + held_utf8,
        "held by \xE6\x9D\x80\xE6\xAF\x92 (pid 7, session 0): " + held_utf8}},
      {"one holder without a name",
       {{L"", 4294967295u, 3}},
       true,
       {"held by  (pid 4294967295, session 3): " + held_utf8}},
      {"the platform names nobody",
       {},
       true,
       {"the platform names no program holding " + held_utf8}},
      {"the platform could not be asked",
       {},
       false,
       {"the platform could not say who holds " + held_utf8}},
      {"not asked: a list left over is not reported",
       {{L"stale", 1, 1}},
       false,
       {"the platform could not say who holds " + held_utf8}},
  };
  const testing_support::ScopedTempDir temp(L"holders_log");
  const std::wstring log = temp.Append(L"update.log");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    logging::LoggingSettings settings;
    settings.log_file_path = log.c_str();
    settings.delete_old = logging::DELETE_OLD_LOG_FILE;
    ASSERT_TRUE(logging::InitializeLogging(settings));
    LogHolders(held, c.holders, c.asked);
    // Logging goes nowhere again and lets go of the file, so that it can be
    // read and its folder removed.
    settings.logging_dest = logging::LOG_NONE;
    ASSERT_TRUE(logging::InitializeLogging(settings));
    logging::internal::CloseLogFile();
    EXPECT_EQ(WarningTexts(testing_support::ReadTestFile(log).value_or("<no log>")), c.expected);
  }
}

// The real Restart Manager: a file this process holds open names this
// process. Wine's Restart Manager starts no session or names nobody, so there
// the test skips and the report's lines are covered by the table above.
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
