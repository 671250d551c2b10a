#ifndef BASE_DEBUG_STACK_TRACE_H_
#define BASE_DEBUG_STACK_TRACE_H_

#include <stddef.h>
#include <stdint.h>

#include <iosfwd>
#include <string>

namespace base::debug {

// The return addresses of the calling thread's stack, captured at
// construction: at most kMaxTraces, innermost first, the first one inside the
// capturing code itself. A value type; capture allocates nothing and takes no
// lock, so it is safe anywhere, also under other locks.
class StackSnapshot {
 public:
  static constexpr size_t kMaxTraces = 62;

  // Captures the current stack.
  StackSnapshot();
  // Copies the first min(count, kMaxTraces) addresses of `trace`.
  StackSnapshot(const void* const* trace, size_t count);
  StackSnapshot(const StackSnapshot&) = default;
  StackSnapshot& operator=(const StackSnapshot&) = default;

  // The captured addresses; `*count` receives how many there are.
  const void* const* Addresses(size_t* count) const {
    *count = count_;
    return trace_;
  }
  size_t count() const { return count_; }

  // Writes "Backtrace:\n" and one line per address, "\t<name> [0x<addr>+<off>]"
  // with " (<file>:<line>)" where known, resolving symbols through the
  // process-wide symbol engine (set up on first use, under its lock). When the
  // engine cannot be set up, writes "Error initializing symbols (<code>).  Dumping
  // unresolved backtrace:\n" and "\t<addr>\n" per address. Stops early when
  // `os` goes bad. Thread-safe.
  void OutputToStream(std::ostream* os) const;
  std::string ToString() const;

 private:
  const void* trace_[kMaxTraces];
  uint32_t count_;
};

// OutputToStream.
std::ostream& operator<<(std::ostream& os, const StackSnapshot& snapshot);

}  // namespace base::debug

#endif  // BASE_DEBUG_STACK_TRACE_H_
