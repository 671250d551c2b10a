#ifndef BASE_METRICS_HISTOGRAM_H_
#define BASE_METRICS_HISTOGRAM_H_

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/sample_vector.h"

namespace base {

class Pickle;
class PickleIterator;

// A histogram with fixed buckets: exponential (Histogram), evenly spaced
// (LinearHistogram), two-valued (BooleanHistogram) or caller-supplied
// (CustomHistogram). Obtained through Get(), which registers it with the
// StatisticsRecorder; it then lives until the process ends. Recording is
// lock-free and thread-safe; values are clamped to 0 .. INT32_MAX - 1.
class Histogram : public HistogramBase {
 public:
  // Bucket counts at or above this are cut to one below it.
  static constexpr uint32_t kBucketCount_MAX = 16384u;

  class Factory;

  // The exponential histogram `name` of this shape, created on first request.
  // Bad shapes are repaired (see NormalizeArguments); a name registered with
  // another type or shape gives the DummyHistogram. Never null.
  static HistogramBase* Get(const std::string& name,
                            Sample minimum,
                            Sample maximum,
                            uint32_t bucket_count,
                            int32_t flags);
  static HistogramBase* Get(const char* name,
                            Sample minimum,
                            Sample maximum,
                            uint32_t bucket_count,
                            int32_t flags);

  // Repairs a shape so that 1 <= minimum < maximum <= INT32_MAX - 1 and
  // 3 <= bucket_count <= maximum - minimum + 2. Returns false (and reports the
  // name's hash in "Histogram.BadConstructionArguments") when the arguments
  // had to be repaired for being inconsistent; silently clamped limits count
  // as good.
  static bool NormalizeArguments(const char* name,
                                 Sample* minimum,
                                 Sample* maximum,
                                 uint32_t* bucket_count);

  // Reads a description written by SerializeInfo and returns the histogram of
  // that name and shape (created if needed), or null if the description is
  // malformed or its checksum does not match the shape.
  static HistogramBase* DeserializeInfo(PickleIterator* iter);

  // A heap histogram over `ranges` (not owned, shared, must outlive it);
  // `name` must be permanent (InternName).
  Histogram(const char* name, const BucketRanges* ranges);
  // A histogram over persistent memory: both sample vectors keep their
  // metadata and counts in the segment (see PersistentSampleVector).
  Histogram(const char* name,
            const BucketRanges* ranges,
            const DelayedPersistentAllocation& counts,
            const DelayedPersistentAllocation& logged_counts,
            SamplesMetadata* meta,
            SamplesMetadata* logged_meta);
  ~Histogram() override;

  const BucketRanges* bucket_ranges() const { return bucket_ranges_; }
  // range(1) and range(bucket_count() - 1) of the ranges; -1 with fewer than
  // 3 entries.
  Sample declared_min() const;
  Sample declared_max() const;

  // HistogramBase:
  uint64_t NameHash() const override;
  HistogramType GetHistogramType() const override;
  bool MatchesConstruction(Sample minimum, Sample maximum, uint32_t bucket_count) const override;
  void Add(Sample value) override;
  void AddTimes(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  bool MergeFromPickle(PickleIterator* iter) override;
  uint32_t CheckConsistency(const HistogramSamples& samples) const override;
  std::unique_ptr<HistogramSamples> SnapshotAll() const override;
  std::unique_ptr<HistogramSamples> TakeDelta() override;
  std::unique_ptr<HistogramSamples> PeekFinalDelta() const override;
  void WriteHtmlGraph(std::string* output) const override;
  void WriteAsciiGraph(std::string* output) const override;
  // Fatal unless both sample vectors and their ranges exist and the logged id
  // is set. A persistent histogram without that id dies first at a non-zero
  // word of the page holding its logged metadata: words 0, 1, 2, 4, ... 512
  // are checked first ("0 == address[4]"), then every word ("address[i]").
  void ValidateContents() const override;
  void SerializeInfo(Pickle* pickle) const override;
  void DescribeParameters(Value* params) const override;
  void DescribeBuckets(Count* count, int64_t* sum, Value* buckets) const override;

  virtual Sample BucketBoundary(uint32_t i) const;
  virtual uint32_t bucket_count() const;
  // Whether the graph prints bucket i when it is empty.
  virtual bool ShowEmptyBucket(uint32_t i) const;
  // `count` scaled by the bucket's width, for sizing graph bars.
  virtual double NormalizedBucketSize(Count count, uint32_t i) const;
  virtual std::string BucketLabel(uint32_t i) const;

 private:
  std::unique_ptr<SampleVector> SnapshotUnlogged() const;
  std::unique_ptr<SampleVector> SnapshotAllSamples() const;
  void WriteAsciiGraphImpl(const char* newline, std::string* output) const;

  const BucketRanges* const bucket_ranges_;
  std::unique_ptr<SampleVectorBase> unlogged_samples_;
  std::unique_ptr<SampleVectorBase> logged_samples_;
};

// Builds a histogram for one get-or-create request.
class Histogram::Factory {
 public:
  Factory(const std::string& name,
          HistogramType histogram_type,
          Sample minimum,
          Sample maximum,
          uint32_t bucket_count,
          int32_t flags);
  virtual ~Factory();

