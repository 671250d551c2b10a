#include "base/metrics/persistent_memory_allocator.h"

#include <algorithm>
#include <cstring>

#include "base/logging.h"
#include "base/metrics/histogram_base.h"
#include "base/metrics/persistent_memory_allocator_internal.h"

namespace base {

// Bytes 0-63 of the segment.
struct PersistentMemoryAllocator::SharedMetadata {
  uint32_t cookie;
  uint32_t version;
  uint32_t size;
  uint32_t page_size;
  uint64_t id;
  uint32_t name;
  uint32_t reserved[2];
  std::atomic<uint32_t> flags;
  std::atomic<uint32_t> freeptr;
  std::atomic<uint32_t> tailptr;
  // The queue sentinel; its header is a block header.
  uint32_t queue_size;
  uint32_t queue_cookie;
  std::atomic<uint32_t> queue_type_id;
  std::atomic<uint32_t> queue_next;
};

struct PersistentMemoryAllocator::BlockHeader {
  uint32_t size;
  uint32_t cookie;
  std::atomic<uint32_t> type_id;
  std::atomic<uint32_t> next;
};

namespace {

bool IsPageSizeSane(uint32_t page_size, uint32_t segment_size) {
  return page_size >= PersistentMemoryAllocator::kSegmentHeaderSize &&
         page_size % PersistentMemoryAllocator::kAllocAlignment == 0 && page_size <= segment_size;
}

}  // namespace

// static
bool PersistentMemoryAllocator::IsMemoryAcceptable(const void* base,
                                                   size_t size,
                                                   size_t page_size,
                                                   bool readonly) {
  if (!base || reinterpret_cast<uintptr_t>(base) % kAllocAlignment != 0)
    return false;
  if (size < kSegmentHeaderSize || size > 0xFFFFFFFFu)
    return false;
  const auto* meta = static_cast<const SharedMetadata*>(base);
  if (meta->cookie == 0)
    return !readonly && (page_size == 0 || (page_size % kAllocAlignment == 0 && page_size >= 64));
  return meta->cookie == kGlobalCookie && meta->version == kGlobalVersion && meta->size != 0 &&
         IsPageSizeSane(meta->page_size,
                        std::min<uint32_t>(meta->size, static_cast<uint32_t>(size)));
}

PersistentMemoryAllocator::PersistentMemoryAllocator(void* base,
                                                     size_t size,
                                                     size_t page_size,
                                                     uint64_t id,
                                                     std::string_view name,
                                                     bool readonly)
    : mem_base_(static_cast<char*>(base)),
      mem_size_(static_cast<uint32_t>(std::min<size_t>(size, 0xFFFFFFF8u) & ~size_t{7})),
      mem_page_(0),
      vm_page_size_(static_cast<uint32_t>(internal::PersistentMemoryVmPageSize())),
      readonly_(readonly) {
  static_assert(sizeof(std::atomic<uint32_t>) == 4, "atomics must be plain words");
  static_assert(offsetof(PersistentMemoryAllocator::SharedMetadata, flags) == 36,
                "segment layout is fixed");
  static_assert(offsetof(PersistentMemoryAllocator::SharedMetadata, freeptr) == 40,
                "segment layout is fixed");
  static_assert(offsetof(PersistentMemoryAllocator::SharedMetadata, tailptr) == 44,
                "segment layout is fixed");
  static_assert(offsetof(PersistentMemoryAllocator::SharedMetadata, queue_size) == 48,
                "segment layout is fixed");
  static_assert(sizeof(PersistentMemoryAllocator::SharedMetadata) == 64, "segment layout is fixed");
  static_assert(sizeof(PersistentMemoryAllocator::BlockHeader) == 16, "block layout is fixed");
  if (!base || reinterpret_cast<uintptr_t>(base) % kAllocAlignment != 0 ||
      mem_size_ < kSegmentHeaderSize) {
    // Too short for the header: nothing of it may be read.
    mem_size_ = 0;
    SetCorrupt();
    return;
  }
  usable_ = true;
  SharedMetadata* meta = shared_meta();

  if (meta->cookie == 0) {
    // Fresh memory: format it, unless it is not entirely blank or we may not
    // write it.
    if (readonly || meta->flags.load() != 0 || meta->freeptr.load() != 0 ||
        meta->tailptr.load() != 0 || meta->queue_size != 0 || meta->queue_next.load() != 0) {
      SetCorrupt();
      return;
    }
    uint32_t page = page_size == 0 ? mem_size_ : static_cast<uint32_t>(page_size);
    if (!IsPageSizeSane(page, mem_size_)) {
      SetCorrupt();
      return;
    }
    mem_page_ = page;
    meta->version = kGlobalVersion;
    meta->size = mem_size_;
    meta->page_size = mem_page_;
    meta->id = id;
    meta->queue_size = kBlockHeaderSize;
    meta->queue_cookie = kBlockCookieAllocated;
    meta->queue_type_id.store(0, std::memory_order_relaxed);
    meta->queue_next.store(kReferenceQueue, std::memory_order_relaxed);
    meta->tailptr.store(kReferenceQueue, std::memory_order_relaxed);
    meta->freeptr.store(kSegmentHeaderSize, std::memory_order_release);
    if (!name.empty()) {
      Reference name_ref = Allocate(name.size() + 1, 0);
      if (char* name_cstr = static_cast<char*>(GetBlockData(name_ref, 0, name.size() + 1))) {
        std::memcpy(name_cstr, name.data(), name.size());
        meta->name = name_ref;
      }
    }
    // The cookie goes last: another process attaching sees a whole header.
    std::atomic_ref<uint32_t>(meta->cookie).store(kGlobalCookie, std::memory_order_release);
    return;
  }

  if (meta->cookie != kGlobalCookie || meta->version != kGlobalVersion || meta->size == 0) {
    SetCorrupt();
    return;
  }
  // A segment smaller than the memory uses its own size; a truncated copy
  // keeps the memory's size, and blocks beyond it fail validation.
  if (meta->size < mem_size_)
    mem_size_ = meta->size & ~uint32_t{7};
  if (mem_size_ < kSegmentHeaderSize || !IsPageSizeSane(meta->page_size, meta->size)) {
    SetCorrupt();
    return;
  }
  mem_page_ = meta->page_size;
}

PersistentMemoryAllocator::~PersistentMemoryAllocator() = default;

const PersistentMemoryAllocator::SharedMetadata* PersistentMemoryAllocator::shared_meta() const {
  return reinterpret_cast<const SharedMetadata*>(mem_base_);
}

PersistentMemoryAllocator::SharedMetadata* PersistentMemoryAllocator::shared_meta() {
  return reinterpret_cast<SharedMetadata*>(mem_base_);
}

uint64_t PersistentMemoryAllocator::Id() const {
  return usable_ ? shared_meta()->id : 0;
}

const char* PersistentMemoryAllocator::Name() const {
  if (!usable_)
    return "";
  const Reference name_ref = shared_meta()->name;
  const char* name = static_cast<const char*>(GetBlockData(name_ref, 0, 1));
  if (!name)
    return "";
  // The block may have been overwritten: the text must end inside it.
  const size_t length = GetAllocSize(name_ref);
  if (std::memchr(name, '\0', length) == nullptr)
    return "";
  return name;
}

uint32_t PersistentMemoryAllocator::freeptr() const {
  return usable_ ? shared_meta()->freeptr.load(std::memory_order_acquire) : 0;
}

size_t PersistentMemoryAllocator::used() const {
  return std::min(freeptr(), mem_size_);
}

const volatile PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref,
    uint32_t type_id,
    uint32_t size,
    bool queue_ok,
    bool free_ok) const {
  if (!usable_)
    return nullptr;
  if (ref == kReferenceQueue && queue_ok)
    return reinterpret_cast<const volatile BlockHeader*>(mem_base_ + ref);
  if (ref < kSegmentHeaderSize || ref % kAllocAlignment != 0)
    return nullptr;
  // ref + header + size <= segment size, written so nothing can wrap.
  if (ref >= mem_size_ || kBlockHeaderSize > mem_size_ - ref ||
      size > mem_size_ - ref - kBlockHeaderSize) {
    return nullptr;
  }
  const volatile BlockHeader* block =
      reinterpret_cast<const volatile BlockHeader*>(mem_base_ + ref);
  if (!free_ok) {
    if (block->cookie != kBlockCookieAllocated)
      return nullptr;
    const uint32_t block_size = block->size;
    if (block_size < kBlockHeaderSize || block_size - kBlockHeaderSize < size)
      return nullptr;
    if (block_size > mem_size_ - ref)
      return nullptr;
    if (type_id != kTypeIdAny &&
        const_cast<const BlockHeader*>(block)->type_id.load(std::memory_order_relaxed) != type_id) {
      return nullptr;
    }
  }
  return block;
}

