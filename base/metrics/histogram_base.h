#ifndef BASE_METRICS_HISTOGRAM_BASE_H_
#define BASE_METRICS_HISTOGRAM_BASE_H_

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace base {

class HistogramSamples;
class Pickle;
class PickleIterator;
class Value;

// The kinds of histogram; the numbers are part of the serialised description.
enum HistogramType {
  HISTOGRAM = 0,
  LINEAR_HISTOGRAM = 1,
  BOOLEAN_HISTOGRAM = 2,
  CUSTOM_HISTOGRAM = 3,
  SPARSE_HISTOGRAM = 4,
  DUMMY_HISTOGRAM = 5,
};

// "HISTOGRAM", "LINEAR_HISTOGRAM", ... for the known types, "UNKNOWN" otherwise.
const char* HistogramTypeToString(HistogramType type);

// Returns a permanent pointer to a NUL-terminated copy of `name`; equal names
// give the same pointer. Thread-safe (a process-wide lock); never frees.
const char* InternName(const std::string& name);

// The handle through which any code records samples. Histograms are created
// through their factories, registered with the StatisticsRecorder and live for
// the rest of the process. Recording (Add/AddTimes) is thread-safe.
class HistogramBase {
 public:
  typedef int32_t Sample;
  typedef int32_t Count;
  typedef std::atomic<int32_t> AtomicCount;

  // The largest value a sample may take; INT32_MAX is the top boundary no
  // sample reaches.
  static constexpr Sample kSampleType_MAX = 2147483647;

  enum Flags : int32_t {
    kNoFlags = 0x0,
    kReportFlag = 0x1,
    kCallbackExistsFlag = 0x20,
    kPersistentFlag = 0x40,
  };

  // Bits returned by CheckConsistency().
  enum Inconsistency : uint32_t {
    NoInconsistencies = 0x0,
    RangeChecksumError = 0x1,
    BucketOrderError = 0x2,
    CountHighError = 0x4,
    CountLowError = 0x8,
  };

  // `name` must be permanent (see InternName); it is not copied.
  explicit HistogramBase(const char* name);
  HistogramBase(const HistogramBase&) = delete;
  HistogramBase& operator=(const HistogramBase&) = delete;
  virtual ~HistogramBase();

  const char* histogram_name() const { return histogram_name_; }

  // Flags are plain bit sets; concurrent SetFlags/ClearFlags do not lose bits.
  int32_t flags() const { return flags_.load(std::memory_order_relaxed); }
  void SetFlags(int32_t flags);
  void ClearFlags(int32_t flags);

  // Name check hook; does nothing.
  virtual void VerifyName(const std::string& name) const;

  // The 64-bit id of the histogram, which its samples carry as id().
  virtual uint64_t NameHash() const = 0;
  virtual HistogramType GetHistogramType() const = 0;

  // True when the histogram has exactly this shape.
  virtual bool MatchesConstruction(Sample minimum, Sample maximum, uint32_t bucket_count) const = 0;

  // Records one sample; `AddTimes` records `value` `count` times (count <= 0 is
  // ignored). Both are lock-free for bucketed histograms.
  virtual void Add(Sample value) = 0;
  virtual void AddTimes(Sample value, int count) = 0;
  void AddCount(Sample value, int count) { AddTimes(value, count); }
  void AddBoolean(bool value) { Add(value ? 1 : 0); }

  // Merges a container (or serialised samples) into the unlogged samples.
  // MergeFromPickle returns false on malformed data; what was read before stays.
  virtual void AddSamples(const HistogramSamples& samples) = 0;
  virtual bool MergeFromPickle(PickleIterator* iter) = 0;

  // Inconsistency bits for `samples` taken from this histogram; 0 by default.
  virtual uint32_t CheckConsistency(const HistogramSamples& samples) const;

  // New containers owned by the caller: everything recorded; the samples since
  // the previous delta (which moves them to the logged side); the same without
  // changing anything.
  virtual std::unique_ptr<HistogramSamples> SnapshotAll() const = 0;
  virtual std::unique_ptr<HistogramSamples> TakeDelta() = 0;
  virtual std::unique_ptr<HistogramSamples> PeekFinalDelta() const = 0;
  std::unique_ptr<HistogramSamples> SnapshotSamples() const;
  std::unique_ptr<HistogramSamples> SnapshotDelta();

  // Append the text graph ("<PRE>" ... "<br>" ... "</PRE>" for HTML).
  virtual void WriteHtmlGraph(std::string* output) const = 0;
  virtual void WriteAsciiGraph(std::string* output) const = 0;

  // Fatal integrity checks; does nothing by default.
  virtual void ValidateContents() const;

  // Writes the histogram's description (name, flags and shape) to `pickle`.
  virtual void SerializeInfo(Pickle* pickle) const = 0;

  // Writes "type", "min", "max", "bucket_count" into the dictionary `params`.
  virtual void DescribeParameters(Value* params) const = 0;
  // Sets the total count and sum and appends one dictionary per non-empty
  // bucket to the list `buckets`.
  virtual void DescribeBuckets(Count* count, int64_t* sum, Value* buckets) const = 0;

 protected:
  // Runs the sample callback registered for this name, when kCallbackExistsFlag
  // is set.
  void RunSampleCallback(Sample value);

  // Appends a bar of 72 columns: `x` dashes, "O", then spaces; x comes from
  // `current` relative to `max_value` (an empty bar when max_value is 0).
  static void WriteAsciiBucketGraph(double current, double max_value, std::string* output);
  // Appends " (%d = %3.1f%%)" with `current` and its share of `scaled_sum`
  // (the total divided by 100).
  static void WriteAsciiBucketValue(Count current, double scaled_sum, std::string* output);

 private:
  const char* const histogram_name_;
  std::atomic<int32_t> flags_{0};
};

namespace internal {

// While an instance lives on a thread, AddOrDefer on that thread holds its
// samples back; when the outermost instance ends they are added, in order.
// Code that holds a lock which recording may take again (the sample vectors'
// counts lock) makes one before taking the lock, so that what it records
// meanwhile (the persistent allocator's own metrics) is added after release.
// Lives on the stack of its thread; nested instances defer to the outermost.
class ScopedDeferredRecording {
 public:
  ScopedDeferredRecording();
  ScopedDeferredRecording(const ScopedDeferredRecording&) = delete;
  ScopedDeferredRecording& operator=(const ScopedDeferredRecording&) = delete;
  ~ScopedDeferredRecording();

 private:
  friend void AddOrDefer(HistogramBase* histogram, HistogramBase::Sample value);

  const bool outermost_;
  std::vector<std::pair<HistogramBase*, HistogramBase::Sample>> deferred_;
};

// histogram->Add(value), now or, while a ScopedDeferredRecording lives on this
// thread, when it ends. `histogram` must outlive that.
void AddOrDefer(HistogramBase* histogram, HistogramBase::Sample value);

}  // namespace internal

}  // namespace base

#endif  // BASE_METRICS_HISTOGRAM_BASE_H_
