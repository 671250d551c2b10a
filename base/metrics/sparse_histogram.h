#ifndef BASE_METRICS_SPARSE_HISTOGRAM_H_
#define BASE_METRICS_SPARSE_HISTOGRAM_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/synchronization/lock.h"

namespace base {

class PersistentHistogramAllocator;
class PersistentMemoryAllocator;
struct SamplesMetadata;
class Pickle;
class PickleIterator;

// Counts samples per exact value, for metrics with few but scattered values
// (error codes, name hashes). Any 32-bit value is its own entry; nothing is
// clamped. Thread-safe: both sample maps are guarded by the histogram's own
// lock; the sample callback runs after the lock is released.
class SparseHistogram : public HistogramBase {
 public:
  // The sparse histogram registered under `name`, created with `flags` on
  // first use; the DummyHistogram when the name may not be recorded. Valid
  // for the life of the process, never null. A name already registered as
  // another kind of histogram is a fatal check.
  static HistogramBase* Get(const std::string& name, int32_t flags);

  // A heap histogram over the permanent `name` (see InternName), not
  // registered. For the factory and tests.
  static std::unique_ptr<HistogramBase> FactoryGet(const char* name);

  // A histogram whose sample maps live in `allocator`'s segment over the two
  // metadata records (not owned; they and the allocator must outlive it).
  // The logged map's id is the unlogged id + 1.
  static std::unique_ptr<HistogramBase> PersistentCreate(PersistentMemoryAllocator* allocator,
                                                         const char* name,
                                                         SamplesMetadata* meta,
                                                         SamplesMetadata* logged_meta);

  ~SparseHistogram() override;

  void VerifyName(const std::string& name) const override;
  uint64_t NameHash() const override;
  HistogramType GetHistogramType() const override;
  // Always false: a bucketed request never matches a sparse histogram.
  bool MatchesConstruction(Sample minimum, Sample maximum, uint32_t bucket_count) const override;
  void Add(Sample value) override;
  // count <= 0 changes nothing and runs no callback.
  void AddTimes(Sample value, int count) override;
  void AddSamples(const HistogramSamples& samples) override;
  bool MergeFromPickle(PickleIterator* iter) override;
  std::unique_ptr<HistogramSamples> SnapshotAll() const override;
  std::unique_ptr<HistogramSamples> TakeDelta() override;
  std::unique_ptr<HistogramSamples> PeekFinalDelta() const override;
  void WriteHtmlGraph(std::string* output) const override;
  void WriteAsciiGraph(std::string* output) const override;
  void ValidateContents() const override;
  // Name (string) and flags (int).
  void SerializeInfo(Pickle* pickle) const override;
  void DescribeParameters(Value* params) const override;
  void DescribeBuckets(Count* count, int64_t* sum, Value* buckets) const override;

  // Whether PeekFinalDelta was called.
  bool final_delta_created() const;

 private:
  explicit SparseHistogram(const char* name);
  SparseHistogram(PersistentMemoryAllocator* allocator,
                  const char* name,
                  SamplesMetadata* meta,
                  SamplesMetadata* logged_meta);

  void WriteAsciiImpl(const char* newline, std::string* output) const;

  mutable Lock lock_;
  mutable bool final_delta_created_ = false;
  std::unique_ptr<HistogramSamples> unlogged_samples_;
  std::unique_ptr<HistogramSamples> logged_samples_;
};

}  // namespace base

#endif  // BASE_METRICS_SPARSE_HISTOGRAM_H_
