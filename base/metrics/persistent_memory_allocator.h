#ifndef BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
#define BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace base {

class HistogramBase;

// Hands out blocks from one contiguous memory segment (shared memory, a file
// mapping or plain memory) without locks, so that another process, or a
// reader after a crash, can walk what was written. Blocks are never freed,
// only retyped; blocks made iterable form an append-only queue.
//
// Segment layout (little-endian 32-bit words): bytes 0-35 identify the
// segment (cookie, version, size, page size, id, name), 36 flags (bit 0
// corrupt, bit 1 full), 40 free pointer, 44 tail of the iteration queue, 48 a
// 16-byte block header that is the queue's head and tail sentinel. Every
// block starts with a 16-byte header: size, cookie, type id, next.
//
// Every operation is thread-safe and lock-free, also between processes
// sharing the segment. The segment's bytes are untrusted: every reference
// and header is validated, and anything malformed marks the segment corrupt
// (logged once) instead of crashing; operations then answer 0 or null.
class PersistentMemoryAllocator {
 public:
  // Offset of a block's header from the segment start; 0 is none.
  using Reference = uint32_t;

  static constexpr Reference kReferenceNull = 0;
  // The queue sentinel's reference.
  static constexpr Reference kReferenceQueue = 48;
  // The first reference a real block can have.
  static constexpr uint32_t kSegmentHeaderSize = 64;
  static constexpr uint32_t kBlockHeaderSize = 16;
  static constexpr uint32_t kAllocAlignment = 8;
  // The smallest block: a header and 8 bytes of data.
  static constexpr uint32_t kMinBlockSize = 24;
  // Requests above this many bytes always fail.
  static constexpr uint32_t kMaxAllocationSize = 0x3FFFFFF0;

  static constexpr uint32_t kTypeIdAny = 0;
  static constexpr uint32_t kTypeIdFree = 0;
  static constexpr uint32_t kTypeIdTransitioning = 0xFFFFFFFF;

  static constexpr uint32_t kBlockCookieFree = 0;
  static constexpr uint32_t kBlockCookieAllocated = 0xC8799269;
  static constexpr uint32_t kBlockCookieWasted = 0xFFFFFFFF;

  // Identifies a segment this allocator formatted.
  static constexpr uint32_t kGlobalCookie = 0x50A4D3E1;
  static constexpr uint32_t kGlobalVersion = 2;

  enum : uint32_t { kFlagCorrupt = 1u << 0, kFlagFull = 1u << 1 };

  // Walks the iteration queue. Several threads may share one iterator; each
  // block is then returned to exactly one of them. The allocator must
  // outlive the iterator.
  class Iterator {
   public:
    explicit Iterator(const PersistentMemoryAllocator* allocator);
    // Starts after `starting_after` (a reference returned by an earlier walk).
    Iterator(const PersistentMemoryAllocator* allocator, Reference starting_after);
    Iterator(const Iterator&) = delete;
    Iterator& operator=(const Iterator&) = delete;

    // The next iterable block and its type in `*type_return`, or 0 at the
    // end of the queue (a later call may find blocks appended since). A
    // malformed queue (bad link, loop) marks the segment corrupt and ends.
    Reference GetNext(uint32_t* type_return);
    // The next iterable block of type `type_match`, or 0.
    Reference GetNextOfType(uint32_t type_match);
    // Starts again from the head of the queue.
    void Reset();
    // The last reference handed out (48 before the first).
    Reference GetLast() const { return last_record_.load(std::memory_order_acquire); }

   private:
    const PersistentMemoryAllocator* const allocator_;
    std::atomic<Reference> last_record_;
    std::atomic<uint32_t> record_count_;
  };
  using AllocationIterator = Iterator;

  // Manages the segment of `size` bytes at `base`, which must be 8-byte
  // aligned and outlive the allocator; the allocator owns nothing. Zeroed
  // memory that is writable is formatted as a new segment with `id`, `name`
  // and `page_size` (0: the whole segment is one page; otherwise a multiple
  // of 8 that no block crosses). Memory holding a segment is attached as is.
  // A segment shorter than its 64-byte header, or whose identity or
  // pointers do not make sense, is corrupt from the start: nothing more is
  // read and every operation answers 0 or null.
  PersistentMemoryAllocator(void* base,
                            size_t size,
                            size_t page_size,
                            uint64_t id,
                            std::string_view name,
                            bool readonly);
  PersistentMemoryAllocator(const PersistentMemoryAllocator&) = delete;
  PersistentMemoryAllocator& operator=(const PersistentMemoryAllocator&) = delete;
  virtual ~PersistentMemoryAllocator();

  // True when `size` bytes at `base` could hold a segment made by this
  // allocator (right cookie and a sane header). Reads only within `size`.
  static bool IsMemoryAcceptable(const void* base, size_t size, size_t page_size, bool readonly);

  uint64_t Id() const;
  // The segment's name ("" if none or unreadable).
  const char* Name() const;
  size_t size() const { return mem_size_; }
  bool IsReadonly() const { return readonly_; }
  // The number of bytes allocated so far (the free pointer, capped at size).
  size_t used() const;

