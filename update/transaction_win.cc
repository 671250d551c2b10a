#include "update/transaction.h"

#include <cstdio>
#include <functional>
#include <map>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/platform/windows_types.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/win/scoped_handle.h"
#include "common/util/layout.h"
#include "update/holders.h"
#include "update/package.h"
#include "update/retry.h"
#include "update/steps.h"

// After <windows.h>, which it needs.
#include <tlhelp32.h>

namespace update {

namespace {

namespace layout = common::layout;

// The start check: a new client that ends within this window with a status
// of kFailedStartStatus or above (the loader's and the processor's faults:
// a missing DLL 0xC0000135, an access violation 0xC0000005), or with a
// breakpoint (0x80000003, as a failed assertion traps), did not start. The
// loader decides within milliseconds and a crash in start-up code within a
// fraction of a second; a client that runs for 3 s got past both.
constexpr int64_t kStartCheckMs = 3000;
constexpr uint32_t kFailedStartStatus = 0xC0000000u;
constexpr uint32_t kBreakpointStatus = 0x80000003u;

// A journal larger than this is damaged (a few hundred bytes per entry).
constexpr DWORD kMaxJournalBytes = 1 << 20;

// How long an undo waits for the programs a failed client started.
constexpr DWORD kClientChildrenWaitMs = 12000;

bool Rename(const base::FilePath& from, const base::FilePath& to) {
  return MoveFileExW(from.value().c_str(), to.value().c_str(), 0) != 0;
}

// Logs one line for each wait of a retried step on `path`.
std::function<void(int64_t, uint32_t)> LogWait(const base::FilePath& path) {
  return [path](int64_t pause_ms, uint32_t error) {
    LOG(WARNING) << "held (error " << error << "), trying again in " << pause_ms << " ms: " << path;
  };
}

// Renames `from` to `to`, retried by `plan` while another program holds
// either; `on_wait` is told of each wait.
bool RenameUnder(const RetryPlan& plan,
                 const base::FilePath& from,
                 const base::FilePath& to,
                 const std::function<void(int64_t, uint32_t)>& on_wait,
                 uint32_t* error) {
  return RetryWhileHeld(
      plan, RealRetryClock(),
      [&](int, uint32_t* failure) {
        const bool done = Rename(from, to);
        *failure = done ? 0 : GetLastError();
        return done;
      },
      on_wait, error);
}

// Renames `from` to `to`, retried while another program holds either (see
// RetryWhileHeld). False with `*error` set when it did not happen; the
// holders of `from` are logged when a hold outlasted the budget.
bool RenameRetried(const base::FilePath& from, const base::FilePath& to, uint32_t* error) {
  const bool renamed = RenameUnder(RetryPlan(), from, to, LogWait(from), error);
  if (!renamed && IsHoldError(*error))
    LogHolders(from);
  return renamed;
}

// Renames a folder the package leaves untouched: a few quick attempts only,
// since joining its files by links instead is cheap.
bool RenameBriefly(const base::FilePath& from, const base::FilePath& to, uint32_t* error) {
  RetryPlan quick;
  quick.fast_attempts = 3;
  quick.fast_pause_ms = 10;
  quick.pause_before_first = false;
  quick.budget_ms = 0;
  return RenameUnder(
      quick, from, to, [](int64_t, uint32_t) {}, error);
}

// The part of `move` below `entry`'s names, with its leading separator; empty
// when the move is not one of that entry's.
std::wstring MoveWithin(const JournalEntry& entry, const JournalMove& move) {
  const std::wstring previous = ListingKey(entry.previous) + L"\\";
  if (ListingKey(move.from).rfind(previous, 0) != 0)
    return std::wstring();
  return move.from.substr(previous.size() - 1);
}

// While it lives, the thread runs at background priority (lower processor
// and disk priority), where the system grants it.
class BackgroundPriority {
 public:
  BackgroundPriority() {
    lowered_ = SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_BEGIN) != 0;
    const DWORD error = GetLastError();
    if (!lowered_)
      LOG(INFO) << "clean-up at normal priority, background mode refused (error " << error << ")";
  }
  ~BackgroundPriority() {
    if (lowered_)
      SetThreadPriority(GetCurrentThread(), THREAD_MODE_BACKGROUND_END);
  }
  BackgroundPriority(const BackgroundPriority&) = delete;
  BackgroundPriority& operator=(const BackgroundPriority&) = delete;

