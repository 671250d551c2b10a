#ifndef BASE_METRICS_SAMPLE_MAP_H_
#define BASE_METRICS_SAMPLE_MAP_H_

#include <cstdint>
#include <map>
#include <memory>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"

namespace base {

// Counts by exact sample value, for sparse histograms. Not thread-safe: the
// owner serialises every call (the sparse histogram holds its lock).
class SampleMap : public HistogramSamples {
 public:
  explicit SampleMap(uint64_t id = 0);
  ~SampleMap() override;

  void Tally(Sample value, Count count) override;
  Count CountOf(Sample value) const override;
  Count SampleCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  // Every entry must be one value wide (maximum = minimum + 1); false on the
  // first that is not.
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;

 private:
  SampleMap(uint64_t id, std::unique_ptr<LocalMetadata> meta);

  std::unique_ptr<LocalMetadata> local_meta_;
  std::map<Sample, Count> sample_counts_;
};

// Iterates the non-zero entries of a map of value to count; each entry is
// (value, value + 1, count). The map must outlive the iterator.
class SampleMapIterator : public SampleCountIterator {
 public:
  typedef std::map<HistogramBase::Sample, HistogramBase::Count> SampleToCountMap;

  explicit SampleMapIterator(const SampleToCountMap& sample_counts);
  ~SampleMapIterator() override;

  bool AtEnd() const override;
  void Advance() override;
  void Current(HistogramBase::Sample* min,
               int64_t* max,
               HistogramBase::Count* count) const override;

 private:
  void SkipEmptyBuckets();

  SampleToCountMap::const_iterator iter_;
  const SampleToCountMap::const_iterator end_;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_MAP_H_
