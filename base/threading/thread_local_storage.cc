#include "base/threading/thread_local_storage.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "base/logging.h"
#include "base/synchronization/lock.h"

// All slots of the process share one platform index. Each thread's value of
// that index points to a heap vector of kThreadLocalStorageSize entries, one
// per slot, created the first time the thread stores a value. The table of
// slots (in use or free, destructor, version) is shared by all threads and
// guarded by one lock; a thread's vector is touched only by that thread.
//
// A thread's platform value goes through these states:
//   null          the thread never stored a value; Get() answers null
//                 without creating anything, so threads that only read
//                 cost no allocation;
//   heap vector   after the first Set() (or Initialize()) on the thread;
//   stack copy    while OnThreadExit() runs the destructors;
//   torn down     (the value 1) after the destructors ran; Get() answers
//                 null and Set() is ignored, so thread-exit code that runs
//                 after ours (another module's detach handler, the runtime)
//                 can neither read freed memory nor leak a new vector;
//   null again    on a second exit notification for the same thread.
//
// A slot goes from free to in use and never back: slots are not released in
// this process, so every version stays 0. The version is still compared on
// every access; it keeps a stale value of a reused index invisible should
// slots ever be released.
//
// When a thread ends, the image's TLS callback calls OnThreadExit(), which
// moves the vector to the stack, frees the heap copy and runs the
// destructors of the non-null values. A destructor may store new values
// (they land in the stack copy), so the pass is repeated while destructors
// keep running, up to kThreadLocalStorageSize passes. The passes run on a
// copy of the slot table taken under the lock, so destructors run unlocked
// and may allocate slots of their own.

using base::internal::PlatformThreadLocalStorage;

