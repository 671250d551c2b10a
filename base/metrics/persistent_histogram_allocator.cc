#include "base/metrics/persistent_histogram_allocator.h"

#include <atomic>
#include <utility>

namespace base {

namespace {
std::atomic<GlobalHistogramAllocator*> g_histogram_allocator{nullptr};
}  // namespace

PersistentHistogramAllocator::PersistentHistogramAllocator(
    std::unique_ptr<PersistentMemoryAllocator> memory)
    : memory_allocator_(std::move(memory)) {}

PersistentHistogramAllocator::~PersistentHistogramAllocator() = default;

std::unique_ptr<HistogramBase> PersistentHistogramAllocator::AllocateHistogram(
    HistogramType /*histogram_type*/,
    const std::string& /*name*/,
    HistogramBase::Sample /*minimum*/,
    HistogramBase::Sample /*maximum*/,
    const BucketRanges* /*bucket_ranges*/,
    int32_t /*flags*/,
    PersistentMemoryAllocator::Reference* ref_ptr) {
  // Histograms are kept on the heap in this build; callers fall back to it.
  if (ref_ptr)
    *ref_ptr = 0;
  return nullptr;
}

void PersistentHistogramAllocator::FinalizeHistogram(PersistentMemoryAllocator::Reference ref,
                                                     bool registered) {
  if (registered || !memory_allocator_)
    return;
  // The block of a discarded duplicate is given up; its type becomes free.
  const uint32_t type = memory_allocator_->GetType(ref);
  if (type != PersistentMemoryAllocator::kTypeIdFree)
    memory_allocator_->ChangeType(ref, PersistentMemoryAllocator::kTypeIdFree, type, false);
}

// static
GlobalHistogramAllocator* GlobalHistogramAllocator::Get() {
  return g_histogram_allocator.load(std::memory_order_acquire);
}

// static
bool GlobalHistogramAllocator::Set(std::unique_ptr<GlobalHistogramAllocator> allocator) {
  GlobalHistogramAllocator* expected = nullptr;
  if (!g_histogram_allocator.compare_exchange_strong(expected, allocator.get(),
                                                     std::memory_order_acq_rel)) {
    return false;
  }
  // Lives until the process ends: histograms may point into its segment.
  allocator.release();
  return true;
}

void GlobalHistogramAllocator::ImportHistogramsToStatisticsRecorder() {}

}  // namespace base
