#include "update/package.h"

#include <set>

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/hash/sha256.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"

namespace update {

namespace {

bool IsLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

uint64_t FileSize(const WIN32_FIND_DATAW& data) {
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// `path` relative to `dir`, which must be its ancestor.
std::wstring RelativePath(const base::FilePath& dir, const base::FilePath& path) {
  base::FilePath relative;
  return dir.AppendRelativePath(path, &relative) ? relative.value() : path.value();
}

std::string Describe(const std::string& what, const std::wstring& path) {
  return what + ": " + base::WideToUTF8(path);
}

}  // namespace

bool ExtractedTreeMatches(const base::FilePath& dir,
                          const ArchiveListing& entries,
                          std::string* problem) {
  // The folders extraction creates above listed entries need no entry of
  // their own.
  std::set<std::wstring> parents;
  for (const auto& [key, entry] : entries) {
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos;
         slash = key.find(L'\\', slash + 1)) {
      parents.insert(key.substr(0, slash));
    }
  }
  size_t found = 0;
  base::FileEnumerator tree(dir, true,
                            base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories);
  for (base::FilePath path = tree.Next(); !path.empty(); path = tree.Next()) {
    const WIN32_FIND_DATAW data = tree.GetInfo().find_data();
    const std::wstring relative = RelativePath(dir, path);
    if (IsLink(data.dwFileAttributes)) {
      *problem = Describe("extracted entry is a link", relative);
      return false;
    }
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring key = ListingKey(relative);
    const auto listed = entries.find(key);
    if (listed == entries.end()) {
      if (directory && parents.count(key))
        continue;
      *problem = Describe("extracted entry not in the package's listing", relative);
      return false;
    }
    if (listed->second.directory != directory) {
      *problem = Describe("extracted entry of another kind than listed", relative);
      return false;
    }
    if (!directory && FileSize(data) != listed->second.size) {
      *problem =
          Describe("extracted file of another size than listed (" + std::to_string(FileSize(data)) +
                       " of " + std::to_string(listed->second.size) + " bytes)",
                   relative);
      return false;
    }
    ++found;
  }
  if (found != entries.size()) {
    for (const auto& [key, entry] : entries) {
      const DWORD attributes = GetFileAttributesW(dir.Append(entry.path).value().c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        *problem = Describe("listed entry not extracted", entry.path);
        return false;
      }
    }
    *problem = "extracted tree does not match the package's listing";
    return false;
  }
  return true;
}

bool JoinInstalledFiles(const base::FilePath& installed,
                        const base::FilePath& fresh,
                        std::string* problem) {
  base::FileEnumerator tree(installed, true,
                            base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories);
  // Parents are listed before what they hold, so a folder `fresh` cannot take
  // is known before its content comes up.
  std::vector<std::wstring> skipped;
  for (base::FilePath path = tree.Next(); !path.empty(); path = tree.Next()) {
    const WIN32_FIND_DATAW data = tree.GetInfo().find_data();
    const std::wstring relative = RelativePath(installed, path);
    bool below_skipped = false;
    for (const std::wstring& folder : skipped)
      below_skipped = below_skipped || ListingKey(relative).rfind(folder + L"\\", 0) == 0;
    if (below_skipped)
      continue;
    const base::FilePath target = fresh.Append(relative);
    const DWORD existing = GetFileAttributesW(target.value().c_str());
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (existing != INVALID_FILE_ATTRIBUTES) {
      // The new version's own entry wins; a folder the package replaced by a
      // file takes nothing of the installed one below it.
      const bool fresh_directory = (existing & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (directory && !fresh_directory)
        skipped.push_back(ListingKey(relative));
      continue;
    }
    if (directory) {
      if (!CreateDirectoryW(target.value().c_str(), nullptr)) {
        const DWORD error = GetLastError();
        *problem =
            Describe("folder not created (error " + std::to_string(error) + ")", target.value());
        return false;
      }
      continue;
    }
    if (!CreateHardLinkW(target.value().c_str(), path.value().c_str(), nullptr) &&
        !base::CopySingleFile(path, target, true)) {
      const DWORD error = GetLastError();
      *problem = Describe(
          "installed file not joined to the new version (error " + std::to_string(error) + ")",
          relative);
      return false;
    }
  }
  return true;
}

bool Sha256OfFile(const base::FilePath& path, std::string* digest) {
  const base::win::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                 FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file.IsValid())
    return false;
  base::SHA256Context context;
  base::SHA256Init(&context);
  std::string buffer(1 << 20, '\0');
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return false;
    if (read == 0)
      break;
    base::SHA256Update(&context, buffer.data(), read);
  }
  base::SHA256Digest result;
  base::SHA256Final(&result, &context);
  *digest = base::SHA256DigestToBase16(result);
  return true;
}

}  // namespace update