volatile PersistentMemoryAllocator::BlockHeader* PersistentMemoryAllocator::GetBlock(
    Reference ref,
    uint32_t type_id,
    uint32_t size,
    bool queue_ok,
    bool free_ok) {
  return const_cast<volatile BlockHeader*>(
      static_cast<const PersistentMemoryAllocator*>(this)->GetBlock(ref, type_id, size, queue_ok,
                                                                    free_ok));
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Allocate(size_t size,
                                                                         uint32_t type_id) {
  const Reference ref = AllocateImpl(size, type_id);
  // Deferred while this thread holds the sample vectors' counts lock.
  if (allocs_histogram_)
    internal::AddOrDefer(allocs_histogram_, ref ? static_cast<HistogramBase::Sample>(size) : 0);
  return ref;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::AllocateImpl(size_t size,
                                                                             uint32_t type_id) {
  if (readonly_ || !usable_ || size > kMaxAllocationSize)
    return kReferenceNull;
  uint32_t block_size = (static_cast<uint32_t>(size) + kBlockHeaderSize + kAllocAlignment - 1) &
                        ~(kAllocAlignment - 1);
  // Even an empty request gets room for one 8-byte word of data.
  block_size = std::max(block_size, kMinBlockSize);
  if (block_size > mem_page_)
    return kReferenceNull;

  SharedMetadata* meta = shared_meta();
  uint32_t freeptr = meta->freeptr.load(std::memory_order_acquire);
  while (true) {
    if (IsCorrupt())
      return kReferenceNull;
    if (freeptr > mem_size_) {
      SetCorrupt();
      return kReferenceNull;
    }
    if (block_size > mem_size_ - freeptr) {
      meta->flags.fetch_or(kFlagFull, std::memory_order_relaxed);
      return kReferenceNull;
    }
    if (!GetBlock(freeptr, 0, 0, false, true)) {
      SetCorrupt();
      return kReferenceNull;
    }

    const uint32_t page_free = mem_page_ - freeptr % mem_page_;
    if (block_size > page_free) {
      if (page_free <= kBlockHeaderSize) {
        SetCorrupt();
        return kReferenceNull;
      }
      const uint32_t new_freeptr = freeptr + page_free;
      if (meta->freeptr.compare_exchange_strong(freeptr, new_freeptr, std::memory_order_acq_rel)) {
        volatile BlockHeader* wasted = reinterpret_cast<volatile BlockHeader*>(mem_base_ + freeptr);
        wasted->size = page_free;
        wasted->cookie = kBlockCookieWasted;
        freeptr = new_freeptr;
      }
      continue;
    }

    uint32_t size_here = block_size;
    // Too little would be left before the page end to be of use: take it.
    if (page_free - block_size < kMinBlockSize)
      size_here = std::min(page_free, mem_size_ - freeptr);
    const uint32_t new_freeptr = freeptr + size_here;
    if (new_freeptr > mem_size_) {
      SetCorrupt();
      return kReferenceNull;
    }
    if (!meta->freeptr.compare_exchange_strong(freeptr, new_freeptr, std::memory_order_acq_rel))
      continue;

    volatile BlockHeader* block = reinterpret_cast<volatile BlockHeader*>(mem_base_ + freeptr);
    BlockHeader* plain = const_cast<BlockHeader*>(block);
    if (block->size != 0 || block->cookie != kBlockCookieFree ||
        plain->type_id.load(std::memory_order_relaxed) != 0 ||
        plain->next.load(std::memory_order_relaxed) != 0) {
      SetCorrupt();
      return kReferenceNull;
    }
    // Touch every further page the block spans so the memory is committed.
    for (uint32_t page = freeptr / vm_page_size_ + 1;
         page <= (freeptr + size_here - 1) / vm_page_size_; ++page) {
      mem_base_[static_cast<size_t>(page) * vm_page_size_] = 0;
    }
    block->size = size_here;
    block->cookie = kBlockCookieAllocated;
    plain->type_id.store(type_id, std::memory_order_release);
    return freeptr;
  }
}

size_t PersistentMemoryAllocator::GetAllocSize(Reference ref) const {
  const volatile BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block)
    return 0;
  const uint32_t size = block->size;
  if (size <= kBlockHeaderSize || size > mem_size_ - ref) {
    SetCorrupt();
    return 0;
  }
  return size - kBlockHeaderSize;
}

uint32_t PersistentMemoryAllocator::GetType(Reference ref) const {
  const volatile BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block)
    return 0;
  return const_cast<const BlockHeader*>(block)->type_id.load(std::memory_order_acquire);
}

