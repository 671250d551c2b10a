#include "base/metrics/persistent_memory_allocator.h"

#include <atomic>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <thread>
#include <vector>

#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/platform/windows_types.h"
#include "gtest/gtest.h"
#include "testing/fuzz_scale.h"

namespace base {
namespace {

using Reference = PersistentMemoryAllocator::Reference;

constexpr uint32_t kTypeA = 0x1001;
constexpr uint32_t kTypeB = 0x2002;

// Zeroed, 8-byte aligned memory for a segment.
class SegmentMemory {
 public:
  explicit SegmentMemory(size_t size) : words_(new uint64_t[(size + 7) / 8]()), size_(size) {}
  void* data() { return words_.get(); }
  char* bytes() { return reinterpret_cast<char*>(words_.get()); }
  uint32_t Word(size_t offset) const {
    uint32_t value;
    std::memcpy(&value, reinterpret_cast<const char*>(words_.get()) + offset, 4);
    return value;
  }
  void SetWord(size_t offset, uint32_t value) { std::memcpy(bytes() + offset, &value, 4); }
  size_t size() const { return size_; }

 private:
  std::unique_ptr<uint64_t[]> words_;
  size_t size_;
};

std::vector<Reference> IterateAll(const PersistentMemoryAllocator& allocator) {
  std::vector<Reference> refs;
  PersistentMemoryAllocator::Iterator iter(&allocator);
  uint32_t type;
  while (Reference ref = iter.GetNext(&type))
    refs.push_back(ref);
  return refs;
}

TEST(PersistentMemoryAllocator, FormatsSegmentAndBlockHeadersAtFixedOffsets) {
  SegmentMemory memory(8192);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 4096, 42, "", false);
  ASSERT_FALSE(allocator.IsCorrupt());
  EXPECT_EQ(42u, allocator.Id());
  EXPECT_EQ(0u, memory.Word(36));        // flags
  EXPECT_EQ(64u, memory.Word(40));       // free pointer
  EXPECT_EQ(48u, memory.Word(44));       // tail: the sentinel
  EXPECT_EQ(48u, memory.Word(48 + 12));  // sentinel's next: end of queue

  const Reference ref = allocator.Allocate(20, kTypeA);
  ASSERT_EQ(64u, ref);
  EXPECT_EQ(40u, memory.Word(ref));              // 20 + 16 rounded up to 8
  EXPECT_EQ(0xC8799269u, memory.Word(ref + 4));  // allocated cookie
  EXPECT_EQ(kTypeA, memory.Word(ref + 8));       // type
  EXPECT_EQ(0u, memory.Word(ref + 12));          // not iterable
  EXPECT_EQ(104u, memory.Word(40));

