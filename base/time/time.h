#ifndef BASE_TIME_TIME_H_
#define BASE_TIME_TIME_H_

#include <stdint.h>

#include <limits>
#include <ostream>

namespace base {

namespace internal {

// Signed 64-bit addition that saturates: on overflow the result is the
// largest value when `b` is non-negative, the smallest when it is negative.
constexpr int64_t SaturatedAdd(int64_t a, int64_t b) {
  int64_t result = 0;
  if (__builtin_add_overflow(a, b, &result))
    return b < 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
  return result;
}

// a - b, saturating the same way (the direction is that of -b).
constexpr int64_t SaturatedSub(int64_t a, int64_t b) {
  int64_t result = 0;
  if (__builtin_sub_overflow(a, b, &result))
    return b > 0 ? std::numeric_limits<int64_t>::min() : std::numeric_limits<int64_t>::max();
  return result;
}

constexpr int64_t SaturatedMul(int64_t a, int64_t b) {
  int64_t result = 0;
  if (__builtin_mul_overflow(a, b, &result))
    return (a < 0) != (b < 0) ? std::numeric_limits<int64_t>::min()
                              : std::numeric_limits<int64_t>::max();
  return result;
}

}  // namespace internal

// A signed duration in microseconds. The largest value stands for an
// unlimited duration. Addition saturates at both ends. Plain value type.
class TimeDelta {
 public:
  constexpr TimeDelta() = default;

  static constexpr TimeDelta FromMicroseconds(int64_t us) { return TimeDelta(us); }
  static constexpr TimeDelta FromMilliseconds(int64_t ms) {
    return TimeDelta(internal::SaturatedMul(ms, 1000));
  }
  static constexpr TimeDelta FromSeconds(int64_t s) {
    return TimeDelta(internal::SaturatedMul(s, 1000000));
  }
  static constexpr TimeDelta FromMinutes(int64_t m) {
    return TimeDelta(internal::SaturatedMul(m, 60 * int64_t{1000000}));
  }
  static constexpr TimeDelta FromHours(int64_t h) {
    return TimeDelta(internal::SaturatedMul(h, 3600 * int64_t{1000000}));
  }
  static constexpr TimeDelta FromDays(int64_t d) {
    return TimeDelta(internal::SaturatedMul(d, 86400 * int64_t{1000000}));
  }
  static constexpr TimeDelta FromInternalValue(int64_t us) { return TimeDelta(us); }

  // The unlimited duration, and the most negative one.
  static constexpr TimeDelta Max() { return TimeDelta(std::numeric_limits<int64_t>::max()); }
  static constexpr TimeDelta Min() { return TimeDelta(std::numeric_limits<int64_t>::min()); }

  constexpr bool is_max() const { return delta_ == std::numeric_limits<int64_t>::max(); }
  constexpr bool is_min() const { return delta_ == std::numeric_limits<int64_t>::min(); }
  constexpr bool is_zero() const { return delta_ == 0; }
  constexpr int64_t ToInternalValue() const { return delta_; }

  constexpr int64_t InMicroseconds() const { return delta_; }
  // Truncates toward zero; the unlimited duration gives the largest value.
  constexpr int64_t InMilliseconds() const {
    return is_max() ? std::numeric_limits<int64_t>::max() : delta_ / 1000;
  }
  // The ceiling of the milliseconds (1001 us gives 2, -1500 us gives -1); the
  // unlimited duration gives the largest value.
  constexpr int64_t InMillisecondsRoundedUp() const {
    if (is_max())
      return std::numeric_limits<int64_t>::max();
    int64_t result = delta_ / 1000;
    return delta_ % 1000 > 0 ? result + 1 : result;
  }
  constexpr int64_t InSeconds() const {
    return is_max() ? std::numeric_limits<int64_t>::max() : delta_ / 1000000;
  }
  constexpr double InSecondsF() const {
    return is_max() ? std::numeric_limits<double>::infinity()
                    : static_cast<double>(delta_) / 1000000.0;
  }
  constexpr double InMillisecondsF() const {
    return is_max() ? std::numeric_limits<double>::infinity()
                    : static_cast<double>(delta_) / 1000.0;
  }

  constexpr TimeDelta operator+(TimeDelta other) const {
    return TimeDelta(internal::SaturatedAdd(delta_, other.delta_));
  }
  constexpr TimeDelta operator-(TimeDelta other) const {
    return TimeDelta(internal::SaturatedSub(delta_, other.delta_));
  }
  constexpr TimeDelta& operator+=(TimeDelta other) { return *this = *this + other; }
  constexpr TimeDelta& operator-=(TimeDelta other) { return *this = *this - other; }
  constexpr TimeDelta operator-() const { return TimeDelta(internal::SaturatedSub(0, delta_)); }
  constexpr TimeDelta operator*(int64_t a) const {
    return TimeDelta(internal::SaturatedMul(delta_, a));
  }
  // Division by zero is the caller's fault, as for integers.
  constexpr TimeDelta operator/(int64_t a) const { return TimeDelta(delta_ / a); }
  constexpr int64_t operator/(TimeDelta a) const { return delta_ / a.delta_; }

  constexpr auto operator<=>(const TimeDelta&) const = default;

 private:
  constexpr explicit TimeDelta(int64_t delta_us) : delta_(delta_us) {}