bool PersistentMemoryAllocator::ChangeType(Reference ref,
                                           uint32_t to_type_id,
                                           uint32_t from_type_id,
                                           bool clear) {
  if (readonly_)
    return false;
  volatile BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block)
    return false;
  BlockHeader* plain = const_cast<BlockHeader*>(block);
  uint32_t expected = from_type_id;
  if (!clear)
    return plain->type_id.compare_exchange_strong(expected, to_type_id, std::memory_order_acq_rel);

  if (!plain->type_id.compare_exchange_strong(expected, kTypeIdTransitioning,
                                              std::memory_order_acq_rel)) {
    return false;
  }
  // The size was validated by GetBlock: the data lies within the segment.
  const uint32_t words = (block->size - kBlockHeaderSize) / sizeof(uint32_t);
  auto* data = reinterpret_cast<std::atomic<uint32_t>*>(mem_base_ + ref + kBlockHeaderSize);
  for (uint32_t i = 0; i < words; ++i)
    data[i].store(0, std::memory_order_relaxed);
  if (to_type_id == kTypeIdTransitioning)
    return true;
  expected = kTypeIdTransitioning;
  return plain->type_id.compare_exchange_strong(expected, to_type_id, std::memory_order_acq_rel);
}

void PersistentMemoryAllocator::MakeIterable(Reference ref) {
  if (readonly_ || IsCorrupt())
    return;
  volatile BlockHeader* block = GetBlock(ref, 0, 0, false, false);
  if (!block)
    return;
  uint32_t expected = 0;
  if (!const_cast<BlockHeader*>(block)->next.compare_exchange_strong(expected, kReferenceQueue,
                                                                     std::memory_order_acq_rel)) {
    return;  // Already in the queue.
  }

  SharedMetadata* meta = shared_meta();
  // A queue of more links than the segment has blocks is a loop.
  const uint32_t max_steps = mem_size_ / kMinBlockSize + 1;
  Reference tail = meta->tailptr.load(std::memory_order_acquire);
  for (uint32_t step = 0;; ++step) {
    if (step > max_steps) {
      SetCorrupt();
      return;
    }
    if (IsCorrupt())
      return;
    volatile BlockHeader* tail_block = GetBlock(tail, 0, 0, true, false);
    if (!tail_block) {
      SetCorrupt();
      return;
    }
    expected = kReferenceQueue;
    if (const_cast<BlockHeader*>(tail_block)
            ->next.compare_exchange_strong(expected, ref, std::memory_order_acq_rel)) {
      meta->tailptr.compare_exchange_strong(tail, ref, std::memory_order_acq_rel);
      return;
    }
    // Another appender linked `expected` first: move the tail past it.
    if (meta->tailptr.compare_exchange_strong(tail, expected, std::memory_order_acq_rel))
      tail = expected;
  }
}

