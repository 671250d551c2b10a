// Runs the real update.exe under Wine with the real 7-Zip on real folders and
// checks the installed files, the started client, the log and the dialog.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "testing/e2e/updater_test.h"

namespace e2e {
namespace {

constexpr char kDialogText[] = "请手动下载最新的安装包";

// Its versions hold a file of their own each, and no numbered data files.
class UpdaterTest : public UpdaterFixture {
 protected:
  UpdaterTest() : UpdaterFixture({.files = 0, .own_file = true}) {}
};

// Quotes an argument the way the updater's command-line builder does: any
// argument with a blank, backslash or double quote is quoted. (Test paths hold
// no double quote and no trailing backslash, so nothing inside is escaped.)
std::wstring BuilderQuote(const std::wstring& arg) {
  return arg.find_first_of(L" \\\"") == std::wstring::npos ? arg : L"\"" + arg + L"\"";
}

// The updater's own steps in `run` (start-up and procedure lines), as
// "file(line) SEVERITY text". Lines of the foundation are left out.
std::vector<std::string> Steps(const UpdateRun& run) {
  std::vector<std::string> steps;
  for (const LogLine& line : run.lines) {
    if (line.file != "main.cc" && line.file != "update.cc")
      continue;
    steps.push_back(line.Where() + " " + line.severity + " " + line.text);
  }
  return steps;
}

// A failed update: dialog shown with its text before the final line, then
// "update finished 0", exit code 0.
void ExpectFailureDialog(const UpdateRun& run) {
  EXPECT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_TRUE(run.dialog.found) << "no failure dialog appeared";
  EXPECT_EQ(run.dialog.text, kDialogText);
  EXPECT_TRUE(run.dialog.closed);
  const LogLine* finished = FindLine(run, "update finished ");
  ASSERT_NE(finished, nullptr);
  EXPECT_EQ(finished->text, "update finished 0");
  // When the box was up, this run had not yet written its final line.
  int finished_before = CountOccurrences(ReadFileBytes(LogFilePath()), "update finished ") - 1;
  EXPECT_EQ(run.dialog.finished_lines, finished_before);
}

void ExpectSuccess(const UpdateRun& run) {
  EXPECT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  const LogLine* finished = FindLine(run, "update finished ");
  ASSERT_NE(finished, nullptr) << run.log;
  EXPECT_EQ(finished->text, "update finished 1") << run.log;
}

TEST_F(UpdaterTest, PackageMode_OverwritesAddsDeletesPackageAndStartsClient) {
  Install(root_ + L"\\Client", "1");
  const std::wstring package = Package("2");
  ChildProcess old_client(Quote(BinDir() + L"\\client_old.exe") + L" 300");
  ASSERT_TRUE(old_client.started());
  const int pid = static_cast<int>(old_client.pid());

  UpdateRun run = RunUpdater(Args(pid, root_, package));

  ExpectSuccess(run);
  // The new version's files overwrite and add; files only in the old stay.
  Tree installed = ReadTree(root_ + L"\\Client");
  EXPECT_EQ(installed[L"version.txt"], "2\n");
  EXPECT_EQ(installed[L"data\\common.txt"], "common 2");
  EXPECT_EQ(installed[L"data\\v2.txt"], "only in 2");
  EXPECT_EQ(installed[L"data\\v1.txt"], "only in 1");
  EXPECT_FALSE(FileExists(package));

  auto starts = ClientStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]["version"], "2");
  EXPECT_EQ(starts[0]["cmd"], "\"" + ToUtf8(root_) + "\\Client\\ZeltorCloudPlay.exe\"");

