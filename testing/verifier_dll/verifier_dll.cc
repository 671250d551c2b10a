// Exports for the verifier tests. Everything here runs in the test program's
// process; the verifier used is the one the program exports.

#include "base/platform/windows_types.h"
#include "base/win/scoped_handle.h"
#include "base/win/scoped_handle_verifier.h"

using base::win::internal::ScopedHandleVerifier;

namespace {

// The program's verifier, found the way any other module finds it.
ScopedHandleVerifier* ExecutableVerifier() {
  using GetHandleVerifierFunc = ScopedHandleVerifier* (*)();
  auto get_verifier = reinterpret_cast<GetHandleVerifierFunc>(
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(nullptr), "GetHandleVerifier")));
  return get_verifier == nullptr ? nullptr : get_verifier();
}

// The verifier's operations by their slot number, not through the class
// declaration: the slot order is what other modules rely on.
void** VirtualTable(ScopedHandleVerifier* verifier) {
  return *reinterpret_cast<void***>(verifier);
}

}  // namespace

extern "C" {

__declspec(dllexport) void* VerifierDllExecutableVerifier() {
  return ExecutableVerifier();
}

// What this DLL's own copy of the holders reports to.
__declspec(dllexport) void* VerifierDllOwnVerifier() {
  return ::GetHandleVerifier();
}

__declspec(dllexport) void VerifierDllBeginTracking(HANDLE handle, const void* owner) {
  ExecutableVerifier()->BeginTracking(handle, owner, nullptr, nullptr);
}

__declspec(dllexport) void VerifierDllEndTracking(HANDLE handle, const void* owner) {
  ExecutableVerifier()->EndTracking(handle, owner, nullptr, nullptr);
}

__declspec(dllexport) void VerifierDllCheckHandleBeforeClose(HANDLE handle) {
  ExecutableVerifier()->CheckHandleBeforeClose(handle);
}

__declspec(dllexport) void VerifierDllDisableTracking() {
  ExecutableVerifier()->DisableTracking();
}

// Slot 0, CloseHandleChecked.
__declspec(dllexport) bool VerifierDllCloseBySlot(HANDLE handle) {
  ScopedHandleVerifier* verifier = ExecutableVerifier();
  using Func = bool(__attribute__((thiscall))*)(ScopedHandleVerifier*, HANDLE);
  return reinterpret_cast<Func>(VirtualTable(verifier)[0])(verifier, handle);
}

// Slot 5, GetVerifierModule.
__declspec(dllexport) HMODULE VerifierDllModuleBySlot() {
  ScopedHandleVerifier* verifier = ExecutableVerifier();
  using Func = HMODULE(__attribute__((thiscall))*)(ScopedHandleVerifier*);
  return reinterpret_cast<Func>(VirtualTable(verifier)[5])(verifier);
}

// Adopts `handle` in a holder of this DLL and hands it back untracked.
__declspec(dllexport) void VerifierDllAdoptAndTake(HANDLE handle) {
  base::win::ScopedHandle holder(handle);
  static_cast<void>(holder.Take());
}

}  // extern "C"
