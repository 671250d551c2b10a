#include "base/metrics/histogram_samples.h"

#include <climits>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/platform/windows_types.h"
#include "gtest/gtest.h"
#include "testing/fuzz_scale.h"
#include "testing/guarded_bytes.h"

namespace base {
namespace {

TEST(AtomicSingleSample, TryAdd_LimitsInPairs) {
  struct {
    const char* name;
    size_t first_bucket;
    int first_count;
    size_t bucket;
    int count;
    bool ok;
    uint16_t want_bucket;
    uint16_t want_count;
  } cases[] = {
      {"zero count always succeeds", 0, 0, 70000, 0, true, 0, 0},
      {"bucket 65535 accepted", 0, 0, 65535, 1, true, 65535, 1},
      {"bucket 65536 refused", 0, 0, 65536, 1, false, 0, 0},
      {"count 65535 accepted", 0, 0, 3, 65535, true, 3, 65535},
      {"count 65536 refused", 0, 0, 3, 65536, false, 0, 0},
      {"sum reaching 65535 accepted", 3, 65534, 3, 1, true, 3, 65535},
      {"sum past 65535 refused", 3, 65535, 3, 1, false, 3, 65535},
      {"other bucket refused", 3, 2, 4, 1, false, 3, 2},
      {"down to zero accepted", 3, 2, 3, -2, true, 3, 0},
      {"below zero refused", 3, 2, 3, -3, false, 3, 2},
      {"count -65536 refused", 3, 2, 3, -65536, false, 3, 2},
      {"the disabled pattern refused", 65535, 65534, 65535, 1, false, 65535, 65534},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AtomicSingleSample sample;
    ASSERT_TRUE(sample.TryAdd(c.first_bucket, c.first_count));
    EXPECT_EQ(c.ok, sample.TryAdd(c.bucket, c.count));
    SingleSample now = sample.Load();
    EXPECT_EQ(c.want_bucket, now.bucket);
    EXPECT_EQ(c.want_count, now.count);
    EXPECT_FALSE(sample.IsDisabled());
  }
}

TEST(AtomicSingleSample, TakeOut_DisablesForGood) {
  AtomicSingleSample sample;
  ASSERT_TRUE(sample.TryAdd(7, 3));
  SingleSample taken = sample.TakeOut(false);
  EXPECT_EQ(7u, taken.bucket);
  EXPECT_EQ(3u, taken.count);
  EXPECT_TRUE(sample.TryAdd(9, 1));
  taken = sample.TakeOut(true);
  EXPECT_EQ(9u, taken.bucket);
  EXPECT_TRUE(sample.IsDisabled());
  EXPECT_FALSE(sample.TryAdd(9, 1));
  EXPECT_EQ(0u, sample.Load().count);
  EXPECT_EQ(0u, sample.TakeOut(true).count);
}

TEST(SampleMap, TallyMergeAndWideKeys) {
  SampleMap map(42);
  EXPECT_EQ(42u, map.id());
  map.Tally(INT_MAX, 2);
  map.Tally(-3, 1);
  map.Tally(5, 4);
  map.Tally(5, -4);  // back to zero: skipped by the iterator
  EXPECT_EQ(3, map.SampleCount());
  EXPECT_EQ(2, map.CountOf(INT_MAX));
  EXPECT_EQ(0, map.CountOf(5));

  std::unique_ptr<SampleCountIterator> it = map.MakeIterator();
  std::vector<std::vector<int64_t>> entries;
  for (; !it->AtEnd(); it->Advance()) {
    HistogramBase::Sample min;
    int64_t max;
    HistogramBase::Count count;
    it->Current(&min, &max, &count);
    entries.push_back({min, max, count});
  }
  EXPECT_EQ((std::vector<std::vector<int64_t>>{{-3, -2, 1}, {INT_MAX, 2147483648LL, 2}}), entries);

  SampleMap copy;
  Pickle pickle;
  map.WriteToPickle(&pickle);
  PickleIterator iter(pickle);
  ASSERT_TRUE(copy.MergeFromPickle(&iter));
  EXPECT_EQ(2, copy.CountOf(INT_MAX));
  EXPECT_EQ(map.sum(), copy.sum());
  copy.Deduct(map);
  EXPECT_EQ(0, copy.SampleCount());
  EXPECT_EQ(0, copy.sum());
  EXPECT_EQ(0, copy.redundant_count());

  // Buckets wider than one value do not fit a map.
  BucketRanges ranges(3);
  ranges.SetRange(1, 10);
  ranges.SetRange(2, INT_MAX);
  ranges.UpdateChecksum();
  SampleVector vector(&ranges);
  vector.Tally(12, 1);
  EXPECT_FALSE(copy.ApplyIterator(vector.MakeIterator().get(), HistogramSamples::kAdd));
}

TEST(SampleVector, CounterOverflow_IsReportedAsNegativeSample) {
  std::unique_ptr<StatisticsRecorder> recorder = StatisticsRecorder::CreateTemporaryForTesting();
  BucketRanges ranges(3);
  ranges.SetRange(1, 1);
  ranges.SetRange(2, INT_MAX);
  ranges.UpdateChecksum();
  SampleVector samples(7, &ranges);
  samples.Tally(0, INT_MAX);
  samples.Tally(0, 1);  // wraps the bucket past INT32_MAX
  EXPECT_EQ(INT_MIN, samples.CountOf(0));
  HistogramBase* reasons = StatisticsRecorder::FindHistogram("UMA.NegativeSamples.Reason");
  ASSERT_TRUE(reasons);
  EXPECT_GE(reasons->SnapshotAll()->CountOf(HistogramSamples::AccumulateOverflow), 1);
  HistogramBase* ids = StatisticsRecorder::FindHistogram("UMA.NegativeSamples.Histogram");
  ASSERT_TRUE(ids);
  EXPECT_EQ(1, ids->SnapshotAll()->CountOf(7));
}

// Random, mutated and truncated sample pickles merged into vectors and maps:
// the merge may fail but never faults or trips a fatal check, and a failed
// vector merge never leaves a count outside its buckets.
TEST(HistogramSamples, Fuzz_DeserializationFailsCleanly) {
  testing_support::GuardedBytes guard;
  ASSERT_TRUE(guard.ok());
  BucketRanges ranges(11);
  FillExponentialRanges(1, 1000, &ranges);
  SampleVector source(&ranges);
  for (HistogramBase::Sample v : {0, 1, 3, 8, 40, 999, 5000})
    source.Tally(v, v + 1);
  Pickle valid;
  source.WriteToPickle(&valid);
  const char* valid_bytes = static_cast<const char*>(valid.data());

  std::mt19937 rng(testing_support::FuzzSeed(6021));
  int merged = 0;
  for (int round = 0; round < testing_support::FuzzRounds(3000); ++round) {
    std::vector<char> bytes(valid_bytes, valid_bytes + valid.size());
    switch (round % 3) {
      case 0:  // random bytes with a consistent payload size
        bytes.resize(4 + (rng() % 96));
        for (size_t i = 4; i < bytes.size(); ++i)
          bytes[i] = static_cast<char>(rng());
        break;
      case 1:  // a valid pickle with a few bytes flipped
        for (int k = 0; k < 3; ++k)
          bytes[4 + rng() % (bytes.size() - 4)] ^= static_cast<char>(1 << (rng() % 8));
        break;
      case 2:  // a valid pickle cut anywhere
        bytes.resize(4 + rng() % (bytes.size() - 3));
        break;
    }
    uint32_t payload = static_cast<uint32_t>(bytes.size() - 4);
    std::memcpy(bytes.data(), &payload, 4);
    Pickle pickle(guard.Place(bytes), bytes.size());

    SampleVector vector(&ranges);
    PickleIterator iter(pickle);
    if (vector.MergeFromPickle(&iter))
      ++merged;
    // Every count is reachable through the buckets.
    for (size_t i = 0; i < ranges.bucket_count(); ++i)
      (void)vector.CountAtIndex(i);

    SampleMap map;
    PickleIterator map_iter(pickle);
    (void)map.MergeFromPickle(&map_iter);
  }
  // The unchanged pickles of the cut rounds (cut at the full length) merge.
  EXPECT_GT(merged, 0);
}

}  // namespace
}  // namespace base
