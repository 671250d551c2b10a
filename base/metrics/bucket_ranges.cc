#include "base/metrics/bucket_ranges.h"

#include <cmath>

#include "base/logging.h"

namespace base {

namespace {

// The reflected CRC-32 table of polynomial 0xEDB88320.
struct CrcTable {
  uint32_t entries[256];
  constexpr CrcTable() : entries() {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k)
        c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      entries[i] = c;
    }
  }
};
constexpr CrcTable kCrcTable;

uint32_t Crc32(uint32_t sum, HistogramBase::Sample value) {
  uint32_t bits = static_cast<uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    sum = kCrcTable.entries[(sum ^ bits) & 0xFF] ^ (sum >> 8);
    bits >>= 8;
  }
  return sum;
}

}  // namespace

BucketRanges::BucketRanges(size_t num_ranges) : ranges_(num_ranges, 0) {}

BucketRanges::~BucketRanges() = default;

void BucketRanges::SetRange(size_t i, HistogramBase::Sample value) {
  CHECK_LT(i, ranges_.size());
  ranges_[i] = value;
}

uint32_t BucketRanges::ComputeChecksum() const {
  uint32_t checksum = static_cast<uint32_t>(ranges_.size());
  for (HistogramBase::Sample value : ranges_)
    checksum = Crc32(checksum, value);
  return checksum;
}

void BucketRanges::UpdateChecksum() {
  checksum_ = ComputeChecksum();
}

bool BucketRanges::ChecksumIsValid() const {
  return checksum_ == ComputeChecksum();
}

bool BucketRanges::SameRanges(const BucketRanges* other) const {
  return checksum_ == other->checksum_ && ranges_ == other->ranges_;
}

void FillExponentialRanges(HistogramBase::Sample minimum,
                           HistogramBase::Sample maximum,
                           BucketRanges* ranges) {
  size_t n = ranges->bucket_count();
  if (n == 0)
    return;
  ranges->SetRange(1, minimum);
  HistogramBase::Sample current = minimum;
  double log_max = std::log(static_cast<double>(maximum));
  for (size_t i = 2; i < n; ++i) {
    double log_current = std::log(static_cast<double>(current));
    double log_next = log_current + (log_max - log_current) / static_cast<double>(n - i);
    double next = std::round(std::exp(log_next));
    // Where rounding does not advance (small values), the bucket is one wide.
    if (next > static_cast<double>(current) && next < HistogramBase::kSampleType_MAX)
      current = static_cast<HistogramBase::Sample>(next);
    else if (current < HistogramBase::kSampleType_MAX - 1)
      ++current;
    ranges->SetRange(i, current);
  }
  ranges->SetRange(n, HistogramBase::kSampleType_MAX);
  ranges->UpdateChecksum();
}

void FillLinearRanges(HistogramBase::Sample minimum,
                      HistogramBase::Sample maximum,
                      BucketRanges* ranges) {
  size_t n = ranges->bucket_count();
  if (n == 0)
    return;
  if (n > 2) {
    for (size_t i = 1; i < n; ++i) {
      double linear = (static_cast<double>(minimum) * static_cast<double>(n - 1 - i) +
                       static_cast<double>(maximum) * static_cast<double>(i - 1)) /
                      static_cast<double>(n - 2);
      ranges->SetRange(i, static_cast<HistogramBase::Sample>(linear + 0.5));
    }
  } else if (n == 2) {
    // One interior boundary: there is no spacing to compute.
    ranges->SetRange(1, minimum);
  }
  ranges->SetRange(n, HistogramBase::kSampleType_MAX);
  ranges->UpdateChecksum();
}

}  // namespace base
