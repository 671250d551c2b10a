#ifndef UPDATE_TRANSACTION_H_
#define UPDATE_TRANSACTION_H_

#include <string>
#include <vector>

#include "base/file_path.h"

// The installation transaction: how whole new versions of the top-level
// entries of an installation root (normally "Client", also update.exe and the
// unpacker) replace the installed ones by renames, how that is undone, and how
// a run that was cut short is finished by the next one.
//
// Every new entry is complete before anything installed is touched. A journal
// below the root says what is moved where; it is written (to a temporary name,
// then renamed over) before the first rename and again when the new version
// has started, so that at any instant the disk tells what to finish or undo.
// Single-threaded; the caller holds the installation lock throughout.

namespace update {

// One top-level entry of the swap: `source` (complete, on the root's volume)
// replaces `live`; the installed `live`, when there is one, goes to `previous`.
struct SwapEntry {
  base::FilePath live;
  base::FilePath source;
  base::FilePath previous;
};

class InstallTransaction {
 public:
  enum class Phase { kPrepared, kStarted };

  // A transaction below `root_dir`, not yet written anywhere.
  explicit InstallTransaction(const base::FilePath& root_dir);

  // Reads the journal an earlier run left below `root_dir`. False when there
  // is none or it cannot be read (a damaged journal is logged and removed).
  [[nodiscard]] bool Load();

  // Appends an entry; live, source and previous must be distinct paths.
  void Add(const SwapEntry& entry);
  // A path deleted by CleanUp (an extraction folder, a package).
  void AddLeftover(const base::FilePath& path);
  void set_package(const base::FilePath& package) { package_ = package; }

  // Records the entries with `phase` in the journal. False when it cannot be
  // written; nothing else has changed then.
  [[nodiscard]] bool Record(Phase phase);

  // One attempt to move entry `index`'s installed version aside: true when
  // `live` is gone from its place (also when it never existed). A `previous`
  // that an earlier run left is renamed to a trash name first.
  [[nodiscard]] bool MoveAside(size_t index);
  // One attempt to rename entry `index`'s source into `live`; refuses while
  // anything stands under `live`.
  [[nodiscard]] bool MoveIn(size_t index);

  // Puts every entry back as it was before the swap: a new version in `live`
  // goes back to its source (or to the trash when the source was refilled),
  // the previous version back to `live`. Logs an ERROR "update undone,
  // previous version restored: <live>" for each restored entry, or why one
  // could not be restored. When all went back, the leftovers and the journal
  // are deleted; else the journal stays for the next run.
  void Undo();

  // After the new version has started: deletes the previous versions and
  // leftovers (renamed to trash names first), then the journal, then the
  // package ("remove the zip file" once it is gone). Logs a WARNING for
  // whatever cannot be deleted; the next run tries again.
  void CleanUp();

  // Removes the journal; the entries stay as they are.
  void Forget();

  // True when every entry's source is in `live`.
  bool AllMovedIn() const;

  Phase phase() const { return phase_; }
  const std::vector<SwapEntry>& entries() const { return entries_; }
  const base::FilePath& package() const { return package_; }
  base::FilePath JournalPath() const;

 private:
  base::FilePath root_;
  Phase phase_ = Phase::kPrepared;
  std::vector<SwapEntry> entries_;
  std::vector<base::FilePath> leftovers_;
  base::FilePath package_;
};

// The folder below the root that holds the stage, extraction folders and the
// journal: root\zeltorcg_update_tmp.
base::FilePath UpdateWorkDir(const base::FilePath& root_dir);

}  // namespace update

#endif  // UPDATE_TRANSACTION_H_
