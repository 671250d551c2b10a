#ifndef BASE_FILES_FILE_UTIL_H_
#define BASE_FILES_FILE_UTIL_H_

// File and directory operations on FilePath values, all through the Win32
// wide-character calls. No operation throws and none takes a lock: they may
// run on any thread. Deletion, moving and copying refuse paths of 260 units
// or more (the platform's MAX_PATH).
//
// The directories the system reports (GetTempDir, GetHomeDir,
// GetCurrentDirectory, MakeAbsoluteFilePath) come with this header from
// base/os_paths.h.

#include <cstdint>
#include <string>
#include <string_view>

#include "base/file_path.h"
#include "base/os_paths.h"

namespace base {

// The error vocabulary of directory creation.
enum class FileError : int32_t {
  Ok = 0,
  Failed = -1,
  InUse = -2,
  Exists = -3,
  NotFound = -4,
  AccessDenied = -5,
  TooManyOpened = -6,
  NoMemory = -7,
  NoSpace = -8,
  NotADirectory = -9,
  InvalidOperation = -10,
  IO = -16,
};

// Maps a Win32 error code to a FileError. A code without a mapping is
// recorded into the sparse histogram "PlatformFile.UnknownErrors.Windows" and
// gives FileError::Failed.
FileError FileErrorFromWin32(uint32_t code);

// The deletion's post-operation names, used as histogram name suffixes.
inline constexpr char kDeleteFileRecursive[] = "DeleteFile.Recursive";
inline constexpr char kDeleteFileNonRecursive[] = "DeleteFile.NonRecursive";

// True when the attributes of `path` can be read (file, directory or link).
bool PathExists(const FilePath& path);

// True when the attributes of `path` can be read and name a directory.
bool DirectoryExists(const FilePath& path);

// True when `dir` lists no files and no directories (also when it cannot be
// listed at all).
bool IsDirectoryEmpty(const FilePath& dir);

// Creates `path` and every missing parent, highest first. True when the
// directory exists afterwards, also when another party created it meanwhile.
// On failure returns false and, when `error` is not null, stores the reason:
// NotADirectory when a non-directory is in the way, NotFound when even the
// root is missing, else the mapping of the Win32 error. Logs nothing.
bool CreateDirectoryAndGetError(const FilePath& path, FileError* error);

// True when `path` is `dir` itself or lies below it, comparing components as
// the file system does: letter case ignored, through the system's upper-case
// table. "C:\Data" thus contains "c:\data\sub". Lexical: links are not followed.
bool IsSameOrBelow(const FilePath& dir, const FilePath& path);

// Deletes a file, or a directory (with its whole content when `recursive`).
// A name whose last component holds "*" or "?" deletes the matching entries
// of its parent (see DeleteMatching). Read-only bits are cleared first; a
// read-only file with other hard links gets its bit back for them once the
// name is gone. A link (reparse point) is removed as itself and never
// descended into.
// Returns 0 on success, including for a path that does not exist, 161
// (ERROR_BAD_PATHNAME) for a path of 260 units or more, else the Win32 error.
[[nodiscard]] uint32_t DeletePath(const FilePath& path, bool recursive);

// Deletes the entries of `dir` whose names match `pattern`; with `recursive`
// also matching directories, after deleting what matches `pattern` inside
// them. Without `recursive`, directories are left alone. Keeps going after a
// failure and returns the first Win32 error, 0 when all went well. Links
// (reparse points) are removed as themselves, never descended into.
[[nodiscard]] uint32_t DeleteMatching(const FilePath& dir,
                                      const std::wstring& pattern,
                                      bool recursive);

// DeletePath for paths of any length up to the system's 32,767 units, which
// must then be in their \\?\ form (see LongPathForm). Records no metrics.
[[nodiscard]] uint32_t DeletePathAnyLength(const FilePath& path, bool recursive);

// The \\?\ form of `path` ("\\?\UNC\" for a share), in which the system's
// calls take paths of up to 32,767 units: made absolute and normalised first,
// since the prefix turns the system's normalisation off. A path already in
// that form is returned as it is; empty when it cannot be made.
FilePath LongPathForm(const FilePath& path);

// DeletePath plus its outcome metrics ("Windows.PostOperationState." and, on
// failure, "Windows.FilesystemError." followed by kDeleteFileRecursive or
// kDeleteFileNonRecursive) and, on failure, the ERROR log line "final error "
// with the code. Returns true on success. The thread's last error is not set
// from the returned code.
bool DeleteFile(const FilePath& path, bool recursive);

// Refuses (false, last error untouched) when either path references a parent
// directory; otherwise MovePath.
bool Move(const FilePath& from, const FilePath& to, FilePath* source_trash = nullptr);

// Renames `from` to `to`, replacing an existing file. When that rename fails
// and `from` is a directory, the tree still arrives whole or not at all:
// - onto an existing directory `to` it is renamed into it under its own name
//   (a name already taken there fails the move: nothing is merged);
// - where no rename is possible (another volume, a refusal) it is copied under
//   a temporary name beside its destination (kCopySuffix) and renamed into
//   place once complete; a failed copy is removed again. The source is then
//   renamed to a trash name beside it (kTrashSuffix) and deleted, or, with
//   `source_trash`, left there for the caller and its path stored. A source
//   that cannot be renamed away stays whole and the move still succeeds.
// On failure returns false with the first rename's error as the thread's last
// error, and nothing has changed.
bool MovePath(const FilePath& from, const FilePath& to, FilePath* source_trash = nullptr);

// The longest path (in UTF-16 units, with its terminator) the plain calls take:
// deletion, moving and copying refuse paths of this length or more.
inline constexpr size_t kMaxPathLength = 260;

// Suffixes of the names a fallback move gives a copy under construction and a
// source on its way to deletion, followed by "<pid>-<n>" (see UniqueSiblingPath).
inline constexpr wchar_t kCopySuffix[] = L".partial-";
inline constexpr wchar_t kTrashSuffix[] = L".trash-";

// `path` + `suffix` + "<pid>-<n>", the first such name beside `path` that does
// not exist yet: for temporary and trash names on the same volume as `path`.
FilePath UniqueSiblingPath(const FilePath& path, std::wstring_view suffix);

// Copies the file or directory `from` to `to`; with `recursive` the whole
// tree, and into `to` under the source's name when `to` is an existing
// directory. Refuses to copy a tree onto or into itself, comparing the
// absolute paths as the file system does (letter case ignored). A link
// (reparse point) below `from` fails the copy. Stops at the first failure,
// leaving what was copied so far.
bool CopyDirectoryTree(const FilePath& from,
                       const FilePath& to,
                       bool recursive,
                       bool fail_if_exists);

// Copies one file with CopyFileW and clears the copy's read-only bit. Refuses
// paths that reference a parent or have 260 units or more.
bool CopySingleFile(const FilePath& from, const FilePath& to, bool fail_if_exists);

// Records the state of `path` after the operation named `operation` into
// "Windows.PostOperationState." + operation (0 when `succeeded`).
void RecordPostOperationState(const FilePath& path, std::string_view operation, bool succeeded);

// Records `error` into the sparse histogram "Windows.FilesystemError." +
// operation.
void RecordFilesystemError(std::string_view operation, int32_t error);

}  // namespace base

#endif  // BASE_FILES_FILE_UTIL_H_
