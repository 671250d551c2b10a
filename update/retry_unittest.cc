#include "update/retry.h"

#include <vector>

#include "gtest/gtest.h"

namespace update {
namespace {

// Time that passes only when paused.
class FakeClock : public RetryClock {
 public:
  int64_t NowMs() override { return now_; }
  void Pause(int64_t ms) override {
    pauses_.push_back(ms);
    now_ += ms;
  }
  const std::vector<int64_t>& pauses() const { return pauses_; }
  int64_t now() const { return now_; }

 private:
  int64_t now_ = 1000;
  std::vector<int64_t> pauses_;
};

struct Outcome {
  bool succeeded;
  int attempts;
  std::vector<int64_t> waits;  // as on_wait was told of them
  uint32_t last_error;
};

// Runs the default plan against a step that fails with `error` until attempt
// `succeeds_at` (-1: never).
Outcome Retry(FakeClock* clock, uint32_t error, int succeeds_at) {
  Outcome outcome{false, 0, {}, 0};
  outcome.succeeded = RetryWhileHeld(
      RetryPlan(), *clock,
      [&](int index, uint32_t* failure) {
        ++outcome.attempts;
        if (index == succeeds_at)
          return true;
        *failure = error;
        return false;
      },
      [&](int64_t pause, uint32_t) { outcome.waits.push_back(pause); }, &outcome.last_error);
  return outcome;
}

TEST(RetryWhileHeld, RetriesOnlyHoldErrors) {
  const struct {
    uint32_t error;
    bool retried;
  } cases[] = {{5, true},  {32, true},   {33, true}, {2, false},
               {3, false}, {183, false}, {87, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.error);
    FakeClock clock;
    const Outcome outcome = Retry(&clock, c.error, -1);
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.last_error, c.error);
    EXPECT_EQ(outcome.attempts > 1, c.retried);
    EXPECT_EQ(IsHoldError(c.error), c.retried);
  }
}

TEST(RetryWhileHeld, FiveFastAttemptsThenGrowingPausesWithinTheBudget) {
  FakeClock clock;
  const Outcome outcome = Retry(&clock, 32, -1);
  EXPECT_FALSE(outcome.succeeded);
  const std::vector<int64_t> fast(clock.pauses().begin(), clock.pauses().begin() + 5);
  EXPECT_EQ(fast, std::vector<int64_t>(5, 10));
  const std::vector<int64_t> expected_waits = {50,   100,  200,  400,  800, 1600,
                                               2000, 2000, 2000, 2000, 800};
  EXPECT_EQ(outcome.waits, expected_waits);
  EXPECT_EQ(clock.now() - 1000, 12000) << "the budget bounds the whole retry";
  EXPECT_EQ(outcome.attempts, 5 + static_cast<int>(expected_waits.size()));
}

TEST(RetryWhileHeld, StopsAtTheFirstSuccessWithoutFurtherPauses) {
  for (int succeeds_at : {0, 4, 5, 8}) {
    SCOPED_TRACE(succeeds_at);
    FakeClock clock;
    const Outcome outcome = Retry(&clock, 32, succeeds_at);
    EXPECT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.attempts, succeeds_at + 1);
    EXPECT_EQ(outcome.waits.size(), static_cast<size_t>(succeeds_at < 5 ? 0 : succeeds_at - 4));
  }
}

}  // namespace
}  // namespace update
