// Cost of recording into a histogram, beside the plain counters it competes
// with, and pickle throughput beside memcpy of the same bytes.

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "base/metrics/histogram.h"
#include "base/pickle.h"
#include "base/synchronization/lock.h"
#include "bench/bench.h"

namespace {

constexpr int64_t kAdds = 2000000;

// Runs `op(thread_index, i)` kAdds times on each of `threads` threads and
// returns the wall time per operation on one thread, in ns.
template <typename Op>
double PerOpOnThreads(int threads, Op op) {
  bench::Result result = bench::Measure(
      [&] {
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t) {
          workers.emplace_back([&, t] {
            for (int64_t i = 0; i < kAdds; ++i)
              op(t, i);
          });
        }
        for (auto& worker : workers)
          worker.join();
      },
      1, 5);
  return result.median_ns / static_cast<double>(kAdds);
}

void BenchRecording() {
  base::HistogramBase* histogram = base::Histogram::Get("Bench.Add", 1, 100000, 50, 0);
  std::atomic<int32_t> counter{0};
  base::Lock lock;
  int32_t locked_counter = 0;

  for (int threads : {1, 2}) {
    const char* suffix = threads == 1 ? "1 thread" : "2 threads";
    std::string name;

    double atomic_ns = PerOpOnThreads(
        threads, [&](int, int64_t) { counter.fetch_add(1, std::memory_order_relaxed); });
    name = std::string("atomic fetch_add, ") + suffix;
    bench::Report("metrics", name.c_str(), atomic_ns, "ns/op");

    double lock_ns = PerOpOnThreads(threads, [&](int, int64_t) {
      base::AutoLock hold(lock);
      ++locked_counter;
    });
    name = std::string("Lock-guarded counter, ") + suffix;
    bench::Report("metrics", name.c_str(), lock_ns, "ns/op", "atomic fetch_add");

    double add_ns = PerOpOnThreads(threads, [&](int t, int64_t i) {
      histogram->Add(static_cast<int>((i * 37 + t) % 100000));
    });
    name = std::string("Histogram::Add, ") + suffix;
    bench::Report("metrics", name.c_str(), add_ns, "ns/op", "atomic fetch_add");
  }
  bench::DoNotOptimize(locked_counter);
}

void BenchPickle() {
  constexpr int kFields = 262144;  // 1 MiB of int fields
  constexpr double kBytes = kFields * 4.0;

  bench::Result write = bench::Measure(
      [&] {
        base::Pickle pickle;
        for (int i = 0; i < kFields; ++i)
          pickle.WriteInt(i);
        bench::DoNotOptimize(pickle.size());
      },
      1, 7);

  base::Pickle source;
  for (int i = 0; i < kFields; ++i)
    source.WriteInt(i);
  bench::Result read = bench::Measure(
      [&] {
        base::PickleIterator iter(source);
        int value = 0;
        int64_t total = 0;
        while (iter.ReadInt(&value))
          total += value;
        bench::DoNotOptimize(total);
      },
      1, 7);

  std::vector<char> from(static_cast<size_t>(kBytes), 1);
  std::vector<char> to(static_cast<size_t>(kBytes));
  bench::Result copy = bench::Measure(
      [&] {
        std::memcpy(to.data(), from.data(), from.size());
        bench::DoNotOptimize(to[to.size() / 2]);
      },
      1, 7);

  auto mb_per_s = [&](const bench::Result& r) { return kBytes / (r.median_ns / 1e9) / 1e6; };
  bench::Report("metrics", "memcpy 1 MiB", mb_per_s(copy), "MB/s");
  bench::Report("metrics", "Pickle::WriteInt 1 MiB", mb_per_s(write), "MB/s", "memcpy 1 MiB");
  bench::Report("metrics", "PickleIterator::ReadInt 1 MiB", mb_per_s(read), "MB/s", "memcpy 1 MiB");
}

}  // namespace

int main() {
  BenchRecording();
  BenchPickle();
  return 0;
}