 private:
  bool lowered_ = false;
};

// Deletes `path` by renaming it to a trash name and deleting that, so that a
// deletion cut short never leaves a part under the name.
void DeleteViaTrash(const base::FilePath& path) {
  if (!base::PathExists(path))
    return;
  const base::FilePath trash = base::UniqueSiblingPath(path, base::kTrashSuffix);
  if (!Rename(path, trash) || base::DeletePathAnyLength(trash, true) != 0)
    LOG(WARNING) << "leftover of an update not deleted: " << path;
}

// Deletes the entries of `dir` whose names start with `prefix`, logging a
// WARNING for each that cannot be deleted.
void DeleteLeftovers(const base::FilePath& dir, const std::wstring& prefix) {
  base::FileEnumerator entries(
      dir, false, base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories, prefix + L"*");
  for (base::FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    if (base::DeletePathAnyLength(entry, true) != 0)
      LOG(WARNING) << "leftover of an update not deleted: " << entry;
  }
}

// What earlier runs left once a new version runs: previous versions, trash,
// unfinished copies and extractions.
void RemoveOldVersions(const base::FilePath& root) {
  const base::FilePath work = layout::WorkDir(root);
  DeleteLeftovers(root, layout::kPreviousVersion);
  std::vector<base::FilePath> swept = {layout::InstalledClientDir(root),
                                       layout::StagedClientDir(root), layout::JournalPath(root)};
  if (!EarlierExtractionsKept(root))
    swept.push_back(work.Append(layout::kExtraction));
  for (const base::FilePath& moved : swept) {
    DeleteLeftovers(moved.DirName(), moved.BaseName().value() + base::kTrashSuffix);
    DeleteLeftovers(moved.DirName(), moved.BaseName().value() + base::kCopySuffix);
  }
}

bool WriteWholeFile(const base::FilePath& path, const std::string& bytes) {
  base::win::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid())
    return false;
  DWORD written = 0;
  return WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size() && FlushFileBuffers(file.Get());
}

bool ReadWholeFile(const base::FilePath& path, std::string* bytes) {
  base::win::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ,
                                           nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.IsValid())
    return false;
  const DWORD size = GetFileSize(file.Get(), nullptr);
  if (size == INVALID_FILE_SIZE || size > kMaxJournalBytes)
    return false;
  bytes->resize(size);
  DWORD read = 0;
  return size == 0 || (ReadFile(file.Get(), bytes->data(), size, &read, nullptr) && read == size);
}

// Waits, at most kClientChildrenWaitMs in all, for the programs that the
// ended process `pid` started (as far as the system still tells), so that
// what they hold below the installation is let go before the undo.
void WaitForChildrenOf(uint32_t pid) {
  if (pid == 0)
    return;
  std::vector<base::win::ScopedHandle> children;
  const base::win::ScopedHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (bool more = snapshot.IsValid() && Process32FirstW(snapshot.Get(), &entry); more;
       more = Process32NextW(snapshot.Get(), &entry)) {
    if (entry.th32ParentProcessID == pid && entry.th32ProcessID != GetCurrentProcessId())
      children.emplace_back(OpenProcess(SYNCHRONIZE, FALSE, entry.th32ProcessID));
  }
  const ULONGLONG deadline = GetTickCount64() + kClientChildrenWaitMs;
  for (const base::win::ScopedHandle& child : children) {
    const ULONGLONG now = GetTickCount64();
    if (child.IsValid() && now < deadline &&
        WaitForSingleObject(child.Get(), static_cast<DWORD>(deadline - now)) == WAIT_TIMEOUT) {
      LOG(WARNING) << "a program the failed client started is still running";
    }
  }
}

// The previous versions of the installed entry `name` that lie in the root:
// its previous-version name, and fresh ones an earlier run had to take.
std::vector<base::FilePath> PreviousVersionsOf(const base::FilePath& root,
                                               const std::wstring& name) {
  std::vector<base::FilePath> found;
  const base::FilePath previous = root.Append(layout::PreviousVersionName(name));
  if (base::PathExists(previous))
    found.push_back(previous);
  base::FileEnumerator held(root, false,
                            base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories,
                            previous.BaseName().value() + layout::kHeldSuffix + L"*");
  for (base::FilePath path = held.Next(); !path.empty(); path = held.Next())
    found.push_back(path);
  return found;
}

