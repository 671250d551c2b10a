#include "base/metrics/statistics_recorder.h"

#include <algorithm>
#include <utility>

#include "base/logging.h"
#include "base/metrics/bucket_ranges.h"
#include "base/metrics/persistent_histogram_allocator.h"
#include "base/synchronization/lazy_creation.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

// Guards the active recorder pointer and everything inside the recorders.
// Zero-initialised, so it exists before any caller and is never destroyed.
Lock g_recorder_lock;
StatisticsRecorder* g_top = nullptr;
bool g_dump_arranged = false;

// The process has no at-exit callback list, so there is nowhere to put the
// dump; arranging it only records that it was asked for.
void RegisterAtExitDump() {
  g_dump_arranged = true;
}

constexpr size_t kInitialBuckets = 8;

}  // namespace

size_t StatisticsRecorder::NameHash::operator()(std::string_view name) const {
  uint32_t hash = 0;
  for (char c : name)
    hash = hash * 131u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  return hash;
}

size_t StatisticsRecorder::StringHash::operator()(const std::string& name) const {
  uint32_t hash = 0x811C9DC5u;
  for (unsigned char c : name) {
    hash ^= c;
    hash *= 16777619u;
  }
  return hash;
}

size_t StatisticsRecorder::RangesHash::operator()(const BucketRanges* ranges) const {
  return ranges->checksum();
}

bool StatisticsRecorder::RangesEqual::operator()(const BucketRanges* a,
                                                 const BucketRanges* b) const {
  return a->SameRanges(b);
}

StatisticsRecorder::StatisticsRecorder()
    : histograms_(kInitialBuckets), callbacks_(kInitialBuckets), ranges_(kInitialBuckets) {
  histograms_.max_load_factor(1.0f);
  callbacks_.max_load_factor(1.0f);
  ranges_.max_load_factor(1.0f);
  previous_ = g_top;
  g_top = this;
  if (!g_dump_arranged && VLOG_IS_ON(1))
    RegisterAtExitDump();
}

StatisticsRecorder::~StatisticsRecorder() {
  AutoLock auto_lock(g_recorder_lock);
  if (g_top == this)
    g_top = previous_;
  // Histograms and ranges stay allocated: callers may still hold pointers to
  // them (get-or-create hands out raw pointers that live "forever").
}

// static
void StatisticsRecorder::EnsureGlobalRecorderWhileLocked() {
  if (!g_top)
    new StatisticsRecorder();  // Becomes g_top; never freed.
}

// static
void StatisticsRecorder::ImportGlobalPersistentHistograms() {
  if (GlobalHistogramAllocator* allocator = GlobalHistogramAllocator::Get())
    allocator->ImportHistogramsToStatisticsRecorder();
}

// static
HistogramBase* StatisticsRecorder::FindHistogram(std::string_view name) {
  ImportGlobalPersistentHistograms();
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  auto it = g_top->histograms_.find(name);
  return it == g_top->histograms_.end() ? nullptr : it->second;
}

// static
HistogramBase* StatisticsRecorder::RegisterOrDeleteDuplicate(HistogramBase* histogram) {
  std::unique_ptr<HistogramBase> discarded;
  HistogramBase* registered;
  {
    AutoLock auto_lock(g_recorder_lock);
    EnsureGlobalRecorderWhileLocked();
    const char* name = histogram->histogram_name();
    HistogramBase*& entry = g_top->histograms_[std::string_view(name)];
    if (!entry) {
      entry = histogram;
      auto callback = g_top->callbacks_.find(name);
      if (callback != g_top->callbacks_.end()) {
        if (callback->second)
          histogram->SetFlags(HistogramBase::kCallbackExistsFlag);
        else
          histogram->ClearFlags(HistogramBase::kCallbackExistsFlag);
      }
      registered = histogram;
    } else if (entry == histogram) {
      registered = histogram;
    } else {
      discarded.reset(histogram);
      registered = entry;
    }
  }
  // `discarded` is destroyed here, outside the lock.
  return registered;
}

