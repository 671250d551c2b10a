#include "update/update.h"

#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/time/time.h"
#include "common/util/layout.h"
#include "update/package.h"
#include "update/steps.h"
#include "update/transaction.h"
#include "update/update_platform.h"

namespace {

// The source lines the log reports for the update's steps. Support tooling and
// the tests read them from the log prefix, so they are stated here and do not
// follow the statements around when this file is edited; the steps in the
// other files log them through the functions below.
constexpr int kWaitResultLine = 17;
constexpr int kDeleteResultLine = 29;
constexpr int kMoveResultLine = 46;
constexpr int kLaunchClientLine = 56;
constexpr int kLaunchUnpackerLine = 93;
constexpr int kUnpackerExitLine = 97;
constexpr int kPackageRemovedLine = 100;
constexpr int kUnpackerFailedLine = 105;

namespace layout = common::layout;

// How long the updater waits for the client that started it to end.
constexpr base::TimeDelta kClientExitWait = base::Seconds(10);
// How long an updater waits for another one at work on the same folder.
constexpr int64_t kInstallLockWaitMs = 5 * 60 * 1000;

}  // namespace

namespace update {

void LogDeleteResult(bool deleted, const base::FilePath& path) {
  LOG_AT(INFO, kDeleteResultLine) << "delete file result:" << deleted << "," << path;
}
void LogMoveResult(bool moved, const base::FilePath& from, const base::FilePath& to) {
  LOG_AT(INFO, kMoveResultLine) << "move result:" << moved << ",from:" << from << ",to:" << to;
}
void LogClientLaunch(bool valid, const std::wstring& command_line) {
  LOG_AT(INFO, kLaunchClientLine) << "launch process vaild:" << valid << " path:" << command_line;
}
void LogUnpackerLaunch(bool valid, const std::wstring& command_line) {
  LOG_AT(INFO, kLaunchUnpackerLine) << "launch 7z vaild:" << valid << " cmd:" << command_line;
}
void LogUnpackerExit(int exit_code, bool ret) {
  LOG_AT(INFO, kUnpackerExitLine) << "7z exit with code:" << exit_code << ",ret:" << ret;
}
void LogPackageRemoved() {
  LOG_AT(INFO, kPackageRemovedLine) << "remove the zip file";
}
void LogUnpackerLaunchFailed() {
  LOG_AT(ERROR, kUnpackerFailedLine) << "7z launch failed";
}

}  // namespace update

