// Whole updates of trees of small files, each figure the median of several
// runs from the same start state, the compared runs alternating:
//   staged mode: from update.exe's start to the new client's start (which
//                must not grow with the tree), and the whole run including the
//                deletion of the old version;
//   package mode beside a bare "7z x -aoa" of the same package over the same
//                installed tree.
// The delay from the old client's exit to the updater's "wait result 1" line
// closes the report.
//   update_bench.exe [file counts...]   (default: 1000 5000 20000)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "testing/e2e/e2e_support.h"

namespace {

using namespace e2e;

constexpr int kRuns = 5;

// `files` files of 100 bytes in folders of 100, plus the client program.
void MakeClientTree(const std::wstring& client_dir, int files, char fill) {
  Tree tree;
  for (int i = 0; i < files; ++i) {
    tree[L"d" + std::to_wstring(i / 100) + L"\\f" + std::to_wstring(i) + L".dat"] =
        std::string(100, static_cast<char>(fill + i % 26));
  }
  WriteTree(client_dir, tree);
  CopyFileTo(BinDir() + L"\\ZeltorCloudPlay.exe", client_dir + L"\\ZeltorCloudPlay.exe");
}

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values.empty() ? -1 : values[values.size() / 2];
}

// Milliseconds of a run, -1 when it did not finish.
double Millis(const RunResult& r) {
  return r.finished ? r.seconds * 1000.0 : -1;
}

// Starts `command_line` into `child` and waits for it: milliseconds from just
// before its start to its end, -1 when it did not end within 10 minutes.
double StartAndTime(const std::wstring& command_line,
                    const StartOptions& options,
                    ChildProcess* child) {
  LARGE_INTEGER frequency, begin, end;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&begin);
  *child = ChildProcess(command_line, options);
  if (!child->WaitForExit(600000))
    return -1;
  QueryPerformanceCounter(&end);
  return 1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) / frequency.QuadPart;
}

struct StagedTimes {
  double to_client_start_ms = -1;
  double whole_ms = -1;
};

// One staged update of `root`; the client's start time comes from its record.
StagedTimes TimeStagedUpdate(const std::wstring& root, const std::wstring& record_file) {
  StagedTimes times;
  DeleteFileW(record_file.c_str());
  ChildProcess updater;
  times.whole_ms = StartAndTime(
      Quote(UpdaterDir() + L"\\update.exe") + L" --pid=0 --root_dir=" + Quote(root), {}, &updater);
  if (times.whole_ms < 0)
    return times;
  FILETIME created, exited, kernel, user;
  GetProcessTimes(updater.handle(), &created, &exited, &kernel, &user);
  const auto records = ReadClientRecords(record_file, 1);
  if (!records.empty() && records[0].count("created")) {
    const uint64_t client = std::strtoull(records[0].at("created").c_str(), nullptr, 10);
    times.to_client_start_ms = static_cast<double>(client - Ticks(created)) / 10000.0;
  }
  return times;
}

// Milliseconds of one unpacker run started as the updater starts it: its own
// console, hidden, no redirected output. -1 when it did not finish.
double TimeBareExtraction(const std::wstring& command_line) {
  StartOptions options;
  options.creation_flags = CREATE_NEW_CONSOLE;
  options.hide_window = true;
  ChildProcess unpacker;
  return StartAndTime(command_line, options, &unpacker);
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
    counts = {1000, 5000, 20000};
  const std::wstring work = MakeTempDir(L"bench");
  const std::wstring record_file = work + L"\\starts.txt";
  SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", record_file.c_str());
  const std::wstring seven_zip = Quote(BinDir() + L"\\7z.exe");

  for (int files : counts) {
    const std::string n = std::to_string(files) + " files";
    const std::wstring root = work + L"\\root" + std::to_wstring(files);
    const std::wstring installed = root + L"\\Client";
    const std::wstring staged = root + L"\\zeltorcg_update_tmp\\Client";

    // Staged mode. Each run starts from an old version installed and a new
    // one staged; the installed new version is staged again for the next run.
    MakeClientTree(staged, files, 'a');
    std::vector<double> to_client, whole;
    for (int run = 0; run < kRuns; ++run) {
      MakeClientTree(installed, files, 'A');
      const StagedTimes times = TimeStagedUpdate(root, record_file);
      to_client.push_back(times.to_client_start_ms);
      whole.push_back(times.whole_ms);
      MoveFileExW(installed.c_str(), staged.c_str(), 0);
    }
    const std::string base = "staged mode to client start, " + std::to_string(counts[0]) + " files";
    bench::Report("update", ("staged mode to client start, " + n).c_str(), Median(to_client), "ms",
                  base.c_str());
    bench::Report("update", ("staged mode whole run, " + n).c_str(), Median(whole), "ms",
                  ("staged mode to client start, " + n).c_str());
    RemoveTree(root);

    // Package mode beside a bare extraction, alternating, each over the old
    // version installed afresh.
    const std::wstring source = work + L"\\src";
    MakeClientTree(source + L"\\Client", files, 'a');
    const std::wstring package = work + L"\\pkg.7z";
    MakePackage(source, package);
    RemoveTree(source);
    const std::wstring run_package = work + L"\\run.7z";
    std::vector<double> bare, packaged;
    for (int run = 0; run < 2 * kRuns; ++run) {
      RemoveTree(installed);
      MakeClientTree(installed, files, 'A');
      CopyFileTo(package, run_package);
      if (run % 2 == 0) {
        bare.push_back(TimeBareExtraction(seven_zip + L" x " + Quote(run_package) + L" -aoa " +
                                          Quote(L"-o" + root)));
      } else {
        packaged.push_back(Millis(
            RunUpdater(L"--pid=0 --root_dir=" + Quote(root) + L" --unzip=" + Quote(run_package))
                .process));
      }
    }
    bench::Report("update", ("7z x -aoa, " + n).c_str(), Median(bare), "ms");
    bench::Report("update", ("package mode, " + n).c_str(), Median(packaged), "ms",
                  ("7z x -aoa, " + n).c_str());
    RemoveTree(root);
    DeleteFileW(package.c_str());
    DeleteFileW(run_package.c_str());
  }

  // Delay from the old client's exit to the "wait result 1" line.
  const std::wstring root = work + L"\\waitroot";
  MakeClientTree(root + L"\\Client", 10, 'A');
  std::vector<double> delays;
  for (int i = 0; i < kRuns; ++i) {
    MakeClientTree(root + L"\\zeltorcg_update_tmp\\Client", 10, 'a');
    ChildProcess old_client(Quote(BinDir() + L"\\client_old.exe") + L" 1500");
    if (!old_client.started())
      break;
    UpdateRun run =
        RunUpdater(L"--pid=" + std::to_wstring(old_client.pid()) + L" --root_dir=" + Quote(root));
    FILETIME created, exited, kernel, user;
    GetProcessTimes(old_client.handle(), &created, &exited, &kernel, &user);
    for (const LogLine& line : run.lines) {
      if (line.text == "wait result 1")
        delays.push_back((LogSecondsOfDay(line.timestamp) - LocalSecondsOfDay(exited)) * 1000.0);
    }
  }
  if (!delays.empty()) {
    bench::Report("update", "old client exit to \"wait result 1\" (median of 5)", Median(delays),
                  "ms");
  }
  RemoveTree(work);
  return 0;
}