// Without a journal to read: every installed entry that is missing while
// exactly one previous version of it lies in the root is that version, cut
// off by a swap; it goes back. With several, nothing is guessed. False when
// Client is missing afterwards while a journal was there (`damaged`) or a
// previous version of it is: what the swap did cannot be told, and no new
// version may start over it.
bool RestoreFromTheDisk(const base::FilePath& root, bool damaged) {
  for (const wchar_t* name : layout::kInstalledEntries) {
    const base::FilePath live = root.Append(name);
    const std::vector<base::FilePath> previous = PreviousVersionsOf(root, name);
    if (base::PathExists(live) || previous.empty())
      continue;
    uint32_t error = 0;
    if (previous.size() > 1) {
      LOG(ERROR) << "installed entry missing and several previous versions found, none restored: "
                 << live;
    } else if (RenameRetried(previous[0], live, &error)) {
      LOG(ERROR) << "installed entry missing, its previous version restored: " << live;
    } else {
      LOG(ERROR) << "installed entry missing, its previous version not restored: " << previous[0]
                 << ", error " << error;
    }
  }
  const base::FilePath client = layout::InstalledClientDir(root);
  if (base::DirectoryExists(client) ||
      (!damaged && PreviousVersionsOf(root, layout::kClientDir).empty()))
    return true;
  LOG(ERROR) << "no installed client after an update that was cut short, nothing installed: "
             << client;
  return false;
}

}  // namespace

namespace {

// The transaction's own file calls take the root's \\?\ form: an installed
// tree may be deeper than the plain calls reach once it lies aside.
base::FilePath FilesRoot(const base::FilePath& root_dir) {
  const base::FilePath files = base::LongPathForm(root_dir);
  return files.empty() ? root_dir : files;
}

}  // namespace

InstallTransaction::InstallTransaction(const base::FilePath& root_dir)
    : root_(root_dir), files_(FilesRoot(root_dir)) {}

base::FilePath InstallTransaction::PathOf(const std::wstring& relative) const {
  return files_.Append(relative);
}

std::wstring InstallTransaction::RelativeName(const base::FilePath& path) const {
  base::FilePath relative;
  CHECK(files_.AppendRelativePath(FilesRoot(path), &relative)) << "not below the root: " << path;
  return relative.value();
}

void InstallTransaction::Add(const std::wstring& name, const base::FilePath& source) {
  CHECK(step_ == Step::kBuilding);
  // A previous version an earlier run left (one a running program holds
  // cannot be moved away) keeps its name; this run's goes to a fresh one.
  base::FilePath previous = files_.Append(layout::PreviousVersionName(name));
  if (base::PathExists(previous))
    previous = base::UniqueSiblingPath(previous, layout::kHeldSuffix);
  journal_.entries.push_back(
      {name, RelativeName(source), RelativeName(previous), base::PathExists(files_.Append(name))});
}

void InstallTransaction::AddMove(const std::wstring& name, const std::wstring& folder) {
  CHECK(step_ == Step::kBuilding);
  for (const JournalEntry& entry : journal_.entries) {
    if (ListingKey(entry.live) == ListingKey(name))
      journal_.moves.push_back({entry.previous + L"\\" + folder, entry.source + L"\\" + folder});
  }
}

void InstallTransaction::AddLeftover(const base::FilePath& path) {
  CHECK(step_ == Step::kBuilding);
  journal_.leftovers.push_back(RelativeName(path));
}

void InstallTransaction::SetPackage(const base::FilePath& package, const std::string& identity) {
  CHECK(step_ == Step::kBuilding);
  journal_.package = package.value();
  journal_.package_identity = identity;
}