  allocator.MakeIterable(ref);
  EXPECT_EQ(48u, memory.Word(ref + 12));  // last in the queue
  EXPECT_EQ(ref, memory.Word(48 + 12));   // sentinel links it
  EXPECT_EQ(ref, memory.Word(44));        // tail moved
}

TEST(PersistentMemoryAllocator, AllocationSizes) {
  SegmentMemory memory(8192);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 1024, 0, "", false);
  const struct {
    size_t request;
    size_t data_size;  // block size - 16, 0 = refused
  } cases[] = {
      {0, 8},
      {1, 8},
      {8, 8},
      {9, 16},
      {16, 16},
      {17, 24},
      // The largest block is one page.
      {1024 - 16, 1024 - 16},
      {1024 - 15, 0},
      {PersistentMemoryAllocator::kMaxAllocationSize + 1, 0},
      {0xFFFFFFFFu, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    const Reference ref = allocator.Allocate(c.request, kTypeA);
    if (c.data_size == 0) {
      EXPECT_EQ(0u, ref);
      continue;
    }
    ASSERT_NE(0u, ref);
    EXPECT_EQ(c.data_size, allocator.GetAllocSize(ref));
    EXPECT_EQ(kTypeA, allocator.GetType(ref));
  }
  EXPECT_FALSE(allocator.IsCorrupt());
  EXPECT_FALSE(allocator.IsFull());
}

TEST(PersistentMemoryAllocator, BlocksNeverCrossPages) {
  SegmentMemory memory(1024);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 256, 0, "", false);
  // 64 + 160 = 224: 32 bytes left in the first page, enough for a block.
  const Reference a = allocator.Allocate(144, kTypeA);
  ASSERT_EQ(64u, a);
  EXPECT_EQ(144u, allocator.GetAllocSize(a));
  // 24 bytes here would leave 8 bytes before the page end: takes all 32.
  const Reference b = allocator.Allocate(8, kTypeA);
  ASSERT_EQ(224u, b);
  EXPECT_EQ(16u, allocator.GetAllocSize(b));
  // 256 + 200 = 456; a request of 64 (block 80) does not fit the 56 left.
  const Reference c = allocator.Allocate(184, kTypeA);
  ASSERT_EQ(256u, c);
  const Reference d = allocator.Allocate(64, kTypeA);
  EXPECT_EQ(512u, d);
  // The rest of the second page became a wasted block.
  EXPECT_EQ(56u, memory.Word(456));
  EXPECT_EQ(0xFFFFFFFFu, memory.Word(456 + 4));
  EXPECT_EQ(0u, allocator.GetAllocSize(456));
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocator, FullSegmentFailsAndSetsFullFlag) {
  SegmentMemory memory(256);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 0, 0, "", false);
  // 192 bytes after the header: exactly two 96-byte blocks.
  EXPECT_NE(0u, allocator.Allocate(80, kTypeA));
  EXPECT_NE(0u, allocator.Allocate(80, kTypeA));
  EXPECT_FALSE(allocator.IsFull());
  EXPECT_EQ(0u, allocator.Allocate(0, kTypeA));
  EXPECT_TRUE(allocator.IsFull());
  EXPECT_EQ(2u, memory.Word(36) & 3u);
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocator, IterationOrderAndTypes) {
  SegmentMemory memory(4096);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 0, 0, "", false);
  const Reference a = allocator.Allocate(8, kTypeA);
  const Reference b = allocator.Allocate(8, kTypeB);
  const Reference c = allocator.Allocate(8, kTypeA);
  allocator.MakeIterable(c);
  allocator.MakeIterable(a);
  allocator.MakeIterable(c);  // already in the queue: no change
  EXPECT_EQ((std::vector<Reference>{c, a}), IterateAll(allocator));

  PersistentMemoryAllocator::Iterator iter(&allocator);
  EXPECT_EQ(c, iter.GetNextOfType(kTypeA));
  // An iterator at the end picks up blocks appended later.
  EXPECT_EQ(a, iter.GetNextOfType(kTypeA));
  EXPECT_EQ(0u, iter.GetNextOfType(kTypeA));
  allocator.MakeIterable(b);
  uint32_t type = 0;
  EXPECT_EQ(b, iter.GetNext(&type));
  EXPECT_EQ(kTypeB, type);
  iter.Reset();
  EXPECT_EQ(c, iter.GetNext(&type));
}

TEST(PersistentMemoryAllocator, ChangeTypeWithAndWithoutClear) {
  SegmentMemory memory(4096);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 0, 0, "", false);
  const Reference ref = allocator.Allocate(16, kTypeA);
  uint32_t* data = allocator.GetAsArray<uint32_t>(ref, kTypeA, 4);
  ASSERT_NE(nullptr, data);
  data[0] = 7;
  data[3] = 9;
  EXPECT_FALSE(allocator.ChangeType(ref, kTypeB, kTypeB, false));  // wrong from-type
  EXPECT_TRUE(allocator.ChangeType(ref, kTypeB, kTypeA, false));
  EXPECT_EQ(7u, data[0]);
  EXPECT_EQ(nullptr, allocator.GetAsArray<uint32_t>(ref, kTypeA, 4));
  EXPECT_TRUE(allocator.ChangeType(ref, kTypeA, kTypeB, true));
  EXPECT_EQ(0u, data[0]);
  EXPECT_EQ(0u, data[3]);
  EXPECT_EQ(kTypeA, allocator.GetType(ref));
  EXPECT_EQ(ref, allocator.GetAsReference(data, kTypeA));
  EXPECT_EQ(0u, allocator.GetAsReference(data, kTypeB));
  EXPECT_EQ(0u, allocator.GetAsReference(data + 1, kTypeA));
}

TEST(PersistentMemoryAllocator, DelayedAllocationIsSharedThroughItsCell) {
  SegmentMemory memory(4096);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 0, 0, "", false);
  std::atomic<Reference> cell{0};
  DelayedPersistentAllocation first(&allocator, &cell, kTypeA, 32, 8, true);
  DelayedPersistentAllocation second(&allocator, &cell, kTypeA, 32, 8, true);
  EXPECT_EQ(0u, first.reference());
  char* a = static_cast<char*>(first.Get());
  ASSERT_NE(nullptr, a);
  EXPECT_EQ(a, second.Get());
  EXPECT_EQ(cell.load(), first.reference());
  EXPECT_EQ(a - 8, allocator.GetBlockData(cell.load(), kTypeA, 32));
  EXPECT_EQ((std::vector<Reference>{cell.load()}), IterateAll(allocator));
}

