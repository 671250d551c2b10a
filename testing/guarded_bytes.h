#ifndef TESTING_GUARDED_BYTES_H_
#define TESTING_GUARDED_BYTES_H_

// Bytes placed so that they end exactly where an inaccessible page begins: a
// read past their end faults at once instead of passing unnoticed. For tests
// of parsers that must stay within untrusted input.

#include <cstring>
#include <vector>

#include "base/platform/windows_types.h"

namespace testing_support {

class GuardedBytes {
 public:
  GuardedBytes() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    page_ = info.dwPageSize;
    base_ = static_cast<char*>(
        VirtualAlloc(nullptr, page_ * 2, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
    DWORD old_protect;
    ok_ = base_ && VirtualProtect(base_ + page_, page_, PAGE_NOACCESS, &old_protect);
  }
  ~GuardedBytes() {
    if (base_)
      VirtualFree(base_, 0, MEM_RELEASE);
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;

  // Whether the guard page is in place.
  bool ok() const { return ok_; }

  // Copies `bytes` (at most one page) to the end of the accessible page and
  // returns their start. The copy stays valid until the next Place.
  const char* Place(const std::vector<char>& bytes) {
    char* start = base_ + page_ - bytes.size();
    if (!bytes.empty())
      std::memcpy(start, bytes.data(), bytes.size());
    return start;
  }

 private:
  size_t page_ = 0;
  char* base_ = nullptr;
  bool ok_ = false;
};

}  // namespace testing_support

#endif  // TESTING_GUARDED_BYTES_H_
