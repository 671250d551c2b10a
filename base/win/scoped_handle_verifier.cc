#include "base/win/scoped_handle_verifier.h"

#include "base/debug/alias.h"
#include "base/hash/super_fast_hash.h"
#include "base/logging.h"
#include "base/win/scoped_handle.h"

// One verifier per process keeps a table of every handle owned by a
// ScopedHandle: its owner, where it was adopted, the stack and the thread.
// Each violation of single ownership ends the process with a fatal check
// that reports a line of its own (see the table below), so the log line
// tells the violations apart, and keeps copies of the records involved in its
// stack frame for the crash dump.
// Every table access happens under one lock; the lock also serialises the
// creation of the verifier.

// The image base of the module this file is linked into (provided by the
// linker for every PE image).
extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace base::win {

namespace internal {

namespace {

// The lines the fatal checks report: tests and crash reports tell the
// violations of single ownership apart by them.
constexpr int kCloseFailedLine = 73;        // closing a handle the system refuses
constexpr int kAdoptedTwiceLine = 168;      // a second holder for one handle
constexpr int kNotTrackedLine = 184;        // releasing a handle nobody holds
constexpr int kWrongOwnerLine = 192;        // releasing another holder's handle
constexpr int kClosedWhileOwnedLine = 218;  // closing a handle a holder owns

// Set once, by the first GetHandleVerifier() that finds it unset under the
// lock; read without the lock afterwards.
std::atomic<ScopedHandleVerifier*> g_active_verifier{nullptr};

// Serialises the creation of the verifier and guards its table. Created on
// first use, never freed.
Lock* GetVerifierLock() {
  static Lock* const lock = new Lock();
  return lock;
}

HMODULE CurrentModule() {
  return reinterpret_cast<HMODULE>(&__ImageBase);
}

// In a module other than the executable: the verifier the executable
// exports, if it exports one. The executable never looks elsewhere. Sharing
// the executable's verifier lets a handle adopted in one module and misused
// in another be caught; a module loaded into a process whose executable
// exports none keeps a verifier of its own.
ScopedHandleVerifier* FindExecutableVerifier() {
  HMODULE main_module = ::GetModuleHandleW(nullptr);
  if (main_module == nullptr || main_module == CurrentModule())
    return nullptr;
  using GetHandleVerifierFunc = ScopedHandleVerifier* (*)();
  auto get_verifier = reinterpret_cast<GetHandleVerifierFunc>(
      reinterpret_cast<void*>(::GetProcAddress(main_module, "GetHandleVerifier")));
  if (get_verifier == nullptr || get_verifier == &::GetHandleVerifier)
    return nullptr;
  return get_verifier();
}

}  // namespace

ScopedHandleVerifier::ScopedHandleVerifier(Lock* lock) : lock_(lock) {}

bool ScopedHandleVerifier::CloseHandleChecked(HANDLE handle) {
  // While `closing_` is set, CheckHandleBeforeClose on this thread lets the
  // close pass: it is this very close, made for the owning ScopedHandle after
  // it ended tracking. The flag is per thread, so a close from outside on
  // another thread at the same moment is still caught. A refused close
  // means the handle was already closed elsewhere or never was one.
  const bool tracking = enabled_.load(std::memory_order_relaxed);
  if (tracking)
    closing_.Set(true);
  const BOOL closed = ::CloseHandle(handle);
  if (!closed) {
    CHECK_AT(false, kCloseFailedLine);
  }
  if (tracking)
    closing_.Set(false);
  return true;
}

size_t HandleHash::operator()(HANDLE handle) const {
  // The handle's bytes in memory order.
  return SuperFastHash(reinterpret_cast<const char*>(&handle), sizeof(handle));
}

void ScopedHandleVerifier::DisableTracking() {
  enabled_.store(false, std::memory_order_relaxed);
}

HMODULE ScopedHandleVerifier::GetVerifierModule() {
  return CurrentModule();
}

// ScopedHandle's entry points look the verifier up on every call instead of
// caching it in the holder, so no holder keeps a pointer of its own.
void VerifierCloseHandle(HANDLE handle) {
  GetHandleVerifier()->CloseHandleChecked(handle);
}

void VerifierBeginTracking(HANDLE handle,
                           const void* owner,
                           const void* caller_address,
                           const void* code_address) {
  GetHandleVerifier()->BeginTracking(handle, owner, caller_address, code_address);
}

void VerifierEndTracking(HANDLE handle,
                         const void* owner,
                         const void* caller_address,
                         const void* code_address) {
  GetHandleVerifier()->EndTracking(handle, owner, caller_address, code_address);
}

}  // namespace internal

// Out of line, so that its return address lies inside the caller.
__attribute__((noinline)) const void* CurrentCodeAddress() {
  return __builtin_return_address(0);
}

}  // namespace base::win

