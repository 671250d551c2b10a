#ifndef BASE_THREADING_THREAD_LOCAL_STORAGE_H_
#define BASE_THREADING_THREAD_LOCAL_STORAGE_H_

#include <cstdint>

namespace base {

namespace internal {

// Thin layer over the platform's thread-local storage indexes. All slots of
// ThreadLocalStorage share one platform index; this class owns no state.
class PlatformThreadLocalStorage {
 public:
  // The platform's index type (a DWORD on Windows).
  using TLSKey = unsigned long;

  // Index value meaning "no index allocated yet".
  static constexpr TLSKey TLS_KEY_OUT_OF_INDEXES = 0xFFFFFFFFul;

  // Allocates a platform index into `*key`. Returns false (and leaves `*key`
  // as TLS_KEY_OUT_OF_INDEXES) when the platform has none left.
  [[nodiscard]] static bool AllocTLS(TLSKey* key);
  // Gives an index back to the platform.
  static void FreeTLS(TLSKey key);
  // The calling thread's value of `key`; null when never set.
  static void* GetTLSValue(TLSKey key);
  static void SetTLSValue(TLSKey key, void* value);

  // Runs the slot destructors of the calling thread and tears its vector
  // down. Called by the image's TLS callback on thread and process detach;
  // safe to call when the thread never used a slot.
  static void OnThreadExit();
};

// The calling thread's raw platform value: null (no vector yet), the
// torn-down marker (1) or the address of its slot vector. For tests.
void* GetTlsVectorForTesting();

// Creates the calling thread's slot vector as a first Set does. A thread
// that already has one ends the process with a fatal check. For tests.
void ConstructTlsVectorForTesting();

}  // namespace internal

// Process-wide slots whose value is separate for each thread. At most
// kThreadLocalStorageSize slots exist per process and they are never given
// back. All operations are thread-safe; a value is seen only by the thread
// that stored it.
class ThreadLocalStorage {
 public:
  static constexpr int kThreadLocalStorageSize = 256;
  static constexpr int kInvalidSlotValue = -1;

  // Called at thread exit with the thread's non-null value of a slot.
  using TLSDestructorFunc = void (*)(void* value);

  // A handle to one slot. Construction allocates the slot; running out of
  // slots (all 256 handed out) ends the process with a fatal check.
  // The handle itself may be shared between threads.
  class Slot {
   public:
    explicit Slot(TLSDestructorFunc destructor = nullptr);
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    // No destructor on purpose: slots stay in use until the process ends.

    // Allocates a fresh slot for this handle. `destructor` (may be null)
    // runs at thread exit for each thread whose value is non-null.
    void Initialize(TLSDestructorFunc destructor);

    // The calling thread's value; null when this thread never stored one,
    // or after the thread's exit processing has finished.
    void* Get() const;

    // Stores the calling thread's value, creating the thread's vector on
    // first use. Ignored once the thread's exit processing has finished.
    void Set(void* value);

    // The slot index in the process-wide table (0 to 255).
    int index() const { return slot_; }

   private:
    int slot_ = kInvalidSlotValue;
    uint32_t version_ = 0;
  };
};

using TlsSlot = ThreadLocalStorage::Slot;

// A per-thread boolean, false on every thread until set. Owns one slot
// without destructor. Thread-safe like the slot.
class ThreadLocalFlag {
 public:
  ThreadLocalFlag() = default;
  ThreadLocalFlag(const ThreadLocalFlag&) = delete;
  ThreadLocalFlag& operator=(const ThreadLocalFlag&) = delete;

  bool Get() const { return slot_.Get() != nullptr; }
  // True is stored as the address of this flag, false as null.
  void Set(bool value) { slot_.Set(value ? this : nullptr); }

 private:
  TlsSlot slot_;
};

}  // namespace base

#endif  // BASE_THREADING_THREAD_LOCAL_STORAGE_H_
