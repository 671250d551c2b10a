#ifndef UPDATE_PACKAGE_H_
#define UPDATE_PACKAGE_H_

#include <cstdint>
#include <map>
#include <string>

#include "base/file_path.h"

// What a package must turn into: the unpacker's own listing of the archive,
// checked against the tree it extracted, and the new version's entries
// completed from the installed ones.

namespace update {

// One entry of an archive listing, keyed by its relative path in lower case.
struct ArchiveEntry {
  std::wstring path;  // relative, '\'-separated, as listed
  bool directory = false;
  uint64_t size = 0;  // of a file
};
using ArchiveListing = std::map<std::wstring, ArchiveEntry>;

// The key of a relative path in an ArchiveListing: lower case, as the file
// system compares names.
std::wstring ListingKey(std::wstring path);

// Parses the unpacker's technical listing (`l -slt`, UTF-8): the blocks after
// the "----------" line, one per entry, with "Path = ", "Size = ",
// "Folder = +" or "Attributes = D...". A later entry of the same path replaces
// an earlier one, as extraction with overwriting does. False when the listing
// has no such section (not a listing, or the archive could not be read).
[[nodiscard]] bool ParseArchiveListing(const std::string& listing, ArchiveListing* entries);

// True when the tree below `dir` is exactly what `entries` lists: every listed
// file with its size, every listed folder, nothing else but the folders above
// listed entries, and no link (reparse point) anywhere. Otherwise false with
// `problem` naming the first difference.
[[nodiscard]] bool ExtractedTreeMatches(const base::FilePath& dir,
                                        const ArchiveListing& entries,
                                        std::string* problem);

// Completes the new version `fresh` with what the installed version
// `installed` has and `fresh` lacks: files are hard-linked where the volume
// allows, copied where it does not. Where the two disagree on the kind of an
// entry (a file where the other has a folder), `fresh` wins and that part of
// `installed` is left out. False with `problem` set when a file cannot be
// joined; `fresh` may then hold some of them and must be discarded.
[[nodiscard]] bool JoinInstalledFiles(const base::FilePath& installed,
                                      const base::FilePath& fresh,
                                      std::string* problem);

// The SHA-256 digest of the file `path` as 64 lower-case hexadecimal digits,
// read in pieces (never whole into memory). False when it cannot be read.
[[nodiscard]] bool Sha256OfFile(const base::FilePath& path, std::string* digest);

}  // namespace update

#endif  // UPDATE_PACKAGE_H_
