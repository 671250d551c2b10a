#include "base/process/launch.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/file_path.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "gtest/gtest.h"
#include "testing/process_guard.h"
#include "testing/scoped_temp_dir.h"

namespace base {
namespace {

FilePath ExeDir() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return FilePath(std::wstring_view(buffer, length)).DirName();
}

// A fresh name in this run's folder, removed with its files when the tests end.
FilePath TempFile(const wchar_t* tag) {
  static const testing_support::ScopedTempDir dir(L"launch_test");
  static int counter = 0;
  return FilePath(dir.Append(tag + std::to_wstring(++counter) + L".txt"));
}

std::wstring FromHex(const std::string& hex) {
  std::wstring out;
  for (size_t i = 0; i + 4 <= hex.size(); i += 4)
    out.push_back(static_cast<wchar_t>(std::strtoul(hex.substr(i, 4).c_str(), nullptr, 16)));
  return out;
}

// What record_child wrote about its start: key -> value.
using Report = std::map<std::string, std::string>;

Report ReadReport(const FilePath& file) {
  Report report;
  std::istringstream lines(testing_support::ReadTestFile(file.value()).value_or(""));
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      report[line.substr(0, eq)] = line.substr(eq + 1);
  }
  return report;
}

CommandLine RecordCommand(const FilePath& out) {
  CommandLine command_line(ExeDir().Append(L"record_child.exe"));
  command_line.AppendArgWide(out.value());
  return command_line;
}

// Runs record_child with `options` (and `args` after its report file) and
// returns its report; empty when it did not run or did not end with 0.
Report RunRecorded(LaunchOptions options, const std::vector<std::wstring>& args = {}) {
  const FilePath out = TempFile(L"record");
  CommandLine command_line = RecordCommand(out);
  for (const std::wstring& arg : args)
    command_line.AppendArgWide(arg);
  Process child = LaunchProcess(command_line, options);
  testing_support::ProcessGuard guard(child.Handle());
  if (!child.IsValid())
    return Report();
  int code = -1;
  if (!child.WaitForExit(&code) || code != 0)
    return Report();
  return ReadReport(out);
}

std::string Hex(const std::wstring& text) {
  std::string out;
  char unit[8];
  for (wchar_t c : text) {
    std::snprintf(unit, sizeof(unit), "%04x", static_cast<unsigned>(c));
    out += unit;
  }
  return out;
}

bool InAnyJob(HANDLE process) {
  BOOL in_job = FALSE;
  ::IsProcessInJob(process, nullptr, &in_job);
  return in_job != FALSE;
}

std::wstring CurrentDirectory() {
  wchar_t buffer[MAX_PATH] = {};
  const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
  return std::wstring(buffer, length);
}

TEST(LaunchProcess, StartupRecordFollowsOptions) {
  const FilePath std_file = TempFile(L"stdout");
  win::ScopedHandle std_out(::CreateFileW(std_file.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                          nullptr, CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE,
                                          nullptr));
  ASSERT_TRUE(std_out.IsValid());
  // A primary token of this process's own user.
  HANDLE raw_token = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &raw_token));
  win::ScopedHandle own_token(raw_token);
  raw_token = nullptr;
  ASSERT_TRUE(::DuplicateTokenEx(own_token.Get(), TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                 TokenPrimary, &raw_token));
  win::ScopedHandle user_token(raw_token);

  LaunchOptions defaults;
  LaunchOptions hidden;
  hidden.hide_window = true;
  LaunchOptions empty_desktop;
  empty_desktop.use_empty_desktop = true;
  LaunchOptions with_stdout;
  with_stdout.std_output = std_out.Get();
  with_stdout.inherited_handles = {std_out.Get()};
  LaunchOptions foreground;
  foreground.allow_foreground = true;
  LaunchOptions waited;
  waited.wait_for_exit = true;
  LaunchOptions in_exe_dir;
  in_exe_dir.working_directory = ExeDir();
  LaunchOptions as_user;
  as_user.user_token = user_token.Get();
  as_user.hide_window = true;

  const std::string default_desktop = Hex(L"WinSta0\\Default");
  const std::wstring launcher_dir = CurrentDirectory();
  const std::string disk = std::to_string(FILE_TYPE_DISK);
  const struct {
    const char* name;
    const LaunchOptions& options;
    const char* show;
    const char* flags;
    std::string desktop;
    std::wstring cwd;
    std::string stdout_type;  // empty: the launcher's own, not checked
  } cases[] = {
      {"default", defaults, "1", "1", default_desktop, launcher_dir, ""},
      {"hidden", hidden, "0", "1", default_desktop, launcher_dir, ""},
      {"empty desktop", empty_desktop, "1", "1", "", launcher_dir, ""},
      {"stdout", with_stdout, "1", "101", default_desktop, launcher_dir, disk},
      {"foreground", foreground, "1", "1", default_desktop, launcher_dir, ""},
      {"wait", waited, "1", "1", default_desktop, launcher_dir, ""},
      {"working directory", in_exe_dir, "1", "1", default_desktop, ExeDir().value(), ""},
      {"user token, hidden", as_user, "0", "1", default_desktop, launcher_dir, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Report report = RunRecorded(c.options);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report["show"], c.show);
    EXPECT_EQ(report["flags"], c.flags);
    EXPECT_EQ(report["desktop"], c.desktop);
    EXPECT_EQ(FromHex(report["cwd"]), c.cwd);
    if (!c.stdout_type.empty()) {
      EXPECT_EQ(report["stdout_type"], c.stdout_type);
    }
  }
}

