#include "base/metrics/sample_vector.h"

#include "base/logging.h"
#include "base/synchronization/lazy_creation.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

// One lock for all vectors: it is taken only once per vector, when its counts
// array is first needed.
Lock* GetCountsLock() {
  static LazyState state;
  return GetOrCreateLazyInstance<Lock>(&state, [] { return new Lock; });
}

HistogramBase::Count SignedCount(HistogramBase::Count count, HistogramSamples::Operator op) {
  if (op == HistogramSamples::kAdd)
    return count;
  return static_cast<HistogramBase::Count>(0u - static_cast<uint32_t>(count));
}

}  // namespace

SampleVectorBase::SampleVectorBase(uint64_t id,
                                   SamplesMetadata* meta,
                                   const BucketRanges* bucket_ranges)
    : HistogramSamples(id, meta), bucket_ranges_(bucket_ranges) {
  CHECK_GE(bucket_ranges_->bucket_count(), 1u);
}

SampleVectorBase::~SampleVectorBase() = default;

size_t SampleVectorBase::BucketIndexOf(Sample value) const {
  size_t bucket_count = bucket_ranges_->bucket_count();
  CHECK_GE(bucket_count, 1u);
  CHECK_GE(value, bucket_ranges_->range(0));
  CHECK_LT(value, bucket_ranges_->range(bucket_count));

  size_t under = 0;
  size_t over = bucket_count;
  size_t mid;
  do {
    mid = under + (over - under) / 2;
    if (mid == under)
      break;
    if (bucket_ranges_->range(mid) <= value)
      under = mid;
    else
      over = mid;
  } while (true);

  CHECK_GT(bucket_ranges_->range(mid + 1), value);
  return mid;
}

size_t SampleVectorBase::FindBucket(Sample value) const {
  size_t bucket_count = bucket_ranges_->bucket_count();
  if (value < bucket_ranges_->range(0) || value >= bucket_ranges_->range(bucket_count))
    return SIZE_MAX;
  size_t under = 0;
  size_t over = bucket_count;
  while (over - under > 1) {
    size_t mid = under + (over - under) / 2;
    if (bucket_ranges_->range(mid) <= value)
      under = mid;
    else
      over = mid;
  }
  // Ranges out of order would end the search in the wrong bucket.
  if (bucket_ranges_->range(under + 1) <= value)
    return SIZE_MAX;
  return under;
}

void SampleVectorBase::Tally(Sample value, Count count) {
  const size_t bucket_index = BucketIndexOf(value);
  const int64_t product = static_cast<int64_t>(value) * count;

  if (!counts()) {
    if (single_sample().TryAdd(bucket_index, count)) {
      AddToSumAndCount(product, count);
      // Another thread may have mounted the counts after our add: the sample
      // must not stay in a word nobody reads any more.
      if (counts())
        SpillSingleSample();
      return;
    }
    MountCounts();
  }

  Count old_value = counts()[bucket_index].fetch_add(count, std::memory_order_relaxed);
  AddToSumAndCount(product, count);
  Count new_value =
      static_cast<Count>(static_cast<uint32_t>(old_value) + static_cast<uint32_t>(count));
  if (count > 0 && (old_value < 0) != (new_value < 0))
    ReportNegativeSample(AccumulateOverflow, count);
}

HistogramBase::Count SampleVectorBase::CountOf(Sample value) const {
  return CountAtIndex(BucketIndexOf(value));
}

HistogramBase::Count SampleVectorBase::CountAtIndex(size_t bucket_index) const {
  CHECK_LT(bucket_index, counts_size());
  SingleSample sample = single_sample().Load();
  if (sample.count != 0)
    return sample.bucket == bucket_index ? sample.count : 0;
  if (counts() || AttachExistingCounts())
    return counts()[bucket_index].load(std::memory_order_relaxed);
  return 0;
}

HistogramBase::Count SampleVectorBase::SampleCount() const {
  SingleSample sample = single_sample().Load();
  if (sample.count != 0)
    return sample.count;
  if (!counts() && !AttachExistingCounts())
    return 0;
  uint32_t total = 0;
  HistogramBase::AtomicCount* array = counts();
  for (size_t i = 0; i < counts_size(); ++i)
    total += static_cast<uint32_t>(array[i].load(std::memory_order_relaxed));
  return static_cast<Count>(total);
}

std::unique_ptr<SampleCountIterator> SampleVectorBase::MakeIterator() const {
  SingleSample sample = single_sample().Load();
  if (sample.count != 0) {
    return std::make_unique<SingleSampleIterator>(bucket_ranges_->range(sample.bucket),
                                                  bucket_ranges_->range(sample.bucket + 1u),
                                                  sample.count, sample.bucket);
  }
  if (counts() || AttachExistingCounts())
    return std::make_unique<SampleVectorIterator>(counts(), counts_size(), bucket_ranges_);
  return std::make_unique<SampleVectorIterator>(nullptr, 0, bucket_ranges_);
}

