#include "base/metrics/sparse_histogram.h"

#include <string>

#include "base/logging.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/persistent_sample_map.h"
#include "base/metrics/sample_map.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/strings/stringprintf.h"

namespace base {

// static
HistogramBase* SparseHistogram::Get(const std::string& name, int32_t flags) {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name);
  if (!histogram) {
    if (!StatisticsRecorder::ShouldRecordHistogram(MetricNameHash(name)))
      return DummyHistogram::GetInstance();

    std::unique_ptr<HistogramBase> tentative;
    PersistentMemoryAllocator::Reference histogram_ref = 0;
    GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get();
    if (allocator) {
      tentative = allocator->AllocateHistogram(SPARSE_HISTOGRAM, name, 0, 0, nullptr, flags,
                                               &histogram_ref);
    }
    if (!tentative) {
      histogram_ref = 0;
      tentative = FactoryGet(InternName(name));
      tentative->SetFlags(flags & ~HistogramBase::kPersistentFlag);
    }
    HistogramBase* candidate = tentative.release();
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(candidate);
    if (histogram_ref)
      allocator->FinalizeHistogram(histogram_ref, histogram == candidate);
  }

  CHECK_EQ(SPARSE_HISTOGRAM, histogram->GetHistogramType());
  return histogram;
}

// static
std::unique_ptr<HistogramBase> SparseHistogram::FactoryGet(const char* name) {
  return std::unique_ptr<HistogramBase>(new SparseHistogram(name));
}

SparseHistogram::SparseHistogram(const char* name)
    : HistogramBase(name),
      unlogged_samples_(std::make_unique<SampleMap>(MetricNameHash(name))),
      logged_samples_(std::make_unique<SampleMap>(unlogged_samples_->id())) {}

// static
std::unique_ptr<HistogramBase> SparseHistogram::PersistentCreate(
    PersistentMemoryAllocator* allocator,
    const char* name,
    SamplesMetadata* meta,
    SamplesMetadata* logged_meta) {
  return std::unique_ptr<HistogramBase>(new SparseHistogram(allocator, name, meta, logged_meta));
}

SparseHistogram::SparseHistogram(PersistentMemoryAllocator* allocator,
                                 const char* name,
                                 SamplesMetadata* meta,
                                 SamplesMetadata* logged_meta)
    : HistogramBase(name),
      unlogged_samples_(
          std::make_unique<PersistentSampleMap>(MetricNameHash(name), allocator, meta)),
      logged_samples_(std::make_unique<PersistentSampleMap>(unlogged_samples_->id() + 1,
                                                            allocator,
                                                            logged_meta)) {}

SparseHistogram::~SparseHistogram() = default;

void SparseHistogram::VerifyName(const std::string& /*name*/) const {}

uint64_t SparseHistogram::NameHash() const {
  return unlogged_samples_->id();
}

HistogramType SparseHistogram::GetHistogramType() const {
  return SPARSE_HISTOGRAM;
}

bool SparseHistogram::MatchesConstruction(Sample /*minimum*/,
                                          Sample /*maximum*/,
                                          uint32_t /*bucket_count*/) const {
  return false;
}

void SparseHistogram::Add(Sample value) {
  AddTimes(value, 1);
}

void SparseHistogram::AddTimes(Sample value, int count) {
  if (count <= 0)
    return;
  {
    AutoLock auto_lock(lock_);
    unlogged_samples_->Tally(value, count);
  }
  RunSampleCallback(value);
}

void SparseHistogram::AddSamples(const HistogramSamples& samples) {
  AutoLock auto_lock(lock_);
  unlogged_samples_->Merge(samples);
}

bool SparseHistogram::MergeFromPickle(PickleIterator* iter) {
  AutoLock auto_lock(lock_);
  return unlogged_samples_->MergeFromPickle(iter);
}

std::unique_ptr<HistogramSamples> SparseHistogram::SnapshotAll() const {
  auto snapshot = std::make_unique<SampleMap>(NameHash());
  AutoLock auto_lock(lock_);
  snapshot->Merge(*unlogged_samples_);
  snapshot->Merge(*logged_samples_);
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::TakeDelta() {
  auto snapshot = std::make_unique<SampleMap>(NameHash());
  AutoLock auto_lock(lock_);
  snapshot->Merge(*unlogged_samples_);
  unlogged_samples_->Deduct(*snapshot);
  logged_samples_->Merge(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSamples> SparseHistogram::PeekFinalDelta() const {
  auto snapshot = std::make_unique<SampleMap>(NameHash());
  AutoLock auto_lock(lock_);
  final_delta_created_ = true;
  snapshot->Merge(*unlogged_samples_);
  return snapshot;
}

bool SparseHistogram::final_delta_created() const {
  AutoLock auto_lock(lock_);
  return final_delta_created_;
}

void SparseHistogram::WriteHtmlGraph(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiImpl("<br>", output);
  output->append("</PRE>");
}

void SparseHistogram::WriteAsciiGraph(std::string* output) const {
  WriteAsciiImpl("\n", output);
}

void SparseHistogram::ValidateContents() const {}

void SparseHistogram::SerializeInfo(Pickle* pickle) const {
  pickle->WriteString(histogram_name());
  pickle->WriteInt(flags());
}

void SparseHistogram::DescribeParameters(Value* /*params*/) const {}

void SparseHistogram::DescribeBuckets(Count* /*count*/,
                                      int64_t* /*sum*/,
                                      Value* /*buckets*/) const {}

void SparseHistogram::WriteAsciiImpl(const char* newline, std::string* output) const {
  std::unique_ptr<HistogramSamples> snapshot = SnapshotAll();
  const Count total_count = snapshot->SampleCount();

  StringAppendF(output, "Histogram: %s recorded %d samples", histogram_name(), total_count);
  if (flags())
    StringAppendF(output, " (flags = 0x%x)", static_cast<unsigned>(flags()));
  output->append(newline);

  Sample largest_sample = 0;
  Count largest_count = 0;
  for (auto it = snapshot->MakeIterator(); !it->AtEnd(); it->Advance()) {
    Sample min;
    Count count;
    it->Current(&min, nullptr, &count);
    if (min > largest_sample)
      largest_sample = min;
    if (count > largest_count)
      largest_count = count;
  }
  const size_t column = StringPrintf("%d", largest_sample).size() + 2;

  const double scaled_total = total_count / 100.0;
  for (auto it = snapshot->MakeIterator(); !it->AtEnd(); it->Advance()) {
    Sample min;
    Count count;
    it->Current(&min, nullptr, &count);
    std::string label = StringPrintf("%d", min);
    if (label.size() < column)
      label.append(column - label.size(), ' ');
    output->append(label);
    WriteAsciiBucketGraph(count, largest_count, output);
    WriteAsciiBucketValue(count, scaled_total, output);
    output->append(newline);
  }
}

}  // namespace base
