#ifndef BASE_METRICS_HISTOGRAM_SAMPLES_H_
#define BASE_METRICS_HISTOGRAM_SAMPLES_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "base/metrics/histogram_base.h"

namespace base {

class Pickle;
class PickleIterator;
class SampleCountIterator;

static_assert(std::atomic<int64_t>::is_always_lock_free, "64-bit atomics must be lock-free");

// One bucket index and a 16-bit count packed in a 32-bit word: low 16 bits the
// bucket, high 16 bits the count.
struct SingleSample {
  uint16_t bucket;
  uint16_t count;
};

// The atomic word holding a SingleSample. 0 is empty; 0xFFFFFFFF is disabled
// (the container moved to a counts array) and never accepts a sample again.
class AtomicSingleSample {
 public:
  static constexpr uint32_t kDisabledSingleSample = 0xFFFFFFFFu;

  AtomicSingleSample() = default;

  // The current content; a disabled word reads as bucket 0, count 0.
  SingleSample Load() const;

  // Atomically replaces the word by 0 (or the disabled value when `disable`)
  // and returns the old content, a disabled word read as empty.
  SingleSample TakeOut(bool disable);

  // Adds `count` (may be negative) to the stored count when the word is empty
  // or holds `bucket`. Fails, changing nothing, when the word is disabled,
  // holds another bucket, or the result would not fit in 16 bits.
  bool TryAdd(size_t bucket, HistogramBase::Count count);

  bool IsDisabled() const;

 private:
  std::atomic<uint32_t> as_atomic_{0};
};
static_assert(sizeof(AtomicSingleSample) == 4, "single sample is one word");

// The 24-byte record shared by a container and (for persistent containers)
// the memory segment: id, sum, redundant count, single sample.
struct SamplesMetadata {
  std::atomic<uint64_t> id{0};
  std::atomic<int64_t> sum{0};
  HistogramBase::AtomicCount redundant_count{0};
  AtomicSingleSample single_sample;
};
static_assert(sizeof(SamplesMetadata) == 24, "metadata layout is fixed");

// A zero-filled metadata record owned by a heap container.
struct LocalMetadata : SamplesMetadata {
  LocalMetadata() = default;
};

// What a histogram has recorded: counts by bucket (or by value), the sum of
// all samples and a redundant total kept apart from the counts. Recording
// through Tally is thread-safe where the subclass says so; Merge, Deduct and
// pickling may be called while others record (results may then be briefly
// inconsistent).
class HistogramSamples {
 public:
  typedef HistogramBase::Sample Sample;
  typedef HistogramBase::Count Count;

  enum Operator { kAdd, kSubtract };

  // Reasons reported by ReportNegativeSample.
  enum NegativeSampleReason {
    AccumulateNegativeCount = 5,
    AccumulateWentNegative = 6,
    AccumulateOverflow = 8,
  };

  // `meta` is not owned and must outlive this object. A metadata record whose
  // id is 0 receives `id`; a non-zero id is kept.
  HistogramSamples(uint64_t id, SamplesMetadata* meta);
  HistogramSamples(const HistogramSamples&) = delete;
  HistogramSamples& operator=(const HistogramSamples&) = delete;
  virtual ~HistogramSamples();

  // Adds `count` (may be negative) samples of `value`.
  virtual void Tally(Sample value, Count count) = 0;
  // The count of the bucket holding `value`.
  virtual Count CountOf(Sample value) const = 0;
  // The total of all bucket counts.
  virtual Count SampleCount() const = 0;

  // Adds (subtracts) all of `other`'s samples, sum and redundant count.
  // Entries that do not fit this container's buckets are not applied.
  virtual void Merge(const HistogramSamples& other);
  // Reads sum, redundant count and (minimum, maximum, count) entries up to the
  // end of the pickle. False when the data is malformed or does not fit; what
  // was applied before the failure stays.
  virtual bool MergeFromPickle(PickleIterator* iter);
  virtual void Deduct(const HistogramSamples& other);

  // A new iterator over the non-empty entries, owned by the caller.
  virtual std::unique_ptr<SampleCountIterator> MakeIterator() const = 0;

  // Writes sum, redundant count and every non-empty entry.
  virtual void WriteToPickle(Pickle* pickle) const;

  // Applies every entry of `iter` with `op`; false on the first entry that
  // does not fit (earlier entries stay applied).
  virtual bool ApplyIterator(SampleCountIterator* iter, Operator op) = 0;

  // The metadata record (in the segment, for persistent containers).
  const SamplesMetadata* metadata() const { return meta_; }
  uint64_t id() const { return meta_->id.load(std::memory_order_relaxed); }
  int64_t sum() const { return meta_->sum.load(std::memory_order_relaxed); }
  Count redundant_count() const { return meta_->redundant_count.load(std::memory_order_relaxed); }

  // Records `increment` with `reason` in the "UMA.NegativeSamples.*" histograms.
  void ReportNegativeSample(NegativeSampleReason reason, Count increment);

 protected:
  // sum += sum, redundant count += count, both atomically.
  void AddToSumAndCount(int64_t sum, Count count);

  AtomicSingleSample& single_sample() { return meta_->single_sample; }
  const AtomicSingleSample& single_sample() const { return meta_->single_sample; }
  SamplesMetadata* meta() { return meta_; }

 private:
  SamplesMetadata* const meta_;
};

// Walks the non-empty entries of a container. Not thread-safe; the container
// must outlive it.
class SampleCountIterator {
 public:
  virtual ~SampleCountIterator();

  virtual bool AtEnd() const = 0;
  virtual void Advance() = 0;
  // The current entry: inclusive minimum, exclusive maximum, count. Any output
  // may be null. Must not be called at the end.
  virtual void Current(HistogramBase::Sample* min,
                       int64_t* max,
                       HistogramBase::Count* count) const = 0;
  // The bucket index of the current entry when the iterator knows it.
  virtual bool CurrentBucketIndex(size_t* index) const;
};

// Iterates one (minimum, maximum, count) triple; `bucket_index` is SIZE_MAX
// when unknown.
class SingleSampleIterator : public SampleCountIterator {
 public:
  SingleSampleIterator(HistogramBase::Sample min,
                       int64_t max,
                       HistogramBase::Count count,
                       size_t bucket_index = SIZE_MAX);
  ~SingleSampleIterator() override;

  bool AtEnd() const override;
  void Advance() override;
  void Current(HistogramBase::Sample* min,
               int64_t* max,
               HistogramBase::Count* count) const override;
  bool CurrentBucketIndex(size_t* index) const override;

 private:
  const HistogramBase::Sample min_;
  const int64_t max_;
  const size_t bucket_index_;
  HistogramBase::Count count_;
};

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_SAMPLES_H_
