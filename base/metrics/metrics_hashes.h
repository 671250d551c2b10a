#ifndef BASE_METRICS_METRICS_HASHES_H_
#define BASE_METRICS_METRICS_HASHES_H_

#include <cstdint>
#include <string_view>

namespace base {

// The 64-bit id of a metric name: the first 8 bytes of the MD5 digest of the
// name's bytes (no terminator), read big-endian (digest byte 0 is the most
// significant). Any length, including empty, is accepted. Thread-safe.
uint64_t MetricNameHash(std::string_view name);
inline uint64_t HashMetricName(std::string_view name) {
  return MetricNameHash(name);
}

// The 32-bit sample derived from a name hash: its low 32 bits (digest bytes 4
// to 7 read big-endian).
inline uint32_t MetricNameHashLow32(uint64_t hash) {
  return static_cast<uint32_t>(hash & 0xFFFFFFFFu);
}

}  // namespace base

#endif  // BASE_METRICS_METRICS_HASHES_H_
