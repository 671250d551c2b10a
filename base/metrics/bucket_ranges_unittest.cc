#include "base/metrics/bucket_ranges.h"

#include <climits>
#include <memory>
#include <vector>

#include "gtest/gtest.h"

namespace base {
namespace {

std::unique_ptr<BucketRanges> MakeRanges(const std::vector<HistogramBase::Sample>& values) {
  auto ranges = std::make_unique<BucketRanges>(values.size());
  for (size_t i = 0; i < values.size(); ++i)
    ranges->SetRange(i, values[i]);
  ranges->UpdateChecksum();
  return ranges;
}

std::vector<HistogramBase::Sample> Entries(const BucketRanges& ranges) {
  std::vector<HistogramBase::Sample> entries;
  for (size_t i = 0; i < ranges.size(); ++i)
    entries.push_back(ranges.range(i));
  return entries;
}

TEST(BucketRanges, Checksum_MatchesTheKnownValues) {
  struct {
    std::vector<HistogramBase::Sample> entries;
    uint32_t checksum;
  } cases[] = {
      {{0, 1, 2, INT_MAX}, 0x3EB2A456u},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, INT_MAX}, 0xD5830BCAu},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.entries.size());
    auto ranges = MakeRanges(c.entries);
    EXPECT_EQ(c.checksum, ranges->ComputeChecksum());
    EXPECT_EQ(c.checksum, ranges->checksum());
    EXPECT_TRUE(ranges->ChecksumIsValid());
    ranges->SetRange(1, 7);
    EXPECT_FALSE(ranges->ChecksumIsValid());
  }
  // A fresh object is all zero, checksum included.
  BucketRanges fresh(4);
  EXPECT_EQ(0u, fresh.checksum());
  EXPECT_EQ(3u, fresh.bucket_count());
  EXPECT_EQ(0, fresh.range(3));
}

TEST(BucketRanges, SameRanges_NeedsEqualChecksumSizeAndEntries) {
  auto base = MakeRanges({0, 1, 2, INT_MAX});
  auto equal = MakeRanges({0, 1, 2, INT_MAX});
  auto longer = MakeRanges({0, 1, 2, 3, INT_MAX});
  auto different = MakeRanges({0, 1, 3, INT_MAX});
  // Same entries, but a stale checksum.
  auto stale = MakeRanges({0, 1, 2, INT_MAX});
  stale->set_checksum(stale->checksum() + 1);
  EXPECT_TRUE(base->SameRanges(equal.get()));
  EXPECT_FALSE(base->SameRanges(longer.get()));
  EXPECT_FALSE(base->SameRanges(different.get()));
  EXPECT_FALSE(base->SameRanges(stale.get()));
}

TEST(BucketRanges, FillExponentialRanges) {
  struct {
    HistogramBase::Sample minimum;
    HistogramBase::Sample maximum;
    size_t bucket_count;
    std::vector<HistogramBase::Sample> expected;
  } cases[] = {
      {1, 100, 5, {0, 1, 5, 22, 100, INT_MAX}},
      {1, 1000, 10, {0, 1, 2, 5, 12, 29, 70, 170, 412, 1000, INT_MAX}},
      // The smallest shape: one interior boundary pair.
      {1, 2, 3, {0, 1, 2, INT_MAX}},
      // Narrow buckets where rounding does not advance.
      {1, 4, 5, {0, 1, 2, 3, 4, INT_MAX}},
      // A maximum at the largest recordable value.
      {1, INT_MAX - 1, 4, {0, 1, 46341, INT_MAX - 1, INT_MAX}},
      {1, 2, 2, {0, 1, INT_MAX}},
      {1, 2, 1, {0, INT_MAX}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.minimum << ".." << c.maximum << " x" << c.bucket_count);
    BucketRanges ranges(c.bucket_count + 1);
    FillExponentialRanges(c.minimum, c.maximum, &ranges);
    EXPECT_EQ(c.expected, Entries(ranges));
    EXPECT_TRUE(ranges.ChecksumIsValid());
  }
}

TEST(BucketRanges, FillExponentialRanges_LongShapeStartsOneWide) {
  BucketRanges ranges(101);
  FillExponentialRanges(1, 1073741824, &ranges);
  std::vector<HistogramBase::Sample> head(13);
  for (size_t i = 0; i < head.size(); ++i)
    head[i] = ranges.range(i);
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 3, 4, 5, 6, 7, 9, 11, 13, 16, 20}), head);
  EXPECT_EQ(1073741824, ranges.range(99));
  EXPECT_EQ(INT_MAX, ranges.range(100));
  for (size_t i = 1; i < ranges.size(); ++i)
    EXPECT_LT(ranges.range(i - 1), ranges.range(i)) << i;
}

TEST(BucketRanges, FillLinearRanges) {
  struct {
    HistogramBase::Sample minimum;
    HistogramBase::Sample maximum;
    size_t bucket_count;
    std::vector<HistogramBase::Sample> expected;
  } cases[] = {
      {1, 9, 10, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, INT_MAX}},
      {1, 2, 3, {0, 1, 2, INT_MAX}},
      {1, 8, 9, {0, 1, 2, 3, 4, 5, 6, 7, 8, INT_MAX}},
      {5, 25, 6, {0, 5, 10, 15, 20, 25, INT_MAX}},
      // Uneven spacing rounds to the nearest integer.
      {1, 10, 5, {0, 1, 4, 7, 10, INT_MAX}},
      {1, INT_MAX - 1, 3, {0, 1, INT_MAX - 1, INT_MAX}},
      // Two buckets leave no spacing to compute.
      {3, 9, 2, {0, 3, INT_MAX}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.minimum << ".." << c.maximum << " x" << c.bucket_count);
    BucketRanges ranges(c.bucket_count + 1);
    FillLinearRanges(c.minimum, c.maximum, &ranges);
    EXPECT_EQ(c.expected, Entries(ranges));
    EXPECT_TRUE(ranges.ChecksumIsValid());
  }
}

TEST(BucketRangesDeathTest, SetRange_OutsideTheEntriesIsFatal) {
  BucketRanges ranges(3);
  EXPECT_DEATH(ranges.SetRange(3, 1), "Check failed: i < ranges_.size\\(\\)");
}

}  // namespace
}  // namespace base