bool InstallTransaction::Record(JournalPhase phase) {
  Journal journal = journal_;
  journal.phase = phase;
  // Written whole under a temporary name, then renamed over the journal: a
  // reader finds the old journal or the new one, never a part.
  const base::FilePath path = layout::JournalPath(files_);
  const base::FilePath partial = base::UniqueSiblingPath(path, base::kCopySuffix);
  CreateDirectoryW(path.DirName().value().c_str(), nullptr);
  if (!WriteWholeFile(partial, SerializeJournal(journal)) ||
      !MoveFileExW(partial.value().c_str(), path.value().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(partial.value().c_str());
    LOG(ERROR) << "update journal not written: " << path << ", error " << error;
    return false;
  }
  journal_.phase = phase;
  return true;
}

bool InstallTransaction::Load(std::string* problem) {
  std::string text;
  if (!ReadWholeFile(layout::JournalPath(files_), &text)) {
    *problem = "it cannot be read";
    return false;
  }
  return ParseJournal(text, &journal_, problem);
}

void InstallTransaction::ForgetJournal() {
  const base::FilePath path = layout::JournalPath(files_);
  if (DeleteFileW(path.value().c_str()) || !base::PathExists(path))
    return;
  // A journal that stays would be acted on again: out of the way with it.
  if (!Rename(path, base::UniqueSiblingPath(path, layout::kDamagedSuffix)))
    LOG(ERROR) << "update journal not removed: " << path;
}

bool InstallTransaction::Prepare() {
  CHECK(step_ == Step::kBuilding);
  if (!Record(JournalPhase::kPrepared))
    return false;
  step_ = Step::kPrepared;
  return true;
}

bool InstallTransaction::MovedIn(const JournalEntry& entry) const {
  return !base::PathExists(PathOf(entry.source)) && base::PathExists(PathOf(entry.live));
}

bool InstallTransaction::Swap(SwapLog log) {
  CHECK(step_ == Step::kPrepared);
  step_ = Step::kSwapped;
  const bool staged_lines = log == SwapLog::kStagedLines;
  RetryPlan in_plan;
  in_plan.fast_attempts = 8;
  in_plan.fast_pause_ms = 20;
  in_plan.pause_before_first = false;
  for (const JournalEntry& entry : journal_.entries) {
    if (MovedIn(entry))
      continue;  // by a run that was cut short
    const base::FilePath live = PathOf(entry.live);
    const base::FilePath source = PathOf(entry.source);
    const base::FilePath previous = PathOf(entry.previous);
    uint32_t error = 0;
    const bool aside = RetryWhileHeld(
        RetryPlan(), RealRetryClock(),
        [&](int index, uint32_t* failure) {
          bool moved = !base::PathExists(live);
          if (!moved && base::PathExists(previous)) {
            SetLastError(ERROR_ALREADY_EXISTS);  // no waiting cures this
          } else if (!moved) {
            moved = Rename(live, previous);
          }
          *failure = moved ? 0 : GetLastError();
          if (staged_lines && index < 5)
            LogDeleteResult(moved, root_.Append(entry.live));
          return moved;
        },
        LogWait(live), &error);
    if (!aside) {
      LOG(ERROR) << (staged_lines ? "installed client directory" : "installed entry")
                 << " could not be moved aside, installation kept: " << live << ", error " << error;
      if (IsHoldError(error))
        LogHolders(live);
      return false;
    }
    PauseForTest(layout::pause::kAfterAside);
    if (!MoveFoldersIn(entry))
      return false;
    const bool moved = RetryWhileHeld(
        in_plan, RealRetryClock(),
        [&](int index, uint32_t* failure) {
          bool in = false;
          if (base::PathExists(live)) {
            // Something took the name after the move aside: a rename now
            // would fail or land inside it.
            LOG(ERROR) << "installed entry present, not moving onto it: " << live;
            SetLastError(ERROR_ALREADY_EXISTS);
          } else {
            in = Rename(source, live);
          }
          *failure = in ? 0 : GetLastError();
          // Moving into the root lands under the entry's own name: staged
          // mode reports the attempts alternately by either name.
          if (staged_lines && index < 8) {
            LogMoveResult(
                in, root_.Append(entry.source),
                index % 2 ? root_.Append(entry.live) : root_.Append(entry.live).DirName());
          }
          return in;
        },
        LogWait(source), &error);
    if (!moved) {
      LOG(ERROR) << "new version could not be moved in: " << source << ", error " << error;
      if (IsHoldError(error))
        LogHolders(source);
      return false;
    }
  }
  PauseForTest(layout::pause::kAfterMoveIn);
  return true;
}

bool InstallTransaction::MoveFoldersIn(const JournalEntry& entry) {
  bool first = true;
  const auto moved = [&first] {
    if (first)
      PauseForTest(layout::pause::kBetweenFolderMoves);
    first = false;
  };
  for (const JournalMove& move : journal_.moves) {
    if (MoveWithin(entry, move).empty())
      continue;
    const base::FilePath from = PathOf(move.from);
    const base::FilePath to = PathOf(move.to);
    // The usual case first: one rename, which fails when either name is not
    // as expected (gone, taken, held) and leaves the checks below to say why.
    if (Rename(from, to)) {
      moved();
      continue;
    }
    const bool from_there = base::PathExists(from);
    if (!from_there && base::DirectoryExists(to))
      continue;  // moved by a run that was cut short
    if (!from_there) {
      LOG(ERROR) << "folder of the installed version missing, new version incomplete: " << from;
      return false;
    }
    // Both there: links of a run that was cut short, made again from the start.
    if (base::PathExists(to) && base::DeletePathAnyLength(to, true) != 0) {
      LOG(ERROR) << "unfinished join of a folder not deleted: " << to;
      return false;
    }
    uint32_t error = 0;
    if (RenameBriefly(from, to, &error)) {
      moved();
      continue;
    }
    LOG(WARNING) << "folder not moved (error " << error << "), joining its files instead: " << from;
    std::string problem;
    if (!CreateDirectoryW(to.value().c_str(), nullptr)) {
      error = GetLastError();
      problem = "folder not created (error " + std::to_string(error) + ")";
    }
    if (!problem.empty() || !JoinInstalledFiles(from, to, &problem)) {
      LOG(ERROR) << "folder not joined to the new version: " << problem << ": " << from;
      return false;
    }
  }
  return true;
}

bool InstallTransaction::MoveFoldersBack(const JournalEntry& entry,
                                         const base::FilePath& new_version) {
  bool first = true;
  for (const JournalMove& move : journal_.moves) {
    const std::wstring within = MoveWithin(entry, move);
    if (within.empty())
      continue;
    const base::FilePath from = PathOf(move.from);
    const base::FilePath to(new_version.value() + within);
    if (base::PathExists(from))
      continue;  // not moved, joined by links, or already back
    uint32_t error = 0;
    if (!base::DirectoryExists(to)) {
      LOG(ERROR) << "folder of the previous version lost: " << from;
    } else if (!RenameRetried(to, from, &error)) {
      LOG(ERROR) << "folder not moved back to the previous version: " << to << ", error " << error;
      return false;
    } else if (first) {
      PauseForTest(layout::pause::kUndoBetweenFolderMoves);
      first = false;
    }
  }
  return true;
}

bool InstallTransaction::Start() {
  CHECK(step_ == Step::kSwapped);
  // Plain text, no path join: the root is used exactly as the client gave it.
  const std::wstring command_line =
      L"\"" + root_.value() + L"\\" + layout::kClientDir + L"\\" + layout::kClientExe + L"\"";
  base::LaunchOptions options;
  options.breakaway_from_job = true;
  options.working_directory = layout::InstalledClientDir(root_);
  const base::Process client = base::LaunchProcess(command_line, options);
  LogClientLaunch(client.IsValid(), command_line);
  if (!client.IsValid())
    return false;
  int code = 0;
  const bool ended = client.WaitForExitWithTimeout(base::Milliseconds(kStartCheckMs), &code);
  const uint32_t status = static_cast<uint32_t>(code);
  if (ended && (status >= kFailedStartStatus || status == kBreakpointStatus)) {
    char text[16];
    snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(status));
    LOG(ERROR) << "new client ended at its start with status " << text
               << ", not started: " << command_line;
    failed_client_ = client.Pid();
    return false;
  }
  PauseForTest(layout::pause::kAfterLaunch);
  // The client runs: from here on the new version stays. A journal that
  // cannot say so must not stay behind to be finished again: it is removed,
  // and the clean-up then keeps the previous versions (a later run's sweep
  // deletes them).
  if (!Record(JournalPhase::kStarted)) {
    ForgetJournal();
    journal_.entries.clear();
    journal_.moves.clear();
    journal_.leftovers.clear();
    journal_.package.clear();
  }
  step_ = Step::kStarted;
  return true;
}