namespace base {

namespace {

// The lines the fatal checks report: tests and crash reports tell the broken
// invariants apart by them.
constexpr int kAllocCheckLine = 153;         // no platform index left
constexpr int kSecondVectorCheckLine = 181;  // a thread's vector made twice
constexpr int kNoFreeSlotCheckLine = 345;    // every slot in use
constexpr int kSlotRangeCheckLine = 346;     // a slot index out of range

using TLSKey = PlatformThreadLocalStorage::TLSKey;
using TLSDestructorFunc = ThreadLocalStorage::TLSDestructorFunc;

constexpr int kSlotCount = ThreadLocalStorage::kThreadLocalStorageSize;

// A thread that has no vector yet: the platform's initial value of every
// thread.
void* const kUninitialized = nullptr;

// A thread whose vector was torn down at its exit. Never a valid address.
void* const kTornDown = reinterpret_cast<void*>(1);

// Exit processing stops after this many passes over the slots, even when
// destructors keep storing new values.
constexpr int kMaxDestructorPasses = kSlotCount;

enum TlsStatus : uint32_t {
  // Never handed out.
  kFree = 0,
  // Handed out; stays so until the process ends.
  kInUse = 1,
};

// One entry of the process-wide slot table.
struct TlsMetadata {
  // A TlsStatus.
  uint32_t status;
  // Runs at thread exit for a non-null value; may be null.
  TLSDestructorFunc destructor;
  // Matches the version of the handle and of the vector entries it wrote.
  uint32_t version;
};

// One entry of a thread's vector. A value is only seen through a handle of
// the same version, so a value stored for an earlier user of a slot index
// never leaks to a later one.
struct TlsVectorEntry {
  // The thread's value; null when never stored.
  void* data;
  // The version of the handle that stored `data`.
  uint32_t version;
};

constexpr size_t kVectorBytes = sizeof(TlsVectorEntry) * kSlotCount;
static_assert(sizeof(void*) != 4 || kVectorBytes == 2048,
              "a thread's vector is 256 entries of pointer and version");

// The platform index, published once by compare-and-swap and then only read.
std::atomic<TLSKey> g_native_tls_key{PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES};

// Guarded by GetTlsMetadataLock().
TlsMetadata g_tls_metadata[kSlotCount];
// The search for a free slot starts after this one. It starts at 0, so the
// first slot handed out is 1 and slot 0 is handed out last.
int g_last_assigned_slot = 0;

// Created on first use (thread-safe static initialisation), never freed, so
// the table stays usable by threads that end while the process shuts down
// and by code that runs before or after the process's static constructors
// and destructors.
Lock& GetTlsMetadataLock() {
  static Lock* const lock = new Lock();
  return *lock;
}

// The published platform index, or TLS_KEY_OUT_OF_INDEXES. Acquire ordering
// pairs with the compare-and-swap that published it.
TLSKey LoadKey() {
  return g_native_tls_key.load(std::memory_order_acquire);
}

// The calling thread's raw platform value, or null when no index exists yet.
void* GetRawThreadValue() {
  const TLSKey key = LoadKey();
  if (key == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES)
    return nullptr;
  return PlatformThreadLocalStorage::GetTLSValue(key);
}

// The calling thread's vector, or null when it has none (never created, or
// torn down at thread exit).
TlsVectorEntry* GetThreadVector() {
  void* value = GetRawThreadValue();
  if (value == kTornDown)
    return nullptr;
  return static_cast<TlsVectorEntry*>(value);
}

// The platform index, allocated by the first thread that needs it.
//
// Several threads may get here at once; each allocates an index, exactly one
// publishes its index with a compare-and-swap and the others give theirs
// back, so the process keeps one index for its whole life. Running out of
// platform indexes is fatal: without an index no slot can work, and callers
// have no way to cope with a slot that silently stores nothing.
//
// The index is never given back to the platform: threads may still be
// ending (and running their destructors through the index) while the
// process shuts down, and their vectors are only reachable through it.
// Reading the published key needs no lock: it changes once, from
// TLS_KEY_OUT_OF_INDEXES to its final value.
TLSKey GetOrAllocateKey() {
  TLSKey key = LoadKey();
  if (key != PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES)
    return key;
  CHECK_AT(PlatformThreadLocalStorage::AllocTLS(&key), kAllocCheckLine);
  TLSKey expected = PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES;
  if (!g_native_tls_key.compare_exchange_strong(expected, key, std::memory_order_acq_rel,
                                                std::memory_order_acquire)) {
    PlatformThreadLocalStorage::FreeTLS(key);
    key = expected;
  }
  return key;
}

// Creates the calling thread's vector, which must not exist yet, and
// returns it. A second vector for the same thread would orphan the first
// one together with every value stored in it; that is a broken invariant.
//
// Callers come here in two ways: Set() on a thread whose value is null, and
// Initialize() on a thread that has no vector yet (so that the slot handed
// out can be used at once). A thread whose vector was torn down never gets
// a new one: Set() ignores the value then, and Initialize() sees a non-null
// platform value. The vector is only ever freed by OnThreadExit() on the
// same thread.
//
// The key and the thread's vector are independent: the key may already
// exist (another thread allocated it) while this thread has no vector yet,
// which is the usual case for every thread but the first one. Both checks
// below run before anything is changed, so a failure leaves the thread's
// state as it was for the crash dump.
TlsVectorEntry* ConstructTlsVector() {
  const TLSKey key = GetOrAllocateKey();
  CHECK_EQ_AT(PlatformThreadLocalStorage::GetTLSValue(key), kUninitialized, kSecondVectorCheckLine);

  // The heap allocation below may itself use thread-local storage (an
  // allocator hook, a heap checker). Such use must find a valid vector, so a
  // zeroed one on the stack stands in until the heap copy is ready.
  TlsVectorEntry stack_tls_data[kSlotCount];
  std::memset(stack_tls_data, 0, kVectorBytes);
  PlatformThreadLocalStorage::SetTLSValue(key, stack_tls_data);

  auto* heap_tls_data = new TlsVectorEntry[kSlotCount];
  std::memcpy(heap_tls_data, stack_tls_data, kVectorBytes);
  PlatformThreadLocalStorage::SetTLSValue(key, heap_tls_data);
  return heap_tls_data;
}

}  // namespace

namespace internal {

// Called on the ending thread itself, by the TLS callback on thread detach
// and on process detach. The last thread of a process may be notified twice
// (thread detach, then process detach); the torn-down marker makes the
// second call a no-op apart from clearing it.
//
// Destructors are called in slot order, 0 to 255, within each pass. A slot's
// value is cleared before its destructor runs, so a destructor that reads
// its own slot sees null and one that stores a new value there gets called
// again in the next pass.
void PlatformThreadLocalStorage::OnThreadExit() {
  const TLSKey key = LoadKey();
  if (key == TLS_KEY_OUT_OF_INDEXES)
    return;
  void* tls_data = GetTLSValue(key);
  if (tls_data == kUninitialized)
    return;
  if (tls_data == kTornDown) {
    // A second exit notification for this thread (thread detach followed by
    // process detach on the last thread).
    SetTLSValue(key, nullptr);
    return;
  }

  // Destructors may use thread-local storage; they work on this stack copy
  // while the heap vector is already gone. Freeing the heap vector first
  // means that nothing is left to leak however the destructors end up
  // (a destructor that calls ExitThread included).
  TlsVectorEntry stack_tls_data[kSlotCount];
  std::memcpy(stack_tls_data, tls_data, kVectorBytes);
  SetTLSValue(key, stack_tls_data);
  delete[] static_cast<TlsVectorEntry*>(tls_data);

  // Destructors run without the lock: they may allocate slots themselves,
  // and a slot allocated meanwhile by another thread has no value on this
  // thread anyway.
  TlsMetadata tls_metadata[kSlotCount];
  {
    AutoLock auto_lock(GetTlsMetadataLock());
    std::memcpy(tls_metadata, g_tls_metadata, sizeof(tls_metadata));
  }

  // A pass that called no destructor leaves nothing for the next one. The
  // pass limit ends exit processing for destructors that keep storing values
  // forever; whatever they stored last is dropped with the stack copy.
  for (int pass = 0; pass < kMaxDestructorPasses; ++pass) {
    bool called_destructor = false;
    for (int slot = 0; slot < kSlotCount; ++slot) {
      void* value = stack_tls_data[slot].data;
      if (value == nullptr || tls_metadata[slot].status == kFree ||
          stack_tls_data[slot].version != tls_metadata[slot].version) {
        continue;
      }
      TLSDestructorFunc destructor = tls_metadata[slot].destructor;
      if (destructor == nullptr)
        continue;
      stack_tls_data[slot].data = nullptr;
      destructor(value);
      called_destructor = true;
    }
    if (!called_destructor)
      break;
  }

  SetTLSValue(key, kTornDown);
}

// These two expose the thread's raw state to the tests, which check the
// vector's lifecycle and the fatal check on a second vector.
void* GetTlsVectorForTesting() {
  return GetRawThreadValue();
}

void ConstructTlsVectorForTesting() {
  ConstructTlsVector();
}

}  // namespace internal

// Never creates a vector: a thread that only reads pays nothing. A value
// written through a handle of another version reads as null.
void* ThreadLocalStorage::Slot::Get() const {
  TlsVectorEntry* tls_data = GetThreadVector();
  if (tls_data == nullptr)
    return nullptr;
  if (tls_data[slot_].version != version_)
    return nullptr;
  return tls_data[slot_].data;
}

// Creates the thread's vector on first use. The version stored with the
// value is this handle's, so only handles of the same slot version see it.
void ThreadLocalStorage::Slot::Set(void* value) {
  void* raw = GetRawThreadValue();
  // The thread's exit processing has finished: there is no vector any more
  // and none may be created, or it would never be freed.
  if (raw == kTornDown)
    return;
  auto* tls_data = static_cast<TlsVectorEntry*>(raw);
  if (tls_data == nullptr)
    tls_data = ConstructTlsVector();
  tls_data[slot_].data = value;
  tls_data[slot_].version = version_;
}

// A handle is usable as soon as it is constructed.
ThreadLocalStorage::Slot::Slot(TLSDestructorFunc destructor) {
  Initialize(destructor);
}

// The calling thread gets its vector here already, so the first Set() of a
// freshly allocated slot costs no allocation. The search for a free entry
// starts after the last slot handed out; all 256 entries are examined before
// giving up.
void ThreadLocalStorage::Slot::Initialize(TLSDestructorFunc destructor) {
  slot_ = kInvalidSlotValue;
  version_ = 0;
  if (LoadKey() == PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES ||
      GetRawThreadValue() == kUninitialized) {
    // Done before the table lock is taken: creating the key and the vector
    // takes no lock, and a fatal check on the key must not hold the lock.
    ConstructTlsVector();
  }

  // The table and the last handed-out index change together under the lock,
  // so two threads never get the same slot.
  {
    AutoLock auto_lock(GetTlsMetadataLock());
    for (int i = 0; i < kThreadLocalStorageSize; ++i) {
      // Search from the slot after the last one handed out, wrapping around.
      const int candidate = (g_last_assigned_slot + 1 + i) % kThreadLocalStorageSize;
      TlsMetadata& entry = g_tls_metadata[candidate];
      if (entry.status != kFree)
        continue;
      entry.destructor = destructor;
      entry.status = kInUse;
      slot_ = candidate;
      version_ = entry.version;
      g_last_assigned_slot = candidate;
      break;
    }
  }
  // The checks run after the lock is released: a fatal message captures and
  // symbolises the stack, and other threads must still be able to end (and
  // take the lock for their exit processing) meanwhile. No free entry means
  // all slots are in use; the second check guards the index itself.
  CHECK_NE_AT(slot_, kInvalidSlotValue, kNoFreeSlotCheckLine);
  CHECK_LT_AT(slot_, kThreadLocalStorageSize, kSlotRangeCheckLine);
}

}  // namespace base
