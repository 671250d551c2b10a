#include "update/package.h"

#include <array>

#include "base/strings/utf_string_conversions.h"

namespace update {

namespace {

void AddEntry(const std::string& path, ArchiveEntry entry, ArchiveListing* entries) {
  if (path.empty())
    return;
  entry.path = base::UTF8ToWide(path);
  if (entry.directory) {
    entry.size = 0;
    entry.has_crc = false;
  }
  (*entries)[ListingKey(entry.path)] = entry;
}

// The value of a "Size = " or "CRC = " line: digits in `base` up to the first
// other character.
uint64_t ParseNumber(const std::string& value, int base, bool* any) {
  uint64_t number = 0;
  *any = false;
  for (char c : value) {
    const int digit = c >= '0' && c <= '9'   ? c - '0'
                      : c >= 'A' && c <= 'F' ? c - 'A' + 10
                      : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                             : base;
    if (digit >= base)
      break;
    number = number * base + static_cast<uint64_t>(digit);
    *any = true;
  }
  return number;
}

}  // namespace

bool ParseArchiveListing(const std::string& listing, ArchiveListing* entries) {
  entries->clear();
  bool in_entries = false;
  bool have_path = false;
  std::string path;
  ArchiveEntry entry;
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
        AddEntry(path, entry, entries);
      have_path = false;
      entry = ArchiveEntry();
      continue;
    }
    const size_t equals = line.find(" = ");
    const std::string key = line.substr(0, equals);
    const std::string value = equals == std::string::npos ? "" : line.substr(equals + 3);
    bool any = false;
    if (key == "Path") {
      if (have_path)
        AddEntry(path, entry, entries);
      path = value;
      have_path = true;
      entry = ArchiveEntry();
    } else if (key == "Folder") {
      entry.directory = entry.directory || value == "+";
    } else if (key == "Attributes") {
      entry.directory = entry.directory || (!value.empty() && value[0] == 'D');
    } else if (key == "Size") {
      entry.size = ParseNumber(value, 10, &any);
    } else if (key == "CRC") {
      entry.crc = static_cast<uint32_t>(ParseNumber(value, 16, &any));
      entry.has_crc = any && value.size() <= 8;
    }
  }
  if (have_path)
    AddEntry(path, entry, entries);
  return in_entries;
}

std::set<std::wstring> TouchedKeys(const ArchiveListing& entries) {
  std::set<std::wstring> touched;
  for (const auto& [key, entry] : entries) {
    touched.insert(key);
    for (size_t slash = key.find(L'\\'); slash != std::wstring::npos;
         slash = key.find(L'\\', slash + 1))
      touched.insert(key.substr(0, slash));
  }
  return touched;
}

FreshEntry ListedEntry(const ArchiveListing& entries,
                       const std::set<std::wstring>& touched,
                       const std::wstring& path) {
  const std::wstring key = ListingKey(path);
  const auto listed = entries.find(key);
  if (listed != entries.end())
    return listed->second.directory ? FreshEntry::kDirectory : FreshEntry::kFile;
  return touched.count(key) ? FreshEntry::kDirectory : FreshEntry::kNone;
}

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
  static const auto table = [] {
    std::array<uint32_t, 256> entries{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t value = i;
      for (int bit = 0; bit < 8; ++bit)
        value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
      entries[i] = value;
    }
    return entries;
  }();
  const unsigned char* bytes = static_cast<const unsigned char*>(data);
  crc = ~crc;
  for (size_t i = 0; i < size; ++i)
    crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
  return ~crc;
}

}  // namespace update