void InstallTransaction::CleanUp() {
  CHECK(step_ == Step::kStarted);
  PauseForTest(layout::pause::kBeforeCleanUp);
  {
    // The new client is starting: the deletion must not slow it down.
    const BackgroundPriority background;
    for (const JournalEntry& entry : journal_.entries)
      DeleteViaTrash(PathOf(entry.previous));
    for (const std::wstring& leftover : journal_.leftovers)
      DeleteViaTrash(PathOf(leftover));
    ForgetJournal();
    if (!journal_.entries.empty())
      RemoveOldVersions(files_);
  }
  step_ = Step::kEnded;
  if (journal_.package.empty())
    return;
  // The package goes only while it is the file this run installed: a new one
  // the client put at the same path is a request of its own.
  const base::FilePath package(journal_.package);
  const std::string identity = PackageFile::IdentityAt(package);
  if (identity.empty()) {
    LogPackageRemoved();
    return;
  }
  if (identity != journal_.package_identity) {
    LOG(WARNING) << "package at the installed one's path is another file, kept: " << package;
    return;
  }
  SetFileAttributesW(package.value().c_str(), FILE_ATTRIBUTE_NORMAL);
  const bool deleted = DeleteFileW(package.value().c_str()) != 0;
  const DWORD error = GetLastError();
  if (deleted || !base::PathExists(package))
    LogPackageRemoved();
  else
    LOG(WARNING) << "package not deleted: " << package << ", error " << error;
}

