#ifndef BASE_METRICS_STATISTICS_RECORDER_H_
#define BASE_METRICS_STATISTICS_RECORDER_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/metrics_hashes.h"

namespace base {

class BucketRanges;

// Decides whether a metric may be recorded at all. Implementations must be
// thread-safe; the recorder consults it under its lock.
class RecordChecker {
 public:
  virtual ~RecordChecker() = default;
  // True when samples for the metric with this name hash may be recorded.
  virtual bool ShouldRecord(uint64_t name_hash) const = 0;
};

// The process-wide registry of histograms: one name always denotes one
// histogram object, equal bucket ranges are stored once. Every static
// operation is thread-safe (one process-wide lock, created on first use, held
// for the whole operation) and first creates the active recorder if none
// exists. Registered histograms and ranges are never freed or removed.
class StatisticsRecorder {
 public:
  using OnSampleCallback = std::function<void(HistogramBase::Sample)>;
  using Histograms = std::vector<HistogramBase*>;

  // Something that could supply histograms on request. Kept in a list that no
  // operation here consults.
  class HistogramProvider {
   public:
    virtual ~HistogramProvider() = default;
    virtual void MergeHistogramDeltas() = 0;
  };

  StatisticsRecorder(const StatisticsRecorder&) = delete;
  StatisticsRecorder& operator=(const StatisticsRecorder&) = delete;
  // Makes the recorder that was active before this one active again. Only
  // recorders made by CreateTemporaryForTesting are ever destroyed; the
  // histograms registered in them are leaked on purpose (callers may still
  // hold pointers).
  ~StatisticsRecorder();

  // The histogram registered under `name`, or null. Creates no entry.
  static HistogramBase* FindHistogram(std::string_view name);
  static HistogramBase* Find(std::string_view name) { return FindHistogram(name); }

  // Registers `histogram` (ownership passes to the recorder) unless the name
  // is taken. Returns the histogram registered under its name: the argument,
  // or the earlier one, in which case the argument is destroyed (after the
  // lock is released). Sets or clears kCallbackExistsFlag on a newly
  // registered histogram when the callback table has an entry for the name.
  static HistogramBase* RegisterOrDeleteDuplicate(HistogramBase* histogram);
  static HistogramBase* RegisterOrDiscard(HistogramBase* histogram) {
    return RegisterOrDeleteDuplicate(histogram);
  }

  // Registers `ranges` (ownership passes) unless equal ranges (same checksum
  // and boundaries) are registered; then the argument is freed and the
  // registered one returned. Ranges with equal checksums but different
  // boundaries are both kept.
  static const BucketRanges* RegisterOrDeleteDuplicateRanges(const BucketRanges* ranges);
  static const BucketRanges* RegisterRangesOrDiscard(const BucketRanges* ranges) {
    return RegisterOrDeleteDuplicateRanges(ranges);
  }

  // True when no record checker is installed, otherwise its verdict.
  static bool ShouldRecordHistogram(uint64_t name_hash);
  static bool ShouldRecord(uint64_t name_hash) { return ShouldRecordHistogram(name_hash); }

  // A copy of the callback registered for `name`, or an empty one.
  static OnSampleCallback FindCallback(const std::string& name);

  // Registers `callback` for `name` (replacing an earlier one) and sets
  // kCallbackExistsFlag on the histogram of that name if it exists.
  static void SetCallback(const std::string& name, OnSampleCallback callback);
  // Leaves an empty callback for `name` and clears the flag on its histogram.
  static void ClearCallback(const std::string& name);

  // Installs (or with null removes) the record checker.
  static void SetRecordChecker(std::unique_ptr<RecordChecker> record_checker);

  // Adds a provider; ownership stays with the caller, which must keep it
  // alive while the recorder lives.
  static void RegisterHistogramProvider(HistogramProvider* provider);

  // All registered histograms in the registry's iteration order.
  static Histograms GetHistograms();
  static Histograms GetAllHistograms() { return GetHistograms(); }

  // `histograms` sorted by name, bytes compared as unsigned values.
  static Histograms Sort(Histograms histograms);
  // Those of `histograms` whose name contains `query`.
  static Histograms WithName(Histograms histograms, std::string_view query);

  // The text of the at-exit dump: "Collections of all histograms\n", then the
  // text graph of every histogram in name order, each followed by "\n".
  static std::string DumpAllHistogramsText();
  // Writes DumpAllHistogramsText() as one verbose message of level 1.
  static void DumpAllHistograms();
  // True once the at-exit dump has been arranged (it is arranged only when
  // verbose level 1 is on for this file; no at-exit list ever runs it here).
  static bool IsDumpArrangedForTesting();

  // A fresh, empty recorder made active until the returned object is
  // destroyed. For tests: histograms registered before stay registered in the
  // previous recorder and reappear when it is active again.
  [[nodiscard]] static std::unique_ptr<StatisticsRecorder> CreateTemporaryForTesting();

  // The number of registered histograms and ranges in the active recorder.
  static size_t GetHistogramCount();
  static size_t GetBucketRangesCount();

 private:
  struct NameHash {
    size_t operator()(std::string_view name) const;
  };
  struct StringHash {
    size_t operator()(const std::string& name) const;
  };
  struct RangesHash {
    size_t operator()(const BucketRanges* ranges) const;
  };
  struct RangesEqual {
    bool operator()(const BucketRanges* a, const BucketRanges* b) const;
  };

  StatisticsRecorder();
  static void EnsureGlobalRecorderWhileLocked();
  static void ImportGlobalPersistentHistograms();

  std::unordered_map<std::string_view, HistogramBase*, NameHash> histograms_;
  std::unordered_map<std::string, OnSampleCallback, StringHash> callbacks_;
  std::unordered_set<const BucketRanges*, RangesHash, RangesEqual> ranges_;
  std::vector<HistogramProvider*> providers_;
  std::unique_ptr<RecordChecker> record_checker_;
  StatisticsRecorder* previous_ = nullptr;
};

// The histogram handed out when a request cannot be honoured (rejected name,
// mismatched shape). One process-wide instance named "dummy_histogram",
// created on first use, never freed; accepts and discards every sample.
class DummyHistogram : public HistogramBase {
 public:
  static DummyHistogram* GetInstance();

  void VerifyName(const std::string& name) const override;
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
  void ValidateContents() const override;
  void SerializeInfo(Pickle* pickle) const override;
  void DescribeParameters(Value* params) const override;
  void DescribeBuckets(Count* count, int64_t* sum, Value* buckets) const override;

 private:
  DummyHistogram();
  ~DummyHistogram() override;
};

namespace internal {
// Holds the metadata of DummyHistogramSamples so that it exists before the
// samples base class is handed its address.
struct DummyMetadataHolder {
  LocalMetadata dummy_meta_;
};
}  // namespace internal

// Samples that are always empty: Tally does nothing, every count is 0.
class DummyHistogramSamples : private internal::DummyMetadataHolder, public HistogramSamples {
 public:
  DummyHistogramSamples();
  ~DummyHistogramSamples() override;

  void Tally(Sample value, Count count) override;
  Count CountOf(Sample value) const override;
  Count SampleCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;
};

// An iterator that is always at its end.
class DummySampleCountIterator : public SampleCountIterator {
 public:
  DummySampleCountIterator();
  ~DummySampleCountIterator() override;
  bool AtEnd() const override;
  void Advance() override;
  void Current(HistogramBase::Sample* min,
               int64_t* max,
               HistogramBase::Count* count) const override;
};

}  // namespace base

#endif  // BASE_METRICS_STATISTICS_RECORDER_H_