namespace {

// True when the staged client can be installed: the staged directory exists,
// has a path short enough to move, is not empty and holds ZeltorCloudPlay.exe.
// Otherwise logs an ERROR naming the path.
bool StagedVersionUsable(const base::FilePath& root) {
  const base::FilePath staged = layout::StagedClientDir(root);
  const base::FilePath exe = staged.Append(layout::kClientExe);
  if (!base::DirectoryExists(staged)) {
    LOG(ERROR) << "staged client directory missing, installation kept: " << staged;
  } else if (staged.value().size() >= base::kMaxPathLength) {
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

// Staged mode: the staged Client, or where it cannot be renamed into the root
// a complete copy beside root\Client, replaces root\Client.
bool InstallStagedVersion(const base::FilePath& root) {
  if (!StagedVersionUsable(root))
    return false;
  const base::FilePath staged = layout::StagedClientDir(root);
  update::InstallTransaction transaction(root);
  base::FilePath source = staged;
  if (!update::RenamableInto(staged, root)) {
    source = base::UniqueSiblingPath(layout::InstalledClientDir(root), base::kCopySuffix);
    LOG(INFO) << "staged client directory cannot be renamed into the root, copying it to "
              << source;
    update::PauseForTest(layout::pause::kBeforeCopy);
    if (!base::CopyDirectoryTree(staged, source, true, true)) {
      LOG(ERROR) << "staged client directory could not be copied, installation kept: " << staged;
      (void)base::DeleteFile(source, true);
      return false;
    }
    transaction.AddLeftover(source);
  }
  transaction.Add(layout::kClientDir, source);
  if (transaction.Complete(update::SwapLog::kStagedLines))
    return true;
  if (source != staged)
    (void)base::DeleteFile(source, true);
  return false;
}

// The names of the top-level entries of `dir`. The enumeration is over when
// this returns, so nothing of it holds the folder open afterwards.
std::vector<std::wstring> TopLevelNames(const base::FilePath& dir) {
  std::vector<std::wstring> names;
  base::FileEnumerator top(dir, false,
                           base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories);
  for (base::FilePath entry = top.Next(); !entry.empty(); entry = top.Next())
    names.push_back(entry.BaseName().value());
  return names;
}

// Package mode: the held package extracted aside, checked against its
// listing, each top-level entry completed from the installed one and swapped
// in. The package is let go once the unpacker is done with it.
bool InstallPackage(const base::FilePath& root, update::PackageFile& package) {
  const base::FilePath work = layout::WorkDir(root);
  // Extractions that earlier runs left take room the new one may need.
  if (!update::EarlierExtractionsKept(root)) {
    (void)base::DeletePathAnyLength(
        base::LongPathForm(work).Append(layout::kExtraction + std::wstring(base::kCopySuffix) +
                                        L"*"),
        true);
  }
  // The unpacker takes the plain path and reaches deeper on its own; the
  // updater's own calls take the \\?\ forms.
  const base::FilePath out_dir =
      base::UniqueSiblingPath(work.Append(layout::kExtraction), base::kCopySuffix);
  const base::FilePath extracted = base::LongPathForm(out_dir);
  const base::FilePath installed = base::LongPathForm(root);
  auto discard = [&extracted] {
    if (base::DeletePathAnyLength(extracted, true) != 0)
      LOG(WARNING) << "leftover of an update not deleted: " << extracted;
    return false;
  };
  // While the unpacker runs, the installed folders the package lands on are
  // walked for what their new versions lack.
  update::ArchiveListing listing;
  std::set<std::wstring> touched;
  std::map<std::wstring, update::JoinPlan> plans;  // by ListingKey of the entry
  const auto plan = [&](const std::wstring& name) {
    const std::wstring key = update::ListingKey(name);
    return update::PlanJoin(
        installed.Append(name),
        [&listing, &touched, key](const std::wstring& relative) {
          return update::ListedEntry(listing, touched, key + L"\\" + relative);
        },
        true);
  };
  const auto plan_joins = [&] {
    touched = update::TouchedKeys(listing);
    for (const std::wstring& key : touched) {
      if (key.find(L'\\') == std::wstring::npos && update::IsInstalledEntryName(key) &&
          update::ListedEntry(listing, touched, key) == update::FreshEntry::kDirectory &&
          base::DirectoryExists(installed.Append(key)))
        plans.emplace(key, plan(key));
    }
  };
  const bool unpacked = update::UnpackPackage(package, out_dir, &listing, plan_joins) &&
                        update::NewProgramsRun(root, out_dir, package.path());
  const std::string identity = package.Identity();
  package.Close();
  if (!unpacked)
    return discard();
  update::PauseForTest(layout::pause::kAfterCheck);
  update::InstallTransaction transaction(root);
  // Folders the package leaves untouched move into the new version whole.
  for (const std::wstring& name : TopLevelNames(extracted)) {
    const base::FilePath source = extracted.Append(name);
    const base::FilePath live = installed.Append(name);
    if (!update::IsInstalledEntryName(name)) {
      LOG(ERROR) << "package entry is not part of an installation, installation kept: " << name;
      return discard();
    }
    std::vector<std::wstring> untouched;
    if (base::DirectoryExists(source) && base::DirectoryExists(live)) {
      const auto planned = plans.find(update::ListingKey(name));
      update::JoinPlan join = planned != plans.end() ? std::move(planned->second) : plan(name);
      std::string problem;
      if (!update::JoinAsPlanned(live, source, &join, &problem)) {
        LOG(ERROR) << "new version not built, installation kept: " << problem;
        return discard();
      }
      untouched = join.left_out;
    }
    transaction.Add(name, source);
    for (const std::wstring& folder : untouched)
      transaction.AddMove(name, folder);
  }
  transaction.AddLeftover(extracted);
  transaction.SetPackage(package.path(), identity);
  update::PauseForTest(layout::pause::kAfterBuild);
  return transaction.Complete(update::SwapLog::kFailuresOnly);
}

// Opens and holds the package; with a non-empty `sha256` its digest must be
// that (hexadecimal, either case). Else logs an ERROR and returns false.
bool OpenPackage(const base::FilePath& path,
                 const std::wstring& sha256,
                 update::PackageFile* package) {
  std::string found;
  if (!package->Open(path) || (!sha256.empty() && !package->Sha256(&found))) {
    LOG(ERROR) << "package could not be read, installation kept: " << path;
    return false;
  }
  const std::wstring expected = update::ListingKey(sha256);
  if (sha256.empty() || base::UTF8ToWide(found) == expected)
    return true;
  LOG(ERROR) << "package checksum mismatch, installation kept: expected " << expected << ", found "
             << found << ": " << path;
  package->Close();
  return false;
}

// Holding the installation lock of `root` (waiting up to kInstallLockWaitMs
// for an updater already at work there): finishes what an earlier run left,
// then installs the held `package` when one was asked for, else the stage.
bool InstallNewVersion(const base::FilePath& root,
                       const base::FilePath& package_path,
                       const std::wstring& sha256,
                       update::PackageFile& package) {
  update::InstallLock lock;
  if (!lock.Acquire(root, kInstallLockWaitMs))
    return false;
  const update::EarlierRun earlier = update::FinishEarlierRun(root, &package);
  if (earlier == update::EarlierRun::kFailed)
    return false;
  if (package_path.empty()) {
    // A stage the earlier run installed is gone from its place.
    if (earlier == update::EarlierRun::kInstalled &&
        !base::DirectoryExists(layout::StagedClientDir(root)))
      return true;
    return InstallStagedVersion(root);
  }
  // The earlier run let go of the request's package when it was its own.
  if (!package.IsOpen()) {
    if (earlier == update::EarlierRun::kInstalled)
      return true;
    if (!OpenPackage(package_path, sha256, &package))
      return false;
  }
  return InstallPackage(root, package);
}

}  // namespace

bool RunUpdate(int32_t pid,
               const std::wstring& root_dir,
               const std::wstring& package,
               const std::wstring& sha256) {
  const base::FilePath root(root_dir);
  update::LeaveInstallation(root);
  if (pid > 0) {
    base::Process client = base::Process::Open(static_cast<base::ProcessId>(pid));
    if (client.IsValid()) {
      const bool ended = client.WaitForExitWithTimeout(kClientExitWait, nullptr);
      LOG_AT(INFO, kWaitResultLine) << "wait result " << ended;
    }
  }
  // Held from before its checksum until the unpacker is done with it.
  update::PackageFile held;
  if (!package.empty() && !OpenPackage(base::FilePath(package), sha256, &held))
    return false;
  return InstallNewVersion(root, base::FilePath(package), sha256, held);
}
