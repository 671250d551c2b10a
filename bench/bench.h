#ifndef BENCH_BENCH_H_
#define BENCH_BENCH_H_

// A minimal benchmark harness: warm-up, repeated timed runs, median and minimum.
// Each figure is printed as one line "bench: <area> | <name> | <value> | <unit>"
// that tools/bench.sh gathers into the report.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace bench {

struct Result {
  double median_ns;  // per operation
  double min_ns;     // per operation
};

// Runs `op` `iterations` times per repetition, `repetitions` times after one
// warm-up repetition, and returns the per-operation median and minimum.
template <typename Op>
Result Measure(Op&& op, int64_t iterations, int repetitions = 7) {
  using Clock = std::chrono::steady_clock;
  std::vector<double> per_op;
  for (int r = -1; r < repetitions; ++r) {
    auto start = Clock::now();
    for (int64_t i = 0; i < iterations; ++i)
      op();
    auto elapsed = std::chrono::duration<double, std::nano>(Clock::now() - start).count();
    if (r >= 0)
      per_op.push_back(elapsed / static_cast<double>(iterations));
  }
  std::sort(per_op.begin(), per_op.end());
  return {per_op[per_op.size() / 2], per_op.front()};
}

// Prints one figure; `baseline` names the figure of the same run it compares with
// (empty for a baseline itself).
inline void Report(const char* area,
                   const char* name,
                   double value,
                   const char* unit,
                   const char* baseline = "") {
  std::printf("bench: %s | %s | %.3f | %s | %s\n", area, name, value, unit, baseline);
  std::fflush(stdout);
}

// Keeps the compiler from discarding a computed value.
template <typename T>
inline void DoNotOptimize(const T& value) {
  asm volatile("" : : "g"(&value) : "memory");
}

}  // namespace bench

#endif  // BENCH_BENCH_H_
