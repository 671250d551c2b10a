#ifndef TESTING_SCOPED_TEMP_DIR_H_
#define TESTING_SCOPED_TEMP_DIR_H_

// A fresh folder of a test's own below the temp folder, removed with all it
// holds when its owner goes, and the plain file reads and writes that tests
// fill it with. Plain Win32, so that the foundation's own tests, those of
// base/files among them, use it without depending on what they test.

#include <atomic>
#include <optional>
#include <string>

#include "base/platform/windows_types.h"
#include "testing/scoped_test_handle.h"

namespace testing_support {

// The temp folder, without a trailing backslash.
inline std::wstring TempFolder() {
  wchar_t buffer[MAX_PATH + 1];
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
  std::wstring folder(buffer, length <= MAX_PATH ? length : 0);
  if (!folder.empty() && folder.back() == L'\\')
    folder.pop_back();
  return folder;
}

namespace internal {

inline bool RemoveTreeOnce(const std::wstring& path) {
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES)
    return true;
  ::SetFileAttributesW(path.c_str(),
                       FILE_ATTRIBUTE_NORMAL | (attributes & FILE_ATTRIBUTE_DIRECTORY));
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
    return ::DeleteFileW(path.c_str()) || ::RemoveDirectoryW(path.c_str());
  WIN32_FIND_DATAW data;
  const ScopedFindHandle find(::FindFirstFileW((path + L"\\*").c_str(), &data));
  for (bool more = find.valid(); more; more = ::FindNextFileW(find.get(), &data)) {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..")
      RemoveTreeOnce(path + L"\\" + name);
  }
  return ::RemoveDirectoryW(path.c_str()) != 0;
}

}  // namespace internal

// Removes `path` and all below it, read-only entries too; a link goes, never
// what it points to. True when nothing is left. A program that just ended may
// hold its file for a moment: the whole removal is retried for up to 3 s
// (retries at every level of the tree would multiply for one file held long).
inline bool RemoveTree(const std::wstring& path) {
  for (int attempt = 0; attempt < 60; ++attempt) {
    if (internal::RemoveTreeOnce(path))
      return true;
    ::Sleep(50);
  }
  return false;
}

// path() is empty when no folder could be made.
class ScopedTempDir {
 public:
  // <temp folder>\<hint>_<process id>_<n>, with the first n that names nothing.
  explicit ScopedTempDir(const std::wstring& hint = L"test") {
    static std::atomic<unsigned> counter{0};
    const std::wstring stem =
        TempFolder() + L"\\" + hint + L"_" + std::to_wstring(::GetCurrentProcessId()) + L"_";
    for (int attempt = 0; attempt < 1000 && path_.empty(); ++attempt) {
      const std::wstring candidate = stem + std::to_wstring(counter++);
      if (::CreateDirectoryW(candidate.c_str(), nullptr))
        path_ = candidate;
      else if (::GetLastError() != ERROR_ALREADY_EXISTS)
        break;
    }
  }
  ScopedTempDir(const ScopedTempDir&) = delete;
  ScopedTempDir& operator=(const ScopedTempDir&) = delete;
  ~ScopedTempDir() {
    if (!path_.empty())
      RemoveTree(path_);
  }

  const std::wstring& path() const { return path_; }
  // path() + '\' + `name`.
  std::wstring Append(const std::wstring& name) const { return path_ + L"\\" + name; }

 private:
  std::wstring path_;
};

// Creates or replaces the file `path` with `bytes`.
inline bool WriteTestFile(const std::wstring& path, const std::string& bytes) {
  const ScopedFileHandle file(
      ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  DWORD written = 0;
  return file.valid() &&
         ::WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                     nullptr) &&
         written == bytes.size();
}

// The whole content of the file `path` (which others may be writing), or
// nothing when it cannot be opened.
inline std::optional<std::string> ReadTestFile(const std::wstring& path) {
  const ScopedFileHandle file(::CreateFileW(path.c_str(), GENERIC_READ,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                            nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file.valid())
    return std::nullopt;
  std::string content;
  char buffer[4096];
  DWORD read = 0;
  while (::ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0)
    content.append(buffer, read);
  return content;
}

}  // namespace testing_support

#endif  // TESTING_SCOPED_TEMP_DIR_H_
