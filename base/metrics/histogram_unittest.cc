#include "base/metrics/histogram.h"

#include <atomic>
#include <climits>
#include <cstring>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <vector>

#include "base/metrics/metrics_hashes.h"
#include "base/metrics/persistent_memory_allocator.h"
#include "base/metrics/sample_vector.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/platform/windows_types.h"
#include "base/values.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class HistogramTest : public testing::Test {
 protected:
  void SetUp() override { recorder_ = StatisticsRecorder::CreateTemporaryForTesting(); }
  void TearDown() override { recorder_.reset(); }

  // How often the low hash bits of `name` were reported in `report`.
  static int Reports(const char* report, const std::string& name) {
    HistogramBase* histogram = StatisticsRecorder::FindHistogram(report);
    if (!histogram)
      return 0;
    int sample = static_cast<int>(MetricNameHashLow32(MetricNameHash(name)));
    return histogram->SnapshotAll()->CountOf(sample);
  }

  static std::vector<HistogramBase::Sample> Boundaries(HistogramBase* histogram) {
    std::vector<HistogramBase::Sample> entries;
    const BucketRanges* ranges = static_cast<Histogram*>(histogram)->bucket_ranges();
    for (size_t i = 0; i < ranges->size(); ++i)
      entries.push_back(ranges->range(i));
    return entries;
  }

  static std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream stream(text);
    std::string line;
    while (std::getline(stream, line))
      lines.push_back(line);
    return lines;
  }

 private:
  std::unique_ptr<StatisticsRecorder> recorder_;
};

TEST_F(HistogramTest, RecordEnumerationSample_OneBucketPerValueAndOverflow) {
  RecordEnumerationSample("Test.Enum", 3, 8);
  RecordEnumerationSample("Test.Enum", 12, 8);
  RecordEnumerationSample("Test.Enum", -4, 8);
  HistogramBase* histogram = StatisticsRecorder::FindHistogram("Test.Enum");
  ASSERT_TRUE(histogram);
  EXPECT_EQ(LINEAR_HISTOGRAM, histogram->GetHistogramType());
  EXPECT_EQ(HistogramBase::kReportFlag, histogram->flags());
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 3, 4, 5, 6, 7, 8, INT_MAX}),
            Boundaries(histogram));
  std::unique_ptr<HistogramSamples> samples = histogram->SnapshotAll();
  EXPECT_EQ(1, samples->CountOf(3));
  EXPECT_EQ(1, samples->CountOf(8));
  EXPECT_EQ(1, samples->CountOf(0));
  EXPECT_EQ(3, samples->SampleCount());
  // Later calls reach the same histogram.
  RecordEnumerationSample("Test.Enum", 3, 8);
  EXPECT_EQ(2, histogram->SnapshotAll()->CountOf(3));
}

TEST_F(HistogramTest, NormalizeArguments_RepairsEveryBadShape) {
  struct {
    HistogramBase::Sample minimum, maximum;
    uint32_t bucket_count;
    HistogramBase::Sample want_min, want_max;
    uint32_t want_buckets;
    bool good;
  } cases[] = {
      {1, 100, 50, 1, 100, 50, true},
      {0, 100, 50, 1, 100, 50, true},  // minimum 0 is clamped quietly
      {-7, 100, 50, 1, 100, 50, true},
      {1, INT_MAX, 50, 1, INT_MAX - 1, 50, true},
      {1, 100000, 16384, 1, 100000, 10002, false},
      {1, 100000, 16383, 1, 100000, 10002, false},
      {1, 100000, 10002, 1, 100000, 10002, true},
      {1, 100000, 10003, 1, 100000, 10002, false},
      {0, 0, 1, 1, 2, 3, false},
      {10, -5, 50, 1, 10, 11, false},  // swapped, and the minimum kept >= 1
      {50, 10, 20, 10, 50, 20, false},
      {5, 5, 3, 5, 6, 3, false},
      {INT_MAX, INT_MAX, 3, INT_MAX - 2, INT_MAX - 1, 3, false},
      {1, 2, 3, 1, 2, 3, true},
      {1, 2, 4, 1, 2, 3, false},  // more buckets than values
      {1, 5, 2, 1, 5, 3, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.minimum << ", " << c.maximum << ", " << c.bucket_count);
    HistogramBase::Sample minimum = c.minimum, maximum = c.maximum;
    uint32_t bucket_count = c.bucket_count;
    EXPECT_EQ(c.good,
              Histogram::NormalizeArguments("Test.Normalize", &minimum, &maximum, &bucket_count));
    EXPECT_EQ(c.want_min, minimum);
    EXPECT_EQ(c.want_max, maximum);
    EXPECT_EQ(c.want_buckets, bucket_count);
    EXPECT_GE(minimum, 1);
    EXPECT_GT(maximum, minimum);
  }
}

