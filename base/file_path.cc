#include "base/file_path.h"

#include <algorithm>
#include <ostream>

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

constexpr std::wstring::size_type kNpos = std::wstring::npos;

// Index of the colon of a leading drive letter ("C:"), or npos. Only ASCII
// letters count, so "1:" or a non-ASCII letter before a colon is no drive.
std::wstring::size_type FindDriveLetter(std::wstring_view path) {
  if (path.size() >= 2 && path[1] == L':' &&
      ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'))) {
    return 1;
  }
  return kNpos;
}

bool AreAllSeparators(std::wstring_view text) {
  return std::all_of(text.begin(), text.end(), FilePath::IsSeparator);
}

std::wstring::size_type FindLastSeparator(std::wstring_view text) {
  return text.find_last_of(std::wstring_view(FilePath::kSeparators, FilePath::kSeparatorsLength));
}

bool EqualsIgnoringASCIICase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size())
    return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (ToLowerASCII(a[i]) != ToLowerASCII(b[i]))
      return false;
  }
  return true;
}

std::wstring_view CutAtNul(std::wstring_view text) {
  return text.substr(0, text.find(L'\0'));
}

}  // namespace

bool FilePath::IsSeparator(wchar_t c) {
  return c == kSeparators[0] || c == kSeparators[1];
}

FilePath::FilePath(std::wstring_view path) : path_(CutAtNul(path)) {}

bool FilePath::operator==(const FilePath& that) const {
  return EqualDriveLetterCaseInsensitive(path_, that.path_);
}

// static
bool FilePath::EqualDriveLetterCaseInsensitive(std::wstring_view a, std::wstring_view b) {
  const auto letter_a = FindDriveLetter(a);
  const auto letter_b = FindDriveLetter(b);
  if (letter_a == kNpos || letter_b == kNpos)
    return a == b;
  if (!EqualsIgnoringASCIICase(a.substr(0, letter_a + 1), b.substr(0, letter_b + 1)))
    return false;
  return a.substr(letter_a + 1) == b.substr(letter_b + 1);
}

std::vector<std::wstring> FilePath::GetComponents() const {
  std::vector<std::wstring> components;
  if (empty())
    return components;

  FilePath current = *this;
  FilePath base;
  // DirName shortens the path until it reaches a root or ".", which are fixed
  // points of DirName, so this loop ends.
  while (current != current.DirName()) {
    base = current.BaseName();
    if (!AreAllSeparators(base.value()))
      components.push_back(base.value());
    current = current.DirName();
  }

  base = current.BaseName();
  if (!base.empty() && base.value() != kCurrentDirectory)
    components.push_back(base.value());

  const FilePath dir = current.DirName();
  const auto letter = FindDriveLetter(dir.value());
  if (letter != kNpos)
    components.push_back(dir.value().substr(0, letter + 1));

  std::reverse(components.begin(), components.end());
  return components;
}

bool FilePath::IsParent(const FilePath& child) const {
  return AppendRelativePath(child, nullptr);
}

bool FilePath::AppendRelativePath(const FilePath& child, FilePath* path) const {
  const std::vector<std::wstring> parent_components = GetComponents();
  const std::vector<std::wstring> child_components = child.GetComponents();

  if (parent_components.empty() || parent_components.size() >= child_components.size())
    return false;

  size_t i = 0;
  // Drive letters never differ by case, but the rest of a path may live on a
  // case-sensitive file system, so only the drive is compared loosely.
  if (FindDriveLetter(parent_components[0]) != kNpos &&
      FindDriveLetter(child_components[0]) != kNpos) {
    if (!EqualsIgnoringASCIICase(parent_components[0], child_components[0]))
      return false;
    i = 1;
  }
  for (; i < parent_components.size(); ++i) {
    if (parent_components[i] != child_components[i])
      return false;
  }

  if (path) {
    for (; i < child_components.size(); ++i)
      *path = path->Append(child_components[i]);
  }
  return true;
}

FilePath FilePath::DirName() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();

  std::wstring& value = new_path.path_;
  const auto letter = FindDriveLetter(value);
  const auto last_separator = FindLastSeparator(value);
  if (last_separator == kNpos) {
    // No separator: what is left is the drive (with its colon) or nothing.
    value.resize(letter + 1);
  } else if (last_separator == letter + 1) {
    // The root: "\" or "C:\".
    value.resize(letter + 2);
  } else if (last_separator == letter + 2 && IsSeparator(value[letter + 1])) {
    // The alternate root of two separators: "\\" or "C:\\".
    value.resize(letter + 3);
  } else {
    value.resize(last_separator);
  }

  new_path.StripTrailingSeparatorsInternal();
  if (value.empty())
    value = kCurrentDirectory;
  return new_path;
}

FilePath FilePath::BaseName() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();

  std::wstring& value = new_path.path_;
  const auto letter = FindDriveLetter(value);
  if (letter != kNpos)
    value.erase(0, letter + 1);

  const auto last_separator = FindLastSeparator(value);
  if (last_separator != kNpos && last_separator < value.size() - 1)
    value.erase(0, last_separator + 1);
  return new_path;
}

FilePath FilePath::StripTrailingSeparators() const {
  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  return new_path;
}

FilePath FilePath::Append(std::wstring_view component) const {
  const std::wstring_view appended = CutAtNul(component);

  if (path_ == kCurrentDirectory && !appended.empty())
    return FilePath(appended);

  FilePath new_path(*this);
  new_path.StripTrailingSeparatorsInternal();
  std::wstring& value = new_path.path_;
  // No separator after a bare drive letter: "C:" + "b" is the drive-relative
  // "C:b", not the absolute "C:\b".
  if (!appended.empty() && !value.empty() && !IsSeparator(value.back()) &&
      FindDriveLetter(value) + 1 != value.size()) {
    value.push_back(kSeparators[0]);
  }
  value.append(appended);
  return new_path;
}

FilePath FilePath::Append(const FilePath& component) const {
  return Append(std::wstring_view(component.value()));
}

FilePath FilePath::AppendASCII(std::string_view component) const {
  std::wstring wide;
  wide.reserve(component.size());
  for (char c : component)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return Append(std::wstring_view(wide));
}

bool FilePath::ReferencesParent() const {
  if (path_.find(kParentDirectory) == kNpos)
    return false;
  // Windows treats a component made only of dots and blanks containing ".."
  // as a reference to the parent, so such components count too.
  for (const std::wstring& component : GetComponents()) {
    if (component.find_first_not_of(L". \n\r\t") == kNpos &&
        component.find(kParentDirectory) != kNpos) {
      return true;
    }
  }
  return false;
}

void FilePath::StripTrailingSeparatorsInternal() {
  // Without a drive letter npos + 2 wraps to 1: the first character is never
  // stripped, so "\" survives. With one, "C:\" survives.
  const std::wstring::size_type start = FindDriveLetter(path_) + 2;
  std::wstring::size_type last_stripped = kNpos;
  for (std::wstring::size_type pos = path_.size(); pos > start && IsSeparator(path_[pos - 1]);
       --pos) {
    // Two leading separators name an alternate root and stay, unless the
    // path began with more than two of them.
    if (pos != start + 1 || last_stripped == start + 2 || !IsSeparator(path_[start - 1])) {
      path_.resize(pos - 1);
      last_stripped = pos;
    }
  }
}

std::ostream& operator<<(std::ostream& out, const FilePath& path) {
  std::string utf8;
  WideToUTF8(path.value().data(), path.value().size(), &utf8);
  return out << utf8;
}

}  // namespace base
