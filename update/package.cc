#include "update/package.h"

#include <cwctype>

#include "base/strings/utf_string_conversions.h"

namespace update {

namespace {

void AddEntry(const std::string& path, bool directory, uint64_t size, ArchiveListing* entries) {
  if (path.empty())
    return;
  ArchiveEntry entry;
  entry.path = base::UTF8ToWide(path);
  entry.directory = directory;
  entry.size = directory ? 0 : size;
  (*entries)[ListingKey(entry.path)] = entry;
}

}  // namespace

std::wstring ListingKey(std::wstring path) {
  for (wchar_t& c : path)
    c = static_cast<wchar_t>(std::towlower(c));
  return path;
}

bool ParseArchiveListing(const std::string& listing, ArchiveListing* entries) {
  entries->clear();
  bool in_entries = false;
  bool have_path = false;
  std::string path;
  bool directory = false;
  uint64_t size = 0;
  size_t start = 0;
  while (start <= listing.size()) {
    size_t end = listing.find('\n', start);
    if (end == std::string::npos)
      end = listing.size();
    std::string line = listing.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!in_entries) {
      in_entries = line == "----------";
      continue;
    }
    if (line.empty()) {
      if (have_path)
        AddEntry(path, directory, size, entries);
      have_path = directory = false;
      size = 0;
      continue;
    }
    const size_t equals = line.find(" = ");
    const std::string key = line.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : line.substr(equals + 3);
    if (key == "Path") {
      if (have_path)
        AddEntry(path, directory, size, entries);
      path = value;
      have_path = true;
      directory = false;
      size = 0;
    } else if (key == "Folder") {
      directory = directory || value == "+";
    } else if (key == "Attributes") {
      directory = directory || (!value.empty() && value[0] == 'D');
    } else if (key == "Size") {
      size = 0;
      for (char c : value) {
        if (c < '0' || c > '9')
          break;
        size = size * 10 + static_cast<uint64_t>(c - '0');
      }
    }
  }
  if (have_path)
    AddEntry(path, directory, size, entries);
  return in_entries;
}

}  // namespace update
