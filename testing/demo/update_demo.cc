// A real update of a sample installation, shown step by step: version 1 is
// installed, version 2 arrives as a 7-Zip package while an old client is still
// running, version 3 arrives staged, and a last update fails on a corrupt
// package, whose dialog is answered (and photographed) as a user would.
//   update_demo.exe <folder for the sample> [<screenshot request file>]
#include <algorithm>
#include <cstdio>
#include <string>

#include "testing/e2e/e2e_support.h"

namespace {

using namespace e2e;

void PrintTree(const char* title, const std::wstring& root) {
  std::printf("\n--- %s: %s\n", title, ToUtf8(root).c_str());
  for (const auto& [path, content] : ReadTree(root)) {
    if (!path.empty() && path.back() == L'\\') {
      std::printf("  %s\n", ToUtf8(path).c_str());
    } else if (path.size() > 4 && path.substr(path.size() - 4) == L".exe") {
      std::printf("  %-40s (%zu bytes)\n", ToUtf8(path).c_str(), content.size());
    } else {
      std::string shown = content.substr(0, std::min(content.find('\n'), size_t{32}));
      if (shown.size() < content.size() && content.find('\n') > 32)
        shown += "...";
      std::printf("  %-40s \"%s\"\n", ToUtf8(path).c_str(), shown.c_str());
    }
  }
}

void PrintRun(const char* title, const UpdateRun& run) {
  std::printf("\n=== %s: update.exe exit code %lu after %.1f s\n", title, run.process.exit_code,
              run.process.seconds);
  std::printf("--- log lines written:\n%s", run.log.c_str());
  if (run.dialog_expected) {
    std::printf("--- dialog: %s, text \"%s\", closed by OK: %s\n",
                run.dialog.found ? "shown" : "NOT SHOWN", run.dialog.text.c_str(),
                run.dialog.closed ? "yes" : "no");
  }
}

// Each version holds a file of its own, which shows which one is installed.
bool InstallVersion(const std::wstring& client_dir, const std::string& version) {
  return WriteVersion(client_dir, version, {.files = 0, .own_file = true});
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: update_demo.exe <folder> [<screenshot request file>]\n");
    return 2;
  }
  const std::wstring base = argv[1];
  RemoveTree(base);
  const std::wstring root = base + L"\\Zeltor Cloud Game";
  const std::wstring record = base + L"\\client_starts.txt";
  SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", record.c_str());
  std::printf("Sample installation below %s\nLog file: %s\n", ToUtf8(root).c_str(),
              ToUtf8(LogFilePath()).c_str());

  if (!InstallVersion(root + L"\\Client", "1"))
    return 1;
  const std::wstring source = base + L"\\package source";
  if (!InstallVersion(source + L"\\Client", "2"))
    return 1;
  const std::wstring package = base + L"\\client-2.7z";
  if (!MakePackage(source, package)) {
    std::fprintf(stderr, "7z could not make the package\n");
    return 1;
  }
  PrintTree("installed before the update", root);

  // The updater's errors reach its log, which is shown; its standard error
  // (where errors go too) would only interleave with this report.
  UpdateOptions quiet;
  quiet.capture_output = true;

  // 1. Package mode, with an old client that takes 1.5 s to exit.
  ChildProcess old_client(Quote(BinDir() + L"\\client_old.exe") + L" 1500");
  if (!old_client.started())
    return 1;
  UpdateRun packaged = RunUpdater(Args(static_cast<int>(old_client.pid()), root, package), quiet);
  PrintRun("package mode, old client running", packaged);
  PrintTree("installed after the package update", root);

  // 2. Staged mode.
  if (!InstallVersion(root + L"\\zeltorcg_update_tmp\\Client", "3"))
    return 1;
  UpdateRun staged = RunUpdater(Args(0, root), quiet);
  PrintRun("staged mode", staged);
  PrintTree("installed after the staged update", root);

  // 3. A corrupt package: the update fails, the user sees the dialog.
  const std::wstring corrupt = base + L"\\client-4.7z";
  WriteFileBytes(corrupt, "this is not an archive");
  UpdateOptions options = quiet;
  options.expect_dialog = true;
  if (argc > 2)
    options.screenshot_request = argv[2];
  UpdateRun failed = RunUpdater(Args(0, root, corrupt), options);
  PrintRun("corrupt package", failed);
  PrintTree("installed after the failed update (unchanged)", root);

  std::printf("\n--- client starts recorded:\n%s", ReadFileBytes(record).c_str());
  const bool ok = packaged.process.exit_code == 0 && staged.process.exit_code == 0 &&
                  failed.dialog.found && ReadFileBytes(root + L"\\Client\\version.txt") == "3\n";
  std::printf("\ndemo %s\n", ok ? "finished: 2 updates installed, 1 failure reported" : "FAILED");
  return ok ? 0 : 1;
}