  const std::string exe_dir = ToUtf8(UpdaterDir());
  const std::vector<std::string> expected = {
      "main.cc(44) INFO origin cmdline:" + ToUtf8(Args(pid, root_, package)),
      "main.cc(66) INFO update with pid:" + std::to_string(pid) + ",unzip:" + ToUtf8(package) +
          " ," + ToUtf8(root_),
      "update.cc(17) INFO wait result 1",
      "update.cc(93) INFO launch 7z vaild:1 cmd:\"" + exe_dir + "\\7z.exe\" x " +
          ToUtf8(BuilderQuote(package)) + " -aoa -o\"" + ToUtf8(root_) +
          "\\zeltorcg_update_tmp\\package.partial-",
      "update.cc(97) INFO 7z exit with code:0,ret:1",
      "update.cc(56) INFO launch process vaild:1 path:\"" + ToUtf8(root_) +
          "\\Client\\ZeltorCloudPlay.exe\"",
      "update.cc(100) INFO remove the zip file",
      "main.cc(74) INFO update finished 1",
  };
  // The extraction folder's name ends in this run's pid and a counter.
  std::vector<std::string> steps = Steps(run);
  for (std::string& step : steps) {
    const size_t unique = step.find("package.partial-");
    if (step.rfind("update.cc(93)", 0) == 0 && unique != std::string::npos)
      step.resize(unique + std::string("package.partial-").size());
  }
  EXPECT_EQ(steps, expected) << run.log;
}

TEST_F(UpdaterTest, StagedMode_ReplacesClientKeepsTmpFolderAndStartsClient) {
  InstallAndStage(root_);
  ASSERT_TRUE(WriteFileBytes(root_ + L"\\zeltorcg_update_tmp\\other.txt", "stays"));

  UpdateRun run = RunUpdater(Args(0, root_, L""));

  ExpectSuccess(run);
  Tree installed = ReadTree(root_ + L"\\Client");
  EXPECT_EQ(installed[L"version.txt"], "2\n");
  EXPECT_EQ(installed.count(L"data\\v1.txt"), 0u) << "old files must be gone";
  EXPECT_EQ(installed[L"data\\v2.txt"], "only in 2");
  EXPECT_TRUE(DirExists(root_ + L"\\zeltorcg_update_tmp"));
  EXPECT_FALSE(DirExists(root_ + L"\\zeltorcg_update_tmp\\Client"));
  EXPECT_EQ(ReadFileBytes(root_ + L"\\zeltorcg_update_tmp\\other.txt"), "stays");
  EXPECT_TRUE(Matching(root_, L"zeltorcg_update_old*").empty()) << "the old version is deleted";
  EXPECT_EQ(FindLine(run, "wait result"), nullptr) << "pid 0 means no wait";

  const std::string r = ToUtf8(root_);
  const std::vector<std::string> expected = {
      "main.cc(44) INFO origin cmdline:" + ToUtf8(Args(0, root_, L"")),
      "main.cc(66) INFO update with pid:0,unzip: ," + r,
      "update.cc(29) INFO delete file result:1," + r + "\\Client",
      "update.cc(46) INFO move result:1,from:" + r + "\\zeltorcg_update_tmp\\Client,to:" + r,
      "update.cc(56) INFO launch process vaild:1 path:\"" + r + "\\Client\\ZeltorCloudPlay.exe\"",
      "main.cc(74) INFO update finished 1",
  };
  EXPECT_EQ(Steps(run), expected) << run.log;
  auto starts = ClientStarts(1);
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0]["version"], "2");
}

TEST_F(UpdaterTest, Log_EveryRunEndsWithTwoEmptyLinesAndAppends) {
  InstallAndStage(root_);
  const size_t before = ReadFileBytes(LogFilePath()).size();
  UpdateRun first = RunUpdater(Args(0, root_, L""));
  ExpectSuccess(first);
  ASSERT_GE(first.log.size(), 4u);
  EXPECT_EQ(first.log.substr(first.log.size() - 4), "1\n\n\n") << "two empty lines end a run";

  Install(root_ + L"\\zeltorcg_update_tmp\\Client", "3");
  UpdateRun second = RunUpdater(Args(0, root_, L""));
  ExpectSuccess(second);
  const std::string all = ReadFileBytes(LogFilePath());
  EXPECT_EQ(all.size(), before + first.log.size() + second.log.size()) << "the log only grows";

  // Each line carries pid, tid, timestamp, severity and user name.
  const LogLine* request = FindLine(second, "update with pid:");
  ASSERT_NE(request, nullptr);
  EXPECT_NE(request->pid, 0u);
  EXPECT_NE(request->tid, 0u);
  EXPECT_EQ(request->severity, "INFO");
  wchar_t user[256] = {};
  GetEnvironmentVariableW(L"USERNAME", user, 256);
  EXPECT_EQ(request->user, ToUtf8(user));
}

