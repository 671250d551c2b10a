#ifndef BASE_FILE_PATH_H_
#define BASE_FILE_PATH_H_

#include <cstddef>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace base {

// A path held as a wide (UTF-16) string with purely lexical operations: it
// never touches the file system. Both backslash and slash count as
// separators; backslash is the one inserted. A value is cut before its first
// NUL character. Plain value type: copies share nothing, and a const FilePath
// may be read from any number of threads.
class FilePath {
 public:
  using StringType = std::wstring;
  using CharType = wchar_t;

  // Backslash first: it is the separator Append inserts.
  static constexpr wchar_t kSeparators[] = L"\\/";
  static constexpr size_t kSeparatorsLength = 2;
  static constexpr wchar_t kCurrentDirectory[] = L".";
  static constexpr wchar_t kParentDirectory[] = L"..";

  // True for backslash and slash.
  static bool IsSeparator(wchar_t c);

  FilePath() = default;
  // Stores `path` unchanged, up to its first NUL if it holds one.
  explicit FilePath(std::wstring_view path);

  FilePath(const FilePath&) = default;
  FilePath& operator=(const FilePath&) = default;
  FilePath(FilePath&&) noexcept = default;
  FilePath& operator=(FilePath&&) noexcept = default;

  const std::wstring& value() const { return path_; }
  bool empty() const { return path_.empty(); }
  void clear() { path_.clear(); }

  // Equality ignores ASCII case in a leading drive letter only ("c:\x" equals
  // "C:\x", "C:\X" does not).
  bool operator==(const FilePath& that) const;
  bool operator!=(const FilePath& that) const { return !(*this == that); }
  // Orders by the exact value, so FilePath can key ordered containers.
  bool operator<(const FilePath& that) const { return path_ < that.path_; }

  // The two values are equal, with the drive letters (when both have one)
  // compared ignoring ASCII case and the rest compared exactly.
  static bool EqualDriveLetterCaseInsensitive(std::wstring_view a, std::wstring_view b);

  // The path split into its components, root first: "C:\a\b" gives "C:",
  // "\", "a", "b"; "\\srv\share" gives "\\", "srv", "share"; "a\b" gives "a",
  // "b". The empty path has none.
  std::vector<std::wstring> GetComponents() const;

  // True when this path is a strict lexical ancestor of `child` (components
  // compared exactly, drive letters ignoring ASCII case).
  bool IsParent(const FilePath& child) const;

  // When this path is a strict ancestor of `child`, appends the components of
  // `child` below it to `*path` (if `path` is not null) and returns true.
  // Returns false and leaves `*path` alone otherwise.
  bool AppendRelativePath(const FilePath& child, FilePath* path) const;

  // The path without its last component: "C:\a\b" -> "C:\a", "C:\a" -> "C:\",
  // "C:a" -> "C:", "\a" -> "\", "\\srv" -> "\\"; "a" and "" give ".".
  [[nodiscard]] FilePath DirName() const;

  // The last component: "C:\a\b" -> "b", "a\b\" -> "b", "C:\" -> "\", "C:" ->
  // "".
  [[nodiscard]] FilePath BaseName() const;

  // The path with trailing separators removed, keeping a root ("\", "C:\")
  // and an alternate root of exactly two separators ("\\", "C:\\").
  [[nodiscard]] FilePath StripTrailingSeparators() const;

  // Joins `component` below this path with one backslash where one is needed.
  // `component` is used up to its first NUL. No normalisation: "a" + "" is
  // "a", "" + "b" is "b", "C:" + "b" is "C:b", "." + "b" is "b".
  [[nodiscard]] FilePath Append(std::wstring_view component) const;
  [[nodiscard]] FilePath Append(const FilePath& component) const;
  // As Append, with each byte of the ASCII text widened to one unit.
  [[nodiscard]] FilePath AppendASCII(std::string_view component) const;

  // True when some component is made only of ". \n\r\t" and contains "..":
  // "..", "...", ". .." count; "a..b" does not.
  bool ReferencesParent() const;

 private:
  // Strips trailing separators of path_ in place (see StripTrailingSeparators).
  void StripTrailingSeparatorsInternal();

  std::wstring path_;
};

// Writes the value as UTF-8.
std::ostream& operator<<(std::ostream& out, const FilePath& path);

}  // namespace base

#endif  // BASE_FILE_PATH_H_