TEST_F(HistogramTest, Get_BuildsFromTheRepairedShapeAndReportsOnce) {
  HistogramBase* histogram = Histogram::Get("Test.Degenerate", 0, 0, 1, 0);
  EXPECT_TRUE(histogram->MatchesConstruction(1, 2, 3));
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, INT_MAX}), Boundaries(histogram));
  EXPECT_EQ(1, Reports("Histogram.BadConstructionArguments", "Test.Degenerate"));

  HistogramBase* swapped = Histogram::Get("Test.Swapped", 10, -5, 50, 0);
  EXPECT_TRUE(swapped->MatchesConstruction(1, 10, 11));
  std::vector<HistogramBase::Sample> entries = Boundaries(swapped);
  for (size_t i = 1; i < entries.size(); ++i)
    EXPECT_LT(entries[i - 1], entries[i]) << i;

  // More buckets than the range holds: one bucket per value.
  HistogramBase* crowded = Histogram::Get("Test.Crowded", 1, 5, 10, 0);
  EXPECT_EQ((std::vector<HistogramBase::Sample>{0, 1, 2, 3, 4, 5, INT_MAX}), Boundaries(crowded));

  // A maximum at INT32_MAX stays below the last boundary.
  HistogramBase* wide = Histogram::Get("Test.Wide", 1, INT_MAX, 50, 0);
  entries = Boundaries(wide);
  EXPECT_EQ(INT_MAX - 1, entries[49]);
  EXPECT_EQ(INT_MAX, entries[50]);
  for (size_t i = 1; i < entries.size(); ++i)
    EXPECT_LT(entries[i - 1], entries[i]) << i;
  EXPECT_EQ(0, Reports("Histogram.BadConstructionArguments", "Test.Wide"));
}

TEST_F(HistogramTest, Get_MismatchGivesTheDummy) {
  HistogramBase* first = Histogram::Get("Test.Shape", 1, 1000, 10, 0);
  EXPECT_EQ(first, Histogram::Get("Test.Shape", 1, 1000, 10, 0));
  EXPECT_EQ(HISTOGRAM, first->GetHistogramType());

  HistogramBase* other_count = Histogram::Get("Test.Shape", 1, 1000, 12, 0);
  EXPECT_EQ(DummyHistogram::GetInstance(), other_count);
  other_count->Add(5);
  EXPECT_EQ(0, first->SnapshotAll()->SampleCount());
  EXPECT_TRUE(first->MatchesConstruction(1, 1000, 10));

  EXPECT_EQ(DummyHistogram::GetInstance(), LinearHistogram::Get("Test.Shape", 1, 1000, 10, 0));
  EXPECT_EQ(2, Reports("Histogram.MismatchedConstructionArguments", "Test.Shape"));
}

TEST_F(HistogramTest, AddTimes_ClampsValuesAndIgnoresEmptyCounts) {
  HistogramBase* histogram = Histogram::Get("Test.Clamp", 1, 1000, 10, 0);
  struct {
    HistogramBase::Sample value;
    int count;
    HistogramBase::Sample lands_at;
    int64_t sum_added;
  } cases[] = {
      {-5, 1, 0, 0},
      {INT_MAX, 2, INT_MAX - 1, 2LL * (INT_MAX - 1)},
      {INT_MAX - 1, 1, INT_MAX - 1, INT_MAX - 1},
      {7, 0, 7, 0},
      {7, -3, 7, 0},
      {7, 3, 7, 21},
  };
  int64_t sum = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " x" << c.count);
    int before = histogram->SnapshotAll()->CountOf(c.lands_at);
    histogram->AddTimes(c.value, c.count);
    sum += c.sum_added;
    std::unique_ptr<HistogramSamples> samples = histogram->SnapshotAll();
    EXPECT_EQ(before + (c.count > 0 ? c.count : 0), samples->CountOf(c.lands_at));
    EXPECT_EQ(sum, samples->sum());
  }
  histogram->AddCount(7, 1);
  EXPECT_EQ(4, histogram->SnapshotSamples()->CountOf(7));
}

