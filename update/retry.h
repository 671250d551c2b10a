#ifndef UPDATE_RETRY_H_
#define UPDATE_RETRY_H_

#include <cstdint>
#include <functional>

// Retrying a step of the swap that another program may hold up for a while:
// a virus scanner, an indexer or an Explorer window with a file of the folder
// open, or the old client that outlived its wait.

namespace update {

// Time as the retries see it; tests give their own and never sleep.
class RetryClock {
 public:
  virtual ~RetryClock() = default;
  virtual int64_t NowMs() = 0;
  virtual void Pause(int64_t ms) = 0;
};

// The process's monotonic clock and Sleep. Thread-safe.
RetryClock& RealRetryClock();

// How long a step is retried: `fast_attempts` attempts `fast_pause_ms` apart
// (the first one after a pause too when `pause_before_first`), then pauses that start at
// `first_slow_pause_ms` and double up to `max_pause_ms`, until `budget_ms` have passed since the
// first attempt.
struct RetryPlan {
  int fast_attempts = 5;
  int64_t fast_pause_ms = 10;
  bool pause_before_first = true;
  int64_t first_slow_pause_ms = 50;
  int64_t max_pause_ms = 2000;
  int64_t budget_ms = 12000;
};

// Whether waiting can cure `error`: a sharing or lock violation, or access
// denied (a file open without delete sharing, or being deleted).
bool IsHoldError(uint32_t error);

// Calls `attempt(index, &error)` until it returns true, fails with an error
// that is no hold error, or `plan`'s budget is spent. Before each attempt
// after the fast ones, `on_wait(pause_ms, error)` is told of the pause and
// the error that caused it. True when an attempt succeeded; `*last_error` is
// the last attempt's error otherwise.
bool RetryWhileHeld(const RetryPlan& plan,
                    RetryClock& clock,
                    const std::function<bool(int index, uint32_t* error)>& attempt,
                    const std::function<void(int64_t pause_ms, uint32_t error)>& on_wait,
                    uint32_t* last_error);

}  // namespace update

#endif  // UPDATE_RETRY_H_