// The updater waits for the process its --pid names, at most ten seconds,
// then updates; an id that names no process is not waited for.
TEST_F(UpdaterTest, OldClient_IsAwaitedAtMostTenSeconds) {
  constexpr double kNoLimit = 1e9;
  const struct {
    const char* name;
    const wchar_t* old_client;  // client_old.exe's argument; null: the pid names no process
    const char* wait_line;      // null: no wait at all
    DWORD old_exit;             // the old client's exit code right after the update
    double min_seconds, max_seconds;
  } cases[] = {
      {"exits after one second", L"1000", "wait result 1", 0, 0.5, kNoLimit},
      {"never exits", L"forever", "wait result 0", STILL_ACTIVE, 9.5, kNoLimit},
      {"no such process", nullptr, nullptr, STILL_ACTIVE, 0, 9.0},
  };
  size_t starts = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(root_);
    InstallAndStage(root_);
    ChildProcess old_client;
    int pid = 4000000;
    if (c.old_client) {
      old_client = ChildProcess(Quote(BinDir() + L"\\client_old.exe") + L" " + c.old_client);
      ASSERT_TRUE(old_client.started());
      pid = static_cast<int>(old_client.pid());
    }
    UpdateRun run = RunUpdater(Args(pid, root_, L""));
    EXPECT_EQ(old_client.ExitCode(), c.old_exit);
    old_client.Terminate(0);

    ExpectSuccess(run);
    EXPECT_EQ(ReadFileBytes(root_ + L"\\Client\\version.txt"), "2\n");
    const LogLine* wait = FindLine(run, "wait result ");
    EXPECT_EQ(wait ? wait->text : "(none)", c.wait_line ? c.wait_line : "(none)");
    EXPECT_GE(run.process.seconds, c.min_seconds);
    EXPECT_LT(run.process.seconds, c.max_seconds);
    ClientStarts(++starts);  // the client must have run before its folder is replaced
  }
}

TEST_F(UpdaterTest, Pid_BadValuesCountAsAbsentAndAreReported) {
  struct {
    std::wstring value;
    std::string logged_pid;
    bool warned;
  } cases[] = {
      {L"1234abc", "1234", false},  {L"-5", "-5", false},
      {L"abc", "0", true},          {L"", "0", true},
      {L"\x4E00\x4E8C", "0", true}, {L"2147483648", "0", true},
      {L"-2147483649", "0", true},  {L"2147483647", "2147483647", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.value));
    RemoveTree(root_);
    InstallAndStage(root_);
    UpdateRun run = RunUpdater(L"--pid=" + Quote(c.value) + L" --root_dir=" + Quote(root_));
    ExpectSuccess(run);
    ClientStarts(1);  // the client must have run before its folder is replaced
    const LogLine* request = FindLine(run, "update with pid:");
    ASSERT_NE(request, nullptr) << run.log;
    EXPECT_EQ(request->text, "update with pid:" + c.logged_pid + ",unzip: ," + ToUtf8(root_));
    const LogLine* warning = FindLine(run, "ignoring pid value");
    EXPECT_EQ(warning != nullptr, c.warned) << run.log;
    if (warning) {
      EXPECT_EQ(warning->severity, "WARNING");
      EXPECT_NE(warning->text.find("\"" + ToUtf8(c.value) + "\""), std::string::npos);
    }
  }
}

