#include "base/metrics/sparse_histogram.h"

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/metrics/histogram.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/strings/stringprintf.h"
#include "gtest/gtest.h"

namespace base {
namespace {

class SparseHistogramTest : public testing::Test {
 protected:
  void SetUp() override { recorder_ = StatisticsRecorder::CreateTemporaryForTesting(); }
  void TearDown() override { recorder_.reset(); }

  std::unique_ptr<StatisticsRecorder> recorder_;
};

TEST_F(SparseHistogramTest, CountsEachExactValue) {
  HistogramBase* h = SparseHistogram::Get("Windows.FilesystemError.DeleteFile", 0);
  ASSERT_EQ(SPARSE_HISTOGRAM, h->GetHistogramType());
  EXPECT_EQ(h, SparseHistogram::Get("Windows.FilesystemError.DeleteFile", 0));
  EXPECT_EQ(MetricNameHash("Windows.FilesystemError.DeleteFile"), h->NameHash());
  h->Add(5);
  h->Add(32);
  h->Add(5);
  // Values are not clamped: extremes are entries of their own.
  h->Add(-2147483647 - 1);
  h->Add(2147483647);
  h->AddTimes(7, 0);
  h->AddTimes(7, -3);

  std::unique_ptr<HistogramSamples> s = h->SnapshotAll();
  const struct {
    HistogramBase::Sample value;
    HistogramBase::Count count;
  } cases[] = {{5, 2}, {32, 1}, {-2147483647 - 1, 1}, {2147483647, 1}, {7, 0}, {6, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value);
    EXPECT_EQ(c.count, s->CountOf(c.value));
  }
  EXPECT_EQ(5, s->SampleCount());
  EXPECT_EQ(42 + 2147483647ll - 2147483648ll, s->sum());
  EXPECT_EQ(h->NameHash(), s->id());
}

TEST_F(SparseHistogramTest, DeltasMoveSamplesToTheLoggedSide) {
  HistogramBase* h = SparseHistogram::Get("Test.Sparse.Delta", 0);
  h->AddTimes(3, 4);
  std::unique_ptr<HistogramSamples> peek = h->PeekFinalDelta();
  EXPECT_EQ(4, peek->CountOf(3));
  EXPECT_TRUE(static_cast<SparseHistogram*>(h)->final_delta_created());

  std::unique_ptr<HistogramSamples> delta = h->TakeDelta();
  EXPECT_EQ(4, delta->CountOf(3));
  EXPECT_EQ(12, delta->sum());
  // Nothing new since: an empty delta, but the snapshot still has it all.
  EXPECT_EQ(0, h->TakeDelta()->SampleCount());
  h->Add(3);
  EXPECT_EQ(1, h->TakeDelta()->CountOf(3));
  std::unique_ptr<HistogramSamples> all = h->SnapshotAll();
  EXPECT_EQ(5, all->CountOf(3));
  EXPECT_EQ(15, all->sum());
}

TEST_F(SparseHistogramTest, PickleRoundTripAndAddSamples) {
  HistogramBase* source = SparseHistogram::Get("Test.Sparse.Source", 0);
  source->AddTimes(-4, 2);
  source->AddTimes(100000, 3);
  Pickle pickle;
  source->SnapshotAll()->WriteToPickle(&pickle);

  HistogramBase* dest = SparseHistogram::Get("Test.Sparse.Dest", 0);
  dest->Add(100000);
  PickleIterator iter(pickle);
  EXPECT_TRUE(dest->MergeFromPickle(&iter));
  dest->AddSamples(*source->SnapshotAll());
  std::unique_ptr<HistogramSamples> s = dest->SnapshotAll();
  EXPECT_EQ(4, s->CountOf(-4));
  EXPECT_EQ(7, s->CountOf(100000));
  EXPECT_EQ(2 * (-8 + 300000) + 100000, s->sum());

  Pickle info;
  dest->SetFlags(HistogramBase::kReportFlag);
  dest->SerializeInfo(&info);
  PickleIterator info_iter(info);
  std::string name;
  int flags = 0;
  ASSERT_TRUE(info_iter.ReadString(&name));
  ASSERT_TRUE(info_iter.ReadInt(&flags));
  EXPECT_EQ("Test.Sparse.Dest", name);
  EXPECT_EQ(HistogramBase::kReportFlag, flags);
}

TEST_F(SparseHistogramTest, ConcurrentAddsMatchSerialOracle) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 500;
  HistogramBase* h = SparseHistogram::Get("Test.Sparse.Concurrent", 0);
  SampleMap oracle;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kPerThread; ++i)
      oracle.Tally((t * 7 + i) % 13, 1);
  }
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([h, t] {
      for (int i = 0; i < kPerThread; ++i)
        h->Add((t * 7 + i) % 13);
    });
  }
  for (auto& t : threads)
    t.join();
  std::unique_ptr<HistogramSamples> s = h->SnapshotAll();
  for (int v = 0; v < 13; ++v) {
    SCOPED_TRACE(v);
    EXPECT_EQ(oracle.CountOf(v), s->CountOf(v));
  }
  EXPECT_EQ(oracle.sum(), s->sum());
}