TEST(LaunchProcess, WaitForExitReturnsAfterTheChildEnded) {
  LaunchOptions options;
  options.wait_for_exit = true;
  CommandLine command_line(ExeDir().Append(L"sleep_child.exe"));
  command_line.AppendArgWide(L"200");
  command_line.AppendArgWide(L"6");
  Process child = LaunchProcess(command_line, options);
  testing_support::ProcessGuard guard(child.Handle());
  ASSERT_TRUE(child.IsValid());
  int code = 0;
  EXPECT_TRUE(child.WaitForExitWithTimeout(TimeDelta(), &code));
  EXPECT_EQ(code, 6);
}

TEST(LaunchProcess, ArgumentsArriveExactly) {
  const std::vector<std::wstring> args = {
      L"plain",
      L"with blank",
      L"quo\"te",
      L"trailing\\",
      L"C:\\dir with blanks\\",
      L"back\\\\\"slash",
      L"\u00fcml\u00e4ut \u65e5\u672c",
      L"\"fully quoted\"",
      L"tab\there",
  };
  Report report = RunRecorded(LaunchOptions(), args);
  ASSERT_EQ(report["argc"], std::to_string(args.size()));
  for (size_t i = 0; i < args.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(FromHex(report["arg" + std::to_string(i)]), args[i]);
  }
}

TEST(LaunchProcess, InheritsListedHandlesOnly) {
  // Handle values far above the few a fresh child holds, so that a value
  // that was not handed over cannot name one of the child's own handles.
  std::vector<win::ScopedHandle> padding;
  for (int i = 0; i < 200; ++i)
    padding.emplace_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  win::ScopedHandle listed_event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  win::ScopedHandle other_event(::CreateEventW(&inheritable, TRUE, FALSE, nullptr));
  ASSERT_TRUE(listed_event.IsValid() && other_event.IsValid());
  HANDLE listed = listed_event.Get();
  const std::wstring listed_arg = L"handle:" + std::to_wstring(reinterpret_cast<uintptr_t>(listed));
  const std::wstring other_arg =
      L"handle:" + std::to_wstring(reinterpret_cast<uintptr_t>(other_event.Get()));

  LaunchOptions list_only;
  list_only.inherited_handles = {listed};
  LaunchOptions nothing;
  LaunchOptions everything;
  everything.handle_inheritance = LaunchOptions::Inherit::kAllInheritable;
  const struct {
    const char* name;
    const LaunchOptions& options;
    const char* listed_seen;
    const char* other_seen;
  } cases[] = {
      {"list", list_only, "1", "0"},
      {"none", nothing, "0", "0"},
      {"all inheritable", everything, "0", "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Report report = RunRecorded(c.options, {listed_arg, other_arg});
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report["handle0"], c.listed_seen);
    EXPECT_EQ(report["handle1"], c.other_seen);
    // "list" made the listed handle inheritable: reset for the next rows.
    ::SetHandleInformation(listed, HANDLE_FLAG_INHERIT, 0);
  }
}

TEST(LaunchProcess, JobOptionPlacesTheChildBeforeItRuns) {
  win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job.IsValid());
  LaunchOptions options;
  options.job = job.Get();
  const FilePath out = TempFile(L"job");
  Process child = LaunchProcess(RecordCommand(out), options);
  testing_support::ProcessGuard guard(child.Handle());
  ASSERT_TRUE(child.IsValid());
  BOOL in_this_job = FALSE;
  EXPECT_TRUE(::IsProcessInJob(child.Handle(), job.Get(), &in_this_job));
  EXPECT_TRUE(in_this_job);
  int code = -1;
  EXPECT_TRUE(child.WaitForExit(&code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadReport(out)["in_job"], "1");

  // Without the option the child is in a job only if the launcher is.
  Report report = RunRecorded(LaunchOptions());
  EXPECT_EQ(report["in_job"], InAnyJob(::GetCurrentProcess()) ? "1" : "0");
}

