#ifndef UPDATE_TRANSACTION_H_
#define UPDATE_TRANSACTION_H_

#include <cstdint>
#include <string>

#include "base/file_path.h"
#include "update/journal.h"

// The installation transaction: how whole new versions of the top-level
// entries of an installation root (normally "Client", also update.exe and the
// unpacker) replace the installed ones by renames, how that is undone, and how
// a run that was cut short is finished by the next one.
//
// Every new entry is complete before anything installed is touched. The
// journal below the root (see journal.h) says what is moved where; it is
// written under a temporary name and renamed over before the first rename,
// before an undo moves anything, and when the new client has started, so that
// at any instant the disk tells what to finish or undo. The steps run in one
// order only: Prepare, Swap, Start, CleanUp, with Undo after a failed Swap or
// Start; calling one out of order is a fatal CHECK.
// Single-threaded; the caller holds the installation lock throughout.

namespace update {

class PackageFile;

// What finishing an earlier run came to.
enum class EarlierRun {
  kNone,       // nothing to finish: no journal, or one recovered from the disk
  kInstalled,  // its new version runs
  kUndone,     // its undo is finished: the previous version is back in place
  kFailed,     // its new version was refused or could not be undone, or the
               // installation could not be read: nothing more is done this run
};

// How the swap's first attempts are logged: as staged mode always reported
// them ("delete file result:", "move result:"), or only when they fail.
enum class SwapLog { kStagedLines, kFailuresOnly };

class InstallTransaction {
 public:
  // A transaction below `root_dir`, not yet written anywhere.
  explicit InstallTransaction(const base::FilePath& root_dir);

  // While building: the new version of the installed entry `name` (one of
  // layout::kInstalledEntries) lies complete at `source`, a path below the
  // root. Its installed version will go to a fresh previous-version name.
  void Add(const std::wstring& name, const base::FilePath& source);
  // While building, after Add(name, ...): the folder `folder` (relative to
  // the installed entry `name`), which the new version lacks and does not
  // touch, is moved whole from the previous version into the new one by Swap,
  // between the move aside and the move in, and back by Undo before the
  // previous version returns. A folder that does not move at once (held, or
  // on another volume) has its files joined by links instead (see
  // JoinInstalledFiles).
  void AddMove(const std::wstring& name, const std::wstring& folder);
  // While building: `path` (below the root) is deleted by CleanUp and Undo.
  void AddLeftover(const base::FilePath& path);
  // While building: the package this transaction installs, and what
  // identifies that file (see PackageFile::Identity); CleanUp deletes it only
  // while the file at that path still has that identity.
  void SetPackage(const base::FilePath& package, const std::string& identity);

  // Records the transaction as prepared. False when the journal cannot be
  // written (logged); nothing else has changed then.
  [[nodiscard]] bool Prepare();

  // Moves every entry in: the installed version aside, the new one into its
  // place, each rename retried while another program holds it (see retry.h).
  // False when an entry could not be moved; Undo must follow.
  [[nodiscard]] bool Swap(SwapLog log);

  // Starts root\Client\ZeltorCloudPlay.exe and watches its start: true when it
  // keeps running past the start check or ends with an ordinary status; the
  // start is then recorded and from here on the new version stays. False when
  // it could not be started or failed at once; Undo must follow.
  [[nodiscard]] bool Start();

  // After Start: deletes the previous versions and leftovers (renamed to trash
  // names first) at the thread's background priority where the system grants
  // it, the journal, then the package when it is still the same
  // file ("remove the zip file"). Whatever cannot be deleted is logged as a
  // WARNING and left for a later run.
  void CleanUp();

  // Records that the swap is being undone, waits for a failed client and the
  // programs it started to end, then puts every entry back: the new version
  // back to its source, the previous version back in place, each rename
  // retried as in Swap. Logs "update undone, previous version restored: ..."
  // per restored entry. True when all went back (leftovers and journal are
  // deleted; the package is kept); false when something is still held, and
  // the journal stays in its undoing phase for the next run.
  [[nodiscard]] bool Undo();

  // Prepare, Swap and Start, then CleanUp; Undo after a failure. True when
  // the new version runs.
  [[nodiscard]] bool Complete(SwapLog log);

 private:
  friend EarlierRun FinishEarlierRun(const base::FilePath& root_dir, PackageFile* request);

  // Whether extractions that earlier runs left below `root_dir` must be kept:
  // while a damaged journal is kept, what the swap it recorded moved cannot be
  // told, and an extraction may hold folders of the installed version.
  bool EarlierExtractionsKept(const base::FilePath& root_dir);
  enum class Step { kBuilding, kPrepared, kSwapped, kStarted, kUndoing, kEnded };

  bool Record(JournalPhase phase);
  bool Load(std::string* problem);
  base::FilePath PathOf(const std::wstring& relative) const;
  std::wstring RelativeName(const base::FilePath& path) const;
  bool MovedIn(const JournalEntry& entry) const;
  bool MoveFoldersIn(const JournalEntry& entry);
  bool MoveFoldersBack(const JournalEntry& entry, const base::FilePath& new_version);
  // The new versions of a resumed transaction, wherever they are now (at
  // their source, or moved in), checked against what they came from: the
  // package's listing with its CRCs while it is the same file, or in staged
  // mode the direct stage with its program.
  enum class Resumable { kChecked, kDiffers, kUncheckable };
  Resumable CheckNewVersions();
  void ForgetJournal();

  base::FilePath root_;   // as the client gave it: the client's command line
  base::FilePath files_;  // its \\?\ form, for every file call
  Step step_ = Step::kBuilding;
  Journal journal_;
  uint32_t failed_client_ = 0;  // pid of a client that failed its start check
};

// Finishes what an updater that was cut short left in its journal: its
// clean-up when its client had started; its undo when it was undoing; else
// its swap and start check, once its new versions are checked again against
// what they came from (the package's listing with each file's CRC; the staged
// client's program), undone when that or the start fails.
// A journal that cannot be read is kept under a damaged name (an ERROR) and
// the root is read instead: an installed entry that is missing while its
// previous version is there is moved back first, and without a Client the
// result is kFailed.
// `request` is the package this run was asked to install, held, or null:
// when it is the very file the earlier run installs, it is let go (closed)
// so that the clean-up can delete it.
EarlierRun FinishEarlierRun(const base::FilePath& root_dir, PackageFile* request);

// Whether extractions that earlier runs left below `root_dir` must be kept:
// while a damaged journal is kept, what the swap it recorded moved cannot be
// told, and an extraction may hold folders of the installed version.
bool EarlierExtractionsKept(const base::FilePath& root_dir);

}  // namespace update

#endif  // UPDATE_TRANSACTION_H_