TEST_F(SparseHistogramTest, AsciiGraphLayout) {
  HistogramBase* empty = SparseHistogram::Get("Test.Sparse.Empty", 0);
  std::string graph;
  empty->WriteAsciiGraph(&graph);
  EXPECT_EQ("Histogram: Test.Sparse.Empty recorded 0 samples\n", graph);

  HistogramBase* h = SparseHistogram::Get("Test.Sparse.Graph", HistogramBase::kReportFlag);
  h->AddTimes(5, 2);
  h->AddTimes(-100, 1);
  h->AddTimes(32, 1);
  graph.clear();
  h->WriteAsciiGraph(&graph);
  // Column = width of the largest value ("32") + 2; "-100" is wider and
  // gets no padding. Bars are scaled to the largest count (2).
  const std::string full_bar = std::string(72, '-') + "O";
  const std::string half_bar = std::string(36, '-') + "O" + std::string(36, ' ');
  const std::string expected = "Histogram: Test.Sparse.Graph recorded 4 samples (flags = 0x1)\n" +
                               std::string("-100") + half_bar + " (1 = 25.0%)\n" +
                               std::string("5   ") + full_bar + " (2 = 50.0%)\n" +
                               std::string("32  ") + half_bar + " (1 = 25.0%)\n";
  EXPECT_EQ(expected, graph);

  std::string html;
  h->WriteHtmlGraph(&html);
  EXPECT_EQ(0u, html.find("<PRE>Histogram: Test.Sparse.Graph"));
  EXPECT_NE(std::string::npos, html.find("(2 = 50.0%)<br>32  "));
  EXPECT_EQ(html.size() - 6, html.rfind("</PRE>"));
}

TEST_F(SparseHistogramTest, NeverMatchesABucketedRequest) {
  HistogramBase* sparse = SparseHistogram::Get("Test.Sparse.Shape", 0);
  EXPECT_FALSE(sparse->MatchesConstruction(1, 100, 10));
  EXPECT_EQ(DummyHistogram::GetInstance(), LinearHistogram::Get("Test.Sparse.Shape", 1, 8, 9, 0));
}

// Bad and mismatched shapes are reported as the low 32 bits of the name hash
// in two sparse histograms.
TEST_F(SparseHistogramTest, ConstructionErrorsAreRecordedAsNameHashSamples) {
  const auto low32 = [](const char* name) {
    return static_cast<HistogramBase::Sample>(MetricNameHashLow32(MetricNameHash(name)));
  };
  Histogram::Get("Test.Sparse.BadShape", 0, 0, 1, 0);
  HistogramBase* bad = StatisticsRecorder::FindHistogram("Histogram.BadConstructionArguments");
  ASSERT_NE(nullptr, bad);
  EXPECT_EQ(SPARSE_HISTOGRAM, bad->GetHistogramType());
  EXPECT_EQ(1, bad->SnapshotAll()->CountOf(low32("Test.Sparse.BadShape")));
  EXPECT_EQ(HistogramBase::kReportFlag, bad->flags());

  Histogram::Get("Test.Sparse.Mismatch", 1, 100, 10, 0);
  EXPECT_EQ(DummyHistogram::GetInstance(), Histogram::Get("Test.Sparse.Mismatch", 1, 100, 11, 0));
  HistogramBase* mismatched =
      StatisticsRecorder::FindHistogram("Histogram.MismatchedConstructionArguments");
  ASSERT_NE(nullptr, mismatched);
  std::unique_ptr<HistogramSamples> s = mismatched->SnapshotAll();
  EXPECT_EQ(1, s->CountOf(low32("Test.Sparse.Mismatch")));
  EXPECT_EQ(1, s->SampleCount());
}

TEST_F(SparseHistogramTest, AskingSparseForABucketedNameIsFatal) {
  Histogram::Get("Test.Sparse.Bucketed", 1, 100, 10, 0);
  EXPECT_DEATH(SparseHistogram::Get("Test.Sparse.Bucketed", 0),
               "Check failed: SPARSE_HISTOGRAM == histogram->GetHistogramType\\(\\) \\(4 vs. 0\\)");
}

}  // namespace
}  // namespace base
