#include "base/win/scoped_handle_verifier.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <thread>
#include <vector>

#include "base/platform/windows_types.h"
#include "base/win/scoped_handle.h"

namespace base::win {
namespace {

using internal::ScopedHandleVerifier;

HANDLE NewEvent() {
  return ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

// The fatal message of a verifier check on `line`.
#define VERIFIER_CHECK(line) "scoped_handle_verifier\\.cc\\(" #line "\\)\\] Check failed: false\\. "

// The test DLL of our own, loaded into this process; it reaches this
// program's verifier through the exported GetHandleVerifier.
struct VerifierDll {
  void* (*executable_verifier)();
  void* (*own_verifier)();
  void (*begin_tracking)(HANDLE, const void*);
  void (*end_tracking)(HANDLE, const void*);
  void (*check_handle_before_close)(HANDLE);
  void (*disable_tracking)();
  bool (*close_by_slot)(HANDLE);
  HMODULE (*module_by_slot)();
  void (*adopt_and_take)(HANDLE);
};

template <typename T>
void Bind(HMODULE module, const char* name, T* function) {
  *function = reinterpret_cast<T>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
  ASSERT_NE(nullptr, *function) << name;
}

// Loads the DLL once per process and never unloads it.
const VerifierDll& Dll() {
  static const VerifierDll dll = [] {
    VerifierDll d{};
    HMODULE module = ::LoadLibraryW(L"verifier_test.dll");
    EXPECT_NE(nullptr, module) << "error " << ::GetLastError();
    if (module == nullptr)
      std::abort();
    Bind(module, "VerifierDllExecutableVerifier", &d.executable_verifier);
    Bind(module, "VerifierDllOwnVerifier", &d.own_verifier);
    Bind(module, "VerifierDllBeginTracking", &d.begin_tracking);
    Bind(module, "VerifierDllEndTracking", &d.end_tracking);
    Bind(module, "VerifierDllCheckHandleBeforeClose", &d.check_handle_before_close);
    Bind(module, "VerifierDllDisableTracking", &d.disable_tracking);
    Bind(module, "VerifierDllCloseBySlot", &d.close_by_slot);
    Bind(module, "VerifierDllModuleBySlot", &d.module_by_slot);
    Bind(module, "VerifierDllAdoptAndTake", &d.adopt_and_take);
    return d;
  }();
  return dll;
}

TEST(ScopedHandleVerifier, ExportIsSharedWithOtherModules) {
  // The program exports the function under exactly this name.
  auto* exported =
      reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(nullptr), "GetHandleVerifier"));
  ASSERT_EQ(reinterpret_cast<void*>(&::GetHandleVerifier), exported);

  const VerifierDll& dll = Dll();
  ScopedHandleVerifier* verifier = GetHandleVerifier();
  // Through the export, and through the DLL's own linked copy, which finds
  // the program's export and adopts that verifier.
  EXPECT_EQ(verifier, dll.executable_verifier());
  EXPECT_EQ(verifier, dll.own_verifier());
  // Slot 5 by number: the module that created the verifier is the program.
  EXPECT_EQ(::GetModuleHandleW(nullptr), dll.module_by_slot());
  EXPECT_EQ(::GetModuleHandleW(nullptr), verifier->GetVerifierModule());

  // Slot 0 by number closes the handle and answers true.
  HANDLE handle = NewEvent();
  EXPECT_TRUE(dll.close_by_slot(handle));
  DWORD flags = 0;
  EXPECT_FALSE(::GetHandleInformation(handle, &flags));

