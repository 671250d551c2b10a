#include "base/metrics/statistics_recorder.h"

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/metrics/bucket_ranges.h"
#include "base/metrics/histogram.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sparse_histogram.h"
#include "gtest/gtest.h"

namespace base {
namespace {

std::atomic<int> g_destroyed{0};

// A histogram that counts its destruction, to see which object the recorder
// discards.
class CountingHistogram : public HistogramBase {
 public:
  explicit CountingHistogram(const std::string& name) : HistogramBase(InternName(name)) {}
  ~CountingHistogram() override { g_destroyed.fetch_add(1); }

  uint64_t NameHash() const override { return MetricNameHash(histogram_name()); }
  HistogramType GetHistogramType() const override { return CUSTOM_HISTOGRAM; }
  bool MatchesConstruction(Sample, Sample, uint32_t) const override { return true; }
  void Add(Sample) override {}
  void AddTimes(Sample, int) override {}
  void AddSamples(const HistogramSamples&) override {}
  bool MergeFromPickle(PickleIterator*) override { return true; }
  std::unique_ptr<HistogramSamples> SnapshotAll() const override {
    return std::make_unique<DummyHistogramSamples>();
  }
  std::unique_ptr<HistogramSamples> TakeDelta() override {
    return std::make_unique<DummyHistogramSamples>();
  }
  std::unique_ptr<HistogramSamples> PeekFinalDelta() const override {
    return std::make_unique<DummyHistogramSamples>();
  }
  void WriteHtmlGraph(std::string*) const override {}
  void WriteAsciiGraph(std::string* output) const override {
    output->append(histogram_name()).append("|");
  }
  void SerializeInfo(Pickle*) const override {}
  void DescribeParameters(Value*) const override {}
  void DescribeBuckets(Count*, int64_t*, Value*) const override {}
};

class StatisticsRecorderTest : public testing::Test {
 protected:
  void SetUp() override {
    recorder_ = StatisticsRecorder::CreateTemporaryForTesting();
    g_destroyed = 0;
  }
  void TearDown() override { recorder_.reset(); }

  std::unique_ptr<StatisticsRecorder> recorder_;
};

// The hash is the first 8 MD5 digest bytes, big-endian; the 32-bit sample is
// digest bytes 4 to 7. Digests are the reference values for these inputs.
TEST(MetricNameHash, IsBigEndianPrefixOfMD5) {
  const struct {
    const char* name;
    uint64_t hash;
  } cases[] = {
      {"", 0xd41d8cd98f00b204ull},                            // d41d8cd98f00b204e9800998ecf8427e
      {"a", 0x0cc175b9c0f1b6a8ull},                           // 0cc175b9c0f1b6a831c399e269772661
      {"abc", 0x900150983cd24fb0ull},                         // 900150983cd24fb0d6963f7d28e17f72
      {"message digest", 0xf96b697d7cb7938dull},              // f96b697d7cb7938d525a2f31aaf161d0
      {"abcdefghijklmnopqrstuvwxyz", 0xc3fcd3d76192e400ull},  // c3fcd3d76192e4007dfb496cca67e13b
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       0xd174ab98d277d9f5ull},  // d174ab98d277d9f5a5611c2c9f419d9f
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       0x57edf4a22be3c955ull},  // 57edf4a22be3c955ac49da2e2107b67a
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.hash, MetricNameHash(c.name));
    EXPECT_EQ(static_cast<uint32_t>(c.hash), MetricNameHashLow32(MetricNameHash(c.name)));
  }
  // Bytes after an embedded NUL count.
  EXPECT_NE(MetricNameHash(std::string_view("a\0b", 3)), MetricNameHash("a"));
}

TEST_F(StatisticsRecorderTest, FindOfUnknownNameCreatesNoEntry) {
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Never.Registered"));
  EXPECT_EQ(0u, StatisticsRecorder::GetHistogramCount());
}

TEST_F(StatisticsRecorderTest, RegisterKeepsFirstObjectAndDestroysDuplicate) {
  auto* first = new CountingHistogram("Test.Duplicate");
  auto* second = new CountingHistogram("Test.Duplicate");
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(first));
  EXPECT_EQ(0, g_destroyed.load());
  // Registering the kept object again returns it and destroys nothing.
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(first));
  EXPECT_EQ(0, g_destroyed.load());
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicate(second));
  EXPECT_EQ(1, g_destroyed.load());
  EXPECT_EQ(first, StatisticsRecorder::FindHistogram("Test.Duplicate"));
  // Lookup is by exact bytes: neither a prefix nor an extension matches.
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Test.Duplicat"));
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Test.Duplicate."));
  EXPECT_EQ(1u, StatisticsRecorder::GetHistogramCount());
}