// static
const BucketRanges* StatisticsRecorder::RegisterOrDeleteDuplicateRanges(
    const BucketRanges* ranges) {
  std::unique_ptr<const BucketRanges> discarded;
  const BucketRanges* registered;
  {
    AutoLock auto_lock(g_recorder_lock);
    EnsureGlobalRecorderWhileLocked();
    registered = *g_top->ranges_.insert(ranges).first;
    if (registered != ranges)
      discarded.reset(ranges);
  }
  return registered;
}

// static
bool StatisticsRecorder::ShouldRecordHistogram(uint64_t name_hash) {
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  return !g_top->record_checker_ || g_top->record_checker_->ShouldRecord(name_hash);
}

// static
StatisticsRecorder::OnSampleCallback StatisticsRecorder::FindCallback(const std::string& name) {
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  auto it = g_top->callbacks_.find(name);
  return it == g_top->callbacks_.end() ? OnSampleCallback() : it->second;
}

// static
void StatisticsRecorder::SetCallback(const std::string& name, OnSampleCallback callback) {
  OnSampleCallback old;
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  const bool exists = static_cast<bool>(callback);
  OnSampleCallback& slot = g_top->callbacks_[name];
  old = std::move(slot);
  slot = std::move(callback);
  auto it = g_top->histograms_.find(name);
  if (it != g_top->histograms_.end()) {
    if (exists)
      it->second->SetFlags(HistogramBase::kCallbackExistsFlag);
    else
      it->second->ClearFlags(HistogramBase::kCallbackExistsFlag);
  }
}

// static
void StatisticsRecorder::ClearCallback(const std::string& name) {
  SetCallback(name, OnSampleCallback());
}

// static
void StatisticsRecorder::SetRecordChecker(std::unique_ptr<RecordChecker> record_checker) {
  std::unique_ptr<RecordChecker> old;
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  old = std::move(g_top->record_checker_);
  g_top->record_checker_ = std::move(record_checker);
}

// static
void StatisticsRecorder::RegisterHistogramProvider(HistogramProvider* provider) {
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  g_top->providers_.push_back(provider);
}

// static
StatisticsRecorder::Histograms StatisticsRecorder::GetHistograms() {
  ImportGlobalPersistentHistograms();
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  Histograms out;
  out.reserve(g_top->histograms_.size());
  for (const auto& entry : g_top->histograms_)
    out.push_back(entry.second);
  return out;
}

// static
StatisticsRecorder::Histograms StatisticsRecorder::Sort(Histograms histograms) {
  std::sort(histograms.begin(), histograms.end(),
            [](const HistogramBase* a, const HistogramBase* b) {
              return std::string_view(a->histogram_name()) < std::string_view(b->histogram_name());
            });
  return histograms;
}

// static
StatisticsRecorder::Histograms StatisticsRecorder::WithName(Histograms histograms,
                                                            std::string_view query) {
  histograms.erase(std::remove_if(histograms.begin(), histograms.end(),
                                  [query](const HistogramBase* h) {
                                    return std::string_view(h->histogram_name()).find(query) ==
                                           std::string_view::npos;
                                  }),
                   histograms.end());
  return histograms;
}

// static
std::string StatisticsRecorder::DumpAllHistogramsText() {
  std::string output = "Collections of all histograms\n";
  for (const HistogramBase* histogram : Sort(WithName(GetHistograms(), ""))) {
    histogram->WriteAsciiGraph(&output);
    output.append("\n");
  }
  return output;
}

// static
void StatisticsRecorder::DumpAllHistograms() {
  VLOG(1) << DumpAllHistogramsText();
}

// static
bool StatisticsRecorder::IsDumpArrangedForTesting() {
  AutoLock auto_lock(g_recorder_lock);
  return g_dump_arranged;
}

// static
std::unique_ptr<StatisticsRecorder> StatisticsRecorder::CreateTemporaryForTesting() {
  AutoLock auto_lock(g_recorder_lock);
  return std::unique_ptr<StatisticsRecorder>(new StatisticsRecorder());
}