  // Tracking begun by the DLL and ended by it leaves nothing behind: a
  // holder here can adopt the value afterwards.
  HANDLE shared = NewEvent();
  int dll_owner = 0;
  dll.begin_tracking(shared, &dll_owner);
  dll.end_tracking(shared, &dll_owner);
  ScopedHandle holder(shared);
}

TEST(ScopedHandleVerifier, RacingThreadsGetOneVerifier) {
  // In a fresh child process, where no verifier exists yet.
  EXPECT_EXIT(
      {
        constexpr int kThreads = 8;
        std::vector<ScopedHandleVerifier*> seen(kThreads, nullptr);
        std::atomic<int> ready{0};
        std::vector<std::thread> threads;
        for (int i = 0; i < kThreads; ++i) {
          threads.emplace_back([&, i] {
            ready.fetch_add(1);
            while (ready.load() < kThreads)
              std::this_thread::yield();
            seen[i] = GetHandleVerifier();
          });
        }
        for (auto& thread : threads)
          thread.join();
        for (ScopedHandleVerifier* verifier : seen) {
          if (verifier == nullptr || verifier != GetHandleVerifier())
            std::_Exit(1);
        }
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(ScopedHandleVerifierDeathTest, OneHandleInTwoHolders) {
  EXPECT_DEATH(
      {
        HANDLE handle = NewEvent();
        ScopedHandle first(handle);
        ScopedHandle second(handle);
      },
      VERIFIER_CHECK(168));
  // The same through the DLL's own holders: one verifier sees both modules.
  EXPECT_DEATH(
      {
        HANDLE handle = NewEvent();
        ScopedHandle here(handle);
        Dll().adopt_and_take(handle);
      },
      VERIFIER_CHECK(168));
}

TEST(ScopedHandleVerifierDeathTest, EndTrackingOfUntrackedHandle) {
  EXPECT_DEATH(
      {
        int owner = 0;
        GetHandleVerifier()->EndTracking(NewEvent(), &owner, nullptr, nullptr);
      },
      VERIFIER_CHECK(184));
  // Ending twice: the second end finds nothing.
  EXPECT_DEATH(
      {
        HANDLE handle = NewEvent();
        int owner = 0;
        Dll().begin_tracking(handle, &owner);
        Dll().end_tracking(handle, &owner);
        Dll().end_tracking(handle, &owner);
      },
      VERIFIER_CHECK(184));
}

TEST(ScopedHandleVerifierDeathTest, EndTrackingByForeignOwner) {
  EXPECT_DEATH(
      {
        ScopedHandle holder(NewEvent());
        int stranger = 0;
        Dll().end_tracking(holder.Get(), &stranger);
      },
      VERIFIER_CHECK(192));
}

TEST(ScopedHandleVerifierDeathTest, OutsideCloseOfTrackedHandle) {
  EXPECT_DEATH(
      {
        ScopedHandle holder(NewEvent());
        Dll().check_handle_before_close(holder.Get());
      },
      VERIFIER_CHECK(218));
}

// A value the system refuses to close, checked at run time.
HANDLE BogusHandle() {
  return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFF1230));
}

TEST(ScopedHandleVerifierDeathTest, RefusedClose) {
  ASSERT_FALSE(::CloseHandle(BogusHandle()));
  EXPECT_DEATH(
      {
        ScopedHandle holder(BogusHandle());
        holder.Close();
      },
      VERIFIER_CHECK(73));
}

TEST(ScopedHandleVerifierDeathTest, DisabledTrackingIgnoresMisuseButNotRefusedClose) {
  EXPECT_EXIT(
      {
        Dll().disable_tracking();
        HANDLE handle = NewEvent();
        ScopedHandle first(handle);
        ScopedHandle second(handle);  // double adoption
        int stranger = 0;
        GetHandleVerifier()->EndTracking(handle, &stranger, nullptr, nullptr);  // foreign
        Dll().end_tracking(NewEvent(), &stranger);                              // untracked
        Dll().check_handle_before_close(handle);                                // outside close
        static_cast<void>(second.Take());
        first.Close();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
  EXPECT_DEATH(
      {
        GetHandleVerifier()->DisableTracking();
        ScopedHandle holder(BogusHandle());
        holder.Close();
      },
      VERIFIER_CHECK(73));
}

}  // namespace
}  // namespace base::win
