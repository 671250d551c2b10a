#include "base/metrics/persistent_sample_map.h"

#include <utility>

namespace base {

namespace {

// Counts wrap past INT32_MAX, as SampleMap's do, instead of overflowing.
HistogramBase::Count WrappingAdd(HistogramBase::Count a, HistogramBase::Count b) {
  return static_cast<HistogramBase::Count>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

HistogramBase::Count WrappingNegate(HistogramBase::Count count) {
  return static_cast<HistogramBase::Count>(0u - static_cast<uint32_t>(count));
}

// Iterates the non-zero cells of a value-to-cell map: (value, value + 1,
// count). The map must outlive the iterator.
class PersistentSampleMapIterator : public SampleCountIterator {
 public:
  using Cells = std::map<HistogramBase::Sample, std::atomic<HistogramBase::Count>*>;

  explicit PersistentSampleMapIterator(const Cells& cells)
      : iter_(cells.begin()), end_(cells.end()) {
    SkipEmpty();
  }
  ~PersistentSampleMapIterator() override = default;

  bool AtEnd() const override { return iter_ == end_; }
  void Advance() override {
    ++iter_;
    SkipEmpty();
  }
  void Current(HistogramBase::Sample* min,
               int64_t* max,
               HistogramBase::Count* count) const override {
    if (min)
      *min = iter_->first;
    if (max)
      *max = static_cast<int64_t>(iter_->first) + 1;
    if (count)
      *count = iter_->second->load(std::memory_order_relaxed);
  }

 private:
  void SkipEmpty() {
    while (iter_ != end_ && iter_->second->load(std::memory_order_relaxed) == 0)
      ++iter_;
  }

  Cells::const_iterator iter_;
  const Cells::const_iterator end_;
};

}  // namespace

PersistentSampleMap::PersistentSampleMap(uint64_t id,
                                         PersistentMemoryAllocator* allocator,
                                         SamplesMetadata* meta)
    : HistogramSamples(id, meta), allocator_(allocator) {}

PersistentSampleMap::~PersistentSampleMap() = default;

// static
PersistentMemoryAllocator::Reference PersistentSampleMap::CreatePersistentRecord(
    PersistentMemoryAllocator* allocator,
    uint64_t id,
    Sample value) {
  const PersistentMemoryAllocator::Reference ref =
      allocator->Allocate(sizeof(SampleRecord), kSampleRecordTypeId);
  SampleRecord* record = allocator->GetAsObject<SampleRecord>(ref, kSampleRecordTypeId);
  if (!record)
    return 0;
  record->id = id;
  record->value = value;
  record->count.store(0, std::memory_order_relaxed);
  // Iterable only once filled in: readers never see a half-made record.
  allocator->MakeIterable(ref);
  return ref;
}

void PersistentSampleMap::Tally(Sample value, Count count) {
  AtomicCount* cell = GetOrCreateSampleCountStorage(value);
  if (count < 0) {
    const Count decrement = count == INT32_MIN ? INT32_MAX : -count;
    if (cell->load(std::memory_order_relaxed) < decrement)
      ReportNegativeSample(AccumulateWentNegative, decrement);
    else
      ReportNegativeSample(AccumulateNegativeCount, decrement);
  }
  const Count old_value = cell->fetch_add(count, std::memory_order_relaxed);
  if (count > 0 && (old_value < 0) != (static_cast<Count>(static_cast<uint32_t>(old_value) +
                                                          static_cast<uint32_t>(count)) < 0)) {
    ReportNegativeSample(AccumulateOverflow, count);
  }
  AddToSumAndCount(static_cast<int64_t>(value) * count, count);
}

HistogramBase::Count PersistentSampleMap::CountOf(Sample value) const {
  AtomicCount* cell = GetSampleCountStorage(value);
  return cell ? cell->load(std::memory_order_relaxed) : 0;
}

HistogramBase::Count PersistentSampleMap::SampleCount() const {
  ImportSamples(0, true);
  Count total = 0;
  for (const auto& [value, cell] : sample_counts_)
    total = WrappingAdd(total, cell->load(std::memory_order_relaxed));
  return total;
}

std::unique_ptr<SampleCountIterator> PersistentSampleMap::MakeIterator() const {
  ImportSamples(0, true);
  return std::make_unique<PersistentSampleMapIterator>(sample_counts_);
}

bool PersistentSampleMap::ApplyIterator(SampleCountIterator* iter, Operator op) {
  for (; !iter->AtEnd(); iter->Advance()) {
    Sample min;
    int64_t max;
    Count count;
    iter->Current(&min, &max, &count);
    if (max != static_cast<int64_t>(min) + 1)
      return false;
    GetOrCreateSampleCountStorage(min)->fetch_add(op == kAdd ? count : WrappingNegate(count),
                                                  std::memory_order_relaxed);
  }
  return true;
}

PersistentSampleMap::AtomicCount* PersistentSampleMap::GetSampleCountStorage(Sample value) const {
  auto it = sample_counts_.find(value);
  if (it != sample_counts_.end())
    return it->second;
  return ImportSamples(value, false);
}

PersistentSampleMap::AtomicCount* PersistentSampleMap::GetOrCreateSampleCountStorage(Sample value) {
  if (AtomicCount* cell = GetSampleCountStorage(value))
    return cell;
  if (CreatePersistentRecord(allocator_, id(), value)) {
    // Found through the walk like any other record, so records made by
    // others for this value before ours are preferred consistently.
    if (AtomicCount* cell = ImportSamples(value, false))
      return cell;
  }
  // No room (or a damaged segment): count on the heap, seen only here.
  auto owned = std::make_unique<AtomicCount>(0);
  AtomicCount* cell = owned.get();
  heap_counts_[value] = std::move(owned);
  sample_counts_[value] = cell;
  return cell;
}

PersistentSampleMap::AtomicCount* PersistentSampleMap::ImportSamples(Sample until_value,
                                                                     bool import_everything) const {
  if (!records_)
    records_ = std::make_unique<PersistentMemoryAllocator::Iterator>(allocator_);
  AtomicCount* found = nullptr;
  while (PersistentMemoryAllocator::Reference ref = records_->GetNextOfType(kSampleRecordTypeId)) {
    SampleRecord* record = allocator_->GetAsObject<SampleRecord>(ref, kSampleRecordTypeId);
    if (!record || record->id != id())
      continue;
    // The first record of a value wins; a later duplicate (two writers
    // racing to create it) is ignored.
    auto inserted = sample_counts_.emplace(record->value, &record->count);
    if (record->value == until_value && inserted.second && !found)
      found = &record->count;
    if (found && !import_everything)
      break;
  }
  if (!found && !import_everything) {
    auto it = sample_counts_.find(until_value);
    if (it != sample_counts_.end())
      found = it->second;
  }
  return found;
}

}  // namespace base
