// Figures for the file operations and process launching: deleting, renaming
// and copying-then-deleting a tree of 2,000 files of 1 KiB in 200
// directories, beside the raw rename of the same tree, and the round trip of
// launching a child that exits at once.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/file_path.h"
#include "base/files/file_util.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "bench/bench.h"
#include "testing/process_guard.h"

namespace {

constexpr int kDirectories = 200;
constexpr int kFilesPerDirectory = 10;
constexpr int kRepetitions = 3;

base::FilePath ExeDir() {
  wchar_t buffer[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, MAX_PATH);
  return base::FilePath(std::wstring_view(buffer, length)).DirName();
}

bool MakeTree(const base::FilePath& root) {
  static const std::string kilobyte(1024, 'k');
  if (!base::CreateDirectoryAndGetError(root, nullptr))
    return false;
  for (int d = 0; d < kDirectories; ++d) {
    const base::FilePath dir = root.Append(L"dir" + std::to_wstring(d));
    if (!::CreateDirectoryW(dir.value().c_str(), nullptr))
      return false;
    for (int f = 0; f < kFilesPerDirectory; ++f) {
      const base::FilePath file = dir.Append(L"file" + std::to_wstring(f) + L".bin");
      HANDLE h = ::CreateFileW(file.value().c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
      if (h == INVALID_HANDLE_VALUE)
        return false;
      DWORD written = 0;
      const BOOL ok = ::WriteFile(h, kilobyte.data(), 1024, &written, nullptr);
      ::CloseHandle(h);
      if (!ok)
        return false;
    }
  }
  return true;
}

// The floor for deleting the tree: the raw calls on the known names, with no
// listing, attribute reads or read-only clearing.
bool RawDeleteTree(const base::FilePath& root) {
  bool ok = true;
  for (int d = 0; d < kDirectories; ++d) {
    const base::FilePath dir = root.Append(L"dir" + std::to_wstring(d));
    for (int f = 0; f < kFilesPerDirectory; ++f) {
      const base::FilePath file = dir.Append(L"file" + std::to_wstring(f) + L".bin");
      ok = ::DeleteFileW(file.value().c_str()) && ok;
    }
    ok = ::RemoveDirectoryW(dir.value().c_str()) && ok;
  }
  return ::RemoveDirectoryW(root.value().c_str()) && ok;
}

double Milliseconds(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// Median over kRepetitions of `op` on a fresh tree at `root`, in ms; `op`
// alone is timed, `cleanup` runs after it untimed.
template <typename Op, typename Cleanup>
double TimeOnFreshTree(const base::FilePath& root, Op op, Cleanup cleanup) {
  std::vector<double> times;
  for (int r = 0; r < kRepetitions; ++r) {
    (void)base::DeletePath(root, true);
    if (!MakeTree(root)) {
      std::fprintf(stderr, "cannot build the tree\n");
      return -1;
    }
    const auto start = std::chrono::steady_clock::now();
    const bool ok = op();
    times.push_back(Milliseconds(std::chrono::steady_clock::now() - start));
    if (!ok)
      std::fprintf(stderr, "operation failed in repetition %d\n", r);
    cleanup();
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

}  // namespace

int main() {
  base::FilePath temp;
  if (!base::GetTempDir(&temp))
    return 1;
  const base::FilePath root = temp.Append(L"files_process_bench");
  const base::FilePath tree = root.Append(L"tree");
  const base::FilePath moved = root.Append(L"moved");
  const base::FilePath copied = root.Append(L"copied");
  (void)base::DeletePath(root, true);
  if (!base::CreateDirectoryAndGetError(root, nullptr))
    return 1;

  auto clear = [&] {
    (void)base::DeletePath(tree, true);
    (void)base::DeletePath(moved, true);
    (void)base::DeletePath(copied, true);
  };

  bench::Report("files", "raw DeleteFileW tree 2000 files",
                TimeOnFreshTree(
                    tree, [&] { return RawDeleteTree(tree); }, clear),
                "ms");
  bench::Report("files", "delete tree 2000 files",
                TimeOnFreshTree(
                    tree, [&] { return base::DeleteFile(tree, true); }, clear),
                "ms", "raw DeleteFileW tree 2000 files");
  bench::Report("files", "raw MoveFileExW tree",
                TimeOnFreshTree(
                    tree,
                    [&] {
                      return ::MoveFileExW(tree.value().c_str(), moved.value().c_str(),
                                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
                    },
                    clear),
                "ms");
  bench::Report("files", "move (rename) tree",
                TimeOnFreshTree(
                    tree, [&] { return base::Move(tree, moved); }, clear),
                "ms", "raw MoveFileExW tree");
  bench::Report("files", "copy then delete tree",
                TimeOnFreshTree(
                    tree,
                    [&] {
                      return base::CopyDirectoryTree(tree, copied, true, false) &&
                             base::DeleteFile(tree, true);
                    },
                    clear),
                "ms", "raw MoveFileExW tree");
  clear();
  (void)base::DeletePath(root, true);

  const std::wstring child =
      base::CommandLine(ExeDir().DirName().Append(L"bin").Append(L"exit_code_child.exe"))
          .GetCommandLineString() +
      L" 0";
  bool launched = true;
  const bench::Result round_trip = bench::Measure(
      [&] {
        base::Process process = base::LaunchProcess(child, base::LaunchOptions());
        testing_support::ProcessGuard guard(process.Handle());
        launched = launched && process.IsValid() && process.WaitForExit(nullptr);
      },
      10, 5);
  if (!launched) {
    std::fprintf(stderr, "exit_code_child did not run\n");
    return 1;
  }
  bench::Report("process", "launch to exit round trip", round_trip.median_ns / 1e6, "ms");
  return 0;
}