bool SampleVectorBase::ApplyIterator(SampleCountIterator* iter, Operator op) {
  if (iter->AtEnd())
    return true;

  Sample min;
  int64_t max;
  Count count;
  iter->Current(&min, &max, &count);
  // Entries from foreign data may lie outside these ranges: refuse them here
  // rather than in the fatal checks of BucketIndexOf.
  size_t dest_index = FindBucket(min);
  if (dest_index >= counts_size())
    return false;

  size_t iter_index;
  size_t index_offset = 0;
  const bool iter_knows_index = iter->CurrentBucketIndex(&iter_index);
  if (iter_knows_index)
    index_offset = dest_index - iter_index;

  iter->Advance();

  auto matches_bucket = [this](size_t index, Sample entry_min, int64_t entry_max) {
    return entry_min == bucket_ranges_->range(index) &&
           entry_max == bucket_ranges_->range(index + 1);
  };

  if (!counts() && iter->AtEnd()) {
    // One entry may stay in the single-sample word, but only if it really is
    // one of our buckets.
    if (!matches_bucket(dest_index, min, max))
      return false;
    if (single_sample().TryAdd(dest_index, SignedCount(count, op))) {
      if (counts())
        SpillSingleSample();
      return true;
    }
  }
  if (!counts())
    MountCounts();

  HistogramBase::AtomicCount* array = counts();
  while (true) {
    if (!matches_bucket(dest_index, min, max))
      return false;
    array[dest_index].fetch_add(SignedCount(count, op), std::memory_order_relaxed);
    if (iter->AtEnd())
      return true;
    iter->Current(&min, &max, &count);
    if (iter_knows_index && iter->CurrentBucketIndex(&iter_index))
      dest_index = iter_index + index_offset;
    else
      dest_index = FindBucket(min);
    if (dest_index >= counts_size())
      return false;
    iter->Advance();
  }
}

void SampleVectorBase::MountCounts() {
  if (!counts()) {
    // Made before the lock, so it ends after the release: creating the counts
    // may record into a histogram (the persistent allocator's own metrics),
    // and recording may mount counts, which takes this lock again.
    internal::ScopedDeferredRecording record_after_release;
    AutoLock lock(*GetCountsLock());
    if (!counts())
      set_counts(CreateCountsLocked());
  }
  SpillSingleSample();
}

void SampleVectorBase::SpillSingleSample() {
  SingleSample sample = single_sample().TakeOut(true);
  if (sample.count != 0)
    counts()[sample.bucket].fetch_add(sample.count, std::memory_order_relaxed);
}

SampleVector::SampleVector(uint64_t id, const BucketRanges* bucket_ranges)
    : SampleVector(id, std::make_unique<LocalMetadata>(), bucket_ranges) {}

SampleVector::SampleVector(uint64_t id,
                           std::unique_ptr<LocalMetadata> meta,
                           const BucketRanges* bucket_ranges)
    : SampleVectorBase(id, meta.get(), bucket_ranges), local_meta_(std::move(meta)) {}

SampleVector::~SampleVector() = default;

bool SampleVector::AttachExistingCounts() const {
  return counts() != nullptr;
}

HistogramBase::AtomicCount* SampleVector::CreateCountsLocked() {
  local_counts_ = std::make_unique<HistogramBase::AtomicCount[]>(counts_size());
  return local_counts_.get();
}

PersistentSampleVector::PersistentSampleVector(uint64_t id,
                                               const BucketRanges* bucket_ranges,
                                               SamplesMetadata* meta,
                                               const DelayedPersistentAllocation& counts)
    : SampleVectorBase(id, meta, bucket_ranges), persistent_counts_(counts) {
  // Counts another user of the segment created earlier are used at once.
  if (persistent_counts_.reference())
    AttachExistingCounts();
}

PersistentSampleVector::~PersistentSampleVector() = default;

bool PersistentSampleVector::AttachExistingCounts() const {
  if (!persistent_counts_.reference())
    return false;
  void* memory = persistent_counts_.Get();
  if (!memory)
    return false;
  set_counts(static_cast<HistogramBase::AtomicCount*>(memory));
  return true;
}

HistogramBase::AtomicCount* PersistentSampleVector::CreateCountsLocked() {
  void* memory = persistent_counts_.Get();
  if (memory)
    return static_cast<HistogramBase::AtomicCount*>(memory);
  // The segment is full or damaged: keep counting on the heap.
  fallback_counts_ = std::make_unique<HistogramBase::AtomicCount[]>(counts_size());
  return fallback_counts_.get();
}

SampleVectorIterator::SampleVectorIterator(const HistogramBase::AtomicCount* counts,
                                           size_t counts_size,
                                           const BucketRanges* bucket_ranges)
    : counts_(counts), counts_size_(counts ? counts_size : 0), bucket_ranges_(bucket_ranges) {
  SkipEmptyBuckets();
}

SampleVectorIterator::~SampleVectorIterator() = default;

bool SampleVectorIterator::AtEnd() const {
  return index_ >= counts_size_;
}

void SampleVectorIterator::Advance() {
  if (AtEnd())
    return;
  ++index_;
  SkipEmptyBuckets();
}

void SampleVectorIterator::Current(HistogramBase::Sample* min,
                                   int64_t* max,
                                   HistogramBase::Count* count) const {
  CHECK(!AtEnd());
  if (min)
    *min = bucket_ranges_->range(index_);
  if (max)
    *max = bucket_ranges_->range(index_ + 1);
  if (count)
    *count = counts_[index_].load(std::memory_order_relaxed);
}

bool SampleVectorIterator::CurrentBucketIndex(size_t* index) const {
  CHECK(!AtEnd());
  *index = index_;
  return true;
}

void SampleVectorIterator::SkipEmptyBuckets() {
  while (index_ < counts_size_ && counts_[index_].load(std::memory_order_relaxed) == 0)
    ++index_;
}

}  // namespace base