bool InstallTransaction::Undo() {
  CHECK(step_ == Step::kPrepared || step_ == Step::kSwapped || step_ == Step::kUndoing);
  // Said before anything moves: a run that finds this finishes the undo and
  // never takes what it finds for a new version moved in.
  if (!Record(JournalPhase::kUndoing))
    LOG(WARNING) << "undoing without a journal that says so";
  step_ = Step::kUndoing;
  PauseForTest(layout::pause::kUndoing);
  WaitForChildrenOf(failed_client_);
  bool all_back = true;
  for (auto entry = journal_.entries.rbegin(); entry != journal_.entries.rend(); ++entry) {
    const base::FilePath live = PathOf(entry->live);
    const base::FilePath source = PathOf(entry->source);
    const base::FilePath previous = PathOf(entry->previous);
    const bool previous_there = base::PathExists(previous);
    // An entry that had an installed version and has no previous version is
    // whole: never moved aside, or already put back. It is never emptied.
    if (entry->had_installed && !previous_there)
      continue;
    uint32_t error = 0;
    // Where the new version lies once it is out of the way: the moved
    // folders go back to the previous version from there.
    base::FilePath new_version = source;
    if (base::PathExists(live) && !base::PathExists(source) &&
        !RenameRetried(live, source, &error)) {
      LOG(ERROR) << "new version cannot be moved away, previous version kept in " << previous
                 << ", error " << error;
      all_back = false;
      continue;
    }
    if (base::PathExists(live) && base::PathExists(source) && previous_there &&
        !RenameRetried(live, new_version = base::UniqueSiblingPath(live, base::kTrashSuffix),
                       &error)) {
      // The source name was taken again (a new stage): the new version goes
      // to the trash instead.
      LOG(ERROR) << "new version cannot be moved away, previous version kept in " << previous
                 << ", error " << error;
      all_back = false;
      continue;
    }
    PauseForTest(layout::pause::kUndoBetweenRenames);
    if (!previous_there)
      continue;  // nothing was installed there before
    if (!MoveFoldersBack(*entry, new_version)) {
      all_back = false;
      continue;
    }
    if (RenameRetried(previous, live, &error)) {
      LOG(ERROR) << "update undone, previous version restored: " << live;
    } else {
      LOG(ERROR) << "previous version not restored, it stays in " << previous << ", error "
                 << error;
      all_back = false;
    }
  }
  if (!all_back)
    return false;  // the journal stays, undoing: the next run goes on with it
  for (const std::wstring& leftover : journal_.leftovers)
    DeleteViaTrash(PathOf(leftover));
  ForgetJournal();
  step_ = Step::kEnded;
  return true;
}

bool InstallTransaction::Complete(SwapLog log) {
  if (!Prepare())
    return false;
  if (!Swap(log) || !Start()) {
    (void)Undo();
    return false;
  }
  CleanUp();
  return true;
}