// A reference near 2^32 must not wrap past the segment-size checks.
TEST(PersistentMemoryAllocator, HugeReferencesAndSizesAreRejected) {
  SegmentMemory memory(4096);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 0, 0, "", false);
  const Reference ref = allocator.Allocate(16, kTypeA);
  const struct {
    Reference ref;
    size_t size;
  } cases[] = {
      {0xFFFFFFF8u, 0},   {0xFFFFFFF0u, 8},         {0xFFFFFFE8u, 0x20}, {4096, 0}, {4096 - 16, 0},
      {ref, 0xFFFFFFF0u}, {ref, 0xFFFFFFFFu - ref}, {ref, 4096},         {40, 0},   {ref + 4, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.ref << " " << c.size);
    EXPECT_EQ(nullptr, allocator.GetBlockData(c.ref, 0, c.size));
    if (c.size == 0) {
      EXPECT_EQ(0u, allocator.GetAllocSize(c.ref));
    }
  }
  // A block whose stated size would wrap the address space.
  memory.SetWord(ref, 0xFFFFFFF8u);
  EXPECT_EQ(nullptr, allocator.GetBlockData(ref, 0, 0));
  EXPECT_EQ(0u, allocator.GetAllocSize(ref));
  allocator.MakeIterable(ref);
  EXPECT_TRUE(IterateAll(allocator).empty());
}

TEST(PersistentMemoryAllocator, QueueCycleStopsTheTailChase) {
  SegmentMemory memory(4096);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 0, 0, "", false);
  const Reference a = allocator.Allocate(8, kTypeA);
  const Reference b = allocator.Allocate(8, kTypeA);
  const Reference c = allocator.Allocate(8, kTypeA);
  allocator.MakeIterable(a);
  allocator.MakeIterable(b);
  // Another writer of the segment links b back to a: the queue never ends.
  memory.SetWord(b + 12, a);
  allocator.MakeIterable(c);  // must return
  EXPECT_TRUE(allocator.IsCorrupt());
  EXPECT_EQ(1u, memory.Word(36) & 1u);
  // Iteration over the loop ends too, once the count exceeds what fits.
  EXPECT_LE(IterateAll(allocator).size(), 4096u / 24 + 2);
}

TEST(PersistentMemoryAllocator, DirtyHeaderAtAllocationCorruptsAndReportsOnce) {
  auto recorder = StatisticsRecorder::CreateTemporaryForTesting();
  HistogramBase* errors = SparseHistogram::Get("Test.PersistentErrors", 0);
  SegmentMemory memory(4096);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 0, 0, "", false);
  allocator.SetMemoryHistograms(nullptr, errors);
  ASSERT_NE(0u, allocator.Allocate(8, kTypeA));
  memory.SetWord(88 + 8, 0x12345678);  // junk where the next header goes
  EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
  EXPECT_TRUE(allocator.IsCorrupt());
  EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
  allocator.SetCorrupt();
  EXPECT_EQ(1, errors->SnapshotAll()->CountOf(1));
}

// The memory ends right where a header would continue: reading on would hit
// a no-access page and crash.
TEST(PersistentMemoryAllocator, SegmentShorterThanHeaderIsRejectedWithoutReading) {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const size_t page = info.dwPageSize;
  char* region = static_cast<char*>(
      ::VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, region);
  DWORD old_protect;
  ASSERT_TRUE(::VirtualProtect(region + page, page, PAGE_NOACCESS, &old_protect));
  const size_t sizes[] = {0, 8, 56};
  for (size_t size : sizes) {
    SCOPED_TRACE(size);
    void* base = region + page - size;
    EXPECT_FALSE(PersistentMemoryAllocator::IsMemoryAcceptable(base, size, 0, false));
    PersistentMemoryAllocator allocator(base, size, 0, 0, "", false);
    EXPECT_TRUE(allocator.IsCorrupt());
    EXPECT_EQ(0u, allocator.Allocate(8, kTypeA));
    EXPECT_TRUE(IterateAll(allocator).empty());
    EXPECT_EQ(0u, allocator.GetAllocSize(64));
    EXPECT_STREQ("", allocator.Name());
  }
  // One byte short of the header fails; the full header is accepted.
  {
    SegmentMemory memory(64);
    PersistentMemoryAllocator at_limit(memory.data(), 64, 0, 0, "", false);
    EXPECT_FALSE(at_limit.IsCorrupt());
    EXPECT_EQ(0u, at_limit.Allocate(0, kTypeA));
    EXPECT_TRUE(at_limit.IsFull());
  }
  ::VirtualFree(region, 0, MEM_RELEASE);
}