TEST_F(HistogramTest, Deltas_MoveSamplesToTheLoggedSide) {
  HistogramBase* histogram = Histogram::Get("Test.Delta", 1, 100, 10, 0);
  histogram->Add(1);
  histogram->AddTimes(50, 2);
  EXPECT_EQ(3, histogram->PeekFinalDelta()->SampleCount());
  std::unique_ptr<HistogramSamples> delta = histogram->TakeDelta();
  EXPECT_EQ(3, delta->SampleCount());
  EXPECT_EQ(101, delta->sum());
  EXPECT_EQ(0, histogram->SnapshotDelta()->SampleCount());
  histogram->Add(1);
  std::unique_ptr<HistogramSamples> second = histogram->TakeDelta();
  EXPECT_EQ(1, second->SampleCount());
  EXPECT_EQ(1, second->sum());
  std::unique_ptr<HistogramSamples> all = histogram->SnapshotAll();
  EXPECT_EQ(4, all->SampleCount());
  EXPECT_EQ(2, all->CountOf(1));
  EXPECT_EQ(102, all->sum());
  EXPECT_EQ(histogram->NameHash(), all->id());
  EXPECT_EQ(MetricNameHash("Test.Delta"), histogram->NameHash());
  EXPECT_EQ(0u, histogram->CheckConsistency(*all));
}

TEST_F(HistogramTest, CheckConsistency_FlagsCountDriftBeyondFive) {
  HistogramBase* histogram = Histogram::Get("Test.Consistency", 1, 100, 10, 0);
  const BucketRanges* ranges = static_cast<Histogram*>(histogram)->bucket_ranges();
  struct {
    int redundant_extra;
    uint32_t expected;
  } cases[] = {
      {0, 0},
      {5, 0},
      {6, HistogramBase::CountHighError},
      {-5, 0},
      {-6, HistogramBase::CountLowError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.redundant_extra);
    SampleVector samples(ranges);
    samples.Tally(3, 10);
    // Pickled samples without entries move only the sum and redundant count.
    Pickle pickle;
    pickle.WriteInt64(0);
    pickle.WriteInt(c.redundant_extra);
    PickleIterator iter(pickle);
    ASSERT_TRUE(samples.MergeFromPickle(&iter));
    EXPECT_EQ(c.expected, histogram->CheckConsistency(samples));
  }
  // Boundaries out of order and a stale checksum.
  BucketRanges bad(4);
  bad.SetRange(1, 5);
  bad.SetRange(2, 5);
  bad.SetRange(3, INT_MAX);
  Histogram broken(InternName("Test.Broken"), &bad);
  SampleVector empty(&bad);
  EXPECT_EQ(HistogramBase::BucketOrderError | HistogramBase::RangeChecksumError,
            broken.CheckConsistency(empty));
}

TEST_F(HistogramTest, SerializeInfo_ReadsBackAsTheSameHistogram) {
  HistogramBase* histogram =
      Histogram::Get("Test.Serialize", 1, 1000, 10, HistogramBase::kReportFlag);
  histogram->Add(3);
  histogram->AddTimes(400, 5);
  Pickle pickle;
  histogram->SerializeInfo(&pickle);
  histogram->SnapshotAll()->WriteToPickle(&pickle);

  PickleIterator iter(pickle);
  std::string name;
  ASSERT_TRUE(PickleIterator(pickle).ReadString(&name));
  EXPECT_EQ("Test.Serialize", name);
  EXPECT_EQ(histogram, Histogram::DeserializeInfo(&iter));

  // The samples read back into a fresh histogram of the same shape are equal.
  std::unique_ptr<StatisticsRecorder> other = StatisticsRecorder::CreateTemporaryForTesting();
  PickleIterator again(pickle);
  HistogramBase* copy = Histogram::DeserializeInfo(&again);
  ASSERT_TRUE(copy);
  EXPECT_NE(histogram, copy);
  ASSERT_TRUE(copy->MergeFromPickle(&again));
  std::unique_ptr<HistogramSamples> a = histogram->SnapshotAll();
  std::unique_ptr<HistogramSamples> b = copy->SnapshotAll();
  EXPECT_EQ(a->sum(), b->sum());
  EXPECT_EQ(a->redundant_count(), b->redundant_count());
  for (HistogramBase::Sample v : {0, 1, 3, 400, 999, 1000})
    EXPECT_EQ(a->CountOf(v), b->CountOf(v)) << v;
  std::string text_a, text_b;
  histogram->WriteAsciiGraph(&text_a);
  copy->WriteAsciiGraph(&text_b);
  EXPECT_EQ(text_a, text_b);
}

