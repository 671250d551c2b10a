#include "update/update.h"

#include <algorithm>
#include <cstdio>
#include <functional>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/hash/fnv1a.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "common/util/layout.h"
#include "common/util/path_util.h"
#include "update/holders.h"
#include "update/package.h"
#include "update/retry.h"
#include "update/transaction.h"

namespace {

// The source lines the log reports for the update's steps. Support tooling and
// the tests read them from the log prefix, so they are stated here and do not
// follow the statements around when this file is edited.
constexpr int kWaitResultLine = 17;
constexpr int kDeleteResultLine = 29;
constexpr int kMoveResultLine = 46;
constexpr int kLaunchClientLine = 56;
constexpr int kLaunchUnpackerLine = 93;
constexpr int kUnpackerExitLine = 97;
constexpr int kPackageRemovedLine = 100;
constexpr int kUnpackerFailedLine = 105;

namespace layout = common::layout;

// How long an updater waits for another one at work on the same folder.
constexpr unsigned long kInstallLockWaitMs = 5 * 60 * 1000;

// Longer staged paths cannot be renamed by the plain (not \\?\-prefixed) calls.
constexpr size_t kMaxMovablePath = 260;

// The start check: a new client that ends within this window with a status
// of kFailedStartStatus or above (the loader's and the processor's faults:
// a missing DLL 0xC0000135, an access violation 0xC0000005) did not start.
// The loader decides within milliseconds and a crash in start-up code within
// a fraction of a second; a client that runs for 3 s got past both.
constexpr int64_t kStartCheckMs = 3000;
constexpr uint32_t kFailedStartStatus = 0xC0000000u;

// Test builds can hold the updater at a step boundary, so that a test can end
// the process exactly there: when ZELTORCG_UPDATE_TEST_PAUSE names the step,
// the updater sets the event kTestPauseEvent (if a test made it) and waits
// until it is ended.
void PauseForTest([[maybe_unused]] const wchar_t* step) {
#if defined(UPDATE_TEST_PAUSES)
  wchar_t wanted[64];
  const DWORD length = GetEnvironmentVariableW(layout::kTestPauseVariable, wanted, 64);
  if (length == 0 || length >= 64 || std::wstring(wanted, length) != step)
    return;
  const base::win::ScopedHandle paused(
      OpenEventW(EVENT_MODIFY_STATE, FALSE, layout::kTestPauseEvent));
  if (paused.IsValid())
    SetEvent(paused.Get());
  Sleep(INFINITE);
#endif
}

// Reads all of the open `file` from its start: false when it cannot be read
// or exceeds 1 GiB.
bool ReadFromStart(HANDLE file, std::string* bytes) {
  LARGE_INTEGER size;
  if (!SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
      !GetFileSizeEx(file, &size) || size.QuadPart > (1 << 30))
    return false;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes->empty() ||
         (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
          read == bytes->size());
}

// A new file of the temporary folder, readable and writable through the
// returned handle (inheritable) and deleted when the last handle to it closes,
// whoever holds it (a console host can outlive the child it served). Invalid
// on failure.
base::win::ScopedHandle CreateScratchFile() {
  base::FilePath temp;
  wchar_t name[MAX_PATH];
  if (!base::GetTempDir(&temp) || !GetTempFileNameW(temp.value().c_str(), L"zcg", 0, name))
    return base::win::ScopedHandle();
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  return base::win::ScopedHandle(CreateFileW(
      name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

// Where the installed top-level entry `name` goes while its new version moves
// in: root\zeltorcg_update_old for Client, root\zeltorcg_update_old.<name>
// for the others.
base::FilePath PreviousVersionPath(const std::wstring& root_dir, const std::wstring& name) {
  const base::FilePath previous = base::FilePath(root_dir).Append(layout::kPreviousVersion);
  return name == layout::kClientDir ? previous : base::FilePath(previous.value() + L"." + name);
}

// Where entry `name`'s installed version goes in this run: its previous-version
// path, or a fresh name beside it when an earlier run's previous version is
// still there (one a running program holds cannot be moved away; the clean-up
// deletes it once nothing does).
base::FilePath FreePreviousVersionPath(const std::wstring& root_dir, const std::wstring& name) {
  const base::FilePath previous = PreviousVersionPath(root_dir, name);
  return base::PathExists(previous) ? base::UniqueSiblingPath(previous, L".held-") : previous;
}

// Deletes the entries of `dir` whose names start with `prefix`, logging a
// WARNING for each that cannot be deleted.
void DeleteLeftovers(const base::FilePath& dir, const std::wstring& prefix) {
  base::FileEnumerator entries(
      dir, false, base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, prefix + L"*");
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    if (!base::DeleteFile(entry, true))
      LOG(WARNING) << "leftover of an update not deleted: " << entry;
  }
}

// Deletes what earlier runs left once a new version runs: previous versions,
// trash, unfinished copies and extractions.
void RemoveOldVersions(const std::wstring& root_dir) {
  const base::FilePath root(root_dir);
  const base::FilePath work = update::UpdateWorkDir(root);
  DeleteLeftovers(root, layout::kPreviousVersion);
  for (const base::FilePath& moved :
       {root.Append(layout::kClientDir), work.Append(layout::kClientDir),
        work.Append(layout::kExtraction), work.Append(layout::kJournal)}) {
    DeleteLeftovers(moved.DirName(), moved.BaseName().value() + base::kTrashSuffix);
    DeleteLeftovers(moved.DirName(), moved.BaseName().value() + base::kCopySuffix);
  }
}

// Moves the updater's current directory out of the installation, which it
// would otherwise hold open: to the folder of its own program when that is
// not inside root\Client, else to the temporary folder.
void LeaveInstallation(const std::wstring& root_dir) {
  wchar_t exe[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameW(nullptr, exe, MAX_PATH + 1);
  base::FilePath target;
  if (length > 0 && length <= MAX_PATH)
    target = base::FilePath(std::wstring(exe, length)).DirName();
  const base::FilePath client = base::MakeAbsoluteFilePath(InstalledClientDir(root_dir));
  const base::FilePath own = base::MakeAbsoluteFilePath(target);
  const bool inside_client =
      !client.empty() && !own.empty() &&
      CompareStringOrdinal(own.value().c_str(),
                           static_cast<int>(std::min(own.value().size(), client.value().size())),
                           client.value().c_str(), static_cast<int>(client.value().size()),
                           TRUE) == CSTR_EQUAL &&
      (own.value().size() == client.value().size() || own.value()[client.value().size()] == L'\\');
  if (target.empty() || inside_client)
    (void)base::GetTempDir(&target);
  if (!SetCurrentDirectoryW(target.value().c_str())) {
    const DWORD error = GetLastError();
    LOG(WARNING) << "current directory not changed to " << target << ", error " << error;
  }
}

// True when the staged client can be installed: the staged directory exists, has a path short
// enough to move (below kMaxMovablePath units), is not empty and holds ZeltorCloudPlay.exe.
// Otherwise logs an ERROR naming the path.
bool StagedVersionUsable(const std::wstring& root_dir) {
  const base::FilePath staged = StagedClientDir(root_dir);
  const base::FilePath exe = staged.Append(layout::kClientExe);
  if (!base::DirectoryExists(staged)) {
    LOG(ERROR) << "staged client directory missing, installation kept: " << staged;
  } else if (staged.value().size() >= kMaxMovablePath) {
    LOG(ERROR) << "staged client directory path too long to move, installation kept: " << staged;
  } else if (base::IsDirectoryEmpty(staged)) {
    LOG(ERROR) << "staged client directory empty, installation kept: " << staged;
  } else if (!base::PathExists(exe) || base::DirectoryExists(exe)) {
    LOG(ERROR) << "staged client program missing, installation kept: " << exe;
  } else {
    return true;
  }
  return false;
}

// Whether `staged` can be renamed into `root_dir`: not a link and on the
// root's volume. When the volumes cannot be told, the rename is tried.
bool RenamableInto(const base::FilePath& staged, const std::wstring& root_dir) {
  for (const base::FilePath& path : {staged, staged.DirName()}) {
    const DWORD attributes = GetFileAttributesW(path.value().c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
      return false;
  }
  DWORD serials[2] = {};
  const std::wstring paths[2] = {staged.value(), root_dir};
  for (int i = 0; i < 2; ++i) {
    const base::win::ScopedHandle folder(
        CreateFileW(paths[i].c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info;
    if (!folder.IsValid() || !GetFileInformationByHandle(folder.Get(), &info))
      return true;
    serials[i] = info.dwVolumeSerialNumber;
  }
  return serials[0] == serials[1];
}

// Starts root_dir\Client\ZeltorCloudPlay.exe outside any job, in its own
// folder, and watches it for kStartCheckMs: true when it keeps running or ends
// with a status below kFailedStartStatus.
bool StartClient(const std::wstring& root_dir) {
  // Plain text, no path join: the root is used exactly as the client gave it.
  const std::wstring command_line =
      L"\"" + root_dir + L"\\" + layout::kClientDir + L"\\" + layout::kClientExe + L"\"";
  base::LaunchOptions options;
  options.breakaway_from_job = true;
  options.working_directory = InstalledClientDir(root_dir);
  const base::Process client = base::LaunchProcess(command_line, options);
  LOG_AT(INFO, kLaunchClientLine) << "launch process vaild:" << client.IsValid()
                                  << " path:" << command_line;
  if (!client.IsValid())
    return false;
  int status = 0;
  if (!client.WaitForExitWithTimeout(base::Milliseconds(kStartCheckMs), &status) ||
      static_cast<uint32_t>(status) < kFailedStartStatus) {
    return true;
  }
  char text[16];
  snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
  LOG(ERROR) << "new client ended at its start with status " << text
             << ", not started: " << command_line;
  return false;
}

// Deletes the package itself, never as a pattern; "remove the zip file" only
// once it is gone.
void RemovePackage(const base::FilePath& package) {
  if (package.empty())
    return;
  SetFileAttributesW(package.value().c_str(), FILE_ATTRIBUTE_NORMAL);
  const bool deleted = DeleteFileW(package.value().c_str()) != 0;
  const DWORD error = GetLastError();
  if (deleted || !base::PathExists(package)) {
    LOG_AT(INFO, kPackageRemovedLine) << "remove the zip file";
  } else {
    LOG(WARNING) << "package not deleted: " << package << ", error " << error;
  }
}

// Logs one line for each wait of a retried step on `path`.
std::function<void(int64_t, uint32_t)> LogWait(const base::FilePath& path) {
  return [path](int64_t pause_ms, uint32_t error) {
    LOG(WARNING) << "held (error " << error << "), trying again in " << pause_ms << " ms: " << path;
  };
}

// Moves every entry of `transaction` in: the installed version aside, the new
// one into its place, each retried while another program holds it (the first
// five attempts aside 10 ms apart, the first eight in 20 ms apart, then with
// growing pauses for up to 12 s). Entries already moved in by a run that was
// cut short are left. With `staged_lines` the first attempts are logged as
// staged mode reports them. When a hold outlasts the retries, the programs
// holding the entry are logged.
bool SwapEntries(update::InstallTransaction& transaction, bool staged_lines) {
  update::RetryClock& clock = update::RealRetryClock();
  update::RetryPlan in_plan;
  in_plan.fast_attempts = 8;
  in_plan.fast_pause_ms = 20;
  in_plan.pause_before_first = false;
  for (size_t i = 0; i < transaction.entries().size(); ++i) {
    const update::SwapEntry& entry = transaction.entries()[i];
    if (!base::PathExists(entry.source) && base::PathExists(entry.live))
      continue;
    uint32_t error = 0;
    const bool aside = update::RetryWhileHeld(
        update::RetryPlan(), clock,
        [&](int index, uint32_t* failure) {
          const bool moved = transaction.MoveAside(i);
          *failure = moved ? 0 : GetLastError();
          if (staged_lines && index < 5)
            LOG_AT(INFO, kDeleteResultLine) << "delete file result:" << moved << "," << entry.live;
          return moved;
        },
        LogWait(entry.live), &error);
    if (!aside) {
      LOG(ERROR) << (staged_lines ? "installed client directory" : "installed entry")
                 << " could not be moved aside, installation kept: " << entry.live << ", error "
                 << error;
      if (update::IsHoldError(error))
        update::LogHolders(entry.live);
      return false;
    }
    PauseForTest(layout::pause::kAfterAside);
    const bool moved = update::RetryWhileHeld(
        in_plan, clock,
        [&](int index, uint32_t* failure) {
          const bool in = transaction.MoveIn(i);
          *failure = in ? 0 : GetLastError();
          // Moving into the root lands under the entry's own name: staged mode
          // reports the attempts alternately by either name.
          if (staged_lines && index < 8) {
            LOG_AT(INFO, kMoveResultLine)
                << "move result:" << in << ",from:" << entry.source
                << ",to:" << (index % 2 ? entry.live : entry.live.DirName());
          }
          return in;
        },
        LogWait(entry.source), &error);
    if (!moved) {
      LOG(ERROR) << "new version could not be moved in: " << entry.source << ", error " << error;
      if (update::IsHoldError(error))
        update::LogHolders(entry.source);
      return false;
    }
  }
  PauseForTest(layout::pause::kAfterMoveIn);
  return true;
}

// After the new version has started: previous versions, leftovers, journal,
// then the package.
void FinishCleanUp(const std::wstring& root_dir, update::InstallTransaction& transaction) {
  PauseForTest(layout::pause::kBeforeCleanUp);
  transaction.CleanUp();
  RemoveOldVersions(root_dir);
  RemovePackage(transaction.package());
}

// The swap, the start check and the clean-up of a recorded transaction; on
// failure everything goes back to the previous version.
bool CompleteTransaction(const std::wstring& root_dir,
                         update::InstallTransaction& transaction,
                         bool staged_lines) {
  if (!SwapEntries(transaction, staged_lines) || !StartClient(root_dir)) {
    transaction.Undo();
    return false;
  }
  PauseForTest(layout::pause::kAfterLaunch);
  // The client runs: from here on the new version stays, whatever happens.
  (void)transaction.Record(update::InstallTransaction::Phase::kStarted);
  FinishCleanUp(root_dir, transaction);
  return true;
}

enum class EarlierRun { kNone, kInstalled, kFailed };

// Finishes what an updater that was cut short left in its journal: its clean-up
// when its client had started, else its swap and start check, undone when the
// start fails.
EarlierRun FinishEarlierRun(const std::wstring& root_dir) {
  update::InstallTransaction transaction{base::FilePath(root_dir)};
  if (!transaction.Load())
    return EarlierRun::kNone;
  LOG(WARNING) << "finishing an update that was cut short: " << transaction.JournalPath();
  if (transaction.phase() == update::InstallTransaction::Phase::kStarted) {
    FinishCleanUp(root_dir, transaction);
    return EarlierRun::kInstalled;
  }
  return CompleteTransaction(root_dir, transaction, false) ? EarlierRun::kInstalled
                                                           : EarlierRun::kFailed;
}

// Staged mode: the staged Client, or where it cannot be renamed into the root
// a complete copy beside root\Client, replaces root\Client.
bool InstallStagedVersion(const std::wstring& root_dir) {
  if (!StagedVersionUsable(root_dir))
    return false;
  const base::FilePath staged = StagedClientDir(root_dir);
  const base::FilePath client = InstalledClientDir(root_dir);
  update::InstallTransaction transaction{base::FilePath(root_dir)};
  base::FilePath source = staged;
  if (!RenamableInto(staged, root_dir)) {
    source = base::UniqueSiblingPath(client, base::kCopySuffix);
    LOG(INFO) << "staged client directory cannot be renamed into the root, copying it to "
              << source;
    PauseForTest(layout::pause::kBeforeCopy);
    if (!base::CopyDirectoryTree(staged, source, true, true)) {
      LOG(ERROR) << "staged client directory could not be copied, installation kept: " << staged;
      (void)base::DeleteFile(source, true);
      return false;
    }
    transaction.AddLeftover(source);
  }
  transaction.Add({client, source, FreePreviousVersionPath(root_dir, layout::kClientDir)});
  if (!transaction.Record(update::InstallTransaction::Phase::kPrepared)) {
    if (source != staged)
      (void)base::DeleteFile(source, true);
    return false;
  }
  return CompleteTransaction(root_dir, transaction, true);
}

// Runs the unpacker: the package's listing into a scratch file, its extraction
// into `out_dir`. The unpacker splits its own command line and reads no
// backslash escapes, so its output switch is written as -o"<folder>" verbatim
// after the arguments the command-line builder quotes: quoted as one argument,
// a path with a blank or a non-ASCII character would reach it split.
//
// Only an exit code of 0 and a tree that matches the package's own listing
// count as success: a killed unpacker, a full disk or a damaged package leave
// a tree that does not. The unpacker has no time limit; its console stays
// hidden.
bool UnpackPackage(const std::wstring& package, const base::FilePath& out_dir) {
  const base::FilePath unpacker = common::GetExeDirFilePath(layout::kUnpackerExe);
  // The listing stays outside the installation: its file goes when it closes.
  base::win::ScopedHandle listing_file = CreateScratchFile();
  base::Process lister;
  if (listing_file.IsValid()) {
    base::LaunchOptions list_options;
    list_options.hide_window = true;
    list_options.std_output = list_options.std_error = listing_file.Get();
    list_options.inherited_handles = {listing_file.Get()};
    base::CommandLine list(unpacker);
    list.AppendArg("l");
    list.AppendArg("-slt");
    list.AppendArg("-sccUTF-8");
    list.AppendArgWide(package);
    lister = base::LaunchProcess(list, list_options);
  }

  base::LaunchOptions options;
  options.hide_window = true;
  base::CommandLine unpack(unpacker);
  unpack.AppendArg("x");
  unpack.AppendArgWide(package);
  unpack.AppendArg("-aoa");
  const std::wstring command = unpack.GetCommandLineString() + L" -o\"" + out_dir.value() + L"\"";
  const base::Process unpacker_process = base::LaunchProcess(command, options);
  LOG_AT(INFO, kLaunchUnpackerLine)
      << "launch 7z vaild:" << unpacker_process.IsValid() << " cmd:" << command;
  if (!unpacker_process.IsValid()) {
    LOG_AT(ERROR, kUnpackerFailedLine) << "7z launch failed";
    if (lister.IsValid())
      (void)lister.Terminate(1, true);
    return false;
  }
  int exit_code = 0;
  const bool ret = unpacker_process.WaitForExit(&exit_code);
  LOG_AT(INFO, kUnpackerExitLine) << "7z exit with code:" << exit_code << ",ret:" << ret;
  int list_code = -1;
  const bool listed = lister.IsValid() && lister.WaitForExit(&list_code) && list_code == 0;
  PauseForTest(layout::pause::kAfterUnpacker);
  std::string text;
  std::string problem;
  update::ArchiveListing entries;
  // An unreadable exit code is no proof of success: keep the package.
  if (!ret || exit_code != 0) {
    problem = "the unpacker failed (exit code " + std::to_string(exit_code) + ")";
  } else if (!listed || !ReadFromStart(listing_file.Get(), &text) ||
             !update::ParseArchiveListing(text, &entries)) {
    problem =
        "the package's listing could not be read (exit code " + std::to_string(list_code) + ")";
  } else if (entries.empty()) {
    problem = "the package holds nothing";
  } else {
    (void)update::ExtractedTreeMatches(out_dir, entries, &problem);
  }
  if (!problem.empty()) {
    LOG(ERROR) << "package not installed, installation kept: " << problem;
    return false;
  }
  return true;
}

// Package mode: the package extracted aside, checked against its listing,
// each top-level entry completed from the installed one and swapped in.
bool InstallPackage(const std::wstring& root_dir, const std::wstring& package) {
  const base::FilePath work = update::UpdateWorkDir(base::FilePath(root_dir));
  // Extractions that earlier runs left take room the new one may need.
  DeleteLeftovers(work, layout::kExtraction + std::wstring(base::kCopySuffix));
  // A work folder this run made goes again when nothing is left in it.
  const bool made_work_dir = CreateDirectoryW(work.value().c_str(), nullptr) != 0;
  const base::FilePath out_dir =
      base::UniqueSiblingPath(work.Append(layout::kExtraction), base::kCopySuffix);
  update::InstallTransaction transaction{base::FilePath(root_dir)};
  transaction.AddLeftover(out_dir);
  transaction.set_package(base::FilePath(package));
  auto discard = [&out_dir, &work, made_work_dir] {
    if (!base::DeleteFile(out_dir, true))
      LOG(WARNING) << "leftover of an update not deleted: " << out_dir;
    if (made_work_dir)
      RemoveDirectoryW(work.value().c_str());
    return false;
  };
  if (!UnpackPackage(package, out_dir))
    return discard();
  PauseForTest(layout::pause::kAfterCheck);
  base::FileEnumerator top(out_dir, false,
                           base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories);
  for (base::FilePath source = top.Next(); !source.empty(); source = top.Next()) {
    const std::wstring name = source.BaseName().value();
    const base::FilePath live = base::FilePath(root_dir).Append(name);
    std::string problem;
    if (update::ListingKey(name).rfind(layout::kReservedPrefix, 0) == 0) {
      LOG(ERROR) << "package entry would replace the updater's own folder, installation kept: "
                 << name;
      return discard();
    }
    if (top.GetInfo().IsDirectory() && base::DirectoryExists(live) &&
        !update::JoinInstalledFiles(live, source, &problem)) {
      LOG(ERROR) << "new version not built, installation kept: " << problem;
      return discard();
    }
    transaction.Add({live, source, FreePreviousVersionPath(root_dir, name)});
  }
  PauseForTest(layout::pause::kAfterBuild);
  if (!transaction.Record(update::InstallTransaction::Phase::kPrepared))
    return discard();
  const bool installed = CompleteTransaction(root_dir, transaction, false);
  if (made_work_dir)
    RemoveDirectoryW(work.value().c_str());
  return installed;
}

// Whether the package's SHA-256 digest is `expected` (hexadecimal, either
// case); else logs an ERROR with both digests.
bool PackageHasDigest(const std::wstring& package, const std::wstring& expected) {
  std::string found;
  if (!update::Sha256OfFile(base::FilePath(package), &found)) {
    LOG(ERROR) << "package could not be read for its checksum, installation kept: " << package;
    return false;
  }
  const std::wstring lower = update::ListingKey(expected);
  if (base::UTF8ToWide(found) == lower)
    return true;
  LOG(ERROR) << "package checksum mismatch, installation kept: expected " << lower << ", found "
             << found << ": " << package;
  return false;
}

// The name of the installation lock of `root_dir`, a named mutex of the
// session: one per folder, the same for every spelling of it.
std::wstring InstallLockName(const std::wstring& root_dir) {
  // Kernel object names hold no backslash. The folder's volume serial number
  // and file index name it whatever the spelling (letter case, 8.3 names,
  // another drive letter, a link onto it); a root that cannot be opened is
  // named by a hash of its absolute, lower-cased spelling.
  wchar_t name[80];
  const base::win::ScopedHandle folder(
      CreateFileW(root_dir.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!root_dir.empty() && folder.IsValid() && GetFileInformationByHandle(folder.Get(), &info)) {
    swprintf(name, 80, L"%ls%08lx-%08lx%08lx", layout::kObjectPrefix, info.dwVolumeSerialNumber,
             info.nFileIndexHigh, info.nFileIndexLow);
    return name;
  }
  const base::FilePath absolute = base::MakeAbsoluteFilePath(base::FilePath(root_dir));
  const std::wstring key = absolute.empty() ? root_dir : absolute.StripTrailingSeparators().value();
  const std::wstring lower = update::ListingKey(key);
  const uint64_t hash = base::Fnv1a64(lower.data(), lower.size());
  swprintf(name, 80, L"%ls%016llx", layout::kObjectPrefix, static_cast<unsigned long long>(hash));
  return name;
}

// Whether the request has nothing left to install: its package or stage was
// consumed by the earlier run that this one finished.
bool RequestConsumed(const std::wstring& root_dir, const std::wstring& package) {
  return package.empty() ? !base::DirectoryExists(StagedClientDir(root_dir))
                         : !base::PathExists(base::FilePath(package));
}

// Holding the installation lock of `root_dir` (waiting up to kInstallLockWaitMs
// for an updater already at work there): finishes what an earlier run left,
// then installs the package when `package` is non-empty, else the stage.
bool InstallNewVersion(const std::wstring& root_dir, const std::wstring& package) {
  // One update at a time per installation: a second updater for the same
  // folder would move away what the first is moving into place.
  HANDLE mutex = CreateMutexW(nullptr, FALSE, InstallLockName(root_dir).c_str());
  const DWORD create_error = GetLastError();
  const base::win::ScopedHandle lock(mutex);
  if (!lock.IsValid()) {
    LOG(ERROR) << "cannot create the installation lock, error " << create_error;
    return false;
  }
  const DWORD waited = WaitForSingleObject(lock.Get(), kInstallLockWaitMs);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    LOG(ERROR) << "another update of " << root_dir << " is still running, giving up";
    return false;
  }
  bool updated = false;
  switch (FinishEarlierRun(root_dir)) {
    case EarlierRun::kFailed:
      break;
    case EarlierRun::kInstalled:
      if (RequestConsumed(root_dir, package)) {
        updated = true;
        break;
      }
      [[fallthrough]];
    case EarlierRun::kNone:
      updated =
          package.empty() ? InstallStagedVersion(root_dir) : InstallPackage(root_dir, package);
      break;
  }
  ReleaseMutex(lock.Get());
  return updated;
}

}  // namespace

bool RunUpdate(int32_t pid,
               const std::wstring& root_dir,
               const std::wstring& package,
               const std::wstring& sha256) {
  LeaveInstallation(root_dir);
  if (pid > 0) {
    base::Process client = base::Process::Open(static_cast<base::ProcessId>(pid));
    if (client.IsValid()) {
      const bool ended = client.WaitForExitWithTimeout(base::Milliseconds(10000), nullptr);
      LOG_AT(INFO, kWaitResultLine) << "wait result " << ended;
    }
  }
  if (!package.empty() && !sha256.empty() && !PackageHasDigest(package, sha256))
    return false;
  return InstallNewVersion(root_dir, package);
}

base::FilePath InstalledClientDir(const std::wstring& root_dir) {
  return base::FilePath(root_dir).Append(layout::kClientDir);
}

base::FilePath StagedClientDir(const std::wstring& root_dir) {
  return update::UpdateWorkDir(base::FilePath(root_dir)).Append(layout::kClientDir);
}

int32_t PidFromSwitchValue(const std::wstring& raw) {
  // The value is read as ASCII: a value with any other character is no pid.
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](wchar_t c) { return c < 0x80; });
  size_t first = raw.find_first_not_of(L" \t\n\v\f\r");
  if (first != std::wstring::npos && (raw[first] == L'-' || raw[first] == L'+'))
    ++first;
  const bool digits = first < raw.size() && raw[first] >= L'0' && raw[first] <= L'9';
  // The conversion's best effort is the leading number, clamped to 64 bits.
  int64_t value = 0;
  (void)base::StringToInt64(raw, &value);
  if (ascii && digits && value >= INT32_MIN && value <= INT32_MAX)
    return static_cast<int32_t>(value);
  LOG(WARNING) << "ignoring pid value \"" << raw << "\": not a 32-bit decimal number";
  return 0;
}