TEST_F(UpdaterTest, Unpacker_MissingFailsWithDialogAndKeepsPackage) {
  // A copy of the updater in a folder without 7z.exe.
  const std::wstring lonely = work_ + L"\\lonely";
  ASSERT_TRUE(MakeDirs(lonely));
  ASSERT_TRUE(CopyFileTo(UpdaterDir() + L"\\update.exe", lonely + L"\\update.exe"));
  Install(root_ + L"\\Client", "1");
  const std::wstring package = Package("2");
  const uint64_t before = TreeHash(root_);

  UpdateOptions options;
  options.expect_dialog = true;
  options.updater = lonely + L"\\update.exe";
  UpdateRun run = RunUpdater(Args(0, root_, package), options);

  EXPECT_TRUE(run.process.finished);
  EXPECT_EQ(run.process.exit_code, 0u);
  EXPECT_TRUE(run.dialog.found);
  const LogLine* launch = FindLine(run, "launch 7z vaild:");
  ASSERT_NE(launch, nullptr) << run.log;
  EXPECT_EQ(launch->text.substr(0, 18), "launch 7z vaild:0 ");
  const LogLine* failed = FindLine(run, "7z launch failed");
  ASSERT_NE(failed, nullptr);
  EXPECT_EQ(failed->Where(), "update.cc(105)");
  EXPECT_EQ(failed->severity, "ERROR");
  EXPECT_NE(FindLine(run, "update finished 0"), nullptr);
  EXPECT_TRUE(FileExists(package));
  EXPECT_EQ(TreeHash(root_), before);
  EXPECT_TRUE(ClientStarts().empty());
}

TEST_F(UpdaterTest, Package_CorruptOrMissingFailsWithDialogAndKeepsEverything) {
  Install(root_ + L"\\Client", "1");
  const std::wstring good = Package("2");
  const std::string archive = ReadFileBytes(good);
  struct {
    const char* name;
    std::string bytes;    // empty: no file at all
    const char* refusal;  // the ERROR that refuses it before the unpacker runs, or null
  } cases[] = {
      {"random bytes", std::string(4096, '\x5A'), "package is not a 7z or zip archive"},
      {"truncated archive", archive.substr(0, archive.size() / 2), nullptr},
      {"missing file", "", "package is not an existing file"},
  };
  char shot_buffer[MAX_PATH] = {};
  const char* shot_dir =
      GetEnvironmentVariableA("XVFB_SHOT_DIR", shot_buffer, MAX_PATH) ? shot_buffer : nullptr;
  bool first = true;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring package = work_ + L"\\bad.7z";
    DeleteFileW(package.c_str());
    if (!c.bytes.empty()) {
      ASSERT_TRUE(WriteFileBytes(package, c.bytes));
    }
    const uint64_t before = TreeHash(root_);
    UpdateOptions options;
    options.expect_dialog = true;
    if (first && shot_dir) {
      options.screenshot_request = HostToWindowsPath(shot_dir) + L"\\failure_dialog.request";
    }
    first = false;
    UpdateRun run = RunUpdater(Args(0, root_, package), options);
    ExpectFailureDialog(run);
    const LogLine* exit = FindLine(run, "7z exit with code:");
    if (c.refusal) {
      EXPECT_TRUE(HasLine(run, std::string(c.refusal) + ", update refused: " + ToUtf8(package)))
          << run.log;
      EXPECT_FALSE(HasLine(run, "launch 7z vaild:"));
    } else {
      ASSERT_NE(exit, nullptr) << run.log;
      EXPECT_EQ(exit->Where(), "update.cc(97)");
      EXPECT_NE(exit->text, "7z exit with code:0,ret:1");
      EXPECT_EQ(exit->text.substr(exit->text.size() - 6), ",ret:1");
    }
    EXPECT_EQ(FindLine(run, "remove the zip file"), nullptr);
    EXPECT_EQ(FindLine(run, "launch process vaild:"), nullptr) << "no client may start";
    EXPECT_EQ(TreeHash(root_), before) << "the installation is untouched";
    if (!c.bytes.empty()) {
      EXPECT_EQ(ReadFileBytes(package), c.bytes) << "the package is kept";
    }
  }
  EXPECT_TRUE(ClientStarts().empty());
}

