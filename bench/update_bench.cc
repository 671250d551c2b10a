// Wall time of whole updates beside their floors, all in one run:
//   package mode  vs  a bare "7z x" of the same package,
//   staged mode   vs  a raw rename of the same tree,
// for trees of small files, and the delay from the old client's exit to the
// updater's "wait result 1" line.
//   update_bench.exe [file counts...]   (default: 2000 20000)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "testing/e2e/e2e_support.h"

namespace {

using namespace e2e;

// `files` files of 100 bytes in folders of 100, plus the client program.
void MakeClientTree(const std::wstring& client_dir, int files) {
  Tree tree;
  for (int i = 0; i < files; ++i) {
    tree[L"d" + std::to_wstring(i / 100) + L"\\f" + std::to_wstring(i) + L".dat"] =
        std::string(100, static_cast<char>('a' + i % 26));
  }
  WriteTree(client_dir, tree);
  CopyFileTo(BinDir() + L"\\ZeltorCloudPlay.exe", client_dir + L"\\ZeltorCloudPlay.exe");
}

// Milliseconds of a run, -1 when it did not finish.
double Millis(const RunResult& r) {
  return r.finished ? r.seconds * 1000.0 : -1;
}

// Local time of a FILETIME as seconds since midnight.
double LocalSecondsOfDay(const FILETIME& utc) {
  FILETIME local;
  SYSTEMTIME t;
  FileTimeToLocalFileTime(&utc, &local);
  FileTimeToSystemTime(&local, &t);
  return t.wHour * 3600.0 + t.wMinute * 60.0 + t.wSecond + t.wMilliseconds / 1000.0;
}

// "MMDD/HH:MM:SS.mmm" as seconds since midnight.
double LogSecondsOfDay(const std::string& stamp) {
  return std::atoi(stamp.substr(5, 2).c_str()) * 3600.0 +
         std::atoi(stamp.substr(8, 2).c_str()) * 60.0 + std::atof(stamp.substr(11).c_str());
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<int> counts;
  for (int i = 1; i < argc; ++i)
    counts.push_back(std::atoi(argv[i]));
  if (counts.empty())
    counts = {2000, 20000};
  const std::wstring work = MakeTempDir(L"bench");
  SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", (work + L"\\starts.txt").c_str());
  const std::wstring seven_zip = Quote(BinDir() + L"\\7z.exe");

  for (int files : counts) {
    const std::string n = std::to_string(files);
    const std::wstring root = work + L"\\root" + std::to_wstring(files);
    const std::wstring source = work + L"\\src" + std::to_wstring(files);
    MakeClientTree(source + L"\\Client", files);
    const std::wstring package = work + L"\\pkg" + std::to_wstring(files) + L".7z";
    MakePackage(source, package);
    const std::string archive = ReadFileBytes(package);

    // Bare extraction of the same package into an empty folder.
    const std::wstring bare = work + L"\\bare" + std::to_wstring(files);
    MakeDirs(bare);
    RunResult extract = Run(seven_zip + L" x " + Quote(package) + L" -aoa " + Quote(L"-o" + bare));
    bench::Report("update", ("7z x, " + n + " files").c_str(), Millis(extract), "ms");

    // The updater in package mode, on an installation of the same size.
    MakeClientTree(root + L"\\Client", files);
    UpdateRun packaged =
        RunUpdater(L"--pid=0 --root_dir=" + Quote(root) + L" --unzip=" + Quote(package));
    bench::Report("update", ("package mode, " + n + " files").c_str(), Millis(packaged.process),
                  "ms", ("7z x, " + n + " files").c_str());

    // A raw rename of a staged tree of the same size.
    const std::wstring staged = root + L"\\zeltorcg_update_tmp\\Client";
    MakeClientTree(staged, files);
    const std::wstring renamed = root + L"\\renamed";
    LARGE_INTEGER f, a, b;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&a);
    MoveFileExW(staged.c_str(), renamed.c_str(), 0);
    QueryPerformanceCounter(&b);
    bench::Report("update", ("raw rename, " + n + " files").c_str(),
                  1000.0 * static_cast<double>(b.QuadPart - a.QuadPart) / f.QuadPart, "ms");
    MoveFileExW(renamed.c_str(), staged.c_str(), 0);

    // The updater in staged mode: deletes the installed tree, moves the staged one.
    UpdateRun moved = RunUpdater(L"--pid=0 --root_dir=" + Quote(root));
    bench::Report("update", ("staged mode, " + n + " files").c_str(), Millis(moved.process), "ms",
                  ("raw rename, " + n + " files").c_str());
    RemoveTree(root);
    RemoveTree(source);
    RemoveTree(bare);
    DeleteFileW(package.c_str());
    (void)archive;
  }

  // Delay from the old client's exit to the "wait result 1" line.
  const std::wstring root = work + L"\\waitroot";
  MakeClientTree(root + L"\\Client", 10);
  std::vector<double> delays;
  for (int i = 0; i < 5; ++i) {
    MakeClientTree(root + L"\\zeltorcg_update_tmp\\Client", 10);
    PROCESS_INFORMATION old_client = {};
    if (!Start(Quote(BinDir() + L"\\client_old.exe") + L" 1500", &old_client))
      break;
    UpdateRun run = RunUpdater(L"--pid=" + std::to_wstring(old_client.dwProcessId) +
                               L" --root_dir=" + Quote(root));
    FILETIME created, exited, kernel, user;
    GetProcessTimes(old_client.hProcess, &created, &exited, &kernel, &user);
    CloseHandle(old_client.hThread);
    CloseHandle(old_client.hProcess);
    for (const LogLine& line : run.lines) {
      if (line.text == "wait result 1") {
        delays.push_back((LogSecondsOfDay(line.timestamp) - LocalSecondsOfDay(exited)) * 1000.0);
      }
    }
  }
  if (!delays.empty()) {
    std::sort(delays.begin(), delays.end());
    bench::Report("update", "old client exit to \"wait result 1\" (median of 5)",
                  delays[delays.size() / 2], "ms");
  }
  RemoveTree(work);
  return 0;
}