void* PersistentMemoryAllocator::GetBlockData(Reference ref, uint32_t type_id, size_t size) const {
  if (size > mem_size_)
    return nullptr;
  const volatile BlockHeader* block =
      GetBlock(ref, type_id, static_cast<uint32_t>(size), false, false);
  if (!block)
    return nullptr;
  return mem_base_ + ref + kBlockHeaderSize;
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::GetAsReference(
    const void* address,
    uint32_t type_id) const {
  if (!usable_)
    return kReferenceNull;
  const char* p = static_cast<const char*>(address);
  if (p < mem_base_ + kSegmentHeaderSize + kBlockHeaderSize || p >= mem_base_ + mem_size_)
    return kReferenceNull;
  const Reference ref = static_cast<Reference>(p - mem_base_) - kBlockHeaderSize;
  return GetBlock(ref, type_id, 0, false, false) ? ref : kReferenceNull;
}

bool PersistentMemoryAllocator::IsCorrupt() const {
  if (corrupt_.load(std::memory_order_relaxed) ||
      (usable_ && (shared_meta()->flags.load(std::memory_order_relaxed) & kFlagCorrupt))) {
    SetCorrupt();
    return true;
  }
  return false;
}

bool PersistentMemoryAllocator::IsFull() const {
  return usable_ && (shared_meta()->flags.load(std::memory_order_relaxed) & kFlagFull);
}

void PersistentMemoryAllocator::SetCorrupt() const {
  const bool was_local = corrupt_.exchange(true, std::memory_order_relaxed);
  const bool was_shared =
      usable_ && (shared_meta()->flags.load(std::memory_order_relaxed) & kFlagCorrupt);
  if (!was_local && !was_shared) {
    LOG(ERROR) << "Corruption detected in shared-memory segment.";
    if (errors_histogram_)
      internal::AddOrDefer(errors_histogram_, 1);
  }
  if (!readonly_ && usable_) {
    const_cast<SharedMetadata*>(shared_meta())
        ->flags.fetch_or(kFlagCorrupt, std::memory_order_relaxed);
  }
}

void PersistentMemoryAllocator::SetMemoryHistograms(HistogramBase* allocs_histogram,
                                                    HistogramBase* errors_histogram) {
  allocs_histogram_ = allocs_histogram;
  errors_histogram_ = errors_histogram;
}

// Iterator ------------------------------------------------------------------

PersistentMemoryAllocator::Iterator::Iterator(const PersistentMemoryAllocator* allocator)
    : allocator_(allocator), last_record_(kReferenceQueue), record_count_(0) {}

PersistentMemoryAllocator::Iterator::Iterator(const PersistentMemoryAllocator* allocator,
                                              Reference starting_after)
    : allocator_(allocator), last_record_(starting_after), record_count_(0) {}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Iterator::GetNext(
    uint32_t* type_return) {
  Reference last = last_record_.load(std::memory_order_acquire);
  while (true) {
    const volatile BlockHeader* block = allocator_->GetBlock(last, 0, 0, true, false);
    if (!block)
      return kReferenceNull;
    const Reference next =
        const_cast<const BlockHeader*>(block)->next.load(std::memory_order_acquire);
    if (next == kReferenceNull || next == kReferenceQueue)
      return kReferenceNull;
    const volatile BlockHeader* next_block = allocator_->GetBlock(next, 0, 0, false, false);
    if (!next_block) {
      allocator_->SetCorrupt();
      return kReferenceNull;
    }
    if (!last_record_.compare_exchange_strong(last, next, std::memory_order_acq_rel))
      continue;  // Another reader took this one; `last` holds where it went.
    if (type_return)
      *type_return =
          const_cast<const BlockHeader*>(next_block)->type_id.load(std::memory_order_acquire);
    const uint32_t max_records =
        std::min(allocator_->freeptr(), allocator_->mem_size_) / kMinBlockSize;
    if (record_count_.load(std::memory_order_relaxed) > max_records) {
      allocator_->SetCorrupt();
      return kReferenceNull;
    }
    record_count_.fetch_add(1, std::memory_order_relaxed);
    return next;
  }
}

PersistentMemoryAllocator::Reference PersistentMemoryAllocator::Iterator::GetNextOfType(
    uint32_t type_match) {
  uint32_t type_found;
  while (Reference ref = GetNext(&type_found)) {
    if (type_found == type_match)
      return ref;
  }
  return kReferenceNull;
}

void PersistentMemoryAllocator::Iterator::Reset() {
  last_record_.store(kReferenceQueue, std::memory_order_release);
  record_count_.store(0, std::memory_order_relaxed);
}

// DelayedPersistentAllocation -----------------------------------------------

DelayedPersistentAllocation::DelayedPersistentAllocation(
    PersistentMemoryAllocator* allocator,
    std::atomic<PersistentMemoryAllocator::Reference>* ref,
    uint32_t type,
    size_t size,
    size_t offset,
    bool make_iterable)
    : allocator_(allocator),
      reference_(ref),
      type_(type),
      size_(static_cast<uint32_t>(size)),
      offset_(static_cast<uint32_t>(offset)),
      make_iterable_(make_iterable) {}

DelayedPersistentAllocation::~DelayedPersistentAllocation() = default;

void* DelayedPersistentAllocation::Get() const {
  PersistentMemoryAllocator::Reference ref = reference_->load(std::memory_order_acquire);
  if (!ref) {
    ref = allocator_->Allocate(size_, type_);
    if (!ref)
      return nullptr;
    PersistentMemoryAllocator::Reference existing = 0;
    if (reference_->compare_exchange_strong(existing, ref, std::memory_order_acq_rel)) {
      if (make_iterable_)
        allocator_->MakeIterable(ref);
    } else {
      // Another user stored its block first; ours is given up.
      allocator_->ChangeType(ref, PersistentMemoryAllocator::kTypeIdFree, type_, false);
      ref = existing;
    }
  }
  char* memory = static_cast<char*>(allocator_->GetBlockData(ref, type_, size_));
  return memory ? memory + offset_ : nullptr;
}

}  // namespace base
