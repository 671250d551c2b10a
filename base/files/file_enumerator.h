#ifndef BASE_FILES_FILE_ENUMERATOR_H_
#define BASE_FILES_FILE_ENUMERATOR_H_

#include <string>
#include <vector>

#include "base/file_path.h"
#include "base/platform/scoped_any_win.h"
#include "base/platform/windows_types.h"

namespace base {

// Walks a directory, optionally its whole tree. The entries of one directory
// come in the platform's listing order; subdirectories are listed after their
// parent is finished, the one found last first. Links and junctions (reparse
// points) are reported but never descended into. The caller's pattern filters
// only the first directory listed; every directory below it is listed whole.
// Owns its search handle; used by one thread at a time; not copyable.
class FileEnumerator {
 public:
  enum FileType {
    kFiles = 1 << 0,
    kDirectories = 1 << 1,
    kIncludeDotDot = 1 << 2,
  };

  // The record of one listed entry.
  class FileInfo {
   public:
    FileInfo();
    bool IsDirectory() const;
    // The entry's name (not its path).
    FilePath GetName() const;
    const WIN32_FIND_DATAW& find_data() const { return find_data_; }

   private:
    friend class FileEnumerator;
    WIN32_FIND_DATAW find_data_;
  };

  // `file_type` is a set of FileType bits. An empty `pattern` means "*".
  FileEnumerator(const FilePath& root_path, bool recursive, int file_type);
  FileEnumerator(const FilePath& root_path,
                 bool recursive,
                 int file_type,
                 const std::wstring& pattern);
  FileEnumerator(const FileEnumerator&) = delete;
  FileEnumerator& operator=(const FileEnumerator&) = delete;
  ~FileEnumerator();

  // The next matching entry as the listed directory joined with its name;
  // the empty path once everything was listed (also for a missing root).
  FilePath Next();

  // The entry Next returned last; all zero when no listing is open.
  FileInfo GetInfo() const;

  // In a recursive walk: what the directory Next returned last holds is not
  // listed. Does nothing when the last entry was no directory or one that is
  // not walked into anyway.
  void SkipLastDirectory();

 private:
  // A search handle of FindFirstFileExW, closed with FindClose.
  struct FindHandleTraits {
    using Type = HANDLE;
    static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
    static void Free(HANDLE handle) { ::FindClose(handle); }
  };

  bool has_find_data_ = false;
  WIN32_FIND_DATAW find_data_;
  win::ScopedAny<FindHandleTraits> find_handle_;
  FilePath root_path_;
  bool recursive_;
  int file_type_;
  std::wstring pattern_;
  std::vector<FilePath> pending_paths_;
  FilePath last_path_;
};

}  // namespace base

#endif  // BASE_FILES_FILE_ENUMERATOR_H_
