#include "update/retry.h"

#include <algorithm>

namespace update {

bool IsHoldError(uint32_t error) {
  // ERROR_ACCESS_DENIED, ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION.
  return error == 5 || error == 32 || error == 33;
}

bool RetryWhileHeld(const RetryPlan& plan,
                    RetryClock& clock,
                    const std::function<bool(int index, uint32_t* error)>& attempt,
                    const std::function<void(int64_t pause_ms, uint32_t error)>& on_wait,
                    uint32_t* last_error) {
  const int64_t start = clock.NowMs();
  int64_t slow_pause = plan.first_slow_pause_ms;
  uint32_t error = 0;
  for (int index = 0;; ++index) {
    if (index < plan.fast_attempts) {
      if (index > 0 || plan.pause_before_first)
        clock.Pause(plan.fast_pause_ms);
    } else {
      const int64_t left = plan.budget_ms - (clock.NowMs() - start);
      if (left <= 0)
        break;
      const int64_t pause = std::min(slow_pause, left);
      on_wait(pause, error);
      clock.Pause(pause);
      slow_pause = std::min(slow_pause * 2, plan.max_pause_ms);
    }
    error = 0;
    if (attempt(index, &error))
      return true;
    if (!IsHoldError(error))
      break;
  }
  *last_error = error;
  return false;
}

}  // namespace update