TEST_F(UpdaterTest, Staged_UnusableVersionIsRefusedBeforeAnythingIsTouched) {
  const std::wstring staged = root_ + L"\\zeltorcg_update_tmp\\Client";
  enum Staging { kNothing, kEmptyFolder, kNoProgram, kWhole };
  const struct {
    const char* name;
    Staging staging;
    std::wstring root_arg;
    std::string error;  // the ERROR line, up to the path it names
    std::wstring path;
  } cases[] = {
      {"nothing staged", kNothing, root_, "staged client directory missing", staged},
      {"empty staged folder", kEmptyFolder, root_, "staged client directory empty", staged},
      {"no client program", kNoProgram, root_, "staged client program missing",
       staged + L"\\ZeltorCloudPlay.exe"},
      {"root through a parent", kWhole, root_ + L"\\Client\\..",
       "root directory references a parent directory", root_ + L"\\Client\\.."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FreshInstall();
    if (c.staging == kEmptyFolder) {
      ASSERT_TRUE(MakeDirs(staged));
    } else if (c.staging == kNoProgram) {
      ASSERT_TRUE(WriteTree(staged, VersionTree("2", shape_)));
    } else if (c.staging == kWhole) {
      Install(staged, "2");
    }
    const uint64_t before = TreeHash(root_);
    UpdateOptions options;
    options.expect_dialog = true;
    UpdateRun run = RunUpdater(Args(0, c.root_arg, L""), options);
    ExpectFailureDialog(run);
    EXPECT_EQ(TreeHash(root_), before);
    EXPECT_EQ(FindLine(run, "delete file result:"), nullptr) << "nothing may be moved";
    const LogLine* refused = FindLine(run, c.error);
    ASSERT_NE(refused, nullptr) << run.log;
    EXPECT_EQ(refused->severity, "ERROR");
    EXPECT_EQ(refused->text, c.error + ", installation kept: " + ToUtf8(c.path));
  }
  EXPECT_TRUE(ClientStarts().empty());
}

TEST_F(UpdaterTest, Staged_NoSwitchesAtAllChangesNothing) {
  // An empty root must not become the current drive's root or folder.
  const std::wstring cwd = work_ + L"\\cwd";
  Install(cwd + L"\\Client", "1");
  const uint64_t before = TreeHash(cwd);
  UpdateOptions options;
  options.expect_dialog = true;
  options.cwd = cwd;
  UpdateRun run = RunUpdater(L"", options);
  ExpectFailureDialog(run);
  const LogLine* request = FindLine(run, "update with pid:");
  ASSERT_NE(request, nullptr);
  EXPECT_EQ(request->text, "update with pid:0,unzip: ,");
  EXPECT_EQ(TreeHash(cwd), before);
}

TEST_F(UpdaterTest, Root_WithBlanksAndNonAsciiWorksInBothModes) {
  const std::wstring root = work_ + L"\\my games \x5347\x7EA7 caf\x00E9";
  Install(root + L"\\Client", "1");
  const std::wstring package = Package("2", L"paquet \x00E9t\x00E9.7z");
  UpdateRun packaged = RunUpdater(Args(0, root, package));
  ExpectSuccess(packaged);
  EXPECT_EQ(ReadFileBytes(root + L"\\Client\\version.txt"), "2\n");
  EXPECT_FALSE(FileExists(package));
  const LogLine* origin = FindLine(packaged, "origin cmdline:");
  ASSERT_NE(origin, nullptr);
  EXPECT_EQ(origin->text, "origin cmdline:" + ToUtf8(Args(0, root, package))) << "UTF-8 in the log";

  Install(root + L"\\zeltorcg_update_tmp\\Client", "3");
  UpdateRun staged = RunUpdater(Args(0, root, L""));
  ExpectSuccess(staged);
  EXPECT_EQ(ReadFileBytes(root + L"\\Client\\version.txt"), "3\n");
  auto starts = ClientStarts(2);
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[1]["exe"], ToUtf8(root) + "\\Client\\ZeltorCloudPlay.exe");
}