TEST_F(StatisticsRecorderTest, ThreadsRegisteringOneNameAllGetTheSameObject) {
  constexpr int kThreads = 4;
  HistogramBase* results[kThreads] = {};
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&results, i] {
      results[i] =
          StatisticsRecorder::RegisterOrDeleteDuplicate(new CountingHistogram("Test.Race"));
    });
  }
  for (auto& t : threads)
    t.join();
  for (int i = 1; i < kThreads; ++i)
    EXPECT_EQ(results[0], results[i]);
  EXPECT_EQ(kThreads - 1, g_destroyed.load());
  EXPECT_EQ(results[0], StatisticsRecorder::FindHistogram("Test.Race"));
}

BucketRanges* MakeRanges(std::vector<HistogramBase::Sample> values) {
  auto* ranges = new BucketRanges(values.size());
  for (size_t i = 0; i < values.size(); ++i)
    ranges->SetRange(i, values[i]);
  ranges->UpdateChecksum();
  return ranges;
}

TEST_F(StatisticsRecorderTest, EqualRangesAreStoredOnce) {
  const BucketRanges* first = MakeRanges({0, 1, 2, 2147483647});
  EXPECT_EQ(first, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(first));
  EXPECT_EQ(first,
            StatisticsRecorder::RegisterOrDeleteDuplicateRanges(MakeRanges({0, 1, 2, 2147483647})));
  EXPECT_EQ(1u, StatisticsRecorder::GetBucketRangesCount());

  // Different boundaries, and equal boundaries under a forged equal checksum,
  // are told apart by the full comparison.
  BucketRanges* other = MakeRanges({0, 1, 3, 2147483647});
  other->set_checksum(first->checksum());
  EXPECT_EQ(other, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(other));
  EXPECT_EQ(2u, StatisticsRecorder::GetBucketRangesCount());
  // Same boundaries with a different length are a different shape.
  const BucketRanges* longer = MakeRanges({0, 1, 2, 3, 2147483647});
  EXPECT_EQ(longer, StatisticsRecorder::RegisterOrDeleteDuplicateRanges(longer));
  EXPECT_EQ(3u, StatisticsRecorder::GetBucketRangesCount());
}

TEST_F(StatisticsRecorderTest, HistogramsOfEqualShapeShareRanges) {
  HistogramBase* a = Histogram::Get("Test.ShapeA", 1, 1000, 10, 0);
  HistogramBase* b = Histogram::Get("Test.ShapeB", 1, 1000, 10, 0);
  ASSERT_NE(a, b);
  EXPECT_EQ(1u, StatisticsRecorder::GetBucketRangesCount());
  EXPECT_EQ(a, Histogram::Get("Test.ShapeA", 1, 1000, 10, 0));
  EXPECT_EQ(2u, StatisticsRecorder::GetHistogramCount());
}

class RejectingChecker : public RecordChecker {
 public:
  explicit RejectingChecker(uint64_t rejected) : rejected_(rejected) {}
  bool ShouldRecord(uint64_t name_hash) const override { return name_hash != rejected_; }

 private:
  const uint64_t rejected_;
};

TEST_F(StatisticsRecorderTest, RecordCheckerDecidesAndRejectedNamesGetTheDummy) {
  EXPECT_TRUE(StatisticsRecorder::ShouldRecordHistogram(0));
  EXPECT_TRUE(StatisticsRecorder::ShouldRecordHistogram(~0ull));
  StatisticsRecorder::SetRecordChecker(
      std::make_unique<RejectingChecker>(MetricNameHash("Test.Rejected")));
  EXPECT_FALSE(StatisticsRecorder::ShouldRecordHistogram(MetricNameHash("Test.Rejected")));
  EXPECT_TRUE(StatisticsRecorder::ShouldRecordHistogram(MetricNameHash("Test.Accepted")));
  EXPECT_EQ(DummyHistogram::GetInstance(), SparseHistogram::Get("Test.Rejected", 0));
  EXPECT_EQ(DummyHistogram::GetInstance(), Histogram::Get("Test.Rejected", 1, 100, 10, 0));
  EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Test.Rejected"));
  StatisticsRecorder::SetRecordChecker(nullptr);
}

