#ifndef BASE_WIN_SCOPED_HANDLE_VERIFIER_H_
#define BASE_WIN_SCOPED_HANDLE_VERIFIER_H_

#include <atomic>
#include <cstddef>
#include <unordered_map>

#include "base/debug/stack_trace.h"
#include "base/platform/windows_types.h"
#include "base/synchronization/lock.h"
#include "base/threading/thread_local_storage.h"

namespace base::win::internal {
class ScopedHandleVerifier;
}  // namespace base::win::internal

// The process's handle verifier, created on the first call and never
// destroyed. Thread-safe. Exported by every image that links it, so that
// other modules of the process can share the executable's verifier. In a
// module other than the executable the first call adopts the verifier that
// the executable exports, when it exports one.
extern "C" __declspec(dllexport) base::win::internal::ScopedHandleVerifier* GetHandleVerifier();

namespace base::win::internal {

// What the verifier knows about one owned handle.
struct TrackedHandleInfo {
  // The ScopedHandle that owns the handle.
  const void* owner;
  // Return address of the function that adopted it, and an address inside it.
  const void* caller_address;
  const void* code_address;
  // The stack when tracking began.
  debug::StackSnapshot stack;
  // The thread that began tracking.
  DWORD thread_id;
};

// SuperFastHash of the handle value's bytes.
struct HandleHash {
  size_t operator()(HANDLE handle) const;
};

// Tracks every handle owned by a ScopedHandle and ends the process with a
// fatal check when ownership is broken. The virtual operations, in this order
// and with these parameters, are the interface that other modules reach
// through the exported GetHandleVerifier(); do not reorder, insert or add a
// virtual destructor. All operations are thread-safe.
class ScopedHandleVerifier {
 public:
  ScopedHandleVerifier(const ScopedHandleVerifier&) = delete;
  ScopedHandleVerifier& operator=(const ScopedHandleVerifier&) = delete;

  // Closes `handle`; a close the system refuses is fatal. Always true.
  virtual bool CloseHandleChecked(HANDLE handle);
  // Records `owner` as the owner of `handle`; a handle already tracked is
  // fatal.
  virtual void BeginTracking(HANDLE handle,
                             const void* owner,
                             const void* caller_address,
                             const void* code_address);
  // Forgets `handle`; an untracked handle or another owner is fatal.
  virtual void EndTracking(HANDLE handle,
                           const void* owner,
                           const void* caller_address,
                           const void* code_address);
  // Turns tracking off for the rest of the process: tracking and the close
  // check do nothing from then on, a refused close stays fatal.
  virtual void DisableTracking();
  // For a close that bypasses ScopedHandle: closing a handle that is still
  // owned is fatal. Closes made by CloseHandleChecked on this thread pass.
  virtual void CheckHandleBeforeClose(HANDLE handle);
  // The image base of the module that created this verifier.
  virtual HMODULE GetVerifierModule();

 private:
  friend ScopedHandleVerifier* ::GetHandleVerifier();

  explicit ScopedHandleVerifier(Lock* lock);
  // Never destroyed.
  ~ScopedHandleVerifier() = delete;

  debug::StackSnapshot creation_stack_;
  std::atomic<bool> enabled_{true};
  // True on a thread only while CloseHandleChecked runs there.
  ThreadLocalFlag closing_;
  Lock* const lock_;
  std::unordered_map<HANDLE, TrackedHandleInfo, HandleHash> map_;  // Guarded by lock_.
};

// The entry points of ScopedHandle. Each looks the verifier up anew.
void VerifierCloseHandle(HANDLE handle);
void VerifierBeginTracking(HANDLE handle,
                           const void* owner,
                           const void* caller_address,
                           const void* code_address);
void VerifierEndTracking(HANDLE handle,
                         const void* owner,
                         const void* caller_address,
                         const void* code_address);

}  // namespace base::win::internal

#endif  // BASE_WIN_SCOPED_HANDLE_VERIFIER_H_
