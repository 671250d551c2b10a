// Reads the built update.exe (UpdaterDir(): the test build, or the shipped
// image when E2E_UPDATER_DIR names dist/) through the Win32 resource API, the
// way Windows reads its manifest when it creates the process and the way file
// properties, installers and virus scanners read its version record; and its
// PE headers, as the loader reads its load configuration.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <regex>
#include <string>
#include <vector>

#include "testing/e2e/e2e_support.h"
#include "testing/scoped_test_handle.h"

namespace e2e {
namespace {

// The CMake project version, given by the build ("major.minor.patch").
constexpr char kProjectVersion[] = UPDATE_EXPECTED_VERSION;
// Wide forms of RT_MANIFEST and of CREATEPROCESS_MANIFEST_RESOURCE_ID, the
// manifest Windows reads when it creates the process.
const wchar_t* const kManifestType = MAKEINTRESOURCEW(24);
const wchar_t* const kProcessManifest = MAKEINTRESOURCEW(1);

using testing_support::ScopedActCtx;
using testing_support::ScopedModule;

class UpdateImageTest : public ::testing::Test {
 protected:
  const std::wstring path_ = UpdaterDir() + L"\\update.exe";
};

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  reinterpret_cast<std::vector<std::wstring>*>(names)->push_back(
      IS_INTRESOURCE(name) ? L"#" + std::to_wstring(reinterpret_cast<ULONG_PTR>(name)) : name);
  return TRUE;
}

TEST_F(UpdateImageTest, Manifest_RunsAsInvokerWithoutUiAccess) {
  SCOPED_TRACE(ToUtf8(path_));
  ScopedModule module(LoadLibraryExW(path_.c_str(), nullptr,
                                     LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(module.valid()) << "error " << GetLastError();

  // Exactly one manifest, the one Windows reads at process creation.
  std::vector<std::wstring> names;
  EnumResourceNamesW(module.get(), kManifestType, CollectName, reinterpret_cast<LONG_PTR>(&names));
  EXPECT_EQ(names, std::vector<std::wstring>{L"#1"});
  HRSRC found = FindResourceW(module.get(), kProcessManifest, kManifestType);
  ASSERT_NE(found, nullptr);
  HGLOBAL loaded = LoadResource(module.get(), found);
  ASSERT_NE(loaded, nullptr);
  const std::string manifest(static_cast<const char*>(LockResource(loaded)),
                             SizeofResource(module.get(), found));
  static const std::regex request(
      R"(<requestedExecutionLevel\s+level="asInvoker"\s+uiAccess="false"\s*/>)");
  EXPECT_TRUE(std::regex_search(manifest, request)) << manifest;
  EXPECT_EQ(CountOccurrences(manifest, "<requestedExecutionLevel"), 1) << manifest;

  // The system's own manifest parser accepts it and reads the same request.
  ACTCTXW description = {};
  description.cbSize = sizeof(description);
  description.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
  description.lpSource = path_.c_str();
  description.lpResourceName = kProcessManifest;
  const ScopedActCtx context(CreateActCtxW(&description));
  ASSERT_TRUE(context.valid()) << "error " << GetLastError();
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION run_level = {};
  ASSERT_TRUE(QueryActCtxW(0, context.get(), nullptr, RunlevelInformationInActivationContext,
                           &run_level, sizeof(run_level), nullptr))
      << "error " << GetLastError();
  EXPECT_EQ(run_level.RunLevel, ACTCTX_RUN_LEVEL_AS_INVOKER);
  EXPECT_EQ(run_level.UiAccess, 0u);
}

TEST_F(UpdateImageTest, Version_CarriesProjectVersionAndProductNames) {
  SCOPED_TRACE(ToUtf8(path_));
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path_.c_str(), &ignored);
  ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
  std::vector<char> record(size);
  ASSERT_TRUE(GetFileVersionInfoW(path_.c_str(), 0, size, record.data()));

  unsigned major = 0, minor = 0, patch = 0;
  ASSERT_EQ(sscanf(kProjectVersion, "%u.%u.%u", &major, &minor, &patch), 3);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  ASSERT_GE(length, sizeof(VS_FIXEDFILEINFO));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, MAKELONG(minor, major));
  EXPECT_EQ(fixed->dwFileVersionLS, MAKELONG(0, patch));
  EXPECT_EQ(fixed->dwProductVersionMS, fixed->dwFileVersionMS);
  EXPECT_EQ(fixed->dwProductVersionLS, fixed->dwFileVersionLS);
  EXPECT_EQ(fixed->dwFileFlags & fixed->dwFileFlagsMask, 0u) << "no debug or pre-release flag";
  EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS_NT_WINDOWS32));
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));

  // The strings of the first (only) language the record lists.
  struct Translation {
    WORD language;
    WORD code_page;
  }* translation = nullptr;
  ASSERT_TRUE(VerQueryValueW(record.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, sizeof(Translation));
  wchar_t block[64];
  swprintf(block, 64, L"\\StringFileInfo\\%04x%04x\\", translation->language,
           translation->code_page);
  const struct {
    const wchar_t* name;
    std::string expected;
  } cases[] = {
      {L"FileVersion", kProjectVersion},    {L"ProductVersion", kProjectVersion},
      {L"OriginalFilename", "update.exe"},  {L"InternalName", "update"},
      {L"ProductName", "ZeltorCloudPlay"},  {L"FileDescription", "ZeltorCloudPlay Updater"},
      {L"CompanyName", "ZeltorCloudGame2"}, {L"LegalCopyright", "Copyright (C) ZeltorCloudGame2"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.name));
    wchar_t* value = nullptr;
    UINT chars = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), (std::wstring(block) + c.name).c_str(),
                               reinterpret_cast<void**>(&value), &chars));
    EXPECT_EQ(ToUtf8(value), c.expected);
  }
}

