#include "base/files/file_util.h"

#include <atomic>
#include <string>
#include <vector>

#include "base/files/file_enumerator.h"
#include "base/logging.h"
#include "base/metrics/histogram.h"
#include "base/platform/scoped_any_win.h"

namespace base {

namespace {

static_assert(kMaxPathLength == MAX_PATH);

// Missing from the toolchain's headers.
constexpr DWORD kErrorDiskResourcesExhausted = 314;

// Something already gone counts as deleted.
uint32_t MapDeleteError(DWORD error) {
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
    return ERROR_SUCCESS;
  return error;
}

uint32_t MappedLastError() {
  return MapDeleteError(::GetLastError());
}

bool TooLong(const FilePath& path) {
  return path.value().length() >= kMaxPathLength;
}

bool IsLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

bool IsDirectoryAttributes(DWORD attributes) {
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Removes a link (reparse point) as itself: its target is never touched.
uint32_t RemoveLink(const FilePath& path, DWORD attributes) {
  const BOOL removed = (attributes & FILE_ATTRIBUTE_DIRECTORY)
                           ? ::RemoveDirectoryW(path.value().c_str())
                           : ::DeleteFileW(path.value().c_str());
  return removed ? ERROR_SUCCESS : MappedLastError();
}

// The states recorded after a deletion.
enum PostOperationState : int {
  kOperationSucceeded = 0,
  kFileNotFoundAfterFailure = 1,
  kPathNotFoundAfterFailure = 2,
  kAccessDeniedAfterFailure = 3,
  kNoAttributesAfterFailure = 4,
  kEmptyDirectoryAfterFailure = 5,
  kNonEmptyDirectoryAfterFailure = 6,
  kNotDirectoryAfterFailure = 7,
  kPostOperationStateCount = 8,
};

}  // namespace

bool IsSameOrBelow(const FilePath& dir, const FilePath& path) {
  const std::vector<std::wstring> dir_parts = dir.GetComponents();
  const std::vector<std::wstring> path_parts = path.GetComponents();
  if (dir_parts.empty() || dir_parts.size() > path_parts.size())
    return false;
  for (size_t i = 0; i < dir_parts.size(); ++i) {
    if (::CompareStringOrdinal(dir_parts[i].c_str(), static_cast<int>(dir_parts[i].size()),
                               path_parts[i].c_str(), static_cast<int>(path_parts[i].size()),
                               TRUE) != CSTR_EQUAL) {
      return false;
    }
  }
  return true;
}

FileError FileErrorFromWin32(uint32_t code) {
  switch (code) {
    case ERROR_SHARING_VIOLATION:
      return FileError::InUse;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return FileError::Exists;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return FileError::NotFound;
    case ERROR_ACCESS_DENIED:
      return FileError::AccessDenied;
    case ERROR_TOO_MANY_OPEN_FILES:
      return FileError::TooManyOpened;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return FileError::NoMemory;
    case ERROR_HANDLE_DISK_FULL:
    case ERROR_DISK_FULL:
    case kErrorDiskResourcesExhausted:
      return FileError::NoSpace;
    case ERROR_USER_MAPPED_FILE:
      return FileError::InvalidOperation;
    case ERROR_NOT_READY:
    case ERROR_SECTOR_NOT_FOUND:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_IO_DEVICE:
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
      return FileError::IO;
    default:
      RecordSparseSample("PlatformFile.UnknownErrors.Windows", static_cast<int32_t>(code));
      return FileError::Failed;
  }
}

bool PathExists(const FilePath& path) {
  return ::GetFileAttributesW(path.value().c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DirectoryExists(const FilePath& path) {
  return IsDirectoryAttributes(::GetFileAttributesW(path.value().c_str()));
}

bool IsDirectoryEmpty(const FilePath& dir) {
  FileEnumerator files(dir, false, FileEnumerator::kFiles | FileEnumerator::kDirectories);
  return files.Next().empty();
}

bool CreateDirectoryAndGetError(const FilePath& path, FileError* error) {
  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES) {
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
      return true;
    if (error)
      *error = FileError::NotADirectory;
    return false;
  }

  const FilePath parent = path.DirName();
  if (parent.value() == path.value()) {
    if (error)
      *error = FileError::NotFound;
    return false;
  }
  if (!CreateDirectoryAndGetError(parent, error))
    return false;

  if (::CreateDirectoryW(path.value().c_str(), nullptr))
    return true;
  const DWORD last = ::GetLastError();
  // Another party may have created it meanwhile.
  if (last == ERROR_ALREADY_EXISTS && DirectoryExists(path))
    return true;
  if (error)
    *error = FileErrorFromWin32(last);
  return false;
}

namespace {

struct FileHandleTraits {
  using Type = HANDLE;
  static HANDLE InvalidValue() { return INVALID_HANDLE_VALUE; }
  static void Free(HANDLE handle) { ::CloseHandle(handle); }
};

// Attributes belong to the file, not to its name: a read-only file with other
// links (hard links of another version) keeps its bit for them. It is cleared
// for the deletion and set again through a handle that outlives the name.
uint32_t DeleteReadOnlyFile(const FilePath& path, DWORD attributes) {
  const win::ScopedAny<FileHandleTraits> file(
      ::CreateFileW(path.value().c_str(), FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  const bool shared =
      file.is_valid() && ::GetFileInformationByHandle(file.get(), &info) && info.nNumberOfLinks > 1;
  if (!::SetFileAttributesW(path.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
    return MappedLastError();
  if (!::DeleteFileW(path.value().c_str())) {
    const uint32_t error = MappedLastError();
    ::SetFileAttributesW(path.value().c_str(), attributes);
    return error;
  }
  if (shared) {
    FILE_BASIC_INFO basic = {};  // zero times: left as they are
    basic.FileAttributes = attributes;
    ::SetFileInformationByHandle(file.get(), FileBasicInfo, &basic, sizeof(basic));
  }
  return ERROR_SUCCESS;
}

}  // namespace

uint32_t DeleteMatching(const FilePath& dir, const std::wstring& pattern, bool recursive) {
  FileEnumerator entries(dir, false, FileEnumerator::kFiles | FileEnumerator::kDirectories,
                         pattern);
  uint32_t result = ERROR_SUCCESS;
  for (FilePath entry = entries.Next(); !entry.empty(); entry = entries.Next()) {
    const FileEnumerator::FileInfo info = entries.GetInfo();
    const DWORD found_attributes = info.find_data().dwFileAttributes;
    const bool is_dir = info.IsDirectory();
    if ((found_attributes & FILE_ATTRIBUTE_READONLY) && recursive && is_dir) {
      ::SetFileAttributesW(entry.value().c_str(), found_attributes & ~FILE_ATTRIBUTE_READONLY);
    }

    uint32_t r = ERROR_SUCCESS;
    if (is_dir) {
      if (recursive) {
        // The listing and a fresh read must both say "no link" before the
        // entry is descended into; an unreadable entry is not descended into.
        const DWORD attributes = ::GetFileAttributesW(entry.value().c_str());
        if (IsLink(found_attributes) || IsLink(attributes)) {
          r = RemoveLink(entry, found_attributes | FILE_ATTRIBUTE_DIRECTORY);
        } else {
          r = DeleteMatching(entry, pattern, true);
          if (r == ERROR_SUCCESS && !::RemoveDirectoryW(entry.value().c_str()))
            r = MappedLastError();
        }
      }
    } else if (found_attributes & FILE_ATTRIBUTE_READONLY) {
      r = DeleteReadOnlyFile(entry, found_attributes);
    } else if (!::DeleteFileW(entry.value().c_str())) {
      r = MappedLastError();
    }

    if (result == ERROR_SUCCESS)
      result = r;
  }
  return result;
}

uint32_t DeletePath(const FilePath& path, bool recursive) {
  if (TooLong(path))
    return ERROR_BAD_PATHNAME;
  return DeletePathAnyLength(path, recursive);
}

FilePath LongPathForm(const FilePath& path) {
  const std::wstring& value = path.value();
  if (value.rfind(L"\\\\?\\", 0) == 0)
    return path;
  // The prefix turns off the system's own normalisation: the path is made
  // absolute and plain first (no ".", "..", "/" or doubled separators).
  const DWORD size = ::GetFullPathNameW(value.c_str(), 0, nullptr, nullptr);
  if (value.empty() || size == 0)
    return FilePath();
  std::wstring full(size, L'\0');
  const DWORD length = ::GetFullPathNameW(value.c_str(), size, full.data(), nullptr);
  if (length == 0 || length >= size)
    return FilePath();
  full.resize(length);
  if (full.rfind(L"\\\\", 0) == 0)
    return FilePath(L"\\\\?\\UNC\\" + full.substr(2));
  return FilePath(L"\\\\?\\" + full);
}

uint32_t DeletePathAnyLength(const FilePath& path, bool recursive) {
  if (path.empty())
    return ERROR_SUCCESS;

  const std::wstring base_name = path.BaseName().value();
  if (base_name.find_first_of(L"*?") != std::wstring::npos)
    return DeleteMatching(path.DirName(), base_name, recursive);

  const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return MappedLastError();

  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) && (attributes & FILE_ATTRIBUTE_READONLY))
    return DeleteReadOnlyFile(path, attributes);
  if (attributes & FILE_ATTRIBUTE_READONLY) {
    if (!::SetFileAttributesW(path.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY))
      return MappedLastError();
  }

  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    if (!::DeleteFileW(path.value().c_str()))
      return MappedLastError();
    return ERROR_SUCCESS;
  }

  // A directory link goes as itself: what it points to is not ours to delete.
  if (IsLink(attributes))
    return RemoveLink(path, attributes);

  if (recursive) {
    const uint32_t error = DeleteMatching(path, L"*", true);
    if (error != ERROR_SUCCESS) {
      LOG(ERROR) << "delete file recursive " << error;
      return error;
    }
  }

  if (!::RemoveDirectoryW(path.value().c_str()))
    return MappedLastError();
  return ERROR_SUCCESS;
}

bool DeleteFile(const FilePath& path, bool recursive) {
  const char* operation = recursive ? kDeleteFileRecursive : kDeleteFileNonRecursive;
  const uint32_t error = DeletePath(path, recursive);
  RecordPostOperationState(path, operation, error == ERROR_SUCCESS);
  if (error == ERROR_SUCCESS)
    return true;
  RecordFilesystemError(operation, static_cast<int32_t>(error));
  LOG(ERROR) << "final error " << error;
  return false;
}

bool Move(const FilePath& from, const FilePath& to, FilePath* source_trash) {
  if (from.ReferencesParent() || to.ReferencesParent())
    return false;
  return MovePath(from, to, source_trash);
}

namespace {

// Copies the tree `from` under a temporary name beside `target` and renames
// it into place when complete; removes the partial copy on failure.
bool CopyIntoPlace(const FilePath& from, const FilePath& target) {
  const FilePath temp = UniqueSiblingPath(target, kCopySuffix);
  if (CopyDirectoryTree(from, temp, true, false) &&
      ::MoveFileExW(temp.value().c_str(), target.value().c_str(), 0)) {
    return true;
  }
  (void)DeletePath(temp, true);
  return false;
}

// Renames a copied source to a trash name and deletes it there, or hands the
// trash to the caller. Deleting it in place could leave a part of it standing
// under its name, which a caller may take for the whole.
void DisposeOfCopiedSource(const FilePath& from, FilePath* source_trash) {
  const FilePath trash = UniqueSiblingPath(from, kTrashSuffix);
  if (!::MoveFileExW(from.value().c_str(), trash.value().c_str(), 0)) {
    const DWORD error = ::GetLastError();
    LOG(WARNING) << "moved by copy, source kept whole: " << from << ", error " << error;
    return;
  }
  if (source_trash)
    *source_trash = trash;
  else
    (void)DeleteFile(trash, true);
}

}  // namespace

bool MovePath(const FilePath& from, const FilePath& to, FilePath* source_trash) {
  if (source_trash)
    *source_trash = FilePath();
  if (TooLong(from) || TooLong(to))
    return false;

  if (::MoveFileExW(from.value().c_str(), to.value().c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) {
    return true;
  }
  const DWORD last = ::GetLastError();
  LOG(ERROR) << "move last_error:" << last;

  if (DirectoryExists(from)) {
    const FilePath target = DirectoryExists(to) ? to.Append(from.BaseName()) : to;
    if (!TooLong(target) && !PathExists(target)) {
      if (target != to && ::MoveFileExW(from.value().c_str(), target.value().c_str(), 0))
        return true;
      if (CopyIntoPlace(from, target)) {
        DisposeOfCopiedSource(from, source_trash);
        return true;
      }
    }
  }
  ::SetLastError(last);
  return false;
}

FilePath UniqueSiblingPath(const FilePath& path, std::wstring_view suffix) {
  static std::atomic<unsigned> counter{0};
  const std::wstring stem = path.StripTrailingSeparators().value() + std::wstring(suffix) +
                            std::to_wstring(::GetCurrentProcessId()) + L"-";
  for (;;) {
    FilePath candidate(stem + std::to_wstring(counter.fetch_add(1)));
    if (!PathExists(candidate))
      return candidate;
  }
}

bool CopyDirectoryTree(const FilePath& from,
                       const FilePath& to,
                       bool recursive,
                       bool fail_if_exists) {
  if (TooLong(from) || TooLong(to))
    return false;

  const bool to_exists = PathExists(to);
  const FilePath real_to = MakeAbsoluteFilePath(to_exists ? to : to.DirName());
  if (real_to.empty())
    return false;
  const FilePath real_from = MakeAbsoluteFilePath(from);
  if (real_from.empty() || IsSameOrBelow(real_from, real_to))
    return false;

  int file_type = FileEnumerator::kFiles;
  if (recursive)
    file_type |= FileEnumerator::kDirectories;
  FileEnumerator entries(from, recursive, file_type);

  if (!PathExists(from))
    return false;

  FilePath current = from;
  bool from_is_dir = DirectoryExists(from);
  bool success = true;
  // Copying a directory into an existing one puts it there under its name.
  const FilePath base = (recursive && DirectoryExists(to)) ? from.DirName() : from;

  while (success && !current.empty()) {
    FilePath target = to;
    if (base != current && !base.AppendRelativePath(current, &target)) {
      success = false;
      break;
    }
    if (current != from && IsLink(entries.GetInfo().find_data().dwFileAttributes)) {
      // A link would arrive as an empty folder or a copy of its target, not
      // as itself: the tree cannot be copied faithfully.
      success = false;
    } else if (from_is_dir) {
      if (!DirectoryExists(target) && !::CreateDirectoryW(target.value().c_str(), nullptr))
        success = false;
    } else if (!CopySingleFile(current, target, fail_if_exists)) {
      success = false;
    }
    current = entries.Next();
    from_is_dir = entries.GetInfo().IsDirectory();
  }
  return success;
}

bool CopySingleFile(const FilePath& from, const FilePath& to, bool fail_if_exists) {
  if (from.ReferencesParent() || to.ReferencesParent())
    return false;
  if (TooLong(from) || TooLong(to))
    return false;
  if (!::CopyFileW(from.value().c_str(), to.value().c_str(), fail_if_exists))
    return false;
  const DWORD attributes = ::GetFileAttributesW(to.value().c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return false;
  if (attributes & FILE_ATTRIBUTE_READONLY)
    ::SetFileAttributesW(to.value().c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  return true;
}

void RecordPostOperationState(const FilePath& path, std::string_view operation, bool succeeded) {
  int state = kOperationSucceeded;
  if (!succeeded) {
    const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND)
        state = kFileNotFoundAfterFailure;
      else if (error == ERROR_PATH_NOT_FOUND)
        state = kPathNotFoundAfterFailure;
      else if (error == ERROR_ACCESS_DENIED)
        state = kAccessDeniedAfterFailure;
      else
        state = kNoAttributesAfterFailure;
    } else if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
      state = IsDirectoryEmpty(path) ? kEmptyDirectoryAfterFailure : kNonEmptyDirectoryAfterFailure;
    } else {
      state = kNotDirectoryAfterFailure;
    }
  }
  std::string name = "Windows.PostOperationState.";
  name.append(operation);
  RecordEnumerationSample(name, state, kPostOperationStateCount);
}

void RecordFilesystemError(std::string_view operation, int32_t error) {
  std::string name = "Windows.FilesystemError.";
  name.append(operation);
  RecordSparseSample(name, error);
}

}  // namespace base
