#include "base/metrics/sample_vector.h"

#include <atomic>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <future>
#include <latch>
#include <memory>
#include <thread>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/sample_map.h"
#include "base/pickle.h"
#include "gtest/gtest.h"

namespace base {
namespace {

// Boundaries 0, 1, 5, 10, 20, 50, INT_MAX: buckets of different widths.
std::unique_ptr<BucketRanges> MakeTestRanges() {
  const HistogramBase::Sample entries[] = {0, 1, 5, 10, 20, 50, INT_MAX};
  auto ranges = std::make_unique<BucketRanges>(std::size(entries));
  for (size_t i = 0; i < std::size(entries); ++i)
    ranges->SetRange(i, entries[i]);
  ranges->UpdateChecksum();
  return ranges;
}

// Exposes the single-sample state for the tests.
class TestSampleVector : public SampleVector {
 public:
  using SampleVector::SampleVector;
  using SampleVectorBase::HasCounts;
  SingleSample single() const {
    return const_cast<TestSampleVector*>(this)->single_sample().Load();
  }
  bool single_disabled() const {
    return const_cast<TestSampleVector*>(this)->single_sample().IsDisabled();
  }
};

std::vector<HistogramBase::Count> AllCounts(const SampleVectorBase& samples) {
  std::vector<HistogramBase::Count> counts;
  for (size_t i = 0; i < samples.bucket_ranges()->bucket_count(); ++i)
    counts.push_back(samples.CountAtIndex(i));
  return counts;
}

TEST(SampleVector, New_IsEmptyAndSerializesAsZeros) {
  auto ranges = MakeTestRanges();
  TestSampleVector samples(1, ranges.get());
  EXPECT_EQ(0, samples.SampleCount());
  for (HistogramBase::Sample v : {0, 1, 4, 49, 50, INT_MAX - 1})
    EXPECT_EQ(0, samples.CountOf(v)) << v;
  EXPECT_TRUE(samples.MakeIterator()->AtEnd());
  Pickle pickle;
  samples.WriteToPickle(&pickle);
  PickleIterator iter(pickle);
  int64_t sum;
  int count;
  ASSERT_TRUE(iter.ReadInt64(&sum));
  ASSERT_TRUE(iter.ReadInt(&count));
  EXPECT_EQ(0, sum);
  EXPECT_EQ(0, count);
  EXPECT_TRUE(iter.ReachedEnd());
}

TEST(SampleVector, Tally_EachBoundaryLandsInItsOwnBucket) {
  auto ranges = MakeTestRanges();
  struct {
    HistogramBase::Sample value;
    size_t bucket;
  } cases[] = {
      {0, 0},  {1, 1},  {4, 1},  {5, 2},  {9, 2},           {10, 3},
      {19, 3}, {20, 4}, {49, 4}, {50, 5}, {INT_MAX - 1, 5},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    SampleVector samples(ranges.get());
    samples.Tally(c.value, 1);
    std::vector<HistogramBase::Count> expected(6, 0);
    expected[c.bucket] = 1;
    EXPECT_EQ(expected, AllCounts(samples));
    EXPECT_EQ(1, samples.CountOf(ranges->range(c.bucket)));
  }
}

TEST(SampleVector, SingleSample_PromotesToCounts) {
  auto ranges = MakeTestRanges();
  TestSampleVector samples(1, ranges.get());
  for (int i = 0; i < 3; ++i)
    samples.Tally(7, 1);
  EXPECT_FALSE(samples.HasCounts());
  EXPECT_EQ(2u, samples.single().bucket);
  EXPECT_EQ(3u, samples.single().count);
  EXPECT_EQ(21, samples.sum());
  EXPECT_EQ(3, samples.redundant_count());
  EXPECT_EQ(3, samples.SampleCount());

  // A sample of another bucket mounts the counts and moves the 3 into them.
  samples.Tally(30, 1);
  EXPECT_TRUE(samples.HasCounts());
  EXPECT_TRUE(samples.single_disabled());
  EXPECT_EQ((std::vector<HistogramBase::Count>{0, 0, 3, 0, 1, 0}), AllCounts(samples));
  EXPECT_EQ(51, samples.sum());
  EXPECT_EQ(4, samples.redundant_count());

  // A count that does not fit in 16 bits goes straight to counts; one that
  // does (65535) stays single.
  TestSampleVector big(2, ranges.get());
  big.Tally(3, 70000);
  EXPECT_TRUE(big.HasCounts());
  EXPECT_EQ(70000, big.CountOf(3));
  TestSampleVector limit(3, ranges.get());
  limit.Tally(3, 65535);
  EXPECT_FALSE(limit.HasCounts());
  limit.Tally(3, 1);
  EXPECT_TRUE(limit.HasCounts());
  EXPECT_EQ(65536, limit.CountOf(3));
}

TEST(SampleVector, Sum_GoesPast32Bits) {
  auto ranges = MakeTestRanges();
  SampleVector samples(ranges.get());
  samples.Tally(2000000000, 3);
  samples.Tally(INT_MAX - 1, 2);
  EXPECT_EQ(6000000000LL + 2LL * (INT_MAX - 1), samples.sum());
  SampleMap map;
  map.Tally(INT_MAX, 4);
  map.Tally(-2000000000, 1);
  EXPECT_EQ(4LL * INT_MAX - 2000000000LL, map.sum());
}

TEST(SampleVector, MergeAndDeduct_RoundTrip) {
  auto ranges = MakeTestRanges();
  SampleVector source(ranges.get());
  source.Tally(0, 2);
  source.Tally(6, 3);
  source.Tally(60, 5);
  SampleVector destination(ranges.get());
  destination.Tally(12, 1);
  destination.Merge(source);
  EXPECT_EQ((std::vector<HistogramBase::Count>{2, 0, 3, 1, 0, 5}), AllCounts(destination));
  EXPECT_EQ(11, destination.redundant_count());
  EXPECT_EQ(12 + 18 + 300, destination.sum());
  destination.Deduct(source);
  EXPECT_EQ((std::vector<HistogramBase::Count>{0, 0, 0, 1, 0, 0}), AllCounts(destination));
  EXPECT_EQ(1, destination.redundant_count());
  EXPECT_EQ(12, destination.sum());

  // One entry merged into an empty vector stays in the single-sample word.
  SampleVector one(ranges.get());
  one.Tally(7, 4);
  TestSampleVector single(ranges.get());
  single.Merge(one);
  EXPECT_FALSE(single.HasCounts());
  EXPECT_EQ(4, single.CountOf(7));
}

TEST(SampleVector, ApplyIterator_RefusesForeignBuckets) {
  auto ranges = MakeTestRanges();
  // Same starts for buckets 0 and 1 but another upper boundary for bucket 1.
  const HistogramBase::Sample other_entries[] = {0, 1, 6, INT_MAX};
  BucketRanges other_ranges(std::size(other_entries));
  for (size_t i = 0; i < std::size(other_entries); ++i)
    other_ranges.SetRange(i, other_entries[i]);
  other_ranges.UpdateChecksum();

  struct {
    const char* name;
    std::vector<HistogramBase::Sample> values;  // tallied into the foreign vector
  } cases[] = {
      {"single entry", {2}},
      {"several entries", {2, 7}},
      {"counts mounted, one entry", {2, 2}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    SampleVector foreign(&other_ranges);
    for (HistogramBase::Sample v : c.values)
      foreign.Tally(v, 1);
    TestSampleVector destination(ranges.get());
    std::unique_ptr<SampleCountIterator> it = foreign.MakeIterator();
    EXPECT_FALSE(destination.ApplyIterator(it.get(), HistogramSamples::kAdd));
    // A refused single entry leaves nothing behind.
    if (c.values.size() == 1) {
      EXPECT_EQ(0, destination.SampleCount());
      EXPECT_FALSE(destination.HasCounts());
    }
  }
  // Entries one value wide from a map fit only buckets one value wide.
  SampleMap map;
  map.Tally(0, 2);
  TestSampleVector destination(ranges.get());
  EXPECT_TRUE(destination.ApplyIterator(map.MakeIterator().get(), HistogramSamples::kAdd));
  EXPECT_EQ(2, destination.CountOf(0));
  map.Tally(7, 1);
  EXPECT_FALSE(destination.ApplyIterator(map.MakeIterator().get(), HistogramSamples::kAdd));
}

Pickle SamplePickle(int64_t sum, int count, const std::vector<std::vector<int64_t>>& entries) {
  Pickle pickle;
  pickle.WriteInt64(sum);
  pickle.WriteInt(count);
  for (const auto& e : entries) {
    pickle.WriteInt(static_cast<int>(e[0]));
    pickle.WriteInt64(e[1]);
    pickle.WriteInt(static_cast<int>(e[2]));
  }
  return pickle;
}

TEST(SampleVector, MergeFromPickle) {
  auto ranges = MakeTestRanges();
  struct {
    const char* name;
    std::vector<std::vector<int64_t>> entries;
    size_t cut_bytes;  // removed from the end of the payload
    bool ok;
    std::vector<HistogramBase::Count> counts;
  } cases[] = {
      {"two entries", {{1, 5, 2}, {10, 20, 3}}, 0, true, {0, 2, 0, 3, 0, 0}},
      {"one entry", {{50, INT_MAX, 4}}, 0, true, {0, 0, 0, 0, 0, 4}},
      {"truncated third", {{1, 5, 2}, {10, 20, 3}, {20, 50, 9}}, 1, false, {0, 2, 0, 3, 0, 0}},
      {"third without count", {{1, 5, 2}, {10, 20, 3}, {20, 50, 9}}, 4, false, {0, 2, 0, 3, 0, 0}},
      {"minimum below the ranges", {{-5, 1, 1}}, 0, false, {0, 0, 0, 0, 0, 0}},
      {"minimum at the top boundary", {{INT_MAX, 1LL << 31, 1}}, 0, false, {0, 0, 0, 0, 0, 0}},
      {"minimum inside a bucket", {{6, 10, 1}}, 0, false, {0, 0, 0, 0, 0, 0}},
      {"wrong maximum", {{1, 6, 1}}, 0, false, {0, 0, 0, 0, 0, 0}},
      {"bad second entry", {{1, 5, 2}, {-1, 0, 1}}, 0, false, {0, 2, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Pickle full = SamplePickle(77, 5, c.entries);
    std::vector<char> bytes(static_cast<const char*>(full.data()),
                            static_cast<const char*>(full.data()) + full.size() - c.cut_bytes);
    uint32_t payload = static_cast<uint32_t>(full.payload_size() - c.cut_bytes);
    std::memcpy(bytes.data(), &payload, sizeof(payload));
    Pickle pickle(bytes.data(), bytes.size());
    PickleIterator iter(pickle);
    SampleVector samples(ranges.get());
    EXPECT_EQ(c.ok, samples.MergeFromPickle(&iter));
    EXPECT_EQ(c.counts, AllCounts(samples));
    EXPECT_EQ(77, samples.sum());
    EXPECT_EQ(5, samples.redundant_count());
  }
  // Too short for the sum and count: nothing is added.
  Pickle tiny;
  tiny.WriteInt(1);
  PickleIterator iter(tiny);
  SampleVector samples(ranges.get());
  EXPECT_FALSE(samples.MergeFromPickle(&iter));
  EXPECT_EQ(0, samples.sum());
}

TEST(SampleVector, Pickle_RoundTripEqualsTheSource) {
  auto ranges = MakeTestRanges();
  SampleVector source(ranges.get());
  source.Tally(0, 1);
  source.Tally(12, 7);
  source.Tally(1000, 2);
  Pickle pickle;
  source.WriteToPickle(&pickle);
  PickleIterator iter(pickle);
  SampleVector copy(ranges.get());
  ASSERT_TRUE(copy.MergeFromPickle(&iter));
  EXPECT_EQ(AllCounts(source), AllCounts(copy));
  EXPECT_EQ(source.sum(), copy.sum());
  EXPECT_EQ(source.redundant_count(), copy.redundant_count());
}

// Many threads record into one vector that starts in the single-sample state;
// the result must equal the same samples recorded serially.
TEST(SampleVector, ConcurrentTally_LosesNoCountAcrossPromotion) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 20;
  constexpr int kPerThreadPerRound = 50000;  // 8 x 1,000,000 samples in all
  auto ranges = MakeTestRanges();
  auto value_for = [](int thread, int i) {
    // All threads share bucket 1 first (the single-sample word), then spread.
    return i < kPerThreadPerRound / 2 ? 2 : (thread * 7 + i) % 60;
  };

  SampleVector oracle(ranges.get());
  for (int t = 0; t < kThreads; ++t)
    for (int i = 0; i < kPerThreadPerRound; ++i)
      oracle.Tally(value_for(t, i), 1);

  for (int round = 0; round < kRounds; ++round) {
    SCOPED_TRACE(round);
    SampleVector shared(ranges.get());
    std::latch start(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&, t] {
        start.arrive_and_wait();
        for (int i = 0; i < kPerThreadPerRound; ++i)
          shared.Tally(value_for(t, i), 1);
      });
    }
    for (auto& thread : threads)
      thread.join();
    ASSERT_EQ(AllCounts(oracle), AllCounts(shared));
    ASSERT_EQ(oracle.SampleCount(), shared.SampleCount());
    ASSERT_EQ(oracle.redundant_count(), shared.redundant_count());
    ASSERT_EQ(oracle.sum(), shared.sum());
  }
}

TEST(PersistentSampleVector, CountsLiveInTheSegmentOrFallBackToTheHeap) {
  auto ranges = MakeTestRanges();
  struct {
    const char* name;
    size_t segment_size;
    bool in_segment;
  } cases[] = {
      {"room for the counts", 4096, true},
      {"segment too small", 64 + 48, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint64_t> memory(c.segment_size / 8, 0);
    PersistentMemoryAllocator allocator(memory.data(), c.segment_size, 0, 1, "", false);
    PersistentMemoryAllocator::Reference meta_ref = allocator.Allocate(sizeof(SamplesMetadata), 1);
    ASSERT_NE(0u, meta_ref);
    auto* meta = allocator.GetAsObject<SamplesMetadata>(meta_ref, 1);
    ASSERT_TRUE(meta);
    std::atomic<PersistentMemoryAllocator::Reference> counts_ref{0};
    DelayedPersistentAllocation counts(&allocator, &counts_ref, 2,
                                       ranges->bucket_count() * sizeof(HistogramBase::Count));
    PersistentSampleVector samples(99, ranges.get(), meta, counts);
    EXPECT_EQ(99u, meta->id.load());
    samples.Tally(3, 2);
    EXPECT_EQ(0u, counts_ref.load());  // still in the single-sample word
    samples.Tally(30, 1);
    EXPECT_EQ(c.in_segment, counts_ref.load() != 0);
    EXPECT_EQ(2, samples.CountOf(3));
    EXPECT_EQ(1, samples.CountOf(30));
    EXPECT_EQ(3, meta->redundant_count.load());
    EXPECT_EQ(36, meta->sum.load());
    if (c.in_segment) {
      // A second view over the same records sees the same counts.
      PersistentSampleVector view(0, ranges.get(), meta, counts);
      EXPECT_EQ(99u, view.id());
      EXPECT_EQ(2, view.CountOf(3));
      EXPECT_EQ(3, view.SampleCount());
    }
  }
}

// The allocator records each allocation's size into its histogram. A vector's
// counts are allocated under the process-wide counts lock; when that histogram
// still keeps its one sample in the single-sample word and the size falls into
// another bucket, recording mounts counts too, which needs the same lock. The
// size is recorded once the lock is free, so the mount finishes. In a child
// with a time limit, so that a hang cannot stall the suite.
TEST(PersistentSampleVectorDeathTest, CountsMountedUnderTheLockRecordTheirSizeAfterIt) {
  EXPECT_EXIT(
      {
        auto ranges = MakeTestRanges();
        Histogram sizes(InternName("Test.AllocationSizes"), ranges.get());
        sizes.Add(3);  // the single-sample word holds bucket [1, 5)
        std::vector<uint64_t> memory(4096 / 8, 0);
        PersistentMemoryAllocator allocator(memory.data(), 4096, 0, 1, "", false);
        allocator.SetMemoryHistograms(&sizes, nullptr);
        const int counts_size =
            static_cast<int>(ranges->bucket_count() * sizeof(HistogramBase::Count));  // [20, 50)
        std::atomic<PersistentMemoryAllocator::Reference> counts_ref{0};
        DelayedPersistentAllocation counts(&allocator, &counts_ref, 2, counts_size);
        LocalMetadata meta;
        PersistentSampleVector samples(7, ranges.get(), &meta, counts);
        std::promise<void> mounted;
        std::thread recorder([&] {
          samples.Tally(3, 1);
          samples.Tally(30, 1);  // a second bucket: mounts the counts
          mounted.set_value();
        });
        if (mounted.get_future().wait_for(std::chrono::seconds(30)) != std::future_status::ready)
          std::_Exit(2);  // hung; ending the process ends the stuck thread
        recorder.join();
        // The same samples as without the lock: the earlier 3, then the size.
        std::unique_ptr<HistogramSamples> recorded = sizes.SnapshotAll();
        const bool ok = counts_ref.load() != 0 && samples.CountOf(3) == 1 &&
                        samples.CountOf(30) == 1 && recorded->SampleCount() == 2 &&
                        recorded->CountOf(3) == 1 && recorded->CountOf(counts_size) == 1;
        std::_Exit(ok ? 0 : 1);
      },
      testing::ExitedWithCode(0), "");
}

TEST(SampleVectorDeathTest, OutOfRangeValuesAreFatal) {
  auto ranges = MakeTestRanges();
  SampleVector samples(ranges.get());
  EXPECT_DEATH(samples.Tally(-1, 1), "Check failed: value >= bucket_ranges_->range\\(0\\)");
  EXPECT_DEATH(samples.CountOf(INT_MAX),
               "Check failed: value < bucket_ranges_->range\\(bucket_count\\)");
  BucketRanges no_buckets(1);
  EXPECT_DEATH({ SampleVector v(&no_buckets); },
               "Check failed: bucket_ranges_->bucket_count\\(\\) >= 1u");
}

}  // namespace
}  // namespace base
