#include "base/metrics/histogram_base.h"

#include <set>

#include "base/metrics/histogram_samples.h"
#include "base/metrics/statistics_recorder.h"
#include "base/strings/stringprintf.h"
#include "base/synchronization/lazy_creation.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

// Interned names: a set whose elements never move or die, under its own lock.
struct NameTable {
  Lock lock;
  std::set<std::string> names;
};

NameTable* GetNameTable() {
  static LazyState state;
  return GetOrCreateLazyInstance<NameTable>(&state, [] { return new NameTable; });
}

// The graph's bars are this many columns wide.
constexpr int kLineLength = 72;

// The outermost ScopedDeferredRecording of this thread, if any.
thread_local internal::ScopedDeferredRecording* t_deferred_recording = nullptr;

}  // namespace

const char* HistogramTypeToString(HistogramType type) {
  switch (type) {
    case HISTOGRAM:
      return "HISTOGRAM";
    case LINEAR_HISTOGRAM:
      return "LINEAR_HISTOGRAM";
    case BOOLEAN_HISTOGRAM:
      return "BOOLEAN_HISTOGRAM";
    case CUSTOM_HISTOGRAM:
      return "CUSTOM_HISTOGRAM";
    case SPARSE_HISTOGRAM:
      return "SPARSE_HISTOGRAM";
    case DUMMY_HISTOGRAM:
      return "DUMMY_HISTOGRAM";
  }
  return "UNKNOWN";
}

const char* InternName(const std::string& name) {
  NameTable* table = GetNameTable();
  AutoLock lock(table->lock);
  return table->names.insert(name).first->c_str();
}

HistogramBase::HistogramBase(const char* name) : histogram_name_(name) {}

HistogramBase::~HistogramBase() = default;

void HistogramBase::SetFlags(int32_t flags) {
  flags_.fetch_or(flags, std::memory_order_relaxed);
}

void HistogramBase::ClearFlags(int32_t flags) {
  flags_.fetch_and(~flags, std::memory_order_relaxed);
}

void HistogramBase::VerifyName(const std::string& /*name*/) const {}

uint32_t HistogramBase::CheckConsistency(const HistogramSamples& /*samples*/) const {
  return NoInconsistencies;
}

void HistogramBase::ValidateContents() const {}

std::unique_ptr<HistogramSamples> HistogramBase::SnapshotSamples() const {
  return SnapshotAll();
}

std::unique_ptr<HistogramSamples> HistogramBase::SnapshotDelta() {
  return TakeDelta();
}

void HistogramBase::RunSampleCallback(Sample value) {
  if (!(flags() & kCallbackExistsFlag))
    return;
  StatisticsRecorder::OnSampleCallback callback =
      StatisticsRecorder::FindCallback(histogram_name());
  if (callback)
    callback(value);
}

// static
void HistogramBase::WriteAsciiBucketGraph(double current, double max_value, std::string* output) {
  int x_count = 0;
  // With nothing recorded there is no scale: the bar stays empty.
  if (max_value > 0) {
    double scaled = kLineLength * (current / max_value) + 0.5;
    if (scaled > kLineLength)
      scaled = kLineLength;
    if (scaled > 0)
      x_count = static_cast<int>(scaled);
  }
  output->append(static_cast<size_t>(x_count), '-');
  output->push_back('O');
  output->append(static_cast<size_t>(kLineLength - x_count), ' ');
}

// static
void HistogramBase::WriteAsciiBucketValue(Count current, double scaled_sum, std::string* output) {
  double percentage = scaled_sum != 0 ? current / scaled_sum : 0.0;
  StringAppendF(output, " (%d = %3.1f%%)", current, percentage);
}

namespace internal {

ScopedDeferredRecording::ScopedDeferredRecording() : outermost_(!t_deferred_recording) {
  if (outermost_)
    t_deferred_recording = this;
}

ScopedDeferredRecording::~ScopedDeferredRecording() {
  if (!outermost_)
    return;
  // Cleared first: what the held-back samples record in turn (mounting their
  // own counts, say) is added or deferred anew, not appended here.
  t_deferred_recording = nullptr;
  for (const auto& [histogram, value] : deferred_)
    histogram->Add(value);
}

void AddOrDefer(HistogramBase* histogram, HistogramBase::Sample value) {
  if (ScopedDeferredRecording* deferred = t_deferred_recording)
    deferred->deferred_.emplace_back(histogram, value);
  else
    histogram->Add(value);
}

}  // namespace internal

}  // namespace base
