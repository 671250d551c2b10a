#ifndef BASE_METRICS_BUCKET_RANGES_H_
#define BASE_METRICS_BUCKET_RANGES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/metrics/histogram_base.h"

namespace base {

// The boundaries of a histogram's buckets: entry i is the inclusive lower
// boundary of bucket i and the exclusive upper boundary of bucket i - 1, so n
// buckets need n + 1 entries (0 first, INT32_MAX last). Filled once, then
// shared read-only between histograms of equal shape; reading is thread-safe.
class BucketRanges {
 public:
  typedef std::vector<HistogramBase::Sample> Ranges;

  // `num_ranges` entries, all 0, checksum 0.
  explicit BucketRanges(size_t num_ranges);
  BucketRanges(const BucketRanges&) = delete;
  BucketRanges& operator=(const BucketRanges&) = delete;
  ~BucketRanges();

  size_t size() const { return ranges_.size(); }
  size_t bucket_count() const { return ranges_.empty() ? 0 : ranges_.size() - 1; }
  HistogramBase::Sample range(size_t i) const { return ranges_[i]; }
  // Fatal for i >= size().
  void SetRange(size_t i, HistogramBase::Sample value);

  uint32_t checksum() const { return checksum_; }
  void set_checksum(uint32_t checksum) { checksum_ = checksum; }

  // CRC-32 (reflected polynomial 0xEDB88320, no inversions) seeded with the
  // number of entries, over every entry's four bytes, low byte first.
  uint32_t ComputeChecksum() const;
  // Stores ComputeChecksum().
  void UpdateChecksum();
  // Whether the stored checksum equals the computed one.
  bool ChecksumIsValid() const;
  // Equal checksums, equal sizes and equal entries.
  bool SameRanges(const BucketRanges* other) const;

  // The reference of a copy in persistent memory, 0 when there is none.
  uint32_t persistent_reference() const {
    return persistent_reference_.load(std::memory_order_acquire);
  }
  void set_persistent_reference(uint32_t ref) const {
    persistent_reference_.store(ref, std::memory_order_release);
  }

 private:
  Ranges ranges_;
  uint32_t checksum_ = 0;
  mutable std::atomic<uint32_t> persistent_reference_{0};
};

// Fills `ranges` with exponentially growing boundaries: range(1) = minimum,
// range(bucket_count() - 1) = maximum (for 3 or more buckets), range(n) =
// INT32_MAX; where rounding would not advance, a boundary is the previous one
// plus 1. Updates the checksum. Expects 1 <= minimum < maximum.
void FillExponentialRanges(HistogramBase::Sample minimum,
                           HistogramBase::Sample maximum,
                           BucketRanges* ranges);

// Fills `ranges` with evenly spaced boundaries from minimum to maximum (for 3
// or more buckets), then INT32_MAX; updates the checksum.
void FillLinearRanges(HistogramBase::Sample minimum,
                      HistogramBase::Sample maximum,
                      BucketRanges* ranges);

}  // namespace base

#endif  // BASE_METRICS_BUCKET_RANGES_H_
