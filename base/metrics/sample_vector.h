#ifndef BASE_METRICS_SAMPLE_VECTOR_H_
#define BASE_METRICS_SAMPLE_VECTOR_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_memory_allocator.h"

namespace base {

// Counts by bucket over shared BucketRanges. Starts with no counts array: while
// every sample falls into one bucket and the count fits in 16 bits, it lives in
// the metadata's single-sample word; the array is mounted (under one
// process-wide lock, once) when that no longer holds. Tally, CountOf and
// Merge are lock-free and may run on any thread.
class SampleVectorBase : public HistogramSamples {
 public:
  ~SampleVectorBase() override;

  void Tally(Sample value, Count count) override;
  Count CountOf(Sample value) const override;
  Count SampleCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;

  // The count of bucket `bucket_index` (< bucket_count()).
  Count CountAtIndex(size_t bucket_index) const;

  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }
  // Whether a counts array is mounted (the single-sample word is then disabled).
  bool HasCounts() const { return counts() != nullptr; }

 protected:
  // `meta` and `bucket_ranges` are not owned and must outlive this object;
  // fatal unless bucket_ranges has at least one bucket.
  SampleVectorBase(uint64_t id, SamplesMetadata* meta, const BucketRanges* bucket_ranges);

  // The bucket holding `value`; fatal for a value outside the ranges.
  virtual size_t BucketIndexOf(Sample value) const;
  // Mounts counts that already exist elsewhere; true when counts are mounted.
  virtual bool AttachExistingCounts() const = 0;
  // Creates the counts array; called once, under the counts lock.
  virtual HistogramBase::AtomicCount* CreateCountsLocked() = 0;

  // Mounts the counts array if needed and moves the single sample into it.
  void MountCounts();
  // Moves the single sample (if any) into the mounted counts and disables it.
  void SpillSingleSample();

  HistogramBase::AtomicCount* counts() const { return counts_.load(std::memory_order_acquire); }
  void set_counts(HistogramBase::AtomicCount* counts) const {
    counts_.store(counts, std::memory_order_release);
  }
  size_t counts_size() const { return bucket_ranges_->bucket_count(); }

 private:
  // The bucket index of `value`, or SIZE_MAX when it lies outside the ranges.
  size_t FindBucket(Sample value) const;

  mutable std::atomic<HistogramBase::AtomicCount*> counts_{nullptr};
  const BucketRanges* const bucket_ranges_;
};

// A SampleVectorBase on the heap: owns its metadata and counts array.
class SampleVector : public SampleVectorBase {
 public:
  // `bucket_ranges` is not owned and must outlive this object.
  SampleVector(uint64_t id, const BucketRanges* bucket_ranges);
  explicit SampleVector(const BucketRanges* bucket_ranges) : SampleVector(0, bucket_ranges) {}
  ~SampleVector() override;

 private:
  SampleVector(uint64_t id, std::unique_ptr<LocalMetadata> meta, const BucketRanges* bucket_ranges);

  bool AttachExistingCounts() const override;
  HistogramBase::AtomicCount* CreateCountsLocked() override;

  std::unique_ptr<LocalMetadata> local_meta_;
  std::unique_ptr<HistogramBase::AtomicCount[]> local_counts_;
};

// A SampleVectorBase whose metadata and counts live in a persistent segment.
// The counts block is allocated only when first needed; if that fails the
// counts fall back to a heap array that only this object sees.
class PersistentSampleVector : public SampleVectorBase {
 public:
  // `meta` lies in the segment and must outlive this object; `counts`
  // describes the (possibly not yet allocated) block of bucket_count() counts.
  PersistentSampleVector(uint64_t id,
                         const BucketRanges* bucket_ranges,
                         SamplesMetadata* meta,
                         const DelayedPersistentAllocation& counts);
  ~PersistentSampleVector() override;

 private:
  bool AttachExistingCounts() const override;
  HistogramBase::AtomicCount* CreateCountsLocked() override;

  DelayedPersistentAllocation persistent_counts_;
  std::unique_ptr<HistogramBase::AtomicCount[]> fallback_counts_;
};

// Iterates the non-zero counts of a counts array. The array and the ranges
// must outlive the iterator.
class SampleVectorIterator : public SampleCountIterator {
 public:
  SampleVectorIterator(const HistogramBase::AtomicCount* counts,
                       size_t counts_size,
                       const BucketRanges* bucket_ranges);
  ~SampleVectorIterator() override;

  bool AtEnd() const override;
  void Advance() override;
  void Current(HistogramBase::Sample* min,
               int64_t* max,
               HistogramBase::Count* count) const override;
  bool CurrentBucketIndex(size_t* index) const override;

 private:
  void SkipEmptyBuckets();

  const HistogramBase::AtomicCount* const counts_;
  const size_t counts_size_;
  const BucketRanges* const bucket_ranges_;
  size_t index_ = 0;
};

}  // namespace base

#endif  // BASE_METRICS_SAMPLE_VECTOR_H_
