#include "update/arguments.h"

#include <algorithm>
#include <cwctype>

#include "base/logging.h"
#include "base/strings/string_number_conversions.h"

namespace update {

namespace {

bool IsSeparator(wchar_t c) {
  return c == L'\\' || c == L'/';
}

// Whether `component` (one name of a path) is a device name, with or without
// an extension: "NUL", "com1.txt".
bool IsDeviceName(const std::wstring& component) {
  std::wstring stem = component.substr(0, component.find(L'.'));
  for (wchar_t& c : stem)
    c = static_cast<wchar_t>(std::towupper(c));
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL")
    return true;
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

}  // namespace

std::string UnsafePathProblem(const std::wstring& path) {
  const bool absolute =
      (path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) ||
      (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
  if (!absolute)
    return "is not an absolute path";
  if (path.find_first_of(L"*?\"<>|") != std::wstring::npos)
    return "holds a wildcard or a character no name may hold";
  for (size_t i = 0; i < path.size(); ++i) {
    if (path[i] < 0x20)
      return "holds a control character";
    if (path[i] == L':' && i != 1)
      return "holds a colon after its drive";
  }
  // The names after the drive (or the two leading separators).
  size_t start = path[1] == L':' ? 3 : 2;
  while (start < path.size()) {
    size_t end = start;
    while (end < path.size() && !IsSeparator(path[end]))
      ++end;
    const std::wstring component = path.substr(start, end - start);
    if (!component.empty() && (component.back() == L'.' || component.back() == L' '))
      return "has a name that ends in a dot or a blank";
    if (IsDeviceName(component))
      return "names a device";
    start = end + 1;
  }
  return std::string();
}

bool IsSha256Text(const std::wstring& text) {
  if (text.size() != 64)
    return false;
  for (wchar_t c : text) {
    if (!std::iswxdigit(c) || c > 0x7F)
      return false;
  }
  return true;
}

int32_t PidFromSwitchValue(const std::wstring& raw) {
  // The value is read as ASCII: a value with any other character is no pid.
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](wchar_t c) { return c < 0x80; });
  size_t first = raw.find_first_not_of(L" \t\n\v\f\r");
  if (first != std::wstring::npos && (raw[first] == L'-' || raw[first] == L'+'))
    ++first;
  const bool digits = first < raw.size() && raw[first] >= L'0' && raw[first] <= L'9';
  // The conversion's best effort is the leading number, clamped to 64 bits.
  int64_t value = 0;
  (void)base::StringToInt64(raw, &value);
  if (ascii && digits && value >= INT32_MIN && value <= INT32_MAX)
    return static_cast<int32_t>(value);
  LOG(WARNING) << "ignoring pid value \"" << raw << "\": not a 32-bit decimal number";
  return 0;
}

}  // namespace update
