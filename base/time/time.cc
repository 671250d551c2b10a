#include "base/time/time.h"

namespace base {

std::ostream& operator<<(std::ostream& os, TimeDelta delta) {
  if (delta.is_max())
    return os << "inf s";
  return os << delta.InSecondsF() << " s";
}

std::ostream& operator<<(std::ostream& os, Time time) {
  return os << "@" << time.ToInternalValue() << " us since 1601";
}

std::ostream& operator<<(std::ostream& os, TimeTicks ticks) {
  return os << "bogo-microseconds " << ticks.ToInternalValue();
}

}  // namespace base