// The unlocked read serves every call after the first; the second read under
// the lock makes the creation happen once even when threads race for it. The
// verifier allocates its thread-local slot while this lock is held, so the
// verifier lock always comes before the slot-table lock.
extern "C" __declspec(dllexport) base::win::internal::ScopedHandleVerifier* GetHandleVerifier() {
  using base::win::internal::g_active_verifier;
  using base::win::internal::ScopedHandleVerifier;
  ScopedHandleVerifier* verifier = g_active_verifier.load(std::memory_order_acquire);
  if (verifier != nullptr)
    return verifier;

  base::Lock* lock = base::win::internal::GetVerifierLock();
  base::AutoLock auto_lock(*lock);
  verifier = g_active_verifier.load(std::memory_order_acquire);
  if (verifier == nullptr) {
    verifier = base::win::internal::FindExecutableVerifier();
    if (verifier == nullptr)
      verifier = new ScopedHandleVerifier(lock);
    g_active_verifier.store(verifier, std::memory_order_release);
  }
  return verifier;
}

namespace base::win::internal {

// The thread id is read before the lock is taken, the stack while it is
// held. A value already in the table means two holders believe they own the
// same handle; whichever closes first leaves the other with a dead (and soon
// recycled) value.
void ScopedHandleVerifier::BeginTracking(HANDLE handle,
                                         const void* owner,
                                         const void* caller_address,
                                         const void* code_address) {
  if (!enabled_.load(std::memory_order_relaxed))
    return;
  const DWORD thread_id = ::GetCurrentThreadId();
  AutoLock auto_lock(*lock_);
  const TrackedHandleInfo info{owner, caller_address, code_address, debug::StackSnapshot(),
                               thread_id};
  auto [it, inserted] = map_.insert({handle, info});
  if (!inserted) {
    // Kept in this frame for the crash dump: who owns the handle already.
    TrackedHandleInfo other = it->second;
    debug::StackSnapshot creation_stack = creation_stack_;
    debug::Alias(&other);
    debug::Alias(&creation_stack);
    CHECK_AT(false, kAdoptedTwiceLine);
  }
}

void ScopedHandleVerifier::EndTracking(HANDLE handle,
                                       const void* owner,
                                       const void* /*caller_address*/,
                                       const void* /*code_address*/) {
  if (!enabled_.load(std::memory_order_relaxed))
    return;
  AutoLock auto_lock(*lock_);
  auto it = map_.find(handle);
  // Not tracked: released twice, or never adopted.
  if (it == map_.end()) {
    debug::StackSnapshot creation_stack = creation_stack_;
    debug::Alias(&creation_stack);
    CHECK_AT(false, kNotTrackedLine);
  }
  // Released by a holder that does not own it.
  if (it->second.owner != owner) {
    TrackedHandleInfo other = it->second;
    debug::StackSnapshot creation_stack = creation_stack_;
    debug::Alias(&other);
    debug::Alias(&creation_stack);
    CHECK_AT(false, kWrongOwnerLine);
  }
  map_.erase(it);
}

// Offered to other modules through the export: a module that closes handles
// itself asks first, and a handle that a ScopedHandle still owns must not be
// closed behind its back (the holder would close a recycled value later).
// The close that CloseHandleChecked makes on this thread passes, and so
// does any close while tracking is disabled.
void ScopedHandleVerifier::CheckHandleBeforeClose(HANDLE handle) {
  if (!enabled_.load(std::memory_order_relaxed))
    return;
  // This thread is inside CloseHandleChecked: the holder has already ended
  // tracking, and the close is the holder's own.
  if (closing_.Get())
    return;
  AutoLock auto_lock(*lock_);
  auto it = map_.find(handle);
  // Still owned: keep the owner's record and the verifier's creation stack
  // in this frame, then end the process.
  if (it != map_.end()) {
    TrackedHandleInfo other = it->second;
    debug::StackSnapshot creation_stack = creation_stack_;
    debug::Alias(&other);
    debug::Alias(&creation_stack);
    CHECK_AT(false, kClosedWhileOwnedLine);
  }
}

}  // namespace base::win::internal
