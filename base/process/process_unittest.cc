#include "base/process/process.h"

#include <string>

#include "base/command_line.h"
#include "base/debug/activity_tracker.h"
#include "base/file_path.h"
#include "base/process/launch.h"
#include "base/strings/utf_string_conversions.h"
#include "gtest/gtest.h"
#include "testing/process_guard.h"

namespace base {
namespace {

// The fixture programs lie beside the test program.
FilePath ChildPath(const wchar_t* name) {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return FilePath(std::wstring_view(buffer, length)).DirName().Append(name);
}

using testing_support::ProcessGuard;

Process StartChild(const wchar_t* name, std::initializer_list<std::wstring> args) {
  CommandLine command_line(ChildPath(name));
  for (const std::wstring& arg : args)
    command_line.AppendArgWide(arg);
  return LaunchProcess(command_line, LaunchOptions());
}

TEST(Process, WaitForExit_RoundTripsExitCodes) {
  const struct {
    const wchar_t* arg;
    int expected;
  } cases[] = {
      {L"0", 0},
      {L"1", 1},
      {L"259", 259},  // The value the platform uses for "still running".
      {L"0xC0000005", static_cast<int>(0xC0000005u)},
      {L"-1", -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.expected);
    Process child = StartChild(L"exit_code_child.exe", {c.arg});
    ProcessGuard guard(child.Handle());
    ASSERT_TRUE(child.IsValid());
    int code = 12345;
    EXPECT_TRUE(child.WaitForExit(&code));
    EXPECT_EQ(code, c.expected);
    // The handle stays open after the end: the id and the code still read.
    EXPECT_NE(child.Pid(), 0u);
    code = 12345;
    EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta(), &code));
    EXPECT_EQ(code, c.expected);
  }
}

TEST(Process, WaitForExitWithTimeout_TimesOutThenReturnsCode) {
  Process child = StartChild(L"sleep_child.exe", {L"3000", L"7"});
  ProcessGuard guard(child.Handle());
  ASSERT_TRUE(child.IsValid());
  const TimeDelta short_waits[] = {TimeDelta::FromMilliseconds(100), TimeDelta(),
                                   TimeDelta::FromMilliseconds(-5)};
  for (TimeDelta timeout : short_waits) {
    SCOPED_TRACE(timeout.InMilliseconds());
    int code = 12345;
    EXPECT_FALSE(child.WaitForExitWithTimeout(timeout, &code));
    EXPECT_EQ(code, 12345);
  }
  // Fifty days is more than the platform's limit: it waits without one.
  int code = 12345;
  EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta::FromDays(50), &code));
  EXPECT_EQ(code, 7);
  EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta(), nullptr));
  EXPECT_TRUE(child.WaitForExit(nullptr));
}

TEST(Process, Open_ValidForLiveChildInvalidForMissingId) {
  Process child = StartChild(L"sleep_child.exe", {L"60000"});
  ProcessGuard guard(child.Handle());
  ASSERT_TRUE(child.IsValid());
  Process opened = Process::Open(child.Pid());
  EXPECT_TRUE(opened.IsValid());
  EXPECT_EQ(opened.Pid(), child.Pid());
  EXPECT_FALSE(opened.WaitForExitWithTimeout(TimeDelta(), nullptr));
  EXPECT_TRUE(opened.Terminate(5, true));

  // Ids that name no process: 0 is refused outright; a large multiple of 4
  // is checked against the platform first.
  const ProcessId missing[] = {0, 0x7FFFFFF0};
  for (ProcessId pid : missing) {
    SCOPED_TRACE(pid);
    if (win::ScopedHandle(::OpenProcess(SYNCHRONIZE, FALSE, pid)).IsValid())
      continue;
    Process process = Process::Open(pid);
    EXPECT_FALSE(process.IsValid());
    EXPECT_EQ(process.Pid(), 0u);
  }
  int code = 0;
  EXPECT_TRUE(child.WaitForExit(&code));
  EXPECT_EQ(code, 5);
}