TEST_F(StatisticsRecorderTest, CallbacksSetTheFlagAndRunPerSample) {
  std::vector<HistogramBase::Sample> seen;
  StatisticsRecorder::SetCallback("Test.Callback",
                                  [&seen](HistogramBase::Sample s) { seen.push_back(s); });
  EXPECT_FALSE(StatisticsRecorder::FindCallback("Test.Other"));
  ASSERT_TRUE(StatisticsRecorder::FindCallback("Test.Callback"));

  // Registered after the callback: the flag is set at registration.
  HistogramBase* h = SparseHistogram::Get("Test.Callback", 0);
  EXPECT_TRUE(h->flags() & HistogramBase::kCallbackExistsFlag);
  h->Add(7);
  h->AddTimes(9, 3);
  h->AddTimes(11, 0);  // ignored: no sample, no callback
  EXPECT_EQ((std::vector<HistogramBase::Sample>{7, 9}), seen);

  StatisticsRecorder::ClearCallback("Test.Callback");
  EXPECT_FALSE(h->flags() & HistogramBase::kCallbackExistsFlag);
  h->Add(5);
  EXPECT_EQ(2u, seen.size());

  // An empty entry in the table clears the flag of a histogram registered
  // later under that name.
  auto* later = new CountingHistogram("Test.CallbackCleared");
  later->SetFlags(HistogramBase::kCallbackExistsFlag);
  StatisticsRecorder::ClearCallback("Test.CallbackCleared");
  StatisticsRecorder::RegisterOrDeleteDuplicate(later);
  EXPECT_FALSE(later->flags() & HistogramBase::kCallbackExistsFlag);
}

TEST_F(StatisticsRecorderTest, ListingAndDumpAreSortedByUnsignedBytes) {
  const char* names[] = {"b", "a.longer", "a", "\xc3\xa9", "Z"};
  for (const char* name : names)
    StatisticsRecorder::RegisterOrDeleteDuplicate(new CountingHistogram(name));
  EXPECT_EQ(5u, StatisticsRecorder::GetHistograms().size());

  // Upper case before lower case, a prefix before its extensions, and a
  // byte above 0x7F after every ASCII one.
  EXPECT_EQ("Collections of all histograms\nZ|\na|\na.longer|\nb|\n\xc3\xa9|\n",
            StatisticsRecorder::DumpAllHistogramsText());
  EXPECT_EQ(2u, StatisticsRecorder::WithName(StatisticsRecorder::GetHistograms(), "a").size());
}

TEST_F(StatisticsRecorderTest, TemporaryRecorderHidesAndRestoresEarlierHistograms) {
  HistogramBase* outer = SparseHistogram::Get("Test.Outer", 0);
  {
    auto inner = StatisticsRecorder::CreateTemporaryForTesting();
    EXPECT_EQ(nullptr, StatisticsRecorder::FindHistogram("Test.Outer"));
  }
  EXPECT_EQ(outer, StatisticsRecorder::FindHistogram("Test.Outer"));
}

// The dump is arranged only with verbose logging on for the recorder's file;
// this test program runs without --v.
TEST_F(StatisticsRecorderTest, AtExitDumpNotArrangedWithoutVerboseLogging) {
  EXPECT_FALSE(StatisticsRecorder::IsDumpArrangedForTesting());
  StatisticsRecorder::DumpAllHistograms();  // a disabled VLOG: nothing happens
}

TEST(DummyHistogram, AcceptsAndDiscardsEverything) {
  DummyHistogram* dummy = DummyHistogram::GetInstance();
  EXPECT_EQ(dummy, DummyHistogram::GetInstance());
  EXPECT_STREQ("dummy_histogram", dummy->histogram_name());
  EXPECT_EQ(DUMMY_HISTOGRAM, dummy->GetHistogramType());
  EXPECT_EQ(MetricNameHash("dummy_histogram"), dummy->NameHash());
  EXPECT_TRUE(dummy->MatchesConstruction(1, 2, 3));
  dummy->Add(3);
  dummy->AddTimes(3, 100);
  std::unique_ptr<HistogramSamples> samples = dummy->SnapshotAll();
  EXPECT_EQ(0, samples->SampleCount());
  EXPECT_EQ(0, samples->CountOf(3));
  EXPECT_EQ(0u, samples->id());
  EXPECT_TRUE(samples->MakeIterator()->AtEnd());
  std::string graph;
  dummy->WriteAsciiGraph(&graph);
  EXPECT_EQ("", graph);
}

}  // namespace
}  // namespace base