// The load configuration, read from the file's PE headers as the loader reads
// it: the imports resolve from the system folder only (DependentLoadFlags,
// at offset 0x36 of the 32-bit structure; <winnt.h> here still calls it
// Reserved1), and the image claims no cookie or control-flow tables it lacks.
TEST_F(UpdateImageTest, LoadConfig_ResolvesImportsFromTheSystemFolderOnly) {
  SCOPED_TRACE(ToUtf8(path_));
  const std::string image = ReadFileBytes(path_);
  auto read = [&image](size_t offset, auto& out) {
    return offset + sizeof(out) <= image.size() &&
           memcpy(&out, image.data() + offset, sizeof(out)) != nullptr;
  };
  IMAGE_DOS_HEADER dos = {};
  IMAGE_NT_HEADERS32 nt = {};
  ASSERT_TRUE(read(0, dos) && dos.e_magic == IMAGE_DOS_SIGNATURE);
  ASSERT_TRUE(read(dos.e_lfanew, nt) && nt.Signature == IMAGE_NT_SIGNATURE);
  ASSERT_EQ(nt.OptionalHeader.Magic, IMAGE_NT_OPTIONAL_HDR32_MAGIC);
  const IMAGE_DATA_DIRECTORY directory =
      nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_LOAD_CONFIG];
  ASSERT_NE(directory.VirtualAddress, 0u) << "no load configuration";
  ASSERT_GE(directory.Size, 0x38u) << "too short to hold DependentLoadFlags";

  // The file offset of the structure, through the section that holds its RVA.
  size_t offset = 0;
  const size_t sections = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS32, OptionalHeader) +
                          nt.FileHeader.SizeOfOptionalHeader;
  for (WORD i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section = {};
    ASSERT_TRUE(read(sections + i * sizeof(section), section));
    const DWORD rva = directory.VirtualAddress - section.VirtualAddress;
    if (directory.VirtualAddress >= section.VirtualAddress && rva < section.SizeOfRawData)
      offset = section.PointerToRawData + rva;
  }
  ASSERT_NE(offset, 0u) << "the load configuration lies in no section";

  const struct {
    const char* field;
    size_t at;
    bool word;  // 16 bits, else 32
    uint32_t expected;
  } cases[] = {
      {"Size, the directory's", 0x00, false, directory.Size},
      {"DependentLoadFlags, LOAD_LIBRARY_SEARCH_SYSTEM32", 0x36, true, 0x800},
      {"SecurityCookie", 0x3C, false, 0},
      {"SEHandlerTable", 0x40, false, 0},
      {"GuardFlags", 0x58, false, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.field);
    uint16_t word = 0;
    uint32_t dword = 0;
    ASSERT_LT(c.at, directory.Size);
    ASSERT_TRUE(c.word ? read(offset + c.at, word) : read(offset + c.at, dword));
    EXPECT_EQ(c.word ? word : dword, c.expected);
  }
}

// The unpacker beside the updater is the pinned 7-Zip 26.03, program and DLL.
TEST_F(UpdateImageTest, Unpacker_Is7Zip26WithItsDll) {
  for (const wchar_t* file : {L"7z.exe", L"7z.dll"}) {
    const std::wstring path = UpdaterDir() + L"\\" + file;
    SCOPED_TRACE(ToUtf8(path));
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
    ASSERT_NE(size, 0u) << "no version resource, error " << GetLastError();
    std::vector<char> record(size);
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, size, record.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(record.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 26u);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 3u);
  }
}

}  // namespace
}  // namespace e2e