// A new client that cannot run counts as not started: the one that is no
// program fails to launch, the others end at once with the loader's or the
// processor's status. Every entry goes back; the stage or the package stays.
TEST_F(UpdaterTest, StartCheck_NewClientThatCannotRunIsUndoneInBothModes) {
  const struct {
    const char* name;
    std::wstring program;  // a fixture of BinDir(), or empty: no program at all
    const char* ended;     // the status it ends with, or null: not launched
  } cases[] = {
      {"no program", L"", nullptr},
      {"crashes at once", L"client_crash.exe", "0xC0000005"},
      {"lacks a DLL", L"client_missing_dll.exe", "0xC0000135"},
      {"stops at a breakpoint", L"client_breakpoint.exe", "0x80000003"},
  };
  for (const auto& c : cases) {
    for (bool packaged : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (packaged ? ", package mode" : ", staged mode"));
      FreshInstall();
      const ScopedTempDir source(L"new");
      const std::wstring client = packaged ? ClientDir(source.path()) : StagedDir(root_);
      ASSERT_TRUE(WriteTree(client, VersionTree("2", shape_)));
      ASSERT_TRUE(
          c.program.empty()
              ? WriteFileBytes(client + L"\\ZeltorCloudPlay.exe", "not a program")
              : CopyFileTo(BinDir() + L"\\" + c.program, client + L"\\ZeltorCloudPlay.exe"));
      const uint64_t old_hash = TreeHash(root_ + L"\\Client"), new_hash = TreeHash(client);
      const std::wstring package = packaged ? work_ + L"\\update.7z" : L"";
      ASSERT_TRUE(!packaged || MakePackage(source.path(), package));
      UpdateOptions options;
      options.expect_dialog = true;
      UpdateRun run = RunUpdater(Args(0, root_, package), options);
      ExpectFailureDialog(run);
      const LogLine* launch = FindLine(run, "launch process vaild:");
      ASSERT_NE(launch, nullptr) << run.log;
      EXPECT_EQ(launch->text.substr(0, 22),
                c.ended ? "launch process vaild:1" : "launch process vaild:0");
      EXPECT_TRUE(!c.ended ||
                  HasLine(run, std::string("new client ended at its start with status ") + c.ended))
          << run.log;
      const LogLine* undone = FindLine(run, "update undone, previous version restored: ");
      ASSERT_NE(undone, nullptr) << run.log;
      EXPECT_EQ(undone->severity, "ERROR");
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), old_hash);
      if (packaged)
        EXPECT_TRUE(FileExists(package)) << "the package is kept";
      else
        EXPECT_EQ(TreeHash(client), new_hash) << "the new version is staged again";
      EXPECT_TRUE(Matching(root_, L"zeltorcg_update_old*").empty());
      EXPECT_TRUE(Matching(root_ + L"\\zeltorcg_update_tmp", L"package*").empty());
    }
  }
}

// Whether the planted DLL's record (planted_dll.cc: lines "<program
// path>\t<DLL path>") says that `program` loaded the planted `dll`; both are
// lower-case file names, matched without case.
bool Loaded(const std::string& record, const std::string& program, const std::string& dll) {
  std::istringstream lines(record);
  for (std::string line; std::getline(lines, line);) {
    for (char& c : line)
      c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const size_t tab = line.find('\t');
    if (tab != std::string::npos && line.substr(0, tab).ends_with("\\" + program) &&
        line.ends_with("\\" + dll))
      return true;
  }
  return false;
}

