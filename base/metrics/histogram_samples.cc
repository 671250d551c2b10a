#include "base/metrics/histogram_samples.h"

#include "base/metrics/histogram.h"
#include "base/pickle.h"

namespace base {

namespace {

constexpr uint32_t kMaxSingleCount = 0xFFFF;

uint32_t Pack(SingleSample sample) {
  return static_cast<uint32_t>(sample.bucket) | (static_cast<uint32_t>(sample.count) << 16);
}

SingleSample Unpack(uint32_t word) {
  if (word == AtomicSingleSample::kDisabledSingleSample)
    return {0, 0};
  return {static_cast<uint16_t>(word & 0xFFFF), static_cast<uint16_t>(word >> 16)};
}

// Negation and addition of counts that wrap instead of overflowing.
HistogramBase::Count WrappingNegate(HistogramBase::Count count) {
  return static_cast<HistogramBase::Count>(0u - static_cast<uint32_t>(count));
}

// Reads the (minimum, maximum, count) entries that follow the sum and count
// of pickled samples. Ends at the end of the pickle, or at the first entry
// that is cut short, which it remembers as malformed.
class SampleCountPickleIterator : public SampleCountIterator {
 public:
  explicit SampleCountPickleIterator(PickleIterator* iter) : iter_(iter) { Advance(); }

  bool AtEnd() const override { return at_end_; }

  void Advance() override {
    if (at_end_)
      return;
    if (iter_->ReachedEnd()) {
      at_end_ = true;
      return;
    }
    if (!iter_->ReadInt(&min_) || !iter_->ReadInt64(&max_) || !iter_->ReadInt(&count_)) {
      at_end_ = true;
      truncated_ = true;
    }
  }

  void Current(HistogramBase::Sample* min,
               int64_t* max,
               HistogramBase::Count* count) const override {
    if (min)
      *min = min_;
    if (max)
      *max = max_;
    if (count)
      *count = count_;
  }

  bool truncated() const { return truncated_; }

