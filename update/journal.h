#ifndef UPDATE_JOURNAL_H_
#define UPDATE_JOURNAL_H_

#include <string>
#include <vector>

// The installation journal: what a run moves where, as text. It names only
// the updater's own entries, relative to the installation root, so that a
// journal copied elsewhere or written by anybody else can point at nothing
// outside the installation. Portable; no file access.

namespace update {

enum class JournalPhase {
  kPrepared,  // every new version is complete; the swap may have begun
  kStarted,   // the new client has started: only the clean-up is left
  kUndoing,   // the swap is being undone: only the undo is left
};

// One top-level entry of the swap, as names relative to the root: `source`
// replaces `live`, and the installed `live`, when `had_installed`, goes to
// `previous`.
struct JournalEntry {
  std::wstring live;      // Client, update.exe, 7z.exe or 7z.dll
  std::wstring source;    // below zeltorcg_update_tmp, or Client.partial-*
  std::wstring previous;  // zeltorcg_update_old, or zeltorcg_update_old.<suffix>
  bool had_installed = true;

  bool operator==(const JournalEntry&) const = default;
};

// A folder of an installed version that the package leaves untouched, moved
// whole from the previous version into the new one by the swap (between its
// two renames) and back by the undo (before the previous version returns),
// as names relative to the root: `from` lies below an entry's `previous`,
// `to` below the same entry's `source`, at the same path within them.
struct JournalMove {
  std::wstring from;
  std::wstring to;

  bool operator==(const JournalMove&) const = default;
};

struct Journal {
  JournalPhase phase = JournalPhase::kPrepared;
  std::vector<JournalEntry> entries;
  std::vector<JournalMove> moves;
  std::vector<std::wstring> leftovers;  // relative, deleted by the clean-up and the undo
  std::wstring package;                 // absolute path of the package; empty in staged mode
  std::string package_identity;         // what tells that file from another at the same path

  bool operator==(const Journal&) const = default;
};

// The key of a name or relative path as the file system compares names:
// lower case.
std::wstring ListingKey(std::wstring path);

// Whether `name` (any case) is one of the top-level entries an update may
// replace: Client, update.exe, 7z.exe, 7z.dll.
bool IsInstalledEntryName(const std::wstring& name);

// The journal as UTF-8 text, ending in an "end" line.
std::string SerializeJournal(const Journal& journal);

// Reads text SerializeJournal wrote. False with `problem` set for anything
// else: another header, a line cut off or unknown, no "end" line, or a name
// that is not one of the updater's own (see JournalNameProblem); `journal` is
// then left empty.
[[nodiscard]] bool ParseJournal(const std::string& text, Journal* journal, std::string* problem);

// Why `journal`'s names cannot be acted on, or empty when they can: every live
// name is one of the installed entries, every source and leftover lies below
// the work folder (or is an unfinished copy of Client beside it), every
// previous name is a previous-version name, every move goes from below an
// entry's previous name to the same place below its source and lies within no
// other move of that entry, no name is used twice, and no name climbs out,
// names a drive, or holds a character no name may hold.
std::string JournalNameProblem(const Journal& journal);

}  // namespace update

#endif  // UPDATE_JOURNAL_H_
