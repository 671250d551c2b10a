// update.exe's load configuration: the loader resolves the DLLs that the image
// imports, and those they import in turn, from the system folder only
// (DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32, read by Windows 10 1607
// and later). Without it, an import that is not a KnownDLL is looked for
// first in the program's own folder, which the user can write, before
// wWinMain could restrict the search (base::win::RestrictDllSearchToSystemFolder).
//
// The linker points the image's load-configuration directory at the symbol
// _load_config_used. The toolchain's CRT (mingw-w64 10) defines no such
// symbol and no security cookie (__security_cookie), and GCC emits no SafeSEH
// table, so this definition is the only one and those fields stay 0: the
// loader then checks handlers and cookies as it does for an image without a
// load configuration.
#include <cstddef>
#include <cstdint>

#include "base/platform/windows_types.h"

namespace {

// IMAGE_LOAD_CONFIG_DIRECTORY32 of the Windows 10 SDK, through the fields the
// 1607 loader knows; the toolchain's <winnt.h> has an older form in which
// DependentLoadFlags is still called Reserved1. Pointers are virtual
// addresses, here all 0.
struct LoadConfigDirectory32 {
  uint32_t Size;
  uint32_t TimeDateStamp;
  uint16_t MajorVersion;
  uint16_t MinorVersion;
  uint32_t GlobalFlagsClear;
  uint32_t GlobalFlagsSet;
  uint32_t CriticalSectionDefaultTimeout;
  uint32_t DeCommitFreeBlockThreshold;
  uint32_t DeCommitTotalFreeThreshold;
  uint32_t LockPrefixTable;
  uint32_t MaximumAllocationSize;
  uint32_t VirtualMemoryThreshold;
  uint32_t ProcessHeapFlags;
  uint32_t ProcessAffinityMask;
  uint16_t CSDVersion;
  uint16_t DependentLoadFlags;
  uint32_t EditList;
  uint32_t SecurityCookie;
  uint32_t SEHandlerTable;
  uint32_t SEHandlerCount;
  uint32_t GuardCFCheckFunctionPointer;
  uint32_t GuardCFDispatchFunctionPointer;
  uint32_t GuardCFFunctionTable;
  uint32_t GuardCFFunctionCount;
  uint32_t GuardFlags;
  uint16_t CodeIntegrityFlags;
  uint16_t CodeIntegrityCatalog;
  uint32_t CodeIntegrityCatalogOffset;
  uint32_t CodeIntegrityReserved;
  uint32_t GuardAddressTakenIatEntryTable;
  uint32_t GuardAddressTakenIatEntryCount;
  uint32_t GuardLongJumpTargetTable;
  uint32_t GuardLongJumpTargetCount;
};

// The offsets of the PE format's description of the 32-bit structure.
static_assert(offsetof(LoadConfigDirectory32, DependentLoadFlags) == 0x36);
static_assert(offsetof(LoadConfigDirectory32, SEHandlerCount) ==
              offsetof(IMAGE_LOAD_CONFIG_DIRECTORY32, SEHandlerCount));
static_assert(offsetof(LoadConfigDirectory32, GuardFlags) == 0x58);
static_assert(sizeof(LoadConfigDirectory32) == 0x78);
static_assert(LOAD_LIBRARY_SEARCH_SYSTEM32 == 0x800);

// Every field 0 but these two.
constexpr LoadConfigDirectory32 SystemFolderImports() {
  LoadConfigDirectory32 config = {};
  config.Size = sizeof(config);
  config.DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32;
  return config;
}

}  // namespace

// The linker looks this up by its name; update/CMakeLists.txt keeps it through
// --gc-sections, since no code refers to it.
extern "C" {
extern const LoadConfigDirectory32 _load_config_used;
__attribute__((used)) constinit const LoadConfigDirectory32 _load_config_used =
    SystemFolderImports();
}