// DLLs planted beside update.exe under the names of system DLLs that are no
// KnownDLLs. The CTest entries update_e2e_planting* start wine with
// WINEDLLOVERRIDES marking them n,b, so that Wine, like Windows, prefers a copy
// in the program's folder. In the same folder and run, plain_loader.exe (no
// protection) must load every copy, or the planting is not in effect and the
// test could not fail; guarded_loader.exe (update.exe's load configuration
// only) shows whether the platform honours DependentLoadFlags for imports.
TEST_F(UpdaterTest, PlantedDlls_BesideTheUpdaterAreNeverLoaded) {
  wchar_t overrides[512] = {};
  GetEnvironmentVariableW(L"WINEDLLOVERRIDES", overrides, 512);
  if (std::wstring(overrides).find(L"version=n,b") == std::wstring::npos) {
    GTEST_SKIP() << "WINEDLLOVERRIDES lacks dbghelp,userenv,winmm,version=n,b: Wine reads it "
                    "from the environment wine starts with (CTest entry update_e2e_planting)";
  }
  const struct {
    const char* name;
    bool loaded_by_update;  // by name, from the system folder; else an import of Wine's user32
  } cases[] = {
      {"dbghelp.dll", true},
      {"userenv.dll", true},
      {"winmm.dll", true},
      {"version.dll", false},
  };
  const ScopedTempDir app_dir(L"app");
  const std::wstring& app = app_dir.path();
  for (const wchar_t* file : {L"update.exe", L"7z.exe", L"7z.dll"})
    ASSERT_TRUE(CopyFileTo(UpdaterDir() + L"\\" + file, app + L"\\" + file));
  for (const wchar_t* file : {L"plain_loader.exe", L"guarded_loader.exe"})
    ASSERT_TRUE(CopyFileTo(BinDir() + L"\\" + file, app + L"\\" + file));
  for (const auto& c : cases)
    ASSERT_TRUE(CopyFileTo(BinDir() + L"\\planted_dll.dll", app + L"\\" + FromUtf8(c.name)));
  const std::wstring record = work_ + L"\\planted_loads.txt";
  SetEnvironmentVariableW(L"PLANTED_DLL_RECORD", record.c_str());

  EXPECT_EQ(e2e::Run(Quote(app + L"\\plain_loader.exe") + L" dbghelp.dll userenv.dll winmm.dll")
                .exit_code,
            0u);
  EXPECT_TRUE(e2e::Run(Quote(app + L"\\guarded_loader.exe")).finished);
  for (bool packaged : {false, true}) {
    SCOPED_TRACE(packaged ? "package mode" : "staged mode");
    FreshInstall();
    std::wstring package;
    if (packaged)
      package = Package("2");
    else
      Install(root_ + L"\\zeltorcg_update_tmp\\Client", "2");
    UpdateOptions options;
    options.updater = app + L"\\update.exe";
    UpdateRun run = RunUpdater(Args(0, root_, package), options);
    ExpectSuccess(run);
    EXPECT_EQ(ReadFileBytes(root_ + L"\\Client\\version.txt"), "2\n");
  }
  SetEnvironmentVariableW(L"PLANTED_DLL_RECORD", nullptr);

  const std::string loads = ReadFileBytes(record);
  const bool imports_from_system_folder = !Loaded(loads, "guarded_loader.exe", "version.dll");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_TRUE(Loaded(loads, "plain_loader.exe", c.name)) << "the planting is not in effect";
    if (c.loaded_by_update || imports_from_system_folder) {
      EXPECT_FALSE(Loaded(loads, "update.exe", c.name)) << "update.exe loaded the planted copy";
    } else if (Loaded(loads, "update.exe", c.name)) {
      // Measured with Wine 8: it ignores DependentLoadFlags, even for a
      // program's own imports, and its user32 imports version.dll.
      std::printf(
          "note: this platform resolves imports from the program's folder despite "
          "DependentLoadFlags, so update.exe loaded the planted %s through user32\n",
          c.name);
    }
  }
}

}  // namespace
}  // namespace e2e