// static
size_t StatisticsRecorder::GetHistogramCount() {
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  return g_top->histograms_.size();
}

// static
size_t StatisticsRecorder::GetBucketRangesCount() {
  AutoLock auto_lock(g_recorder_lock);
  EnsureGlobalRecorderWhileLocked();
  return g_top->ranges_.size();
}

// DummyHistogram ------------------------------------------------------------

namespace {
LazyState g_dummy_histogram;
}  // namespace

// static
DummyHistogram* DummyHistogram::GetInstance() {
  return GetOrCreateLazyInstance<DummyHistogram>(&g_dummy_histogram,
                                                 [] { return new DummyHistogram(); });
}

DummyHistogram::DummyHistogram() : HistogramBase("dummy_histogram") {}
DummyHistogram::~DummyHistogram() = default;

void DummyHistogram::VerifyName(const std::string& /*name*/) const {}
uint64_t DummyHistogram::NameHash() const {
  return MetricNameHash(histogram_name());
}
HistogramType DummyHistogram::GetHistogramType() const {
  return DUMMY_HISTOGRAM;
}
bool DummyHistogram::MatchesConstruction(Sample /*minimum*/,
                                         Sample /*maximum*/,
                                         uint32_t /*bucket_count*/) const {
  return true;
}
void DummyHistogram::Add(Sample /*value*/) {}
void DummyHistogram::AddTimes(Sample /*value*/, int /*count*/) {}
void DummyHistogram::AddSamples(const HistogramSamples& /*samples*/) {}
bool DummyHistogram::MergeFromPickle(PickleIterator* /*iter*/) {
  return true;
}
uint32_t DummyHistogram::CheckConsistency(const HistogramSamples& /*samples*/) const {
  return 0;
}
std::unique_ptr<HistogramSamples> DummyHistogram::SnapshotAll() const {
  return std::make_unique<DummyHistogramSamples>();
}
std::unique_ptr<HistogramSamples> DummyHistogram::TakeDelta() {
  return std::make_unique<DummyHistogramSamples>();
}
std::unique_ptr<HistogramSamples> DummyHistogram::PeekFinalDelta() const {
  return std::make_unique<DummyHistogramSamples>();
}
void DummyHistogram::WriteHtmlGraph(std::string* /*output*/) const {}
void DummyHistogram::WriteAsciiGraph(std::string* /*output*/) const {}
void DummyHistogram::ValidateContents() const {}
void DummyHistogram::SerializeInfo(Pickle* /*pickle*/) const {}
void DummyHistogram::DescribeParameters(Value* /*params*/) const {}
void DummyHistogram::DescribeBuckets(Count* /*count*/, int64_t* /*sum*/, Value* /*buckets*/) const {
}

DummyHistogramSamples::DummyHistogramSamples() : HistogramSamples(0, &dummy_meta_) {}
DummyHistogramSamples::~DummyHistogramSamples() = default;
void DummyHistogramSamples::Tally(Sample /*value*/, Count /*count*/) {}
HistogramBase::Count DummyHistogramSamples::CountOf(Sample /*value*/) const {
  return 0;
}
HistogramBase::Count DummyHistogramSamples::SampleCount() const {
  return 0;
}
std::unique_ptr<SampleCountIterator> DummyHistogramSamples::MakeIterator() const {
  return std::make_unique<DummySampleCountIterator>();
}
bool DummyHistogramSamples::ApplyIterator(SampleCountIterator* /*iter*/, Operator /*op*/) {
  return true;
}

DummySampleCountIterator::DummySampleCountIterator() = default;
DummySampleCountIterator::~DummySampleCountIterator() = default;
bool DummySampleCountIterator::AtEnd() const {
  return true;
}
void DummySampleCountIterator::Advance() {}
void DummySampleCountIterator::Current(HistogramBase::Sample* /*min*/,
                                       int64_t* /*max*/,
                                       HistogramBase::Count* /*count*/) const {}

}  // namespace base
