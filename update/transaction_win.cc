#include "update/transaction.h"

#include <string>

#include "base/files/file_util.h"
#include "base/logging.h"
#include "base/platform/windows_types.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "common/util/layout.h"

namespace update {

namespace {

// The journal's first line; a journal without it is not ours.
constexpr char kJournalHeader[] = "zeltorcg update transaction 1";
// A journal larger than this is damaged (a few hundred bytes per entry).
constexpr DWORD kMaxJournalBytes = 1 << 20;

bool Rename(const base::FilePath& from, const base::FilePath& to) {
  return MoveFileExW(from.value().c_str(), to.value().c_str(), 0) != 0;
}

// Renames `path` to a fresh trash name beside it: whatever stands under a
// trash name is garbage that any later run may delete.
bool MoveToTrash(const base::FilePath& path) {
  return Rename(path, base::UniqueSiblingPath(path, base::kTrashSuffix));
}

// Deletes `path` by renaming it to a trash name and deleting that, so that a
// deletion cut short never leaves a part under the name.
void DeleteViaTrash(const base::FilePath& path) {
  if (!base::PathExists(path))
    return;
  const base::FilePath trash = base::UniqueSiblingPath(path, base::kTrashSuffix);
  if (!Rename(path, trash) || !base::DeleteFile(trash, true))
    LOG(WARNING) << "leftover of an update not deleted: " << path;
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

base::FilePath PathField(const std::string& field) {
  return base::FilePath(base::UTF8ToWide(field));
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

}  // namespace

base::FilePath UpdateWorkDir(const base::FilePath& root_dir) {
  return root_dir.Append(common::layout::kWorkDir);
}

InstallTransaction::InstallTransaction(const base::FilePath& root_dir) : root_(root_dir) {}

base::FilePath InstallTransaction::JournalPath() const {
  return UpdateWorkDir(root_).Append(common::layout::kJournal);
}

void InstallTransaction::Add(const SwapEntry& entry) {
  entries_.push_back(entry);
}

void InstallTransaction::AddLeftover(const base::FilePath& path) {
  leftovers_.push_back(path);
}

bool InstallTransaction::Record(Phase phase) {
  std::string text = std::string(kJournalHeader) + "\n";
  text += phase == Phase::kStarted ? "phase\tstarted\n" : "phase\tprepared\n";
  for (const SwapEntry& entry : entries_) {
    text += "entry\t" + base::WideToUTF8(entry.live.value()) + "\t" +
            base::WideToUTF8(entry.source.value()) + "\t" +
            base::WideToUTF8(entry.previous.value()) + "\n";
  }
  for (const base::FilePath& leftover : leftovers_)
    text += "leftover\t" + base::WideToUTF8(leftover.value()) + "\n";
  if (!package_.empty())
    text += "package\t" + base::WideToUTF8(package_.value()) + "\n";
  text += "end\n";
  // Written whole under a temporary name, then renamed over the journal: a
  // reader finds the old journal or the new one, never a part.
  const base::FilePath journal = JournalPath();
  const base::FilePath partial = base::UniqueSiblingPath(journal, base::kCopySuffix);
  CreateDirectoryW(journal.DirName().value().c_str(), nullptr);
  if (!WriteWholeFile(partial, text) ||
      !MoveFileExW(partial.value().c_str(), journal.value().c_str(),
                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD error = GetLastError();
    DeleteFileW(partial.value().c_str());
    LOG(ERROR) << "update journal not written, installation kept: " << journal << ", error "
               << error;
    return false;
  }
  phase_ = phase;
  return true;
}

bool InstallTransaction::Load() {
  const base::FilePath journal = JournalPath();
  std::string text;
  if (!base::PathExists(journal))
    return false;
  bool complete = false;
  if (ReadWholeFile(journal, &text) && text.rfind(std::string(kJournalHeader) + "\n", 0) == 0) {
    size_t start = 0;
    for (size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
      const std::vector<std::string> fields = SplitTabs(text.substr(start, end - start));
      start = end + 1;
      if (fields[0] == "phase" && fields.size() == 2)
        phase_ = fields[1] == "started" ? Phase::kStarted : Phase::kPrepared;
      else if (fields[0] == "entry" && fields.size() == 4)
        entries_.push_back({PathField(fields[1]), PathField(fields[2]), PathField(fields[3])});
      else if (fields[0] == "leftover" && fields.size() == 2)
        leftovers_.push_back(PathField(fields[1]));
      else if (fields[0] == "package" && fields.size() == 2)
        package_ = PathField(fields[1]);
      else if (fields[0] == "end")
        complete = true;
    }
  }
  if (!complete) {
    // Journals are only ever renamed into place whole, so this one is not
    // ours to act on.
    LOG(ERROR) << "update journal unreadable, ignored: " << journal;
    entries_.clear();
    leftovers_.clear();
    package_.clear();
    DeleteViaTrash(journal);
    return false;
  }
  return true;
}

bool InstallTransaction::MoveAside(size_t index) {
  const SwapEntry& entry = entries_[index];
  if (!base::PathExists(entry.live))
    return true;
  if (base::PathExists(entry.previous) && !MoveToTrash(entry.previous))
    return false;
  return Rename(entry.live, entry.previous);
}

bool InstallTransaction::MoveIn(size_t index) {
  const SwapEntry& entry = entries_[index];
  if (base::PathExists(entry.live)) {
    // Something took the name after the move aside: a rename now would fail
    // or land inside it.
    LOG(ERROR) << "installed entry present, not moving onto it: " << entry.live;
    SetLastError(ERROR_ALREADY_EXISTS);  // no waiting cures this
    return false;
  }
  return Rename(entry.source, entry.live);
}

bool InstallTransaction::AllMovedIn() const {
  for (const SwapEntry& entry : entries_) {
    if (base::PathExists(entry.source) || !base::PathExists(entry.live))
      return false;
  }
  return true;
}

void InstallTransaction::Undo() {
  bool all_back = true;
  for (auto entry = entries_.rbegin(); entry != entries_.rend(); ++entry) {
    if (base::PathExists(entry->source) && base::PathExists(entry->live))
      continue;  // Never moved: a `previous` there is an earlier run's.
    // The new version is in `live`: back to its source name, or to the trash
    // when that name is taken.
    if (base::PathExists(entry->live) && !Rename(entry->live, entry->source) &&
        !MoveToTrash(entry->live)) {
      LOG(ERROR) << "new version cannot be moved away, previous version kept in "
                 << entry->previous;
      all_back = false;
      continue;
    }
    if (!base::PathExists(entry->previous))
      continue;  // Nothing was installed there before.
    if (Rename(entry->previous, entry->live)) {
      LOG(ERROR) << "update undone, previous version restored: " << entry->live;
    } else {
      const DWORD error = GetLastError();
      LOG(ERROR) << "previous version not restored, it stays in " << entry->previous << ", error "
                 << error;
      all_back = false;
    }
  }
  if (!all_back)
    return;  // The journal stays: the next run tries again.
  for (const base::FilePath& leftover : leftovers_)
    DeleteViaTrash(leftover);
  Forget();
}

void InstallTransaction::CleanUp() {
  for (const SwapEntry& entry : entries_)
    DeleteViaTrash(entry.previous);
  for (const base::FilePath& leftover : leftovers_)
    DeleteViaTrash(leftover);
  Forget();
}

void InstallTransaction::Forget() {
  DeleteFileW(JournalPath().value().c_str());
}

}  // namespace update
