#include "base/metrics/histogram.h"

#include <algorithm>
#include <cstdint>

#include "base/logging.h"
#include "base/metrics/metrics_hashes.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/metrics/sparse_histogram.h"
#include "base/metrics/statistics_recorder.h"
#include "base/pickle.h"
#include "base/strings/stringprintf.h"
#include "base/sys_info.h"
#include "base/values.h"

namespace base {

namespace {

// Reads a description written by SerializeInfo and finds or makes the
// histogram of class T it names. Null when the bytes run out, or when the
// histogram of that name has another type or other bucket ranges.
template <typename T>
HistogramBase* DeserializeBucketedInfo(PickleIterator* iter, HistogramType type) {
  std::string name;
  int flags;
  int declared_min;
  int declared_max;
  uint32_t bucket_count;
  uint32_t range_checksum;
  if (!iter->ReadString(&name) || !iter->ReadInt(&flags) || !iter->ReadInt(&declared_min) ||
      !iter->ReadInt(&declared_max) || !iter->ReadUInt32(&bucket_count) ||
      !iter->ReadUInt32(&range_checksum)) {
    return nullptr;
  }
  HistogramBase* histogram = T::Get(name, declared_min, declared_max, bucket_count,
                                    flags & ~HistogramBase::kPersistentFlag);
  if (histogram->GetHistogramType() != type)
    return nullptr;
  if (static_cast<Histogram*>(histogram)->bucket_ranges()->checksum() != range_checksum)
    return nullptr;
  return histogram;
}

// Bucket counts above this are refused as a construction error.
constexpr uint32_t kMaxSaneBucketCount = 10002;

// Buckets wider than this are not normalised further in the graph.
constexpr double kTransitionWidth = 5;

// The largest sample a histogram records; the last boundary lies above it.
constexpr HistogramBase::Sample kMaxRecordable = HistogramBase::kSampleType_MAX - 1;

int LowHashBits(const std::string& name) {
  return static_cast<int>(MetricNameHashLow32(MetricNameHash(name)));
}

}  // namespace

// Histogram::Factory ---------------------------------------------------------

Histogram::Factory::Factory(const std::string& name,
                            HistogramType histogram_type,
                            Sample minimum,
                            Sample maximum,
                            uint32_t bucket_count,
                            int32_t flags)
    : name_(name),
      histogram_type_(histogram_type),
      minimum_(minimum),
      maximum_(maximum),
      bucket_count_(bucket_count),
      flags_(flags) {}

Histogram::Factory::~Factory() = default;

HistogramBase* Histogram::Factory::GetOrCreate() {
  HistogramBase* histogram = StatisticsRecorder::FindHistogram(name_);
  if (!histogram) {
    if (!StatisticsRecorder::ShouldRecordHistogram(MetricNameHash(name_)))
      return DummyHistogram::GetInstance();

    const BucketRanges* registered_ranges =
        StatisticsRecorder::RegisterOrDeleteDuplicateRanges(MakeRanges());

    if (bucket_count_ == 0) {
      bucket_count_ = static_cast<uint32_t>(registered_ranges->bucket_count());
      minimum_ = bucket_count_ >= 2 ? registered_ranges->range(1) : -1;
      maximum_ = bucket_count_ >= 2 ? registered_ranges->range(bucket_count_ - 1) : -1;
    }

    std::unique_ptr<HistogramBase> tentative;
    PersistentMemoryAllocator::Reference histogram_ref = 0;
    GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get();
    if (allocator) {
      tentative = allocator->AllocateHistogram(histogram_type_, name_, minimum_, maximum_,
                                               registered_ranges, flags_, &histogram_ref);
    }
    if (!tentative) {
      histogram_ref = 0;
      flags_ &= ~HistogramBase::kPersistentFlag;
      tentative = MakeHeapHistogram(registered_ranges);
      tentative->SetFlags(flags_);
    }

    FinishHistogram(tentative.get());

    HistogramBase* candidate = tentative.release();
    histogram = StatisticsRecorder::RegisterOrDeleteDuplicate(candidate);
    if (histogram_ref)
      allocator->FinalizeHistogram(histogram_ref, histogram == candidate);
  }

  if (histogram->GetHistogramType() != histogram_type_ ||
      (bucket_count_ != 0 && !histogram->MatchesConstruction(minimum_, maximum_, bucket_count_))) {
    RecordSparseSample("Histogram.MismatchedConstructionArguments", LowHashBits(name_));
    return DummyHistogram::GetInstance();
  }
  return histogram;
}

BucketRanges* Histogram::Factory::MakeRanges() {
  BucketRanges* ranges = new BucketRanges(bucket_count_ + 1);
  FillExponentialRanges(minimum_, maximum_, ranges);
  return ranges;
}

std::unique_ptr<HistogramBase> Histogram::Factory::MakeHeapHistogram(const BucketRanges* ranges) {
  return std::make_unique<Histogram>(InternName(name_), ranges);
}

void Histogram::Factory::FinishHistogram(HistogramBase* /*histogram*/) {}

// Histogram ------------------------------------------------------------------

// static
HistogramBase* Histogram::Get(const std::string& name,
                              Sample minimum,
                              Sample maximum,
                              uint32_t bucket_count,
                              int32_t flags) {
  NormalizeArguments(name.c_str(), &minimum, &maximum, &bucket_count);
  return Factory(name, HISTOGRAM, minimum, maximum, bucket_count, flags).GetOrCreate();
}

// static
HistogramBase* Histogram::Get(const char* name,
                              Sample minimum,
                              Sample maximum,
                              uint32_t bucket_count,
                              int32_t flags) {
  return Get(std::string(name), minimum, maximum, bucket_count, flags);
}

// static
bool Histogram::NormalizeArguments(const char* name,
                                   Sample* minimum,
                                   Sample* maximum,
                                   uint32_t* bucket_count) {
  bool bad = false;
  // Limits past what a histogram can hold are clamped quietly.
  if (*minimum < 1)
    *minimum = 1;
  if (*maximum >= kSampleType_MAX)
    *maximum = kMaxRecordable;
  if (*bucket_count >= kBucketCount_MAX)
    *bucket_count = kBucketCount_MAX - 1;

  if (*maximum < *minimum) {
    std::swap(*minimum, *maximum);
    bad = true;
    // The swapped values must obey the same limits as the originals.
    if (*minimum < 1)
      *minimum = 1;
    if (*maximum >= kSampleType_MAX)
      *maximum = kMaxRecordable;
  }
  if (*maximum == *minimum) {
    bad = true;
    if (*maximum < kMaxRecordable)
      *maximum = *minimum + 1;
    else
      *minimum = *maximum - 1;
  }

  if (*bucket_count < 3) {
    bad = true;
    *bucket_count = 3;
  } else if (*bucket_count > kMaxSaneBucketCount) {
    bad = true;
    *bucket_count = kMaxSaneBucketCount;
  }
  uint64_t span = static_cast<uint64_t>(static_cast<int64_t>(*maximum) - *minimum) + 2;
  if (*bucket_count > span) {
    bad = true;
    *bucket_count = static_cast<uint32_t>(span);
  }

  if (bad)
    RecordSparseSample("Histogram.BadConstructionArguments", LowHashBits(name ? name : ""));
  return !bad;
}

// static
HistogramBase* Histogram::DeserializeInfo(PickleIterator* iter) {
  return DeserializeBucketedInfo<Histogram>(iter, HISTOGRAM);
}

Histogram::Histogram(const char* name, const BucketRanges* ranges)
    : HistogramBase(name),
      bucket_ranges_(ranges),
      unlogged_samples_(std::make_unique<SampleVector>(MetricNameHash(name), ranges)),
      logged_samples_(std::make_unique<SampleVector>(unlogged_samples_->id(), ranges)) {}

Histogram::Histogram(const char* name,
                     const BucketRanges* ranges,
                     const DelayedPersistentAllocation& counts,
                     const DelayedPersistentAllocation& logged_counts,
                     SamplesMetadata* meta,
                     SamplesMetadata* logged_meta)
    : HistogramBase(name),
      bucket_ranges_(ranges),
      unlogged_samples_(
          std::make_unique<PersistentSampleVector>(MetricNameHash(name), ranges, meta, counts)),
      logged_samples_(std::make_unique<PersistentSampleVector>(unlogged_samples_->id(),
                                                               ranges,
                                                               logged_meta,
                                                               logged_counts)) {}

Histogram::~Histogram() = default;

HistogramBase::Sample Histogram::declared_min() const {
  if (bucket_ranges_->size() < 3)
    return -1;
  return bucket_ranges_->range(1);
}

HistogramBase::Sample Histogram::declared_max() const {
  if (bucket_ranges_->size() < 3)
    return -1;
  return bucket_ranges_->range(bucket_ranges_->bucket_count() - 1);
}

uint64_t Histogram::NameHash() const {
  return unlogged_samples_->id();
}

HistogramType Histogram::GetHistogramType() const {
  return HISTOGRAM;
}

bool Histogram::MatchesConstruction(Sample minimum, Sample maximum, uint32_t bucket_count) const {
  return bucket_ranges_->bucket_count() == bucket_count && declared_min() == minimum &&
         declared_max() == maximum;
}

void Histogram::Add(Sample value) {
  AddTimes(value, 1);
}

void Histogram::AddTimes(Sample value, int count) {
  if (value > kMaxRecordable)
    value = kMaxRecordable;
  if (value < 0)
    value = 0;
  if (count <= 0)
    return;
  unlogged_samples_->Tally(value, count);
  RunSampleCallback(value);
}

void Histogram::AddSamples(const HistogramSamples& samples) {
  unlogged_samples_->Merge(samples);
}

bool Histogram::MergeFromPickle(PickleIterator* iter) {
  return unlogged_samples_->MergeFromPickle(iter);
}

uint32_t Histogram::CheckConsistency(const HistogramSamples& samples) const {
  uint32_t inconsistencies = NoInconsistencies;
  Sample previous_range = -1;
  for (uint32_t index = 0; index < bucket_count(); ++index) {
    Sample new_range = BucketBoundary(index);
    if (previous_range >= new_range)
      inconsistencies |= BucketOrderError;
    previous_range = new_range;
  }
  if (!bucket_ranges_->ChecksumIsValid())
    inconsistencies |= RangeChecksumError;

  Count delta = static_cast<Count>(static_cast<uint32_t>(samples.redundant_count()) -
                                   static_cast<uint32_t>(samples.SampleCount()));
  if (delta > 5)
    inconsistencies |= CountHighError;
  else if (delta < -5)
    inconsistencies |= CountLowError;
  return inconsistencies;
}

std::unique_ptr<SampleVector> Histogram::SnapshotUnlogged() const {
  auto samples = std::make_unique<SampleVector>(unlogged_samples_->id(), bucket_ranges_);
  samples->Merge(*unlogged_samples_);
  return samples;
}

std::unique_ptr<SampleVector> Histogram::SnapshotAllSamples() const {
  std::unique_ptr<SampleVector> samples = SnapshotUnlogged();
  samples->Merge(*logged_samples_);
  return samples;
}

std::unique_ptr<HistogramSamples> Histogram::SnapshotAll() const {
  return SnapshotAllSamples();
}

std::unique_ptr<HistogramSamples> Histogram::TakeDelta() {
  std::unique_ptr<SampleVector> snapshot = SnapshotUnlogged();
  unlogged_samples_->Deduct(*snapshot);
  logged_samples_->Merge(*snapshot);
  return snapshot;
}

std::unique_ptr<HistogramSamples> Histogram::PeekFinalDelta() const {
  return SnapshotUnlogged();
}

void Histogram::WriteHtmlGraph(std::string* output) const {
  output->append("<PRE>");
  WriteAsciiGraphImpl("<br>", output);
  output->append("</PRE>");
}

void Histogram::WriteAsciiGraph(std::string* output) const {
  WriteAsciiGraphImpl("\n", output);
}

void Histogram::WriteAsciiGraphImpl(const char* newline, std::string* output) const {
  std::unique_ptr<SampleVector> snapshot = SnapshotAllSamples();
  Count total = snapshot->SampleCount();

  StringAppendF(output, "Histogram: %s recorded %d samples", histogram_name(), total);
  if (total != 0) {
    float mean = static_cast<float>(snapshot->sum()) / static_cast<float>(total);
    StringAppendF(output, ", mean = %.1f", static_cast<double>(mean));
  }
  if (flags() != 0)
    StringAppendF(output, " (flags = 0x%x)", static_cast<unsigned>(flags()));
  output->append(newline);

  const uint32_t buckets = bucket_count();
  double max_size = 0;
  size_t print_width = 1;
  for (uint32_t i = 0; i < buckets; ++i) {
    Count current = snapshot->CountAtIndex(i);
    max_size = std::max(max_size, NormalizedBucketSize(current, i));
    if (current != 0)
      print_width = std::max(print_width, BucketLabel(i).size() + 1);
  }

  int64_t remaining = total;
  int64_t past = 0;
  for (uint32_t i = 0; i < buckets; ++i) {
    Count current = snapshot->CountAtIndex(i);
    if (current == 0 && !ShowEmptyBucket(i))
      continue;
    remaining -= current;
    std::string label = BucketLabel(i);
    output->append(label);
    if (label.size() < print_width + 1)
      output->append(print_width + 1 - label.size(), ' ');
    if (current == 0 && i < buckets - 1 && snapshot->CountAtIndex(i + 1) == 0) {
      while (i < buckets - 1 && snapshot->CountAtIndex(i + 1) == 0)
        ++i;
      output->append("... ");
      output->append(newline);
      continue;
    }
    WriteAsciiBucketGraph(NormalizedBucketSize(current, i), max_size, output);
    double scaled_sum = static_cast<double>(past + current + remaining) / 100.0;
    WriteAsciiBucketValue(current, scaled_sum, output);
    if (i > 0) {
      double percentage = scaled_sum != 0 ? static_cast<double>(past) / scaled_sum : 0.0;
      StringAppendF(output, " {%3.1f%%}", percentage);
    }
    output->append(newline);
    past += current;
  }
}

void Histogram::ValidateContents() const {
  CHECK(unlogged_samples_);
  CHECK(unlogged_samples_->bucket_ranges());
  CHECK(logged_samples_);
  CHECK(logged_samples_->bucket_ranges());
  if (logged_samples_->id() == 0 && (flags() & kPersistentFlag)) {
    // Persistent metadata without an id was never set up: the page holding
    // it must still be all zero. Sampled words first, then every word, each
    // only where the page holds it, so a failure names where data lies.
    unsigned long page_size = static_cast<unsigned long>(SysInfo::VMAllocationGranularity());
    if (page_size == 0)
      page_size = 1024;
    const uintptr_t meta = reinterpret_cast<uintptr_t>(logged_samples_->metadata());
    const uint32_t* address = reinterpret_cast<const uint32_t*>(meta - meta % page_size);
    const size_t words = page_size / sizeof(uint32_t);
    CHECK_EQ(0, address[0]);
    CHECK_EQ(0, address[1]);
    CHECK_EQ(0, address[2]);
    CHECK_EQ(0, address[4]);
    CHECK_EQ(0, address[8]);
    CHECK_EQ(0, address[16]);
    CHECK_EQ(0, address[32]);
    CHECK_EQ(0, address[64]);
    CHECK_EQ(0, address[128]);  // words 0 to 255 lie in any page of 1024 bytes
    if (words > 256) {
      CHECK_EQ(0, address[256]);
    }
    if (words > 512) {
      CHECK_EQ(0, address[512]);
    }
    for (size_t i = 0; i < words; ++i)
      CHECK_EQ(0, address[i]);
  }
  CHECK_NE(0U, logged_samples_->id());
}

void Histogram::SerializeInfo(Pickle* pickle) const {
  pickle->WriteString(histogram_name());
  pickle->WriteInt(flags());
  pickle->WriteInt(declared_min());
  pickle->WriteInt(declared_max());
  pickle->WriteUInt32(bucket_count());
  pickle->WriteUInt32(bucket_ranges_->checksum());
}

void Histogram::DescribeParameters(Value* params) const {
  params->SetKey("type", Value(HistogramTypeToString(GetHistogramType())));
  params->SetKey("min", Value(declared_min()));
  params->SetKey("max", Value(declared_max()));
  params->SetKey("bucket_count", Value(static_cast<int>(bucket_count())));
}

void Histogram::DescribeBuckets(Count* count, int64_t* sum, Value* buckets) const {
  std::unique_ptr<SampleVector> snapshot = SnapshotAllSamples();
  *count = snapshot->SampleCount();
  *sum = snapshot->sum();
  size_t index = 0;
  for (uint32_t i = 0; i < bucket_count(); ++i) {
    Count bucket_count_value = snapshot->CountAtIndex(i);
    if (bucket_count_value == 0)
      continue;
    Value bucket(Value::Type::DICTIONARY);
    bucket.SetKey("low", Value(BucketBoundary(i)));
    if (i != bucket_count() - 1)
      bucket.SetKey("high", Value(BucketBoundary(i + 1)));
    bucket.SetKey("count", Value(bucket_count_value));
    buckets->SetAtIndex(index++, std::move(bucket));
  }
}

HistogramBase::Sample Histogram::BucketBoundary(uint32_t i) const {
  return bucket_ranges_->range(i);
}

uint32_t Histogram::bucket_count() const {
  return static_cast<uint32_t>(bucket_ranges_->bucket_count());
}

bool Histogram::ShowEmptyBucket(uint32_t /*i*/) const {
  return true;
}

double Histogram::NormalizedBucketSize(Count count, uint32_t i) const {
  double width = static_cast<double>(BucketBoundary(i + 1)) - BucketBoundary(i);
  if (width > kTransitionWidth)
    width = kTransitionWidth;
  return count / width;
}

std::string Histogram::BucketLabel(uint32_t i) const {
  return StringPrintf("%d", BucketBoundary(i));
}

// LinearHistogram::Factory ---------------------------------------------------

LinearHistogram::Factory::Factory(const std::string& name,
                                  Sample minimum,
                                  Sample maximum,
                                  uint32_t bucket_count,
                                  int32_t flags,
                                  const DescriptionPair* descriptions)
    : Histogram::Factory(name, LINEAR_HISTOGRAM, minimum, maximum, bucket_count, flags),
      descriptions_(descriptions) {}

LinearHistogram::Factory::~Factory() = default;

BucketRanges* LinearHistogram::Factory::MakeRanges() {
  BucketRanges* ranges = new BucketRanges(bucket_count_ + 1);
  FillLinearRanges(minimum_, maximum_, ranges);
  return ranges;
}

std::unique_ptr<HistogramBase> LinearHistogram::Factory::MakeHeapHistogram(
    const BucketRanges* ranges) {
  return std::make_unique<LinearHistogram>(InternName(name_), ranges);
}

void LinearHistogram::Factory::FinishHistogram(HistogramBase* histogram) {
  if (histogram->GetHistogramType() == DUMMY_HISTOGRAM || !descriptions_)
    return;
  LinearHistogram* linear = static_cast<LinearHistogram*>(histogram);
  for (const DescriptionPair* pair = descriptions_; pair->description; ++pair)
    linear->SetBucketDescription(pair->sample, pair->description);
}

// LinearHistogram ------------------------------------------------------------

// static
HistogramBase* LinearHistogram::Get(const std::string& name,
                                    Sample minimum,
                                    Sample maximum,
                                    uint32_t bucket_count,
                                    int32_t flags) {
  return GetWithDescriptions(name, minimum, maximum, bucket_count, flags, nullptr);
}

// static
HistogramBase* LinearHistogram::Get(const char* name,
                                    Sample minimum,
                                    Sample maximum,
                                    uint32_t bucket_count,
                                    int32_t flags) {
  return Get(std::string(name), minimum, maximum, bucket_count, flags);
}

// static
HistogramBase* LinearHistogram::GetWithDescriptions(const std::string& name,
                                                    Sample minimum,
                                                    Sample maximum,
                                                    uint32_t bucket_count,
                                                    int32_t flags,
                                                    const DescriptionPair* descriptions) {
  NormalizeArguments(name.c_str(), &minimum, &maximum, &bucket_count);
  return Factory(name, minimum, maximum, bucket_count, flags, descriptions).GetOrCreate();
}

// static
HistogramBase* LinearHistogram::DeserializeInfo(PickleIterator* iter) {
  return DeserializeBucketedInfo<LinearHistogram>(iter, LINEAR_HISTOGRAM);
}

LinearHistogram::LinearHistogram(const char* name, const BucketRanges* ranges)
    : Histogram(name, ranges) {}

LinearHistogram::LinearHistogram(const char* name,
                                 const BucketRanges* ranges,
                                 const DelayedPersistentAllocation& counts,
                                 const DelayedPersistentAllocation& logged_counts,
                                 SamplesMetadata* meta,
                                 SamplesMetadata* logged_meta)
    : Histogram(name, ranges, counts, logged_counts, meta, logged_meta) {}

LinearHistogram::~LinearHistogram() = default;

HistogramType LinearHistogram::GetHistogramType() const {
  return LINEAR_HISTOGRAM;
}

bool LinearHistogram::ShowEmptyBucket(uint32_t i) const {
  return bucket_descriptions_.find(BucketBoundary(i)) == bucket_descriptions_.end();
}

double LinearHistogram::NormalizedBucketSize(Count count, uint32_t i) const {
  return count / (static_cast<double>(BucketBoundary(i + 1)) - BucketBoundary(i));
}

std::string LinearHistogram::BucketLabel(uint32_t i) const {
  auto it = bucket_descriptions_.find(BucketBoundary(i));
  if (it == bucket_descriptions_.end())
    return Histogram::BucketLabel(i);
  return it->second;
}

void LinearHistogram::SetBucketDescription(Sample sample, const std::string& label) {
  bucket_descriptions_[sample] = label;
}

// BooleanHistogram -----------------------------------------------------------

BooleanHistogram::BooleanHistogram(const char* name, const BucketRanges* ranges)
    : LinearHistogram(name, ranges) {}

BooleanHistogram::BooleanHistogram(const char* name,
                                   const BucketRanges* ranges,
                                   const DelayedPersistentAllocation& counts,
                                   const DelayedPersistentAllocation& logged_counts,
                                   SamplesMetadata* meta,
                                   SamplesMetadata* logged_meta)
    : LinearHistogram(name, ranges, counts, logged_counts, meta, logged_meta) {}

BooleanHistogram::~BooleanHistogram() = default;

HistogramType BooleanHistogram::GetHistogramType() const {
  return BOOLEAN_HISTOGRAM;
}

// CustomHistogram ------------------------------------------------------------

CustomHistogram::CustomHistogram(const char* name, const BucketRanges* ranges)
    : Histogram(name, ranges) {}

CustomHistogram::CustomHistogram(const char* name,
                                 const BucketRanges* ranges,
                                 const DelayedPersistentAllocation& counts,
                                 const DelayedPersistentAllocation& logged_counts,
                                 SamplesMetadata* meta,
                                 SamplesMetadata* logged_meta)
    : Histogram(name, ranges, counts, logged_counts, meta, logged_meta) {}

CustomHistogram::~CustomHistogram() = default;

HistogramType CustomHistogram::GetHistogramType() const {
  return CUSTOM_HISTOGRAM;
}

void CustomHistogram::SerializeInfo(Pickle* pickle) const {
  Histogram::SerializeInfo(pickle);
  for (uint32_t i = 1; i < bucket_count(); ++i)
    pickle->WriteInt(BucketBoundary(i));
}

bool CustomHistogram::ShowEmptyBucket(uint32_t /*i*/) const {
  return true;
}

double CustomHistogram::NormalizedBucketSize(Count count, uint32_t /*i*/) const {
  return count;
}

// Recording functions --------------------------------------------------------

void RecordEnumerationSample(const std::string& name, int sample, int exclusive_max) {
  uint32_t bucket_count = static_cast<uint32_t>(exclusive_max) + 1u;
  LinearHistogram::Get(name, 1, exclusive_max, bucket_count, HistogramBase::kReportFlag)
      ->Add(sample);
}

void RecordSparseSample(const std::string& name, int sample) {
  SparseHistogram::Get(name, HistogramBase::kReportFlag)->Add(sample);
}

}  // namespace base
