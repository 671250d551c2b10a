// Whole updates of trees of small files, each figure the median of several
// runs from the same start state, the compared runs alternating:
//   staged mode: from update.exe's start to the new client's start (which
//                must not grow with the tree) beside a launcher that only
//                starts the client, and the whole run including the deletion
//                of the old version;
//   package mode: the whole run beside a bare "7z x" of the same package into
//                an empty folder, and its time to the client's start;
//   a concentrated patch of 10 % of the files (in 10 of the 100 folders):
//                package mode's time to the client's start and whole run
//                beside the patch's in-place "7z x -aoa" over the installed
//                tree; a spread one (in every folder): the join's own time
//                beside a bare loop of CreateHardLinkW over the same files.
// The delay from the old client's exit to the updater's "wait result 1" line
// closes the report.
//   update_bench.exe [--staged] [--packages] [file counts...]   (default: 1000 5000 20000)
// --staged runs the staged-mode figures only, for runs beside other load;
// --packages the package-mode figures only.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "base/file_path.h"
#include "bench/bench.h"
#include "testing/e2e/e2e_support.h"
#include "update/package.h"

namespace {

using namespace e2e;
using update::ArchiveListing;

constexpr int kRuns = 5;

constexpr int kFolders = 100;

// The path of file `i` of a tree of `files` files: its folder holds the
// i-th hundredth of them, so that every tree has kFolders folders.
std::wstring FilePathOf(int i, int files) {
  return L"d" + std::to_wstring(i / std::max(1, files / kFolders)) + L"\\f" + std::to_wstring(i) +
         L".dat";
}

// `files` files of 100 bytes in kFolders folders, plus the client program.
void MakeClientTree(const std::wstring& client_dir, int files, char fill) {
  Tree tree;
  for (int i = 0; i < files; ++i)
    tree[FilePathOf(i, files)] = std::string(100, static_cast<char>(fill + i % 26));
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

struct Times {
  double to_client_start_ms = -1;
  double whole_ms = -1;
};

// Runs `command_line` to its end; the client's start time comes from its
// record, measured from the process's own creation.
Times TimeRun(const std::wstring& command_line, const std::wstring& record_file) {
  Times times;
  DeleteFileW(record_file.c_str());
  ChildProcess process;
  times.whole_ms = StartAndTime(command_line, {}, &process);
  if (times.whole_ms < 0)
    return times;
  FILETIME created, exited, kernel, user;
  GetProcessTimes(process.handle(), &created, &exited, &kernel, &user);
  const auto records = ReadClientRecords(record_file, 1);
  if (!records.empty() && records[0].count("created")) {
    const uint64_t client = std::strtoull(records[0].at("created").c_str(), nullptr, 10);
    times.to_client_start_ms = static_cast<double>(client - Ticks(created)) / 10000.0;
  }
  return times;
}

std::wstring Updater(const std::wstring& root, const std::wstring& package = L"") {
  return Quote(UpdaterDir() + L"\\update.exe") + L" --pid=0 --root_dir=" + Quote(root) +
         (package.empty() ? L"" : L" --unzip=" + Quote(package));
}

// The floor: this program as a launcher that only starts the client the way
// the updater does (outside any job, in its own folder) and waits for nothing.
int Launch(const wchar_t* client_dir) {
  std::wstring command_line = L"\"" + std::wstring(client_dir) + L"\\ZeltorCloudPlay.exe\"";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, command_line.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE | CREATE_BREAKAWAY_FROM_JOB, nullptr, client_dir, &startup,
                      &info))
    return 1;
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return 0;
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

// Prints the median of `values` and its ratio to `baseline`'s.
void ReportPair(const std::string& name,
                const std::vector<double>& values,
                const std::string& baseline) {
  bench::Report("update", name.c_str(), Median(values), "ms", baseline.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--launch")
    return Launch(FromUtf8(argv[2]).c_str());
  std::vector<int> counts;
  bool staged_only = false;
  bool packages_only = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--staged")
      staged_only = true;
    else if (std::string(argv[i]) == "--packages")
      packages_only = true;
    else
      counts.push_back(std::atoi(argv[i]));
  }
  if (counts.empty())
    counts = {1000, 5000, 20000};
  const ScopedTempDir work_dir(L"bench");
  const std::wstring& work = work_dir.path();
  const std::wstring record_file = work + L"\\starts.txt";
  SetEnvironmentVariableW(L"CLIENT_RECORD_FILE", record_file.c_str());
  const std::wstring seven_zip = Quote(BinDir() + L"\\7z.exe");
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);