InstallTransaction::Resumable InstallTransaction::CheckNewVersions() {
  std::map<std::wstring, base::FilePath> tops;
  for (const JournalEntry& entry : journal_.entries)
    tops[ListingKey(entry.live)] = PathOf(MovedIn(entry) ? entry.live : entry.source);
  if (journal_.package.empty()) {
    for (const JournalEntry& entry : journal_.entries) {
      // An unfinished copy cannot be told from a whole one: it is made again.
      if (entry.source.rfind(layout::kWorkDir, 0) != 0 ||
          !base::PathExists(tops[ListingKey(entry.live)].Append(layout::kClientExe)))
        return Resumable::kUncheckable;
    }
    return Resumable::kChecked;
  }
  // Held while it is listed: the package checked is the one at hand. A
  // program that is still letting go of it (the updater that was ended) is
  // waited for like any hold.
  PackageFile package;
  uint32_t error = 0;
  const bool opened = RetryWhileHeld(
      RetryPlan(), RealRetryClock(),
      [&](int, uint32_t* failure) {
        const bool open = package.Open(base::FilePath(journal_.package));
        *failure = open ? 0 : GetLastError();
        return open;
      },
      LogWait(base::FilePath(journal_.package)), &error);
  if (!opened || package.Identity() != journal_.package_identity) {
    LOG(WARNING) << "package of an update that was cut short "
                 << (opened ? "is another file now (" + package.Identity() + ", recorded " +
                                  journal_.package_identity + ")"
                            : "cannot be opened, error " + std::to_string(error))
                 << ": " << journal_.package;
    return Resumable::kUncheckable;
  }
  ArchiveListing listing;
  std::string problem;
  if (!ListPackage(package, &listing) || !ListedEntriesMatch(tops, listing, &problem)) {
    if (!problem.empty())
      LOG(ERROR) << "new version of an update that was cut short differs from its package: "
                 << problem;
    return Resumable::kDiffers;
  }
  return Resumable::kChecked;
}

bool EarlierExtractionsKept(const base::FilePath& root_dir) {
  base::FileEnumerator damaged(layout::WorkDir(FilesRoot(root_dir)), false,
                               base::FileEnumerator::kFiles,
                               std::wstring(layout::kJournal) + layout::kDamagedSuffix + L"*");
  return !damaged.Next().empty();
}

EarlierRun FinishEarlierRun(const base::FilePath& root_dir, PackageFile* request) {
  const base::FilePath files = FilesRoot(root_dir);
  const base::FilePath path = layout::JournalPath(files);
  if (!base::PathExists(path))
    return RestoreFromTheDisk(files, false) ? EarlierRun::kNone : EarlierRun::kFailed;
  InstallTransaction transaction(root_dir);
  std::string problem;
  if (!transaction.Load(&problem)) {
    // Kept for whoever looks into it; nothing it says is acted on.
    const base::FilePath kept = base::UniqueSiblingPath(path, layout::kDamagedSuffix);
    LOG(ERROR) << "update journal damaged (" << problem << "), kept as " << kept
               << " with the extractions earlier runs left, recovering from the installation: "
               << path;
    if (!Rename(path, kept))
      return EarlierRun::kFailed;
    return RestoreFromTheDisk(files, true) ? EarlierRun::kNone : EarlierRun::kFailed;
  }
  LOG(WARNING) << "finishing an update that was cut short: " << path;
  if (request && request->IsOpen() && !transaction.journal_.package.empty() &&
      request->Identity() == transaction.journal_.package_identity)
    request->Close();
  switch (transaction.journal_.phase) {
    case JournalPhase::kStarted:
      transaction.step_ = InstallTransaction::Step::kStarted;
      transaction.CleanUp();
      return EarlierRun::kInstalled;
    case JournalPhase::kUndoing:
      transaction.step_ = InstallTransaction::Step::kUndoing;
      return transaction.Undo() ? EarlierRun::kUndone : EarlierRun::kFailed;
    case JournalPhase::kPrepared:
      break;
  }
  transaction.step_ = InstallTransaction::Step::kPrepared;
  // What a cut-short run left is checked again before it is swapped in: a
  // power cut can leave files at their size without their content.
  const InstallTransaction::Resumable check = transaction.CheckNewVersions();
  if (check == InstallTransaction::Resumable::kDiffers) {
    (void)transaction.Undo();
    return EarlierRun::kFailed;
  }
  if (check == InstallTransaction::Resumable::kUncheckable) {
    LOG(WARNING) << "new version of an update that was cut short cannot be checked, undoing it";
    return transaction.Undo() ? EarlierRun::kUndone : EarlierRun::kFailed;
  }
  if (transaction.Swap(SwapLog::kFailuresOnly) && transaction.Start()) {
    transaction.CleanUp();
    return EarlierRun::kInstalled;
  }
  (void)transaction.Undo();
  return EarlierRun::kFailed;
}

}  // namespace update
