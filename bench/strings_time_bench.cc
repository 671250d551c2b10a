// Figures for the clocks, the lock and the string conversions, each beside the
// raw platform or C runtime call it wraps.

#include <stdlib.h>

#include <string>

#include "base/platform/windows_types.h"
#include "base/strings/string_number_conversions.h"
#include "base/strings/utf_string_conversions.h"
#include "base/synchronization/lock.h"
#include "base/time/time.h"
#include "bench/bench.h"

namespace {

// 64 KiB of mixed text: ASCII words, two-byte Latin, three-byte CJK and
// four-byte emoji, so the decoder leaves its ASCII fast path.
std::string MixedText() {
  const char* const kPieces[] = {"update ", "caf\xC3\xA9 ", "\xE6\x9B\xB4\xE6\x96\xB0 ",
                                 "\xF0\x9F\x98\x80 ", "client.exe "};
  std::string text;
  for (size_t i = 0; text.size() < 64 * 1024; ++i)
    text += kPieces[i % 5];
  text.resize(64 * 1024);
  // Do not end inside a sequence.
  while ((static_cast<unsigned char>(text.back()) & 0xC0) == 0x80 ||
         static_cast<unsigned char>(text.back()) >= 0xC0)
    text.pop_back();
  return text;
}

}  // namespace

int main() {
  {
    auto r = bench::Measure([] { bench::DoNotOptimize(base::TimeTicks::Now()); }, 200000);
    bench::Report("time", "TimeTicks::Now", r.median_ns, "ns/op", "QueryPerformanceCounter");
    auto raw = bench::Measure(
        [] {
          LARGE_INTEGER counter;
          ::QueryPerformanceCounter(&counter);
          bench::DoNotOptimize(counter);
        },
        200000);
    bench::Report("time", "QueryPerformanceCounter", raw.median_ns, "ns/op");
    auto wall = bench::Measure([] { bench::DoNotOptimize(base::Time::Now()); }, 200000);
    bench::Report("time", "Time::Now", wall.median_ns, "ns/op", "GetSystemTimeAsFileTime");
    auto ft = bench::Measure(
        [] {
          FILETIME f;
          ::GetSystemTimeAsFileTime(&f);
          bench::DoNotOptimize(f);
        },
        200000);
    bench::Report("time", "GetSystemTimeAsFileTime", ft.median_ns, "ns/op");
  }
  {
    static base::Lock lock;
    auto r = bench::Measure(
        [] {
          lock.Acquire();
          lock.Release();
        },
        1000000);
    bench::Report("lock", "Lock Acquire+Release (uncontended)", r.median_ns, "ns/op",
                  "SRWLOCK exclusive");
    static SRWLOCK srw = SRWLOCK_INIT;
    auto raw = bench::Measure(
        [] {
          ::AcquireSRWLockExclusive(&srw);
          ::ReleaseSRWLockExclusive(&srw);
        },
        1000000);
    bench::Report("lock", "SRWLOCK exclusive", raw.median_ns, "ns/op");
  }
  {
    const std::string text = MixedText();
    std::wstring out;
    auto r = bench::Measure([&] { base::UTF8ToWide(text.data(), text.size(), &out); }, 200);
    double mb = static_cast<double>(text.size()) / (1024.0 * 1024.0);
    bench::Report("strings", "UTF8ToWide 64 KiB mixed", mb / (r.median_ns * 1e-9), "MB/s",
                  "MultiByteToWideChar");
    std::wstring platform(text.size(), L'\0');
    auto raw = bench::Measure(
        [&] {
          int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        platform.data(), static_cast<int>(platform.size()));
          bench::DoNotOptimize(n);
        },
        200);
    bench::Report("strings", "MultiByteToWideChar 64 KiB mixed", mb / (raw.median_ns * 1e-9),
                  "MB/s");
    std::string ascii(64 * 1024, 'a');
    auto fast = bench::Measure([&] { base::UTF8ToWide(ascii.data(), ascii.size(), &out); }, 200);
    bench::Report("strings", "UTF8ToWide 64 KiB ASCII", mb / (fast.median_ns * 1e-9), "MB/s");
  }
  {
    const char* const kNumbers[] = {"0", "42", "-2147483648", "123456789", "2147483647"};
    int i = 0;
    auto r = bench::Measure(
        [&] {
          int value;
          bool ok = base::StringToInt(kNumbers[i++ % 5], &value);
          bench::DoNotOptimize(ok);
          bench::DoNotOptimize(value);
        },
        1000000);
    bench::Report("strings", "StringToInt", r.median_ns, "ns/op", "strtol");
    i = 0;
    auto raw = bench::Measure(
        [&] {
          char* end;
          long value = strtol(kNumbers[i++ % 5], &end, 10);
          bench::DoNotOptimize(value);
        },
        1000000);
    bench::Report("strings", "strtol", raw.median_ns, "ns/op");
  }
  return 0;
}
