#include "base/metrics/persistent_sample_map.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "base/metrics/histogram_base.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class PersistentSampleMapTest : public testing::Test {
 protected:
  explicit PersistentSampleMapTest(size_t size = 16 * 1024)
      : words_(size / 8), allocator_(words_.data(), size, 0, 0, "", false) {}

  PersistentMemoryAllocator* allocator() { return &allocator_; }

 private:
  std::vector<uint64_t> words_;
  PersistentMemoryAllocator allocator_;
};

TEST_F(PersistentSampleMapTest, CountsLiveInIterableRecords) {
  LocalMetadata meta;
  PersistentSampleMap map(0x1234, allocator(), &meta);
  map.Tally(5, 2);
  map.Tally(-7, 1);
  map.Tally(5, 1);
  EXPECT_EQ(3, map.CountOf(5));
  EXPECT_EQ(1, map.CountOf(-7));
  EXPECT_EQ(0, map.CountOf(6));
  EXPECT_EQ(4, map.SampleCount());
  EXPECT_EQ(15 - 7, map.sum());

  // One record per value, found by any reader of the segment.
  PersistentMemoryAllocator::Iterator iter(allocator());
  std::vector<std::pair<HistogramBase::Sample, HistogramBase::Count>> records;
  while (auto ref = iter.GetNextOfType(kSampleRecordTypeId)) {
    const SampleRecord* record = allocator()->GetAsObject<SampleRecord>(ref, kSampleRecordTypeId);
    ASSERT_NE(nullptr, record);
    EXPECT_EQ(0x1234u, record->id);
    records.push_back({record->value, record->count.load()});
  }
  EXPECT_EQ((std::vector<std::pair<HistogramBase::Sample, HistogramBase::Count>>{{5, 3}, {-7, 1}}),
            records);
}

TEST_F(PersistentSampleMapTest, TwoMapsOfOneIdShareTheirCells) {
  LocalMetadata meta_a, meta_b, meta_other;
  PersistentSampleMap a(77, allocator(), &meta_a);
  PersistentSampleMap b(77, allocator(), &meta_b);
  PersistentSampleMap other(78, allocator(), &meta_other);
  a.Tally(1, 4);
  EXPECT_EQ(4, b.CountOf(1));
  b.Tally(1, 1);
  b.Tally(2, 6);
  EXPECT_EQ(5, a.CountOf(1));
  EXPECT_EQ(6, a.CountOf(2));  // made by b after a's last walk
  EXPECT_EQ(0, other.CountOf(1));
  EXPECT_EQ(0, other.SampleCount());

  SampleMap copy(77);
  copy.Merge(a);
  EXPECT_EQ(5, copy.CountOf(1));
  EXPECT_EQ(6, copy.CountOf(2));
}

TEST_F(PersistentSampleMapTest, ApplyIteratorNeedsUnitWideEntries) {
  LocalMetadata meta;
  PersistentSampleMap map(1, allocator(), &meta);
  SingleSampleIterator unit(10, 11, 3);
  EXPECT_TRUE(map.ApplyIterator(&unit, HistogramSamples::kAdd));
  SingleSampleIterator wide(10, 12, 3);
  EXPECT_FALSE(map.ApplyIterator(&wide, HistogramSamples::kAdd));
  SingleSampleIterator back(10, 11, 1);
  EXPECT_TRUE(map.ApplyIterator(&back, HistogramSamples::kSubtract));
  EXPECT_EQ(2, map.CountOf(10));
  // The largest value is one wide in 64 bits.
  SingleSampleIterator top(2147483647, 2147483648ll, 1);
  EXPECT_TRUE(map.ApplyIterator(&top, HistogramSamples::kAdd));
  EXPECT_EQ(1, map.CountOf(2147483647));
}

TEST_F(PersistentSampleMapTest, CountsWrapAsSampleMapCountsDo) {
  LocalMetadata meta;
  PersistentSampleMap persistent(3, allocator(), &meta);
  SampleMap local(3);
  const struct {
    HistogramBase::Sample value;
    HistogramBase::Count count;
    HistogramSamples::Operator op;
  } steps[] = {
      {1, INT32_MAX, HistogramSamples::kAdd},
      {2, 1, HistogramSamples::kAdd},               // the total passes INT32_MAX
      {3, INT32_MIN, HistogramSamples::kSubtract},  // its negation is itself
      {1, 1, HistogramSamples::kAdd},               // a count passes INT32_MAX
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(testing::Message() << step.value << " " << step.count);
    SingleSampleIterator to_persistent(step.value, step.value + 1, step.count);
    SingleSampleIterator to_local(step.value, step.value + 1, step.count);
    ASSERT_TRUE(persistent.ApplyIterator(&to_persistent, step.op));
    ASSERT_TRUE(local.ApplyIterator(&to_local, step.op));
    EXPECT_EQ(local.SampleCount(), persistent.SampleCount());
    for (HistogramBase::Sample value : {1, 2, 3})
      EXPECT_EQ(local.CountOf(value), persistent.CountOf(value));
  }
}

class SmallSegmentSampleMapTest : public PersistentSampleMapTest {
 protected:
  SmallSegmentSampleMapTest() : PersistentSampleMapTest(64 + 3 * 32) {}
};

TEST_F(SmallSegmentSampleMapTest, FullSegmentFallsBackToHeapCounts) {
  LocalMetadata meta;
  PersistentSampleMap map(9, allocator(), &meta);
  for (int v = 0; v < 6; ++v)
    map.Tally(v, v + 1);
  EXPECT_TRUE(allocator()->IsFull());
  for (int v = 0; v < 6; ++v) {
    SCOPED_TRACE(v);
    EXPECT_EQ(v + 1, map.CountOf(v));
  }
  EXPECT_EQ(21, map.SampleCount());
}

TEST_F(PersistentSampleMapTest, PersistentSparseHistogramUsesTwoIds) {
  auto recorder = StatisticsRecorder::CreateTemporaryForTesting();
  LocalMetadata meta, logged_meta;
  std::unique_ptr<HistogramBase> h = SparseHistogram::PersistentCreate(
      allocator(), InternName("Test.PersistentSparse"), &meta, &logged_meta);
  EXPECT_EQ(MetricNameHash("Test.PersistentSparse"), h->NameHash());
  EXPECT_EQ(h->NameHash(), meta.id.load());
  EXPECT_EQ(h->NameHash() + 1, logged_meta.id.load());
  h->AddTimes(404, 2);
  EXPECT_EQ(2, h->TakeDelta()->CountOf(404));
  h->Add(404);
  std::unique_ptr<HistogramSamples> all = h->SnapshotAll();
  EXPECT_EQ(3, all->CountOf(404));
  EXPECT_EQ(1, h->PeekFinalDelta()->CountOf(404));
}

}  // namespace
}  // namespace base
