#ifndef UPDATE_PACKAGE_H_
#define UPDATE_PACKAGE_H_

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "base/file_path.h"
#include "base/win/scoped_handle.h"
#include "update/journal.h"

// What a package must turn into: the unpacker's own listing of the archive,
// checked against the tree it extracted, and the new version's entries
// completed from the installed ones.

namespace update {

// One entry of an archive listing, keyed by its relative path in lower case.
struct ArchiveEntry {
  std::wstring path;  // relative, '\'-separated, as listed
  bool directory = false;
  uint64_t size = 0;  // of a file
  bool has_crc = false;
  uint32_t crc = 0;  // CRC-32 of a file's content, when listed
};
using ArchiveListing = std::map<std::wstring, ArchiveEntry>;

// Parses the unpacker's technical listing (`l -slt`, UTF-8): the blocks after
// the "----------" line, one per entry, with "Path = ", "Size = ",
// "Folder = +" or "Attributes = D..." and "CRC = " (hexadecimal). A later entry of the same path
// replaces an earlier one, as extraction with overwriting does. False when the listing has no such
// section (not a listing, or the archive could not be read).
[[nodiscard]] bool ParseArchiveListing(const std::string& listing, ArchiveListing* entries);

// True when the tree below `dir` is exactly what `entries` lists: every listed
// file with its size, every listed folder, nothing else but the folders above
// listed entries, and no link (reparse point) anywhere. Otherwise false with
// `problem` naming the first difference.
[[nodiscard]] bool ExtractedTreeMatches(const base::FilePath& dir,
                                        const ArchiveListing& entries,
                                        std::string* problem);

// True when every entry of `entries` is found with its kind, size and listed
// CRC-32 below the folder or file that `tops` names for the entry's first
// component (lower case, as ListingKey gives); other entries may lie beside
// them. Otherwise false with `problem` naming the first difference. Reads
// every listed file whole.
[[nodiscard]] bool ListedEntriesMatch(const std::map<std::wstring, base::FilePath>& tops,
                                      const ArchiveListing& entries,
                                      std::string* problem);

// What a package touches: the keys (ListingKey, relative to the root) of every
// entry `entries` lists and of every folder above one. A folder of the
// installed version whose key is not among them holds nothing the package
// changes, adds or removes: it can go into the new version whole.
std::set<std::wstring> TouchedKeys(const ArchiveListing& entries);

// The CRC-32 (IEEE 802.3, as archives list it) of `size` bytes at `data`,
// continuing from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const void* data, size_t size);

// Starts, from the extraction `out_dir` below `root`, each program of the
// package that would replace a working one, and waits a few seconds for it:
// update.exe with the check switch, and the unpacker (7z.exe with 7z.dll,
// the new one of the two beside the installed other) listing `package`.
// False, with an ERROR naming the program, unless each exits 0 in time.
[[nodiscard]] bool NewProgramsRun(const base::FilePath& root,
                                  const base::FilePath& out_dir,
                                  const base::FilePath& package);

// Completes the new version `fresh` with what the installed version
// `installed` has and `fresh` lacks: files are hard-linked where the volume
// allows, copied where it does not. Where the two disagree on the kind of an
// entry (a file where the other has a folder), `fresh` wins and that part of
// `installed` is left out. A link (reparse point) is carried as the same
// link, never entered. False with `problem` set when a file or link cannot be
// joined; `fresh` may then hold some of them and must be discarded.
[[nodiscard]] bool JoinInstalledFiles(const base::FilePath& installed,
                                      const base::FilePath& fresh,
                                      std::string* problem);

// What a new version holds at a path: nothing, a file or a folder.
enum class FreshEntry { kNone, kFile, kDirectory };

// What the extraction that `entries` lists holds at `path` (below the root,
// any case), `touched` being TouchedKeys(entries): each listed entry as
// listed, the folders above them as folders, nothing else.
FreshEntry ListedEntry(const ArchiveListing& entries,
                       const std::set<std::wstring>& touched,
                       const std::wstring& path);

// How an installed folder completes a new version: the entries the new one
// lacks, worked out by PlanJoin before the new version exists, and carried
// out by JoinAsPlanned.
struct JoinPlan {
  struct Entry {
    std::wstring relative;  // below the installed folder
    uint32_t attributes = 0;
  };
  JoinPlan();
  JoinPlan(const JoinPlan&);
  JoinPlan& operator=(const JoinPlan&);
  ~JoinPlan();