// Fills a segment from `threads` threads; returns the blocks each made.
std::vector<std::vector<Reference>> FillFromThreads(PersistentMemoryAllocator* allocator,
                                                    int threads) {
  std::vector<std::vector<Reference>> made(threads);
  std::vector<std::thread> workers;
  std::atomic<int> ready{0};
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([allocator, t, threads, &made, &ready] {
      // Start together so that the allocations interleave.
      ready.fetch_add(1);
      while (ready.load() < threads)
        std::this_thread::yield();
      for (uint32_t i = 0;; ++i) {
        const size_t size = 8 + (i * 37 + t * 11) % 200;
        const Reference ref = allocator->Allocate(size, kTypeA + t);
        if (!ref)
          return;
        uint32_t* data = allocator->GetAsArray<uint32_t>(ref, kTypeA + t, size / 4);
        for (size_t w = 0; w < size / 4; ++w)
          data[w] = ref ^ static_cast<uint32_t>(w);
        allocator->MakeIterable(ref);
        made[t].push_back(ref);
      }
    });
  }
  for (auto& w : workers)
    w.join();
  return made;
}

TEST(PersistentMemoryAllocator, FourThreadsFillSegmentAndEachBlockIsIteratedOnce) {
  SegmentMemory memory(64 * 1024);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 4096, 0, "", false);
  std::vector<std::vector<Reference>> made = FillFromThreads(&allocator, 4);
  EXPECT_TRUE(allocator.IsFull());
  EXPECT_FALSE(allocator.IsCorrupt());

  std::map<Reference, uint32_t> expected;
  for (int t = 0; t < 4; ++t) {
    for (Reference ref : made[t])
      expected[ref] = kTypeA + t;
  }
  // Four readers share one iterator: together they see every block once.
  PersistentMemoryAllocator::Iterator shared(&allocator);
  std::vector<std::vector<std::pair<Reference, uint32_t>>> seen(4);
  std::vector<std::thread> readers;
  for (int t = 0; t < 4; ++t) {
    readers.emplace_back([&shared, &seen, t] {
      uint32_t type;
      while (Reference ref = shared.GetNext(&type))
        seen[t].push_back({ref, type});
    });
  }
  for (auto& r : readers)
    r.join();
  EXPECT_GT(expected.size(), 64u * 1024 / (16 + 208 + 8));
  std::map<Reference, uint32_t> got;
  for (const auto& list : seen) {
    for (const auto& [ref, type] : list)
      EXPECT_TRUE(got.emplace(ref, type).second) << "seen twice: " << ref;
  }
  EXPECT_EQ(expected, got);
}

TEST(PersistentMemoryAllocator, ReaderDuringAppendsSeesOnlyCompleteBlocks) {
  SegmentMemory memory(32 * 1024);
  PersistentMemoryAllocator allocator(memory.data(), memory.size(), 4096, 0, "", false);
  std::atomic<bool> writers_done{false};
  size_t complete = 0;
  bool all_complete = true;
  std::thread reader([&] {
    PersistentMemoryAllocator::Iterator iter(&allocator);
    while (true) {
      const bool done = writers_done.load();
      uint32_t type;
      while (Reference ref = iter.GetNext(&type)) {
        const size_t words = allocator.GetAllocSize(ref) / 4;
        const uint32_t* data = allocator.GetAsArray<uint32_t>(ref, type, words);
        // Writers fill at least size / 4 words; the first and last filled
        // words must be there once the block is visible.
        if (!data || data[0] != ref)
          all_complete = false;
        ++complete;
      }
      if (done)
        return;
      std::this_thread::yield();
    }
  });
  std::vector<std::vector<Reference>> made = FillFromThreads(&allocator, 2);
  writers_done = true;
  reader.join();
  EXPECT_TRUE(all_complete);
  EXPECT_EQ(made[0].size() + made[1].size(), complete);
  EXPECT_FALSE(allocator.IsCorrupt());
}