  // The registered histogram of the name (creating and registering it when
  // absent), or the DummyHistogram on a type or shape mismatch. Never null.
  HistogramBase* GetOrCreate();

 protected:
  // New ranges for the requested shape, owned by the caller.
  virtual BucketRanges* MakeRanges();
  virtual std::unique_ptr<HistogramBase> MakeHeapHistogram(const BucketRanges* ranges);
  virtual void FinishHistogram(HistogramBase* histogram);

  const std::string& name_;
  const HistogramType histogram_type_;
  Sample minimum_;
  Sample maximum_;
  uint32_t bucket_count_;
  int32_t flags_;
};

// Evenly spaced buckets, optionally with a label per bucket.
class LinearHistogram : public Histogram {
 public:
  // (sample, label) pairs, ended by one with a null label.
  struct DescriptionPair {
    Sample sample;
    const char* description;
  };

  class Factory;

  // As Histogram::Get, with linear buckets.
  static HistogramBase* Get(const std::string& name,
                            Sample minimum,
                            Sample maximum,
                            uint32_t bucket_count,
                            int32_t flags);
  static HistogramBase* Get(const char* name,
                            Sample minimum,
                            Sample maximum,
                            uint32_t bucket_count,
                            int32_t flags);
  // As Get, storing the labels of `descriptions` (may be null) on creation.
  static HistogramBase* GetWithDescriptions(const std::string& name,
                                            Sample minimum,
                                            Sample maximum,
                                            uint32_t bucket_count,
                                            int32_t flags,
                                            const DescriptionPair* descriptions);

  // As Histogram::DeserializeInfo, for linear histograms.
  static HistogramBase* DeserializeInfo(PickleIterator* iter);

  LinearHistogram(const char* name, const BucketRanges* ranges);
  LinearHistogram(const char* name,
                  const BucketRanges* ranges,
                  const DelayedPersistentAllocation& counts,
                  const DelayedPersistentAllocation& logged_counts,
                  SamplesMetadata* meta,
                  SamplesMetadata* logged_meta);
  ~LinearHistogram() override;

  HistogramType GetHistogramType() const override;
  bool ShowEmptyBucket(uint32_t i) const override;
  double NormalizedBucketSize(Count count, uint32_t i) const override;
  std::string BucketLabel(uint32_t i) const override;

  // Stores `label` for the bucket whose lower boundary is `sample`.
  void SetBucketDescription(Sample sample, const std::string& label);

 private:
  std::map<Sample, std::string> bucket_descriptions_;
};

class LinearHistogram::Factory : public Histogram::Factory {
 public:
  Factory(const std::string& name,
          Sample minimum,
          Sample maximum,
          uint32_t bucket_count,
          int32_t flags,
          const DescriptionPair* descriptions);
  ~Factory() override;

 protected:
  BucketRanges* MakeRanges() override;
  std::unique_ptr<HistogramBase> MakeHeapHistogram(const BucketRanges* ranges) override;
  void FinishHistogram(HistogramBase* histogram) override;

 private:
  const DescriptionPair* const descriptions_;
};

// Two values, 0 and 1: minimum 1, maximum 2, 3 buckets.
class BooleanHistogram : public LinearHistogram {
 public:
  BooleanHistogram(const char* name, const BucketRanges* ranges);
  BooleanHistogram(const char* name,
                   const BucketRanges* ranges,
                   const DelayedPersistentAllocation& counts,
                   const DelayedPersistentAllocation& logged_counts,
                   SamplesMetadata* meta,
                   SamplesMetadata* logged_meta);
  ~BooleanHistogram() override;

  HistogramType GetHistogramType() const override;
};

// Buckets whose boundaries the caller supplies.
class CustomHistogram : public Histogram {
 public:
  CustomHistogram(const char* name, const BucketRanges* ranges);
  CustomHistogram(const char* name,
                  const BucketRanges* ranges,
                  const DelayedPersistentAllocation& counts,
                  const DelayedPersistentAllocation& logged_counts,
                  SamplesMetadata* meta,
                  SamplesMetadata* logged_meta);
  ~CustomHistogram() override;

  HistogramType GetHistogramType() const override;
  void SerializeInfo(Pickle* pickle) const override;
  bool ShowEmptyBucket(uint32_t i) const override;
  double NormalizedBucketSize(Count count, uint32_t i) const override;
};

// Records `sample` in the linear histogram `name` with one bucket per value
// from 0 to exclusive_max - 1 and an overflow bucket; thread-safe.
void RecordEnumerationSample(const std::string& name, int sample, int exclusive_max);

// Records `sample` in the sparse histogram `name`; thread-safe.
void RecordSparseSample(const std::string& name, int sample);

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_H_
