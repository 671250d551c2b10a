#include "base/process/launch.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/file_path.h"
#include "base/process/process.h"
#include "gtest/gtest.h"

namespace base {
namespace {

FilePath ExeDir() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return FilePath(std::wstring_view(buffer, length)).DirName();
}

FilePath TempFile(const wchar_t* tag) {
  wchar_t dir[MAX_PATH];
  ::GetTempPathW(MAX_PATH, dir);
  static int counter = 0;
  return FilePath(dir).Append(std::wstring(L"launch_test_") + tag + L"_" +
                              std::to_wstring(::GetCurrentProcessId()) + L"_" +
                              std::to_wstring(++counter) + L".txt");
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
  HANDLE h = ::CreateFileW(file.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE)
    return report;
  std::string text(65536, '\0');
  DWORD read = 0;
  ::ReadFile(h, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
  ::CloseHandle(h);
  text.resize(read);
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    const size_t eq = line.find('=');
    if (eq != std::string::npos)
      report[line.substr(0, eq)] = line.substr(eq + 1);
  }
  ::DeleteFileW(file.value().c_str());
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

TEST(LaunchProcess, StartupRecordFollowsOptions) {
  const FilePath std_file = TempFile(L"stdout");
  HANDLE std_out = ::CreateFileW(std_file.value().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                 CREATE_ALWAYS, FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(std_out, INVALID_HANDLE_VALUE);

  LaunchOptions defaults;
  LaunchOptions hidden;
  hidden.hide_window = true;
  LaunchOptions empty_desktop;
  empty_desktop.use_empty_desktop = true;
  LaunchOptions with_stdout;
  with_stdout.std_output = std_out;
  with_stdout.inherited_handles = {std_out};
  LaunchOptions foreground;
  foreground.allow_foreground = true;
  LaunchOptions waited;
  waited.wait_for_exit = true;

  const std::string default_desktop = Hex(L"WinSta0\\Default");
  const struct {
    const char* name;
    const LaunchOptions& options;
    const char* show;
    const char* flags;
    std::string desktop;
  } cases[] = {
      {"default", defaults, "1", "1", default_desktop},
      {"hidden", hidden, "0", "1", default_desktop},
      {"empty desktop", empty_desktop, "1", "1", ""},
      {"stdout", with_stdout, "1", "101", default_desktop},
      {"foreground", foreground, "1", "1", default_desktop},
      {"wait", waited, "1", "1", default_desktop},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Report report = RunRecorded(c.options);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(report["show"], c.show);
    EXPECT_EQ(report["flags"], c.flags);
    EXPECT_EQ(report["desktop"], c.desktop);
  }
  // The standard output handed over is the file, usable in the child.
  Report report = RunRecorded(with_stdout);
  EXPECT_EQ(report["stdout_type"], std::to_string(FILE_TYPE_DISK));
  ::CloseHandle(std_out);
}

TEST(LaunchProcess, WaitForExitReturnsAfterTheChildEnded) {
  LaunchOptions options;
  options.wait_for_exit = true;
  CommandLine command_line(ExeDir().Append(L"sleep_child.exe"));
  command_line.AppendArgWide(L"200");
  command_line.AppendArgWide(L"6");
  Process child = LaunchProcess(command_line, options);
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

TEST(LaunchProcess, WorkingDirectoryIsTheChildsCurrentDirectory) {
  LaunchOptions options;
  options.working_directory = ExeDir();
  Report report = RunRecorded(options);
  EXPECT_EQ(FromHex(report["cwd"]), ExeDir().value());
}

TEST(LaunchProcess, InheritsListedHandlesOnly) {
  // Handle values far above the few a fresh child holds, so that a value
  // that was not handed over cannot name one of the child's own handles.
  std::vector<HANDLE> padding;
  for (int i = 0; i < 200; ++i)
    padding.push_back(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE listed = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE other = ::CreateEventW(&inheritable, TRUE, FALSE, nullptr);
  ASSERT_TRUE(listed && other);
  const std::wstring listed_arg = L"handle:" + std::to_wstring(reinterpret_cast<uintptr_t>(listed));
  const std::wstring other_arg = L"handle:" + std::to_wstring(reinterpret_cast<uintptr_t>(other));

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
  ::CloseHandle(listed);
  ::CloseHandle(other);
  for (HANDLE h : padding)
    ::CloseHandle(h);
}

TEST(LaunchProcess, JobOptionPlacesTheChildBeforeItRuns) {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  ASSERT_NE(job, nullptr);
  LaunchOptions options;
  options.job = job;
  const FilePath out = TempFile(L"job");
  Process child = LaunchProcess(RecordCommand(out), options);
  ASSERT_TRUE(child.IsValid());
  BOOL in_this_job = FALSE;
  EXPECT_TRUE(::IsProcessInJob(child.Handle(), job, &in_this_job));
  EXPECT_TRUE(in_this_job);
  int code = -1;
  EXPECT_TRUE(child.WaitForExit(&code));
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadReport(out)["in_job"], "1");

  // Without the option the child is in a job only if the launcher is.
  Report report = RunRecorded(LaunchOptions());
  EXPECT_EQ(report["in_job"], InAnyJob(::GetCurrentProcess()) ? "1" : "0");
  ::CloseHandle(job);
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
  ASSERT_TRUE(child.IsValid());
  int code = -1;
  ASSERT_TRUE(child.WaitForExit(&code));
  ASSERT_EQ(code, 0);
}

TEST(LaunchProcess, BreakawayLeavesTheLaunchersJob) {
  HANDLE job = ::CreateJobObjectW(nullptr, nullptr);
  ASSERT_NE(job, nullptr);
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  ASSERT_TRUE(
      ::SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof(limits)));
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
    options.job = job;
    Process helper = LaunchProcess(command_line, options);
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_BREAKAWAY_OUT", nullptr);
    ::SetEnvironmentVariableW(L"LAUNCH_TEST_BREAKAWAY_MODE", nullptr);
    ASSERT_TRUE(helper.IsValid());
    int code = -1;
    ASSERT_TRUE(helper.WaitForExit(&code));
    EXPECT_EQ(code, 0);
    EXPECT_EQ(ReadReport(out)["in_job"], c.in_job);
  }
  ::CloseHandle(job);
}

TEST(LaunchProcess, UserTokenStartsTheChildAsThatUser) {
  HANDLE own = nullptr;
  ASSERT_TRUE(::OpenProcessToken(::GetCurrentProcess(), TOKEN_ALL_ACCESS, &own));
  HANDLE primary = nullptr;
  ASSERT_TRUE(::DuplicateTokenEx(own, TOKEN_ALL_ACCESS, nullptr, SecurityImpersonation,
                                 TokenPrimary, &primary));
  ::CloseHandle(own);
  LaunchOptions options;
  options.user_token = primary;
  options.hide_window = true;
  Report report = RunRecorded(options);
  EXPECT_EQ(report["show"], "0");
  ::CloseHandle(primary);
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
