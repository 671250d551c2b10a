#ifndef BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/metrics/histogram_base.h"
#include "base/metrics/persistent_memory_allocator.h"

namespace base {

class BucketRanges;

// Places histograms in a persistent segment. This build keeps every histogram
// on the heap: AllocateHistogram always answers null, so callers fall back to
// heap objects, and nothing is imported. The class exists so that the
// get-or-create paths can consult the process-wide instance, which is never
// installed by update.exe.
class PersistentHistogramAllocator {
 public:
  explicit PersistentHistogramAllocator(std::unique_ptr<PersistentMemoryAllocator> memory);
  PersistentHistogramAllocator(const PersistentHistogramAllocator&) = delete;
  PersistentHistogramAllocator& operator=(const PersistentHistogramAllocator&) = delete;
  virtual ~PersistentHistogramAllocator();

  PersistentMemoryAllocator* memory_allocator() { return memory_allocator_.get(); }

  // A histogram of this type and shape over persistent memory, with its block
  // reference in `*ref_ptr`; null (and `*ref_ptr` 0) when none can be made.
  std::unique_ptr<HistogramBase> AllocateHistogram(HistogramType histogram_type,
                                                   const std::string& name,
                                                   HistogramBase::Sample minimum,
                                                   HistogramBase::Sample maximum,
                                                   const BucketRanges* bucket_ranges,
                                                   int32_t flags,
                                                   PersistentMemoryAllocator::Reference* ref_ptr);

  // Told after registration whether the histogram made from `ref` was kept;
  // a discarded one's block is retyped free.
  void FinalizeHistogram(PersistentMemoryAllocator::Reference ref, bool registered);

 private:
  std::unique_ptr<PersistentMemoryAllocator> memory_allocator_;
};

// The process-wide histogram allocator. Absent unless a caller installs one.
class GlobalHistogramAllocator : public PersistentHistogramAllocator {
 public:
  using PersistentHistogramAllocator::PersistentHistogramAllocator;

  // The installed allocator, or null (always null in update.exe).
  static GlobalHistogramAllocator* Get();

  // Installs `allocator` (ownership passes; never freed). Installing a second
  // one is refused and returns false.
  static bool Set(std::unique_ptr<GlobalHistogramAllocator> allocator);

  // Registers with the StatisticsRecorder the histograms found in the segment
  // that are not yet registered. Nothing in this build.
  void ImportHistogramsToStatisticsRecorder();
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_HISTOGRAM_ALLOCATOR_H_