// Runs only as the child of JobOptions_BreakawayLeavesTheLaunchersJob, inside
// that test's job: launches record_child with or without break-away.
TEST(LaunchProcess, BreakawayHelper) {
  const char* out = std::getenv("LAUNCH_TEST_BREAKAWAY_OUT");
  if (!out || !*out)
    GTEST_SKIP() << "only runs inside the break-away test";
  const char* mode = std::getenv("LAUNCH_TEST_BREAKAWAY_MODE");
  LaunchOptions options;
  options.breakaway_from_job = mode && std::string(mode) == "1";
  std::wstring out_path;
  for (const char* c = out; *c; ++c)
    out_path.push_back(static_cast<wchar_t>(*c));
  Process child = LaunchProcess(RecordCommand(FilePath(out_path)), options);
  testing_support::ProcessGuard guard(child.Handle());
  ASSERT_TRUE(child.IsValid());
  int code = -1;
  ASSERT_TRUE(child.WaitForExit(&code));
  ASSERT_EQ(code, 0);
}

TEST(LaunchProcess, BreakawayLeavesTheLaunchersJob) {
  win::ScopedHandle job(::CreateJobObjectW(nullptr, nullptr));
  ASSERT_TRUE(job.IsValid());
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  ASSERT_TRUE(::SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits,
                                        sizeof(limits)));
  wchar_t self[MAX_PATH];
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);

  const struct {
    const wchar_t* mode;
    const char* in_job;
  } cases[] = {{L"1", "0"}, {L"0", "1"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in_job);
    const FilePath out = TempFile(L"breakaway");
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_BREAKAWAY_OUT", out.value().c_str());
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_BREAKAWAY_MODE", c.mode);
    CommandLine command_line{FilePath(self)};
    command_line.AppendArgWide(L"--gtest_filter=LaunchProcess.BreakawayHelper");
    LaunchOptions options;
    options.job = job.Get();
    Process helper = LaunchProcess(command_line, options);
    testing_support::ProcessGuard guard(helper.Handle());
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_BREAKAWAY_OUT", nullptr);
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_BREAKAWAY_MODE", nullptr);
    ASSERT_TRUE(helper.IsValid());
    int code = -1;
    ASSERT_TRUE(helper.WaitForExit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadReport(out)["in_job"], c.in_job);
  }
}

TEST(LaunchProcess, FailuresGiveAnInvalidProcess) {
  LaunchOptions options;
  EXPECT_FALSE(LaunchProcess(ExeDir().Append(L"no_such_program.exe").value(), options).IsValid());
  EXPECT_FALSE(LaunchProcess(std::wstring(), options).IsValid());
}

TEST(ExtendedStartupInfo, OneAttributeListPerRecord) {
  ExtendedStartupInfo info;
  HANDLE handle = nullptr;
  EXPECT_FALSE(info.SetAttribute(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle, sizeof(handle)));
  EXPECT_FALSE(info.has_attribute_list());
  EXPECT_TRUE(info.CreateAttributeList(1));
  EXPECT_TRUE(info.has_attribute_list());
  EXPECT_FALSE(info.CreateAttributeList(1));
  EXPECT_EQ(info.startup_info()->StartupInfo.cb, sizeof(STARTUPINFOEXW));
}

TEST(LaunchProcess, ThousandLaunchesLeakNoHandle) {
  const std::wstring command =
      CommandLine(ExeDir().Append(L"exit_code_child.exe")).GetCommandLineString() + L" 0";
  auto launch_once = [&] {
    Process child = LaunchProcess(command, LaunchOptions());
    testing_support::ProcessGuard guard(child.Handle());
    return child.IsValid() && child.WaitForExit(nullptr);
  };
  // The first launch may create lasting process-wide state.
  ASSERT_TRUE(launch_once());
  DWORD before = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &before));
  int failures = 0;
  for (int i = 0; i < 1000; ++i)
    failures += launch_once() ? 0 : 1;
  DWORD after = 0;
  ASSERT_TRUE(::GetProcessHandleCount(::GetCurrentProcess(), &after));
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(after, before);
}

TEST(LaunchProcessDeathTest, HandleThatCannotBeInheritedIsFatal) {
  LaunchOptions options;
  options.inherited_handles = {reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFF0))};
  const std::wstring command = ExeDir().Append(L"exit_code_child.exe").value();
  EXPECT_DEATH(LaunchProcess(command, options), "launch_win.cc\\(221\\)\\] Check failed: result. ");
}

}  // namespace
}  // namespace base