  for (int files : counts) {
    const std::string n = ", " + std::to_string(files) + " files";
    const std::wstring root = work + L"\\root" + std::to_wstring(files);
    const std::wstring installed = root + L"\\Client";
    const std::wstring staged = root + L"\\zeltorcg_update_tmp\\Client";

    // Staged mode beside the floor, alternating. Each run starts from an old
    // version installed and a new one staged; the installed new version is
    // staged again for the next run.
    MakeClientTree(staged, files, 'a');
    std::vector<double> to_client, whole, floor;
    for (int run = 0; run < (packages_only ? 0 : 2 * kRuns); ++run) {
      MakeClientTree(installed, files, 'A');
      if (run % 2 == 0) {
        floor.push_back(TimeRun(Quote(self) + L" --launch " + Quote(installed), record_file)
                            .to_client_start_ms);
        continue;
      }
      const Times times = TimeRun(Updater(root), record_file);
      to_client.push_back(times.to_client_start_ms);
      whole.push_back(times.whole_ms);
      MoveFileExW(installed.c_str(), staged.c_str(), 0);
    }
    if (!packages_only) {
      ReportPair("launcher floor to client start" + n, floor, "");
      ReportPair("staged mode to client start" + n, to_client,
                 "launcher floor to client start" + n);
      ReportPair("staged mode whole run" + n, whole, "");
    }
    RemoveTree(root);
    if (staged_only)
      continue;

    // Package mode beside a bare extraction of the same package, alternating,
    // each over the old version installed afresh: a full package beside its
    // extraction into an empty folder of the same volume, then a patch of
    // every tenth file beside its in-place extraction over the installed tree,
    // which package mode used to be.
    const std::wstring source = work + L"\\src";
    const std::wstring package = work + L"\\pkg.7z";
    const std::wstring run_package = work + L"\\run.7z";
    const std::wstring empty = work + L"\\bare";
    std::vector<double> bare, packaged, packaged_to_client, in_place, patched, unused;
    const auto alternate = [&](const std::wstring& out_dir, std::vector<double>* bare_ms,
                               std::vector<double>* whole_ms, std::vector<double>* to_client_ms) {
      MakePackage(source, package);
      RemoveTree(source);
      for (int run = 0; run < 2 * kRuns; ++run) {
        RemoveTree(installed);
        RemoveTree(empty);
        MakeClientTree(installed, files, 'A');
        CopyFileTo(package, run_package);
        if (run % 2 == 0) {
          bare_ms->push_back(TimeBareExtraction(seven_zip + L" x " + Quote(run_package) +
                                                L" -aoa " + Quote(L"-o" + out_dir)));
          continue;
        }
        const Times times = TimeRun(Updater(root, run_package), record_file);
        whole_ms->push_back(times.whole_ms);
        to_client_ms->push_back(times.to_client_start_ms);
      }
      DeleteFileW(package.c_str());
    };
    MakeClientTree(source + L"\\Client", files, 'a');
    alternate(empty, &bare, &packaged, &packaged_to_client);
    ReportPair("7z x into an empty folder" + n, bare, "");
    ReportPair("package mode whole run" + n, packaged, "7z x into an empty folder" + n);
    ReportPair("package mode to client start" + n, packaged_to_client,
               "7z x into an empty folder" + n);
    RemoveTree(empty);

    // A concentrated patch: the first tenth of the files, all in 10 of the
    // 100 folders; the other 90 folders move whole.
    MakeClientTree(source + L"\\Client", 0, 'a');
    Tree patch;
    for (int i = 0; i < files / 10; ++i)
      patch[FilePathOf(i, files)] = std::string(100, static_cast<char>('a' + i % 26));
    WriteTree(source + L"\\Client", patch);
    std::vector<double> patched_to_client;
    alternate(root, &in_place, &patched, &patched_to_client);
    ReportPair("concentrated 10 % patch, 7z x in place" + n, in_place, "");
    ReportPair("concentrated 10 % patch, package mode to client start" + n, patched_to_client,
               "concentrated 10 % patch, 7z x in place" + n);
    ReportPair("concentrated 10 % patch, package mode whole run" + n, patched,
               "concentrated 10 % patch, 7z x in place" + n);
    RemoveTree(root);

    // A spread patch (every tenth file, in every folder) touches every folder:
    // the join links the other nine tenths. Its own time beside a bare loop
    // of CreateHardLinkW over the same files, alternating, in this process.
    std::vector<double> joined, bare_links;
    MakeClientTree(installed, files, 'A');
    Tree spread;
    ArchiveListing listing;
    for (int i = 0; i < files; i += 10) {
      const std::wstring path = FilePathOf(i, files);
      spread[path] = std::string(100, 'a');
      listing[update::ListingKey(L"Client\\" + path)] = {L"Client\\" + path, false, 100};
    }
    const std::set<std::wstring> touched = update::TouchedKeys(listing);
    const std::wstring fresh = work + L"\\fresh";
    for (int run = 0; run < 2 * kRuns; ++run) {
      RemoveTree(fresh);
      WriteTree(fresh, spread);
      LARGE_INTEGER frequency, begin, end;
      QueryPerformanceFrequency(&frequency);
      QueryPerformanceCounter(&begin);
      if (run % 2 == 0) {
        for (int i = 0; i < files; ++i) {
          if (i % 10 == 0)
            continue;
          const std::wstring path = L"\\" + FilePathOf(i, files);
          CreateHardLinkW((fresh + path).c_str(), (installed + path).c_str(), nullptr);
        }
      } else {
        std::string problem;
        update::JoinPlan plan = update::PlanJoin(
            base::FilePath(installed),
            [&](const std::wstring& relative) {
              return update::ListedEntry(listing, touched, L"Client\\" + relative);
            },
            true);
        (void)update::JoinAsPlanned(base::FilePath(installed), base::FilePath(fresh), &plan,
                                    &problem);
      }
      QueryPerformanceCounter(&end);
      (run % 2 == 0 ? bare_links : joined)
          .push_back(1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                     frequency.QuadPart);
    }
    ReportPair("spread 10 % patch, bare CreateHardLinkW loop" + n, bare_links, "");
    ReportPair("spread 10 % patch, join" + n, joined,
               "spread 10 % patch, bare CreateHardLinkW loop" + n);
    RemoveTree(fresh);
    RemoveTree(root);
    DeleteFileW(run_package.c_str());
  }
  if (staged_only || packages_only) {
    RemoveTree(work);
    return 0;
  }
  // The package checksum: hashing a 100 MB package beside extracting it into
  // an empty folder, alternating. The package is stored, not compressed, so
  // that the extraction is not mostly decompression.
  {
    const std::wstring source = work + L"\\big";
    std::string data(100 << 20, '\0');
    uint32_t state = 2463534242u;
    for (char& c : data) {
      state ^= state << 13, state ^= state >> 17, state ^= state << 5;
      c = static_cast<char>(state);
    }
    WriteTree(source + L"\\Client", {{L"data.bin", data}});
    data = std::string();
    const std::wstring package = work + L"\\big.7z";
    Run(seven_zip + L" a -t7z -mx0 -bd -y " + Quote(package) + L" .\\*", source, 600000);
    RemoveTree(source);
    const std::wstring out = work + L"\\big_out";
    std::vector<double> hashed, extracted;
    for (int run = 0; run < 2 * kRuns; ++run) {
      if (run % 2 == 0) {
        RemoveTree(out);
        extracted.push_back(TimeBareExtraction(seven_zip + L" x " + Quote(package) + L" -aoa " +
                                               Quote(L"-o" + out)));
        continue;
      }
      LARGE_INTEGER frequency, begin, end;
      QueryPerformanceFrequency(&frequency);
      QueryPerformanceCounter(&begin);
      std::string digest;
      update::PackageFile file;
      if (!file.Open(base::FilePath(package)) || !file.Sha256(&digest))
        break;
      QueryPerformanceCounter(&end);
      hashed.push_back(1000.0 * static_cast<double>(end.QuadPart - begin.QuadPart) /
                       frequency.QuadPart);
    }
    ReportPair("7z x of a stored 100 MB package", extracted, "");
    ReportPair("SHA-256 of the 100 MB package", hashed, "7z x of a stored 100 MB package");
    RemoveTree(out);
    DeleteFileW(package.c_str());
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
  return 0;
}