 private:
  PickleIterator* const iter_;
  HistogramBase::Sample min_ = 0;
  int64_t max_ = 0;
  HistogramBase::Count count_ = 0;
  bool at_end_ = false;
  bool truncated_ = false;
};

// The two bucketed histograms of negative-sample reports, looked up once.
std::atomic<HistogramBase*> g_negative_reason_histogram{nullptr};
std::atomic<HistogramBase*> g_negative_increment_histogram{nullptr};

}  // namespace

SingleSample AtomicSingleSample::Load() const {
  return Unpack(as_atomic_.load(std::memory_order_relaxed));
}

SingleSample AtomicSingleSample::TakeOut(bool disable) {
  return Unpack(
      as_atomic_.exchange(disable ? kDisabledSingleSample : 0u, std::memory_order_acq_rel));
}

bool AtomicSingleSample::IsDisabled() const {
  return as_atomic_.load(std::memory_order_relaxed) == kDisabledSingleSample;
}

bool AtomicSingleSample::TryAdd(size_t bucket, HistogramBase::Count count) {
  if (count == 0)
    return true;
  if (count > static_cast<HistogramBase::Count>(kMaxSingleCount) ||
      count < -static_cast<HistogramBase::Count>(kMaxSingleCount) || bucket > kMaxSingleCount) {
    return false;
  }
  uint32_t original = as_atomic_.load(std::memory_order_relaxed);
  while (true) {
    if (original == kDisabledSingleSample)
      return false;
    SingleSample sample = Unpack(original);
    if (original != 0) {
      if (sample.bucket != bucket)
        return false;
    } else {
      sample.bucket = static_cast<uint16_t>(bucket);
    }
    int32_t new_count = static_cast<int32_t>(sample.count) + count;
    if (new_count < 0 || new_count > static_cast<int32_t>(kMaxSingleCount))
      return false;
    sample.count = static_cast<uint16_t>(new_count);
    uint32_t replacement = Pack(sample);
    if (replacement == kDisabledSingleSample)
      return false;
    if (as_atomic_.compare_exchange_weak(original, replacement, std::memory_order_acq_rel,
                                         std::memory_order_relaxed)) {
      return true;
    }
  }
}

HistogramSamples::HistogramSamples(uint64_t id, SamplesMetadata* meta) : meta_(meta) {
  uint64_t expected = 0;
  meta_->id.compare_exchange_strong(expected, id, std::memory_order_relaxed);
}

HistogramSamples::~HistogramSamples() = default;

void HistogramSamples::AddToSumAndCount(int64_t sum, Count count) {
  meta_->sum.fetch_add(sum, std::memory_order_relaxed);
  meta_->redundant_count.fetch_add(count, std::memory_order_relaxed);
}

void HistogramSamples::Merge(const HistogramSamples& other) {
  AddToSumAndCount(other.sum(), other.redundant_count());
  std::unique_ptr<SampleCountIterator> it = other.MakeIterator();
  ApplyIterator(it.get(), kAdd);
}

void HistogramSamples::Deduct(const HistogramSamples& other) {
  AddToSumAndCount(static_cast<int64_t>(0ull - static_cast<uint64_t>(other.sum())),
                   WrappingNegate(other.redundant_count()));
  std::unique_ptr<SampleCountIterator> it = other.MakeIterator();
  ApplyIterator(it.get(), kSubtract);
}

bool HistogramSamples::MergeFromPickle(PickleIterator* iter) {
  int64_t sum;
  Count redundant_count;
  if (!iter->ReadInt64(&sum) || !iter->ReadInt(&redundant_count))
    return false;
  AddToSumAndCount(sum, redundant_count);
  SampleCountPickleIterator pickle_iter(iter);
  bool applied = ApplyIterator(&pickle_iter, kAdd);
  // An entry cut short means the data is damaged: report it even though the
  // entries before it were applied.
  return applied && !pickle_iter.truncated();
}

void HistogramSamples::WriteToPickle(Pickle* pickle) const {
  pickle->WriteInt64(sum());
  pickle->WriteInt(redundant_count());
  std::unique_ptr<SampleCountIterator> it = MakeIterator();
  for (; !it->AtEnd(); it->Advance()) {
    Sample min;
    int64_t max;
    Count count;
    it->Current(&min, &max, &count);
    pickle->WriteInt(min);
    pickle->WriteInt64(max);
    pickle->WriteInt(count);
  }
}

void HistogramSamples::ReportNegativeSample(NegativeSampleReason reason, Count increment) {
  HistogramBase* reasons = g_negative_reason_histogram.load(std::memory_order_acquire);
  if (!reasons) {
    reasons =
        LinearHistogram::Get("UMA.NegativeSamples.Reason", 1, 9, 10, HistogramBase::kReportFlag);
    g_negative_reason_histogram.store(reasons, std::memory_order_release);
  }
  HistogramBase* increments = g_negative_increment_histogram.load(std::memory_order_acquire);
  if (!increments) {
    increments = Histogram::Get("UMA.NegativeSamples.Increment", 1, 1 << 30, 100,
                                HistogramBase::kReportFlag);
    g_negative_increment_histogram.store(increments, std::memory_order_release);
  }
  reasons->Add(reason);
  increments->Add(increment);
  RecordSparseSample("UMA.NegativeSamples.Histogram", static_cast<int>(id() & 0xFFFFFFFFu));
}

SampleCountIterator::~SampleCountIterator() = default;

bool SampleCountIterator::CurrentBucketIndex(size_t* /*index*/) const {
  return false;
}

SingleSampleIterator::SingleSampleIterator(HistogramBase::Sample min,
                                           int64_t max,
                                           HistogramBase::Count count,
                                           size_t bucket_index)
    : min_(min), max_(max), bucket_index_(bucket_index), count_(count) {}

SingleSampleIterator::~SingleSampleIterator() = default;

bool SingleSampleIterator::AtEnd() const {
  return count_ == 0;
}

void SingleSampleIterator::Advance() {
  count_ = 0;
}

void SingleSampleIterator::Current(HistogramBase::Sample* min,
                                   int64_t* max,
                                   HistogramBase::Count* count) const {
  if (min)
    *min = min_;
  if (max)
    *max = max_;
  if (count)
    *count = count_;
}

bool SingleSampleIterator::CurrentBucketIndex(size_t* index) const {
  if (bucket_index_ == SIZE_MAX)
    return false;
  *index = bucket_index_;
  return true;
}

}  // namespace base