  // What the new version holds, given a path relative to it.
  std::function<FreshEntry(const std::wstring& relative)> fresh_entry;
  bool leave_out = false;
  // Folders before what they hold.
  std::vector<Entry> entries;
  // With `leave_out`: the folders the new version lacks, not entered, for the
  // caller to move in whole (parents before what they hold, none within
  // another). Links (reparse points) are never left out.
  std::vector<std::wstring> left_out;
  // Each folder the walk entered ("" for the installed folder itself) and
  // its last-write time then: one that changed since is walked again.
  std::vector<std::pair<std::wstring, uint64_t>> walked;
};

// Walks `installed` for a new version whose content `fresh_entry` tells, so
// that the new version is not asked, and may not exist yet; reads nothing
// else. With `leave_out`, each folder the new version lacks is left out.
JoinPlan PlanJoin(const base::FilePath& installed,
                  const std::function<FreshEntry(const std::wstring& relative)>& fresh_entry,
                  bool leave_out);

// JoinInstalledFiles by `plan` into `fresh`, which must hold just what the
// plan's `fresh_entry` tells. A folder of `installed` that changed since it
// was walked (a program wrote there meanwhile) has `plan` made again first,
// so nothing added in the meantime is lost.
[[nodiscard]] bool JoinAsPlanned(const base::FilePath& installed,
                                 const base::FilePath& fresh,
                                 JoinPlan* plan,
                                 std::string* problem);

// A package file held open for reading, shared only with readers: while it
// is held nobody can write, replace, rename or delete it, so what is hashed
// and listed is what the unpacker extracts. Move-only; not thread-safe.
class PackageFile {
 public:
  PackageFile() = default;
  PackageFile(PackageFile&&) = default;
  PackageFile& operator=(PackageFile&&) = default;

  // Opens and holds `path`. False when it cannot be opened (logged by the caller).
  [[nodiscard]] bool Open(const base::FilePath& path);
  bool IsOpen() const { return file_.IsValid(); }
  const base::FilePath& path() const { return path_; }
  // Lets go of the file.
  void Close() { file_.Close(); }

  // The SHA-256 digest of the held file as 64 lower-case hexadecimal digits,
  // read in pieces through the held handle. False when it cannot be read.
  [[nodiscard]] bool Sha256(std::string* digest) const;

  // What tells the held file from any other at its path: its file index,
  // size and last write time, as text. Empty when it cannot be read.
  std::string Identity() const;
  // The Identity of whatever file is at `path` now; empty when there is none.
  static std::string IdentityAt(const base::FilePath& path);

 private:
  base::FilePath path_;
  base::win::ScopedHandle file_;
};

// Runs the unpacker beside the updater on the held `package`: its listing
// (`l -slt`) into `listing`. False when it could not run or list the package.
[[nodiscard]] bool ListPackage(const PackageFile& package, ArchiveListing* listing);

// Extracts the held `package` into `out_dir` with the unpacker and checks the
// tree against the package's own listing, logged with the unpacker's promised
// lines. False, with an ERROR saying why, unless the unpacker exited 0 and the
// tree is exactly what the package lists. The listing goes into `listing`;
// `on_listing`, when set, runs as soon as it is there, while the unpacker may
// still be at work.
[[nodiscard]] bool UnpackPackage(const PackageFile& package,
                                 const base::FilePath& out_dir,
                                 ArchiveListing* listing,
                                 const std::function<void()>& on_listing = nullptr);

}  // namespace update

#endif  // UPDATE_PACKAGE_H_