TEST(Process, Terminate_SetsTheGivenCodeOrKeepsTheRealOne) {
  Process running = StartChild(L"sleep_child.exe", {L"60000"});
  ProcessGuard running_guard(running.Handle());
  ASSERT_TRUE(running.IsValid());
  EXPECT_TRUE(running.Terminate(42, true));
  int code = 0;
  EXPECT_TRUE(running.WaitForExitWithTimeout(TimeDelta(), &code));
  EXPECT_EQ(code, 42);

  Process ended = StartChild(L"exit_code_child.exe", {L"3"});
  ProcessGuard ended_guard(ended.Handle());
  ASSERT_TRUE(ended.IsValid());
  ASSERT_TRUE(ended.WaitForExit(nullptr));
  EXPECT_TRUE(ended.Terminate(9, false));
  EXPECT_TRUE(ended.WaitForExit(&code));
  EXPECT_EQ(code, 3);
}

TEST(Process, MoveTransfersOwnership) {
  Process child = StartChild(L"exit_code_child.exe", {L"4"});
  ProcessGuard guard(child.Handle());
  ASSERT_TRUE(child.IsValid());
  const ProcessId pid = child.Pid();
  Process moved(std::move(child));
  EXPECT_FALSE(child.IsValid());
  EXPECT_EQ(moved.Pid(), pid);
  Process assigned;
  EXPECT_FALSE(assigned.IsValid());
  assigned = std::move(moved);
  int code = 0;
  EXPECT_TRUE(assigned.WaitForExit(&code));
  EXPECT_EQ(code, 4);
}

// With a tracker present, a launch is remembered with its command line until
// a wait or a termination finds the process ended, and a wait is tracked on
// the waiting thread. The tracker then stays for the rest of this program.
TEST(ProcessWithTracker, LaunchWaitAndExitReachTheTracker) {
  using debug::GlobalActivityTracker;
  if (!GlobalActivityTracker::Get()) {
    ASSERT_TRUE(GlobalActivityTracker::CreateWithLocalMemory(1 << 20, 0, "process_test", 4, 0));
  }
  GlobalActivityTracker* tracker = GlobalActivityTracker::Get();
  ASSERT_NE(tracker, nullptr);

  CommandLine waited(ChildPath(L"sleep_child.exe"));
  waited.AppendArgWide(L"50");
  waited.AppendArgWide(L"8");
  CommandLine terminated(ChildPath(L"sleep_child.exe"));
  terminated.AppendArgWide(L"60000");
  for (bool terminate : {false, true}) {
    SCOPED_TRACE(terminate);
    const CommandLine& command_line = terminate ? terminated : waited;
    Process child = LaunchProcess(command_line, LaunchOptions());
    ProcessGuard guard(child.Handle());
    ASSERT_TRUE(child.IsValid());
    std::string recorded;
    EXPECT_TRUE(tracker->GetLaunchedCommandLine(child.Pid(), &recorded));
    EXPECT_EQ(recorded, WideToUTF8(command_line.GetCommandLineString()));
    if (terminate) {
      EXPECT_TRUE(child.Terminate(3, true));
    } else {
      int code = 0;
      EXPECT_TRUE(child.WaitForExit(&code));
      EXPECT_EQ(code, 8);
      EXPECT_GE(tracker->thread_tracker_count(), 1);
    }
    EXPECT_FALSE(tracker->GetLaunchedCommandLine(child.Pid(), &recorded));
  }
}

TEST(ProcessDeathTest, AdoptingThePseudoHandleIsFatal) {
  EXPECT_DEATH(Process process(::GetCurrentProcess()),
               "process_win.cc\\(28\\)\\] Check failed: handle != ::GetCurrentProcess\\(\\)");
}

}  // namespace
}  // namespace base
