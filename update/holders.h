#ifndef UPDATE_HOLDERS_H_
#define UPDATE_HOLDERS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/file_path.h"

// Who holds files of a folder open, as the platform's Restart Manager tells.
// Detection only: nothing is ever asked to close or shut down.

namespace update {

struct Holder {
  std::wstring name;  // the application's name as the platform reports it
  uint32_t pid = 0;
  uint32_t session = 0;
};

// The programs holding the file `path`, or any file below the folder `path`
// (at most the first 5,000 files). False when the platform could not be asked
// (no Restart Manager, or its session failed); true with an empty list when it
// names nobody.
[[nodiscard]] bool FindHolders(const base::FilePath& path, std::vector<Holder>* holders);

// Logs one WARNING line per holder of `path`, or one saying the platform named
// none or could not be asked: FindHolders, then the overload below.
void LogHolders(const base::FilePath& path);

// The lines of LogHolders for what FindHolders gave: with `asked` false only
// "the platform could not say who holds <path>", whatever `holders` holds; with
// an empty list "the platform names no program holding <path>"; else, per
// holder in order, "held by <name> (pid <pid>, session <session>): <path>".
// Names and paths are written as UTF-8.
void LogHolders(const base::FilePath& path, const std::vector<Holder>& holders, bool asked);

}  // namespace update

#endif  // UPDATE_HOLDERS_H_
