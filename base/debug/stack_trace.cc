#include "base/debug/stack_trace.h"

#include <algorithm>
#include <ostream>
#include <sstream>

namespace base::debug {

StackSnapshot::StackSnapshot(const void* const* trace, size_t count)
    : count_(static_cast<uint32_t>(std::min(count, kMaxTraces))) {
  std::copy(trace, trace + count_, trace_);
  std::fill(trace_ + count_, trace_ + kMaxTraces, nullptr);
}

std::string StackSnapshot::ToString() const {
  std::ostringstream stream;
  OutputToStream(&stream);
  return stream.str();
}

std::ostream& operator<<(std::ostream& os, const StackSnapshot& snapshot) {
  snapshot.OutputToStream(&os);
  return os;
}

}  // namespace base::debug
