#include "base/files/file_enumerator.h"

#include <cstring>

namespace base {

namespace {

bool IsDotDot(const wchar_t* name) {
  return name[0] == L'.' && name[1] == L'.' && name[2] == L'\0';
}

bool IsDot(const wchar_t* name) {
  return name[0] == L'.' && name[1] == L'\0';
}

}  // namespace

FileEnumerator::FileInfo::FileInfo() {
  std::memset(&find_data_, 0, sizeof(find_data_));
}

bool FileEnumerator::FileInfo::IsDirectory() const {
  return (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

FilePath FileEnumerator::FileInfo::GetName() const {
  return FilePath(find_data_.cFileName);
}

FileEnumerator::FileEnumerator(const FilePath& root_path, bool recursive, int file_type)
    : FileEnumerator(root_path, recursive, file_type, std::wstring()) {}

FileEnumerator::FileEnumerator(const FilePath& root_path,
                               bool recursive,
                               int file_type,
                               const std::wstring& pattern)
    : root_path_(root_path),
      recursive_(recursive),
      file_type_(file_type),
      pattern_(pattern.empty() ? std::wstring(L"*") : pattern) {
  std::memset(&find_data_, 0, sizeof(find_data_));
  pending_paths_.push_back(root_path);
}

FileEnumerator::~FileEnumerator() = default;

FileEnumerator::FileInfo FileEnumerator::GetInfo() const {
  FileInfo info;
  if (has_find_data_)
    std::memcpy(&info.find_data_, &find_data_, sizeof(find_data_));
  return info;
}

void FileEnumerator::SkipLastDirectory() {
  // A directory Next returned is the last one pushed, until Next runs again.
  if (!pending_paths_.empty() && !last_path_.empty() && pending_paths_.back() == last_path_)
    pending_paths_.pop_back();
  last_path_ = FilePath();
}

FilePath FileEnumerator::Next() {
  while (has_find_data_ || !pending_paths_.empty()) {
    if (!has_find_data_) {
      root_path_ = pending_paths_.back();
      pending_paths_.pop_back();
      FilePath src = root_path_.Append(pattern_);
      find_handle_.reset(::FindFirstFileExW(src.value().c_str(), FindExInfoBasic, &find_data_,
                                            FindExSearchNameMatch, nullptr,
                                            FIND_FIRST_EX_LARGE_FETCH));
      has_find_data_ = true;
    } else if (!::FindNextFileW(find_handle_.get(), &find_data_)) {
      find_handle_.reset();
    }

    if (!find_handle_.is_valid()) {
      has_find_data_ = false;
      // Only the first directory listed is filtered by the caller's pattern.
      pattern_ = L"*";
      continue;
    }

    const wchar_t* name = find_data_.cFileName;
    if (IsDot(name))
      continue;
    if (IsDotDot(name) && !(file_type_ & kIncludeDotDot))
      continue;

    FilePath path = root_path_.Append(name);
    const bool is_dir = (find_data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // ".." is reported on request but never listed: descending into it would
    // walk up and around the tree without end.
    if (is_dir && recursive_ && !IsDotDot(name)) {
      // Links and junctions are not followed. A failed read gives all bits
      // set, so an unreadable entry is not followed either.
      const DWORD attributes = ::GetFileAttributesW(path.value().c_str());
      if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        pending_paths_.push_back(path);
    }
    if ((is_dir && (file_type_ & kDirectories)) || (!is_dir && (file_type_ & kFiles))) {
      last_path_ = path;
      return path;
    }
  }
  return FilePath();
}

}  // namespace base
