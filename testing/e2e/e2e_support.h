#ifndef TESTING_E2E_E2E_SUPPORT_H_
#define TESTING_E2E_E2E_SUPPORT_H_

// Helpers for tests that run the real update.exe, 7-Zip and client programs
// on real folders. Deliberately written on plain Win32 and the standard
// library, independent of the code under test.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "base/platform/windows_types.h"
#include "testing/scoped_temp_dir.h"

namespace e2e {

using testing_support::RemoveTree;
using testing_support::ScopedTempDir;

std::string ToUtf8(const std::wstring& wide);
std::wstring FromUtf8(const std::string& utf8);

// The folder of the running test program (where update.exe and friends lie).
std::wstring BinDir();
// The folder of the update.exe under test, with its 7z.exe beside it: the one
// named by the environment variable E2E_UPDATER_DIR (a Windows path, or a host
// path starting with '/'), else BinDir(). Fixtures always come from BinDir().
std::wstring UpdaterDir();

bool WriteFileBytes(const std::wstring& path, const std::string& bytes);
// Empty when the file cannot be read.
std::string ReadFileBytes(const std::wstring& path);
bool FileExists(const std::wstring& path);
bool DirExists(const std::wstring& path);
// Creates the directory and its parents.
bool MakeDirs(const std::wstring& path);
bool CopyFileTo(const std::wstring& from, const std::wstring& to);

// Relative path (with '\') -> content, of every file below `root`.
using Tree = std::map<std::wstring, std::string>;
Tree ReadTree(const std::wstring& root);
// Writes every file of `tree` below `root`, creating directories.
bool WriteTree(const std::wstring& root, const Tree& tree);
// A version of the client, every content naming the version: version.txt,
// data\common.txt and `files` numbered data files, data\d<i / 50>\f<i>.txt.
// Versions differ in content only, so that a package of one over a smaller
// one leaves exactly it; with `own_file` a version also holds
// data\v<version>.txt, found in no other, and an empty folder.
struct VersionShape {
  int files = 20;
  bool own_file = false;
};
Tree VersionTree(const std::string& version, const VersionShape& shape = {});
// Writes VersionTree(version, shape) below `dir`, with the fixture program
// `program` of BinDir() as dir\ZeltorCloudPlay.exe.
bool WriteVersion(const std::wstring& dir,
                  const std::string& version,
                  const VersionShape& shape = {},
                  const std::wstring& program = L"ZeltorCloudPlay.exe");

// A 64-bit FNV-1a digest of every path and content below `root`.
uint64_t TreeHash(const std::wstring& root);
// The SHA-256 digest of `bytes`, 64 lower-case hexadecimal digits, from the
// platform's crypto provider; empty on failure.
std::string PlatformSha256(const std::string& bytes);

struct RunResult {
  bool started = false;
  bool finished = false;  // ended within the time limit
  DWORD exit_code = 0;
  double seconds = 0;
  std::string output;  // standard output and error, when captured
};

// Runs `command_line` (program quoted by the caller) in `cwd` (empty: ours),
// waits at most `timeout_ms`, kills it after that. With `capture_output` its
// standard output and error land in `output` instead of ours.
RunResult Run(const std::wstring& command_line,
              const std::wstring& cwd = L"",
              DWORD timeout_ms = 120000,
              bool capture_output = false);

// How a ChildProcess starts its program.
struct StartOptions {
  std::wstring cwd;          // its current folder; empty: ours
  HANDLE output = nullptr;   // inheritable handle for its standard output and error; null: ours
  DWORD creation_flags = 0;  // CreateProcessW's flags
  bool hide_window = false;  // its first window starts hidden (SW_HIDE)
};

// A process a test started: ended (TerminateProcess) and closed when this
// object goes, whatever the test's outcome. Move-only.
class ChildProcess {
 public:
  ChildProcess() = default;
  // Starts `command_line`; started() tells whether that worked.
  explicit ChildProcess(const std::wstring& command_line, const StartOptions& options = {});
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ~ChildProcess();

  // Takes charge of the running process `pid` that a program under test
  // started, as if this test had started it; not started() when it is gone.
  static ChildProcess Adopt(DWORD pid);

  bool started() const { return info_.hProcess != nullptr; }
  HANDLE handle() const { return info_.hProcess; }
  DWORD pid() const { return info_.dwProcessId; }
  // True when the process ended within `timeout_ms`.
  bool WaitForExit(DWORD timeout_ms);
  // Its exit code; STILL_ACTIVE while it runs.
  DWORD ExitCode() const;
  // Ends the process with `exit_code` and waits until it has ended.
  void Terminate(UINT exit_code = 1);