TEST_F(HistogramTest, DeserializeInfo_RefusesDamagedDescriptions) {
  HistogramBase* histogram = Histogram::Get("Test.Damaged", 1, 1000, 10, 0);
  Pickle good;
  histogram->SerializeInfo(&good);
  struct {
    const char* name;
    size_t keep_bytes;  // of the payload
    bool corrupt_checksum;
  } cases[] = {
      {"cut in the name", 8, false},
      {"cut before the checksum", good.payload_size() - 4, false},
      {"checksum differs", good.payload_size(), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<char> bytes(static_cast<const char*>(good.data()),
                            static_cast<const char*>(good.data()) + good.size());
    if (c.corrupt_checksum)
      bytes[bytes.size() - 1] ^= 0x5A;
    uint32_t payload = static_cast<uint32_t>(c.keep_bytes);
    std::memcpy(bytes.data(), &payload, 4);
    bytes.resize(good.header_size() + c.keep_bytes);
    Pickle pickle(bytes.data(), bytes.size());
    PickleIterator iter(pickle);
    EXPECT_EQ(nullptr, Histogram::DeserializeInfo(&iter));
  }
}

TEST_F(HistogramTest, WriteAsciiGraph_LayoutLineByLine) {
  HistogramBase* histogram = LinearHistogram::Get("Test.Graph", 1, 9, 10, 0);
  histogram->AddTimes(0, 3);
  histogram->AddTimes(5, 2);
  std::string text;
  histogram->WriteAsciiGraph(&text);
  std::vector<std::string> expected = {
      "Histogram: Test.Graph recorded 5 samples, mean = 2.0",
      "0  " + std::string(72, '-') + "O (3 = 60.0%)",
      "1  ... ",
      "5  " + std::string(48, '-') + "O" + std::string(24, ' ') + " (2 = 40.0%) {60.0%}",
      "6  ... ",
  };
  EXPECT_EQ(expected, Lines(text));
  EXPECT_EQ('\n', text.back());

  std::string html;
  histogram->WriteHtmlGraph(&html);
  EXPECT_EQ(0u, html.find("<PRE>Histogram: Test.Graph recorded 5 samples, mean = 2.0<br>0  "));
  EXPECT_EQ(html.size() - 10, html.rfind("<br></PRE>"));
}

TEST_F(HistogramTest, WriteAsciiGraph_SingleEmptyBucketAndFlags) {
  HistogramBase* histogram = Histogram::Get("Test.Gap", 1, 100, 5, HistogramBase::kReportFlag);
  // Buckets 0, 1, 5, 22, 100: samples in 0 and 5, bucket 1 empty between.
  histogram->Add(0);
  histogram->Add(6);
  std::string text;
  histogram->WriteAsciiGraph(&text);
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(5u, lines.size());
  EXPECT_EQ("Histogram: Test.Gap recorded 2 samples, mean = 3.0 (flags = 0x1)", lines[0]);
  // Bucket 1 (width 4) is shown with an empty bar and count 0; bucket 5 is
  // normalised by its width (capped at 5) so its bar is shorter; 22 and 100
  // fold into one line.
  EXPECT_EQ("0  " + std::string(72, '-') + "O (1 = 50.0%)", lines[1]);
  EXPECT_EQ("1  O" + std::string(72, ' ') + " (0 = 0.0%) {50.0%}", lines[2]);
  EXPECT_EQ("5  " + std::string(14, '-') + "O" + std::string(58, ' ') + " (1 = 50.0%) {50.0%}",
            lines[3]);
  EXPECT_EQ("22 ... ", lines[4]);
}

TEST_F(HistogramTest, WriteAsciiGraph_EmptyHistogramHasNoDivisionByZero) {
  HistogramBase* histogram = Histogram::Get("Test.Empty", 1, 100, 3, 0);
  std::string text;
  histogram->WriteAsciiGraph(&text);
  std::vector<std::string> lines = Lines(text);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("Histogram: Test.Empty recorded 0 samples", lines[0]);
  EXPECT_EQ("0 ... ", lines[1]);
  // With the first buckets hidden, the empty last bucket is drawn against a
  // largest bucket of 0: an empty bar and 0 percent, not a division by zero.
  const LinearHistogram::DescriptionPair descriptions[] = {{0, "zero"}, {1, "one"}, {0, nullptr}};
  std::string hidden;
  LinearHistogram::GetWithDescriptions("Test.EmptyLinear", 1, 2, 3, 0, descriptions)
      ->WriteAsciiGraph(&hidden);
  lines = Lines(hidden);
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("2 O" + std::string(72, ' ') + " (0 = 0.0%) {0.0%}", lines[1]);
}

TEST_F(HistogramTest, Describe_ParametersAndBuckets) {
  HistogramBase* histogram = LinearHistogram::Get("Test.Describe", 1, 9, 10, 0);
  histogram->AddTimes(2, 4);
  histogram->Add(100);
  Value params(Value::Type::DICTIONARY);
  histogram->DescribeParameters(&params);
  EXPECT_EQ("LINEAR_HISTOGRAM", params.FindKey("type")->GetString());
  EXPECT_EQ(1, params.FindKey("min")->GetInt());
  EXPECT_EQ(9, params.FindKey("max")->GetInt());
  EXPECT_EQ(10, params.FindKey("bucket_count")->GetInt());

  Value buckets(Value::Type::LIST);
  HistogramBase::Count count = 0;
  int64_t sum = 0;
  histogram->DescribeBuckets(&count, &sum, &buckets);
  EXPECT_EQ(5, count);
  EXPECT_EQ(108, sum);
  ASSERT_EQ(2u, buckets.GetList().size());
  const Value& first = buckets.GetList()[0];
  EXPECT_EQ(2, first.FindKey("low")->GetInt());
  EXPECT_EQ(3, first.FindKey("high")->GetInt());
  EXPECT_EQ(4, first.FindKey("count")->GetInt());
  const Value& last = buckets.GetList()[1];
  EXPECT_EQ(9, last.FindKey("low")->GetInt());
  EXPECT_EQ(nullptr, last.FindKey("high"));
  EXPECT_EQ(1, last.FindKey("count")->GetInt());
}

TEST(HistogramTypes, NamesAndOverrides) {
  struct {
    int type;
    const char* name;
  } cases[] = {
      {0, "HISTOGRAM"},        {1, "LINEAR_HISTOGRAM"}, {2, "BOOLEAN_HISTOGRAM"},
      {3, "CUSTOM_HISTOGRAM"}, {4, "SPARSE_HISTOGRAM"}, {5, "DUMMY_HISTOGRAM"},
      {6, "UNKNOWN"},          {-1, "UNKNOWN"},
  };
  for (const auto& c : cases)
    EXPECT_STREQ(c.name, HistogramTypeToString(static_cast<HistogramType>(c.type))) << c.type;

  BucketRanges boolean_ranges(4);
  FillLinearRanges(1, 2, &boolean_ranges);
  BooleanHistogram boolean(InternName("Test.Boolean"), &boolean_ranges);
  EXPECT_EQ(BOOLEAN_HISTOGRAM, boolean.GetHistogramType());
  EXPECT_TRUE(boolean.MatchesConstruction(1, 2, 3));
  boolean.AddBoolean(true);
  EXPECT_EQ(1, boolean.SnapshotAll()->CountOf(1));

  BucketRanges custom_ranges(5);
  const HistogramBase::Sample entries[] = {0, 7, 70, 700, INT_MAX};
  for (size_t i = 0; i < 5; ++i)
    custom_ranges.SetRange(i, entries[i]);
  custom_ranges.UpdateChecksum();
  CustomHistogram custom(InternName("Test.Custom"), &custom_ranges);
  EXPECT_EQ(CUSTOM_HISTOGRAM, custom.GetHistogramType());
  EXPECT_EQ(12.0, custom.NormalizedBucketSize(12, 2));
  Pickle pickle;
  custom.SerializeInfo(&pickle);
  PickleIterator iter(pickle);
  std::string name;
  int flags, minimum, maximum;
  uint32_t bucket_count, checksum;
  ASSERT_TRUE(iter.ReadString(&name) && iter.ReadInt(&flags) && iter.ReadInt(&minimum) &&
              iter.ReadInt(&maximum) && iter.ReadUInt32(&bucket_count) &&
              iter.ReadUInt32(&checksum));
  EXPECT_EQ(7, minimum);
  EXPECT_EQ(700, maximum);
  EXPECT_EQ(4u, bucket_count);
  EXPECT_EQ(custom_ranges.checksum(), checksum);
  int boundary;
  for (int want : {7, 70, 700}) {
    ASSERT_TRUE(iter.ReadInt(&boundary));
    EXPECT_EQ(want, boundary);
  }
  EXPECT_TRUE(iter.ReachedEnd());

  EXPECT_EQ(InternName("Test.Custom"), InternName(std::string("Test.") + "Custom"));
}

// A persistent histogram whose logged id is gone (a damaged segment) dies at
// the first non-zero word of the page holding its logged metadata; without
// one there, at the id itself. A sound one passes.
TEST(HistogramDeathTest, ValidateContents_NamesTheWordFoundInADamagedPage) {
  SYSTEM_INFO info;
  ::GetSystemInfo(&info);
  const size_t page_size = info.dwAllocationGranularity;
  // VirtualAlloc aligns to the allocation granularity: this is one whole page.
  auto* page = static_cast<uint32_t*>(
      ::VirtualAlloc(nullptr, page_size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(nullptr, page);
  std::vector<uint64_t> segment(512);
  PersistentMemoryAllocator allocator(segment.data(), 4096, 0, 1, "", false);
  std::atomic<PersistentMemoryAllocator::Reference> counts_ref{0}, logged_counts_ref{0};
  LocalMetadata meta;
  auto* logged_meta = new (page) SamplesMetadata;  // words 0-1 id, 2-3 sum, 4 count
  BucketRanges ranges(4);
  FillLinearRanges(1, 2, &ranges);
  Histogram histogram(InternName("Test.Persistent"), &ranges,
                      DelayedPersistentAllocation(&allocator, &counts_ref, 1, 12),
                      DelayedPersistentAllocation(&allocator, &logged_counts_ref, 1, 12), &meta,
                      logged_meta);
  histogram.SetFlags(HistogramBase::kPersistentFlag);
  histogram.Add(1);
  histogram.ValidateContents();

  const struct {
    size_t word;  // set to `value` in an otherwise zero page
    uint32_t value;
    const char* message;
  } cases[] = {
      {4, 7, "Check failed: 0 == address\\[4\\] \\(0 vs\\. 7\\)"},
      {3, 9, "Check failed: 0 == address\\[i\\] \\(0 vs\\. 9\\)"},
      {page_size / 4 - 1, 5, "Check failed: 0 == address\\[i\\] \\(0 vs\\. 5\\)"},
      {0, 0, "Check failed: 0U != logged_samples_->id\\(\\)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.word);
    std::memset(page, 0, page_size);
    page[c.word] = c.value;
    EXPECT_DEATH(histogram.ValidateContents(), c.message);
  }
  ::VirtualFree(page, 0, MEM_RELEASE);
}

TEST_F(HistogramTest, LinearDescriptions_LabelAndHideEmptyBuckets) {
  const LinearHistogram::DescriptionPair descriptions[] = {{1, "one"}, {2, "two"}, {0, nullptr}};
  HistogramBase* histogram =
      LinearHistogram::GetWithDescriptions("Test.Labels", 1, 4, 5, 0, descriptions);
  histogram->Add(2);
  std::string text;
  histogram->WriteAsciiGraph(&text);
  std::vector<std::string> lines = Lines(text);
  // Bucket 1 ("one") is empty and labelled: hidden. "two" sets the width.
  ASSERT_EQ(4u, lines.size());
  EXPECT_EQ("0    ... ", lines[1].substr(0, 9));
  EXPECT_EQ("two  " + std::string(72, '-') + "O (1 = 100.0%) {0.0%}", lines[2]);
  EXPECT_EQ("3    ... ", lines[3]);
}

}  // namespace
}  // namespace base
