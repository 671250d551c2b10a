#ifndef BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
#define BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>

#include "base/metrics/histogram_base.h"
#include "base/metrics/histogram_samples.h"
#include "base/metrics/persistent_memory_allocator.h"

namespace base {

// The record type of one (samples id, value) count in a persistent segment.
inline constexpr uint32_t kSampleRecordTypeId = 0x8FE6A6A0;

// One count cell in the segment: 16 bytes, made iterable when created.
struct SampleRecord {
  uint64_t id;
  HistogramBase::Sample value;
  std::atomic<HistogramBase::Count> count;
};
static_assert(sizeof(SampleRecord) == 16, "sample record layout is fixed");

// Counts by exact value kept in a persistent segment, so that any process
// mapping the segment sees them; the sparse histogram's persistent form.
// Records of this id made by others are found by walking the segment's
// queue. Not thread-safe: the owner serialises calls (the sparse histogram's
// lock). When the segment is full, a value's count is kept on the heap
// instead (visible to this object only).
class PersistentSampleMap : public HistogramSamples {
 public:
  // `allocator` and `meta` (the metadata record, usually in the segment)
  // must outlive this object.
  PersistentSampleMap(uint64_t id, PersistentMemoryAllocator* allocator, SamplesMetadata* meta);
  ~PersistentSampleMap() override;

  void Tally(Sample value, Count count) override;
  Count CountOf(Sample value) const override;
  Count SampleCount() const override;
  std::unique_ptr<SampleCountIterator> MakeIterator() const override;
  // Every entry must be one value wide (maximum = minimum + 1); false on the
  // first that is not.
  bool ApplyIterator(SampleCountIterator* iter, Operator op) override;

  // Makes an iterable record for (`id`, `value`) with count 0; 0 on failure.
  static PersistentMemoryAllocator::Reference
  CreatePersistentRecord(PersistentMemoryAllocator* allocator, uint64_t id, Sample value);

 private:
  using AtomicCount = std::atomic<Count>;

  // The cell of `value`: from the map, else from records found in the
  // segment; null when there is none.
  AtomicCount* GetSampleCountStorage(Sample value) const;
  // As above, creating a record (or a heap cell) when there is none.
  AtomicCount* GetOrCreateSampleCountStorage(Sample value);
  // Walks records not seen yet; stops at `until_value` unless
  // `import_everything`. Returns the cell of `until_value` if met.
  AtomicCount* ImportSamples(Sample until_value, bool import_everything) const;

  PersistentMemoryAllocator* const allocator_;
  mutable std::map<Sample, AtomicCount*> sample_counts_;
  mutable std::unique_ptr<PersistentMemoryAllocator::Iterator> records_;
  std::map<Sample, std::unique_ptr<AtomicCount>> heap_counts_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_SAMPLE_MAP_H_