 private:
  void Close();
  PROCESS_INFORMATION info_ = {};
};

// For a test that ended `process` midway: waits (at most `grace_ms` in all)
// for the processes it started, and theirs, to end on their own, then ends
// the rest and what they started. A child caught between its creation and its
// first instruction stays suspended for good, and would hold the test
// runner's output open; `process` must still be owned, so its id is not reused.
void EndDescendantsOf(const ChildProcess& process, DWORD grace_ms);

// Ends with `exit_code` the unpacker's extraction that an update.exe runs: the
// later started of its running 7z.exe children (its listing starts first).
// False when none runs.
bool EndRunningUnpacker(UINT exit_code);

// Waits (at most 30 s) until another process holds `path` open without
// delete sharing, so that a test's holder is known to be in place; false at
// once when `holder` has ended (it could not open the path).
bool WaitUntilHeld(const std::wstring& path, ChildProcess& holder);

// Quotes one argument the way CommandLineToArgvW splits it back.
std::wstring Quote(const std::wstring& arg);

// The updater's arguments for the process `pid` and the installation `root`,
// with --unzip when a `package` is given.
std::wstring Args(int pid, const std::wstring& root, const std::wstring& package = L"");

// Makes a 7-Zip archive `package` of the contents of `source_dir`.
bool MakePackage(const std::wstring& source_dir, const std::wstring& package);

// The updater's log file in this user's roaming application-data folder.
std::wstring LogFilePath();

// One line of the updater's log.
struct LogLine {
  unsigned pid = 0;
  unsigned tid = 0;
  std::string timestamp;  // MMDD/HH:MM:SS.mmm
  std::string severity;
  std::string user;
  std::string file;
  int line = 0;
  std::string text;
  std::string Where() const { return file + "(" + std::to_string(line) + ")"; }
};
// Parses the log text into lines; lines without a prefix (such as the empty
// lines after "update finished ") are kept with an empty `file`.
std::vector<LogLine> ParseLog(const std::string& text);

// What the failure-dialog helper saw.
struct DialogReport {
  bool found = false;
  std::string text;
  int finished_lines = -1;  // "update finished " lines in the log when it was found
  bool closed = false;
  bool screenshot = false;
};

// One run of update.exe with a helper standing by to answer the dialog.
struct UpdateRun {
  RunResult process;
  std::string log;  // what this run appended to the log
  std::vector<LogLine> lines;
  DialogReport dialog;
  bool dialog_expected = false;
};

struct UpdateOptions {
  bool expect_dialog = false;
  std::wstring screenshot_request;  // Windows path of a request file, or empty
  DWORD timeout_ms = 120000;
  std::wstring cwd;
  bool capture_output = false;  // the updater's standard error into process.output, not ours
  std::wstring updater;         // the update.exe to run; empty: UpdaterDir()'s
};

// Runs the update.exe of `options` with `arguments` (already quoted), waits for it and gathers
// the log lines it appended. With expect_dialog, a dialog helper waits for
// the failure box and presses OK.
UpdateRun RunUpdater(const std::wstring& arguments, const UpdateOptions& options = {});

// The first prefixed line of `run` whose text starts with `prefix`, or null;
// how many such lines there are; whether there is one.
const LogLine* FindLine(const UpdateRun& run, const std::string& prefix);
int CountLines(const UpdateRun& run, const std::string& prefix);
bool HasLine(const UpdateRun& run, const std::string& prefix);

// The client's start records (one per start) written to `record_file`, once
// at least `expected` are there or 10 s have passed: a started client records
// itself a moment after the updater that started it may have ended.
std::vector<std::map<std::string, std::string>> ReadClientRecords(const std::wstring& record_file,
                                                                  size_t expected = 0);

// How often `needle` occurs in `text`.
int CountOccurrences(const std::string& text, const std::string& needle);

// Deletes what `dir` holds and keeps `dir` itself (which may be a link).
bool ClearDir(const std::wstring& dir);

// The names of the entries of `dir` that match `pattern` ("*" and "?").
std::vector<std::wstring> Matching(const std::wstring& dir, const std::wstring& pattern);
// How many files lie below `dir`, at any depth.
size_t CountFiles(const std::wstring& dir);

// The folder of links the end-to-end suites' CTest fixture made on the host
// (E2E_LINK_DIR, as a Windows path), or empty without the fixture.
std::wstring LinkFixtureDir();

// Converts a host (Linux) path to the Z: drive form Wine maps it to.
std::wstring HostToWindowsPath(const std::string& host_path);

}  // namespace e2e

#endif  // TESTING_E2E_E2E_SUPPORT_H_
