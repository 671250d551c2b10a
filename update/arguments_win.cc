#include <cstring>

#include "base/file_path.h"
#include "base/platform/windows_types.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "update/arguments.h"

namespace update {

namespace {

// Whether `package` starts with the signature of a 7z or a zip archive. A
// plain program or text file does not, though the unpacker might open it.
bool HasArchiveSignature(const std::wstring& package) {
  const base::win::ScopedHandle file(CreateFileW(package.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  unsigned char head[6] = {};
  DWORD read = 0;
  if (!file.IsValid() || !ReadFile(file.Get(), head, sizeof(head), &read, nullptr))
    return false;
  static const unsigned char k7z[6] = {'7', 'z', 0xBC, 0xAF, 0x27, 0x1C};
  static const unsigned char kZip[4] = {'P', 'K', 3, 4};
  return (read == 6 && std::memcmp(head, k7z, 6) == 0) ||
         (read >= 4 && std::memcmp(head, kZip, 4) == 0);
}

}  // namespace

std::string RefusedArguments(const std::wstring& root_dir,
                             const std::wstring& package,
                             const std::wstring* sha256) {
  const std::string root_text = base::WideToUTF8(root_dir);
  if (base::FilePath(root_dir).ReferencesParent())
    return "root directory references a parent directory, installation kept: " + root_text;
  if (const std::string problem = UnsafePathProblem(root_dir); !problem.empty())
    return "root directory " + problem + ", update refused: " + root_text;
  const DWORD root_attributes = GetFileAttributesW(root_dir.c_str());
  if (root_attributes != INVALID_FILE_ATTRIBUTES && !(root_attributes & FILE_ATTRIBUTE_DIRECTORY))
    return "root directory is not a folder, update refused: " + root_text;
  // Staged mode has no package to check a digest against.
  if (package.empty())
    return std::string();
  const std::string package_text = base::WideToUTF8(package);
  if (const std::string problem = UnsafePathProblem(package); !problem.empty())
    return "package path " + problem + ", update refused: " + package_text;
  const DWORD attributes = GetFileAttributesW(package.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
    return "package is not an existing file, update refused: " + package_text;
  if (!HasArchiveSignature(package))
    return "package is not a 7z or zip archive, update refused: " + package_text;
  if (sha256 && !IsSha256Text(*sha256))
    return "checksum is not 64 hexadecimal digits, update refused: " + base::WideToUTF8(*sha256);
  return std::string();
}

}  // namespace update