  int64_t delta_ = 0;
};

constexpr TimeDelta Microseconds(int64_t us) {
  return TimeDelta::FromMicroseconds(us);
}
constexpr TimeDelta Milliseconds(int64_t ms) {
  return TimeDelta::FromMilliseconds(ms);
}
constexpr TimeDelta Seconds(int64_t s) {
  return TimeDelta::FromSeconds(s);
}
constexpr TimeDelta Minutes(int64_t m) {
  return TimeDelta::FromMinutes(m);
}
constexpr TimeDelta Hours(int64_t h) {
  return TimeDelta::FromHours(h);
}
constexpr TimeDelta Days(int64_t d) {
  return TimeDelta::FromDays(d);
}

std::ostream& operator<<(std::ostream& os, TimeDelta delta);

namespace internal {

// The shared arithmetic of the time points: a signed 64-bit microsecond count
// on some clock. Adding a duration saturates; the difference of two points is
// plain 64-bit subtraction.
template <class T>
class TimeBase {
 public:
  static constexpr T FromInternalValue(int64_t us) { return T(us); }
  static constexpr T Max() { return T(std::numeric_limits<int64_t>::max()); }
  static constexpr T Min() { return T(std::numeric_limits<int64_t>::min()); }

  constexpr bool is_null() const { return us_ == 0; }
  constexpr bool is_max() const { return us_ == std::numeric_limits<int64_t>::max(); }
  constexpr bool is_min() const { return us_ == std::numeric_limits<int64_t>::min(); }
  constexpr int64_t ToInternalValue() const { return us_; }
  // The distance from the clock's origin.
  constexpr TimeDelta since_origin() const { return TimeDelta::FromMicroseconds(us_); }

  constexpr TimeDelta operator-(T other) const {
    return TimeDelta::FromMicroseconds(
        static_cast<int64_t>(static_cast<uint64_t>(us_) - static_cast<uint64_t>(other.us_)));
  }
  constexpr T operator+(TimeDelta delta) const {
    return T(SaturatedAdd(us_, delta.InMicroseconds()));
  }
  constexpr T operator-(TimeDelta delta) const {
    return T(SaturatedSub(us_, delta.InMicroseconds()));
  }
  constexpr T& operator+=(TimeDelta delta) { return static_cast<T&>(*this) = (*this + delta); }
  constexpr T& operator-=(TimeDelta delta) { return static_cast<T&>(*this) = (*this - delta); }

  constexpr bool operator==(const TimeBase& o) const { return us_ == o.us_; }
  constexpr auto operator<=>(const TimeBase& o) const { return us_ <=> o.us_; }

 protected:
  constexpr explicit TimeBase(int64_t us) : us_(us) {}

  int64_t us_;
};

}  // namespace internal

// A wall-clock point: microseconds since 1601-01-01 00:00 UTC, the epoch of
// the platform's file times. Null (0) when default-constructed.
class Time : public internal::TimeBase<Time> {
 public:
  // Microseconds between 1601-01-01 and the Unix epoch 1970-01-01.
  static constexpr int64_t kTimeTToMicrosecondsOffset = INT64_C(11644473600000000);

  constexpr Time() : TimeBase(0) {}

  // The wall clock at the tick clock's resolution, re-anchored to the system
  // time at least every 60 seconds. Thread-safe.
  static Time Now();
  // Re-anchors to the system time and returns it. Thread-safe.
  static Time NowFromSystemTime();

  // From and to a file time (100-nanosecond units since 1601).
  static constexpr Time FromFileTimeValue(uint64_t file_time) {
    return Time(static_cast<int64_t>(file_time / 10));
  }
  constexpr uint64_t ToFileTimeValue() const { return static_cast<uint64_t>(us_) * 10; }
  static constexpr Time FromDeltaSinceWindowsEpoch(TimeDelta delta) {
    return Time(delta.InMicroseconds());
  }
  constexpr TimeDelta ToDeltaSinceWindowsEpoch() const { return since_origin(); }
  // Seconds since 1970; 0 maps to the null time and back.
  static constexpr Time FromTimeT(int64_t tt) {
    return tt == 0 ? Time() : Time(kTimeTToMicrosecondsOffset) + TimeDelta::FromSeconds(tt);
  }
  constexpr int64_t ToTimeT() const {
    return is_null() ? 0 : (us_ - kTimeTToMicrosecondsOffset) / 1000000;
  }

 private:
  friend class internal::TimeBase<Time>;
  constexpr explicit Time(int64_t us) : TimeBase(us) {}
};

// A point on the monotonic tick clock, in microseconds from an unspecified
// origin. Null (0) when default-constructed.
class TimeTicks : public internal::TimeBase<TimeTicks> {
 public:
  constexpr TimeTicks() : TimeBase(0) {}

  // The current tick reading; never decreases. Thread-safe.
  static TimeTicks Now();

 private:
  friend class internal::TimeBase<TimeTicks>;
  constexpr explicit TimeTicks(int64_t us) : TimeBase(us) {}
};

// Processor time consumed by the calling thread, in microseconds. Zero until
// the time-stamp-counter frequency has been measured (at least 50 ms after the
// first reading of the process).
class ThreadTicks : public internal::TimeBase<ThreadTicks> {
 public:
  constexpr ThreadTicks() : TimeBase(0) {}

  static ThreadTicks Now();

 private:
  friend class internal::TimeBase<ThreadTicks>;
  constexpr explicit ThreadTicks(int64_t us) : TimeBase(us) {}
};

std::ostream& operator<<(std::ostream& os, Time time);
std::ostream& operator<<(std::ostream& os, TimeTicks ticks);

}  // namespace base

#endif  // BASE_TIME_TIME_H_
