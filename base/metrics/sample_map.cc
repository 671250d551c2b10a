#include "base/metrics/sample_map.h"

#include "base/logging.h"

namespace base {

namespace {

// Counts wrap past INT32_MAX instead of overflowing.
HistogramBase::Count WrappingAdd(HistogramBase::Count a, HistogramBase::Count b) {
  return static_cast<HistogramBase::Count>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

}  // namespace

SampleMap::SampleMap(uint64_t id) : SampleMap(id, std::make_unique<LocalMetadata>()) {}

SampleMap::SampleMap(uint64_t id, std::unique_ptr<LocalMetadata> meta)
    : HistogramSamples(id, meta.get()), local_meta_(std::move(meta)) {}

SampleMap::~SampleMap() = default;

void SampleMap::Tally(Sample value, Count count) {
  Count& stored = sample_counts_[value];
  stored = WrappingAdd(stored, count);
  AddToSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramBase::Count SampleMap::CountOf(Sample value) const {
  auto it = sample_counts_.find(value);
  return it == sample_counts_.end() ? 0 : it->second;
}

HistogramBase::Count SampleMap::SampleCount() const {
  Count total = 0;
  for (const auto& entry : sample_counts_)
    total = WrappingAdd(total, entry.second);
  return total;
}

std::unique_ptr<SampleCountIterator> SampleMap::MakeIterator() const {
  return std::make_unique<SampleMapIterator>(sample_counts_);
}

bool SampleMap::ApplyIterator(SampleCountIterator* iter, Operator op) {
  for (; !iter->AtEnd(); iter->Advance()) {
    Sample min;
    int64_t max;
    Count count;
    iter->Current(&min, &max, &count);
    if (max != static_cast<int64_t>(min) + 1)
      return false;
    Count& stored = sample_counts_[min];
    stored = op == kAdd
                 ? WrappingAdd(stored, count)
                 : WrappingAdd(stored, static_cast<Count>(0u - static_cast<uint32_t>(count)));
  }
  return true;
}

SampleMapIterator::SampleMapIterator(const SampleToCountMap& sample_counts)
    : iter_(sample_counts.begin()), end_(sample_counts.end()) {
  SkipEmptyBuckets();
}

SampleMapIterator::~SampleMapIterator() = default;

bool SampleMapIterator::AtEnd() const {
  return iter_ == end_;
}

void SampleMapIterator::Advance() {
  if (AtEnd())
    return;
  ++iter_;
  SkipEmptyBuckets();
}

void SampleMapIterator::Current(HistogramBase::Sample* min,
                                int64_t* max,
                                HistogramBase::Count* count) const {
  CHECK(!AtEnd());
  if (min)
    *min = iter_->first;
  if (max)
    *max = static_cast<int64_t>(iter_->first) + 1;
  if (count)
    *count = iter_->second;
}

void SampleMapIterator::SkipEmptyBuckets() {
  while (iter_ != end_ && iter_->second == 0)
    ++iter_;
}

}  // namespace base