  // A new block of at least `size` bytes of type `type_id`, zero-filled (the
  // segment is zero to begin with and blocks are never reused), or 0 when
  // the segment is full, corrupt, read-only or the size is too large. 0 to 8
  // bytes give the smallest (24-byte) block.
  [[nodiscard]] Reference Allocate(size_t size, uint32_t type_id);

  // The data bytes of a block (its size less the header), or 0 when the
  // reference is not a valid block.
  size_t GetAllocSize(Reference ref) const;

  // The type of a block, or 0 when the reference is not a valid block.
  uint32_t GetType(Reference ref) const;

  // Retypes a block from `from_type_id` to `to_type_id` in one atomic step.
  // With `clear`, the data is zeroed in between (the type reads
  // kTypeIdTransitioning meanwhile). False when the block is invalid or its
  // type was not `from_type_id`.
  bool ChangeType(Reference ref, uint32_t to_type_id, uint32_t from_type_id, bool clear);

  // Appends a block to the iteration queue. Nothing when it already is in
  // it, invalid, or the segment is corrupt.
  void MakeIterable(Reference ref);

  // The data of block `ref` when it is valid, of type `type_id` (0: any) and
  // holds at least `size` bytes; otherwise null.
  void* GetBlockData(Reference ref, uint32_t type_id, size_t size) const;
  template <typename T>
  T* GetAsObject(Reference ref, uint32_t type_id) const {
    return static_cast<T*>(GetBlockData(ref, type_id, sizeof(T)));
  }
  template <typename T>
  T* GetAsArray(Reference ref, uint32_t type_id, size_t count) const {
    if (count > kMaxAllocationSize / sizeof(T))
      return nullptr;
    return static_cast<T*>(GetBlockData(ref, type_id, count * sizeof(T)));
  }

  // The reference of the block whose data starts at `address`, when that is
  // a valid block of `type_id` (0: any); otherwise 0.
  Reference GetAsReference(const void* address, uint32_t type_id) const;

  // True once corruption was found here or by any user of the segment.
  bool IsCorrupt() const;
  // True once an allocation failed for lack of space.
  bool IsFull() const;
  // Marks the segment corrupt: logs "Corruption detected in shared-memory
  // segment." and records in the error histogram the first time.
  void SetCorrupt() const;

  // Optional histograms that receive the size of each allocation (0 on
  // failure) and a 1 for each corruption found. Not owned. What arises while
  // the thread holds the sample vectors' counts lock (allocating counts) is
  // recorded once the lock is released.
  void SetMemoryHistograms(HistogramBase* allocs_histogram, HistogramBase* errors_histogram);

  // The segment base, for tests and readers that copy it.
  const void* data() const { return mem_base_; }

 private:
  struct SharedMetadata;
  struct BlockHeader;

  const SharedMetadata* shared_meta() const;
  SharedMetadata* shared_meta();
  // The header of block `ref` after validation, or null. `queue_ok` accepts
  // the sentinel, `free_ok` skips the allocated-cookie and type checks.
  const volatile BlockHeader* GetBlock(Reference ref,
                                       uint32_t type_id,
                                       uint32_t size,
                                       bool queue_ok,
                                       bool free_ok) const;
  volatile BlockHeader* GetBlock(Reference ref,
                                 uint32_t type_id,
                                 uint32_t size,
                                 bool queue_ok,
                                 bool free_ok);
  Reference AllocateImpl(size_t size, uint32_t type_id);
  uint32_t freeptr() const;

  char* const mem_base_;
  // The usable length: the memory given, or the smaller size the segment
  // header states.
  uint32_t mem_size_;
  // False when the memory cannot even hold the segment header; nothing is
  // then read or written.
  bool usable_ = false;
  uint32_t mem_page_;
  const uint32_t vm_page_size_;
  const bool readonly_;
  mutable std::atomic<bool> corrupt_{false};
  HistogramBase* allocs_histogram_ = nullptr;
  HistogramBase* errors_histogram_ = nullptr;
};

// A block allocated on first use: the reference lives in a shared atomic cell
// (typically inside another persistent block), so every user of the segment
// ends up with the same block. Thread-safe.
class DelayedPersistentAllocation {
 public:
  // `ref` is the cell holding the reference once allocated (not owned);
  // `offset` is added to the block's data address by Get().
  DelayedPersistentAllocation(PersistentMemoryAllocator* allocator,
                              std::atomic<PersistentMemoryAllocator::Reference>* ref,
                              uint32_t type,
                              size_t size,
                              size_t offset = 0,
                              bool make_iterable = false);
  ~DelayedPersistentAllocation();

  // The data address (plus offset), allocating the block if needed; null when
  // allocation fails or the stored block does not validate. When two threads
  // race, the loser's block is retyped free and both use the winner's.
  void* Get() const;
  // The reference in the cell, 0 while not allocated.
  PersistentMemoryAllocator::Reference reference() const {
    return reference_->load(std::memory_order_acquire);
  }

 private:
  PersistentMemoryAllocator* const allocator_;
  std::atomic<PersistentMemoryAllocator::Reference>* const reference_;
  const uint32_t type_;
  const uint32_t size_;
  const uint32_t offset_;
  const bool make_iterable_;
};

}  // namespace base

#endif  // BASE_METRICS_PERSISTENT_MEMORY_ALLOCATOR_H_
