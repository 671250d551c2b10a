// update.exe: started by the client with its pid, its installation root and
// optionally a package; waits for the client to end, installs the new version,
// restarts the client, and asks the user to reinstall by hand when that failed.
#include <cstdint>
#include <string>

#include "base/command_line.h"
#include "base/logging.h"
#include "base/platform/system_library_win.h"
#include "base/platform/windows_types.h"
#include "base/strings/utf_string_conversions.h"
#include "common/util/layout.h"
#include "common/util/path_util.h"
#include "update/arguments.h"
#include "update/update.h"
#include "update_version.h"

// Command line, as the client writes it (switch syntax and quoting are those
// of base::CommandLine):
//   --pid=<decimal>     the client's process id; the update waits up to 10 s
//                       for it to end. Absent: 0, no wait.
//   --root_dir=<path>   the client's installation root, absolute, used as given.
//   --unzip=<path>      a package to extract over the root with 7z.exe beside
//                       this program. Absent: the staged folder
//                       <root>\zeltorcg_update_tmp\Client replaces <root>\Client.
//   --sha256=<hex>      the package's SHA-256 digest (64 hexadecimal digits);
//                       a package with another digest is not installed.
//   --v, --vmodule      verbose logging.
//
// Every step goes to <roaming app data>\ZeltorCloudGame2\log\update_cg.log,
// which is appended to and never truncated. The exit code is 0 whatever the
// outcome; a failed update is reported to the user by a message box only.
//
// Nothing is torn down on the way out: the log file, the command line and the
// foundation's singletons live until the process ends. No at-exit work runs.
// The process has one thread and creates no window but the failure box.

namespace {

// The source lines the log reports for the start-up steps: support tooling
// and the tests read them from the log prefix.
constexpr int kOriginCommandLineLine = 44;
constexpr int kNoCommandLineLine = 48;
constexpr int kRequestLine = 66;
constexpr int kFinishedLine = 74;

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, wchar_t* command_line_tail, int) {
  // Before anything can load a library: no DLL from this program's folder,
  // which the user can write, or from the current directory.
  (void)base::win::RestrictDllSearchToSystemFolder();
  if (!base::CommandLine::Init(0, nullptr))
    return 1;
  logging::LoggingSettings settings;
  const std::wstring log_file = common::GetLogDirectory().Append(common::layout::kLogFile).value();
  settings.log_file_path = log_file.c_str();
  (void)logging::InitializeLogging(settings);
  logging::SetLogPrefixItems(true, true, true, false);
  LOG_AT(INFO, kOriginCommandLineLine) << "origin cmdline:" << command_line_tail;

  const base::CommandLine* command_line = base::CommandLine::ForCurrentProcess();
  if (!command_line) {
    LOG_AT(ERROR, kNoCommandLineLine) << "cannot get cmdLine";
    return 0;
  }
  if (command_line->HasSwitch(update::kCheckSwitch)) {
    LOG(INFO) << "update.exe " << UPDATE_VERSION_STRING << " runs (check only)";
    return 0;
  }
  // Switch values are taken only when the switch is present; each keeps its
  // text exactly (no trimming, no path normalisation). A pid switch whose value
  // is not a decimal number counts as absent (see PidFromSwitchValue).
  //
  // The request line below carries exactly the three values the update runs
  // with, so that the log alone tells what was asked for.
  std::wstring package;
  std::wstring root_dir;
  int32_t pid = 0;
  if (command_line->HasSwitch("unzip"))
    package = command_line->GetSwitchValue("unzip");
  if (command_line->HasSwitch("root_dir"))
    root_dir = command_line->GetSwitchValue("root_dir");
  if (command_line->HasSwitch("pid"))
    pid = update::PidFromSwitchValue(command_line->GetSwitchValue("pid"));
  LOG_AT(INFO, kRequestLine) << "update with pid:" << pid << ",unzip:" << package << " ,"
                             << root_dir;

  std::wstring sha256;
  if (command_line->HasSwitch("sha256"))
    sha256 = command_line->GetSwitchValue("sha256");

  // Arguments that cannot name what they should are refused before anything
  // runs.
  const std::string refused = update::RefusedArguments(
      root_dir, package, command_line->HasSwitch("sha256") ? &sha256 : nullptr);
  if (!refused.empty())
    LOG(ERROR) << refused;
  const bool updated = refused.empty() && RunUpdate(pid, root_dir, package, sha256);
  // The box is modal and blocks the only thread until the user closes it, so
  // the final line below is written only after the user has seen it. Its two
  // line breaks of its own end every run with two empty lines in the log.
  if (!updated)
    MessageBoxW(nullptr, L"请手动下载最新的安装包", L"升级失败", MB_OK);
  LOG_AT(INFO, kFinishedLine) << "update finished " << updated << "\n\n";
  return 0;
}
