#include "base/threading/thread_local_storage.h"

#include <type_traits>

#include "base/platform/windows_types.h"

namespace base::internal {

static_assert(std::is_same_v<PlatformThreadLocalStorage::TLSKey, DWORD>,
              "TLSKey must be the platform's index type");
static_assert(PlatformThreadLocalStorage::TLS_KEY_OUT_OF_INDEXES == TLS_OUT_OF_INDEXES,
              "TLS_KEY_OUT_OF_INDEXES must be the platform's failure value");

}  // namespace base::internal

namespace {

// Runs the slot destructors of an ending thread. Thread detach reaches every
// thread but the last; process detach reaches the thread that ends the
// process. Attach notifications need nothing.
void NTAPI OnThreadExitCallback(PVOID /*module*/, DWORD reason, PVOID /*reserved*/) {
  if (reason == DLL_THREAD_DETACH || reason == DLL_PROCESS_DETACH)
    base::internal::PlatformThreadLocalStorage::OnThreadExit();
}

}  // namespace

extern "C" {

// The runtime's TLS directory of the image: referencing it keeps the
// directory (and with it the callback list) in every image that links this
// file.
extern const IMAGE_TLS_DIRECTORY _tls_used;

// The loader calls every pointer between the runtime's .CRT$XLA and .CRT$XLZ
// markers; .CRT$XLY puts this callback after the runtime's own ones.
__attribute__((section(".CRT$XLY"), used)) PIMAGE_TLS_CALLBACK p_thread_callback_base =
    OnThreadExitCallback;

}  // extern "C"

namespace base::internal {

bool PlatformThreadLocalStorage::AllocTLS(TLSKey* key) {
  // Every image that allocates slots runs its destructors at thread exit;
  // these reads keep the callback and the TLS directory from being dropped
  // by the linker, whatever else the image uses.
  static_cast<void>(*static_cast<PIMAGE_TLS_CALLBACK volatile*>(&p_thread_callback_base));
  static_cast<void>(*static_cast<const volatile DWORD*>(&_tls_used.Characteristics));

  const DWORD value = ::TlsAlloc();
  if (value == TLS_OUT_OF_INDEXES) {
    *key = TLS_KEY_OUT_OF_INDEXES;
    return false;
  }
  *key = value;
  return true;
}

void PlatformThreadLocalStorage::FreeTLS(TLSKey key) {
  ::TlsFree(key);
}

void* PlatformThreadLocalStorage::GetTLSValue(TLSKey key) {
  return ::TlsGetValue(key);
}

void PlatformThreadLocalStorage::SetTLSValue(TLSKey key, void* value) {
  ::TlsSetValue(key, value);
}

}  // namespace base::internal