TEST(PersistentMemoryAllocator, ReadOnlyCopySeesTheSameBlocksAndWritesNothing) {
  SegmentMemory memory(16 * 1024);
  PersistentMemoryAllocator writer(memory.data(), memory.size(), 4096, 7, "segment", false);
  FillFromThreads(&writer, 2);
  SegmentMemory copy(memory.size());
  std::memcpy(copy.data(), memory.data(), memory.size());

  PersistentMemoryAllocator reader(copy.data(), copy.size(), 0, 0, "", true);
  ASSERT_FALSE(reader.IsCorrupt());
  EXPECT_EQ(7u, reader.Id());
  EXPECT_STREQ("segment", reader.Name());
  const std::vector<Reference> refs = IterateAll(writer);
  ASSERT_EQ(refs, IterateAll(reader));
  for (Reference ref : refs) {
    ASSERT_EQ(writer.GetAllocSize(ref), reader.GetAllocSize(ref));
    ASSERT_EQ(writer.GetType(ref), reader.GetType(ref));
    ASSERT_EQ(0, std::memcmp(writer.GetBlockData(ref, 0, 0), reader.GetBlockData(ref, 0, 0),
                             writer.GetAllocSize(ref)));
  }
  EXPECT_EQ(0u, reader.Allocate(8, kTypeA));
  EXPECT_FALSE(reader.ChangeType(refs[0], kTypeB, reader.GetType(refs[0]), true));
  reader.SetCorrupt();
  EXPECT_TRUE(reader.IsCorrupt());
  EXPECT_EQ(0, std::memcmp(copy.data(), memory.data(), memory.size()));
}

// Random damage to copies of a filled segment: every walk ends within the
// number of blocks the segment can hold, and either the segment is found
// corrupt or the walk returned distinct, valid blocks.
TEST(PersistentMemoryAllocator, FuzzedCopiesNeverCrashOrLoop) {
  constexpr size_t kSize = 8 * 1024;
  SegmentMemory original(kSize);
  {
    PersistentMemoryAllocator writer(original.data(), kSize, 1024, 1, "fuzz", false);
    for (uint32_t i = 0;; ++i) {
      const Reference ref = writer.Allocate(8 + i % 60, kTypeA + i % 3);
      if (!ref)
        break;
      if (i % 4 != 3)
        writer.MakeIterable(ref);
    }
  }
  std::mt19937 random(testing_support::FuzzSeed(20261208));
  int corrupt_count = 0;
  for (int round = 0; round < testing_support::FuzzRounds(300); ++round) {
    SCOPED_TRACE(round);
    SegmentMemory copy(kSize);
    std::memcpy(copy.data(), original.data(), kSize);
    const int flips = 1 + static_cast<int>(random() % 8);
    for (int f = 0; f < flips; ++f) {
      // Half the damage goes to the first kilobyte, where the segment
      // header and the early queue links are.
      const size_t limit = (random() % 2) ? 1024 : kSize;
      copy.bytes()[random() % limit] ^= static_cast<char>(1 + random() % 255);
    }
    size_t length = kSize;
    if (random() % 3 == 0)
      length = (random() % kSize) & ~size_t{7};
    const bool readonly = random() % 2;

    PersistentMemoryAllocator allocator(copy.data(), length, 0, 0, "", readonly);
    std::set<Reference> seen;
    bool duplicate = false;
    bool invalid = false;
    PersistentMemoryAllocator::Iterator iter(&allocator);
    size_t steps = 0;
    uint32_t type;
    while (Reference ref = iter.GetNext(&type)) {
      ASSERT_LE(++steps, kSize / 24 + 2) << "walk does not end";
      duplicate |= !seen.insert(ref).second;
      invalid |= allocator.GetBlockData(ref, 0, 0) == nullptr;
    }
    if (!readonly) {
      // Writing into the damaged copy must stay within it too.
      const Reference ref = allocator.Allocate(16, kTypeB);
      allocator.MakeIterable(ref);
      allocator.ChangeType(ref, kTypeA, kTypeB, true);
    }
    if (allocator.IsCorrupt()) {
      ++corrupt_count;
    } else {
      EXPECT_FALSE(duplicate);
      EXPECT_FALSE(invalid);
    }
  }
  // The damage was real: some rounds must have been caught.
  EXPECT_GT(corrupt_count, 0);
}

}  // namespace
}  // namespace base
