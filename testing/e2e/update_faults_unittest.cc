// Faults that real updaters meet in the field, each run through the real
// update.exe, 7-Zip and folders (ends of the updater at every step: the crash
// suite). Every case states what the user ends up with
// and checks it by the content hash of the installation, the log and the dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "testing/e2e/updater_test.h"
#include "testing/scoped_test_handle.h"

// After <windows.h>, which it needs.
#include <winioctl.h>

namespace e2e {
namespace {

// A minimal ZIP archive with stored entries, named as given (backslashes and
// all), so that a test can offer 7-Zip names that try to escape the root.
std::string ZipStored(const std::vector<std::pair<std::string, std::string>>& entries) {
  auto u16 = [](std::string* out, uint32_t v) {
    out->push_back(static_cast<char>(v & 0xFF));
    out->push_back(static_cast<char>((v >> 8) & 0xFF));
  };
  auto u32 = [&](std::string* out, uint32_t v) {
    u16(out, v & 0xFFFF);
    u16(out, v >> 16);
  };
  auto crc32 = [](const std::string& data) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : data) {
      crc ^= c;
      for (int k = 0; k < 8; ++k)
        crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
  };
  std::string body, central;
  for (const auto& [name, data] : entries) {
    const uint32_t offset = static_cast<uint32_t>(body.size());
    const uint32_t crc = crc32(data);
    u32(&body, 0x04034b50);
    u16(&body, 10), u16(&body, 0), u16(&body, 0), u16(&body, 0), u16(&body, 0);
    u32(&body, crc), u32(&body, static_cast<uint32_t>(data.size()));
    u32(&body, static_cast<uint32_t>(data.size()));
    u16(&body, static_cast<uint32_t>(name.size())), u16(&body, 0);
    body += name + data;
    u32(&central, 0x02014b50);
    u16(&central, 20), u16(&central, 10), u16(&central, 0), u16(&central, 0);
    u16(&central, 0), u16(&central, 0);
    u32(&central, crc), u32(&central, static_cast<uint32_t>(data.size()));
    u32(&central, static_cast<uint32_t>(data.size()));
    u16(&central, static_cast<uint32_t>(name.size()));
    u16(&central, 0), u16(&central, 0), u16(&central, 0), u16(&central, 0);
    u32(&central, 0), u32(&central, offset);
    central += name;
  }
  std::string end;
  u32(&end, 0x06054b50);
  u16(&end, 0), u16(&end, 0);
  u16(&end, static_cast<uint32_t>(entries.size())),
      u16(&end, static_cast<uint32_t>(entries.size()));
  u32(&end, static_cast<uint32_t>(central.size())), u32(&end, static_cast<uint32_t>(body.size()));
  u16(&end, 0);
  return body + central + end;
}

using UpdaterFaultTest = UpdaterFixture;

// Version 2 with 2,000 more files: its extraction takes long enough to be
// caught midway.
Tree ManyFilesVersion() {
  Tree big = VersionTree("2");
  for (int i = 0; i < 2000; ++i)
    big[L"many\\m" + std::to_wstring(i / 100) + L"\\f" + std::to_wstring(i) + L".txt"] =
        std::string(200, static_cast<char>('a' + i % 26));
  return big;
}

// A package `package`, made anew, of only `files` below Client, with the
// fixture `program`, if one is named, as its client program.
bool MakeClientPackage(const std::wstring& package,
                       const Tree& files,
                       const std::wstring& program = L"") {
  DeleteFileW(package.c_str());  // the unpacker adds to an archive that exists
  const ScopedTempDir source(L"src");
  const std::wstring client = ClientDir(source.path());
  return WriteTree(client, files) &&
         (program.empty() ||
          CopyFileTo(BinDir() + L"\\" + program, client + L"\\ZeltorCloudPlay.exe")) &&
         MakePackage(source.path(), package);
}

// client_old holding `path` open (read sharing only) for `hold` ms or
// "forever", once its hold is in place. A holder that ended without its hold
// (it could not open `path`) is started again, twice at most.
ChildProcess HoldOpen(const std::wstring& path, const std::wstring& hold = L"forever") {
  for (int attempt = 1;; ++attempt) {
    ChildProcess holder(Quote(BinDir() + L"\\client_old.exe") + L" " + hold + L" " + Quote(path));
    const bool held = WaitUntilHeld(path, holder);
    if (held || attempt == 3) {
      EXPECT_TRUE(held) << "not held: " << ToUtf8(path) << ", holder exit code "
                        << holder.ExitCode();
      return holder;
    }
    std::printf("holder of %s ended with %lu before its hold, starting it again\n",
                ToUtf8(path).c_str(), holder.ExitCode());
  }
}

// Whether this platform renames a folder while another process holds it
// (`held_below` empty), or a file ("\\f.txt") or a folder ("\\sub") in it,
// open without delete sharing. Windows refuses; Wine allows some of it.
// Learned on a scratch folder.
bool PlatformRenamesHeldFolder(const std::wstring& scratch, const wchar_t* held_below) {
  const std::wstring folder = scratch + L"\\held";
  RemoveTree(scratch);
  if (!MakeDirs(folder + L"\\sub") || !WriteFileBytes(folder + L"\\f.txt", "x"))
    return false;
  const std::wstring held = folder + held_below;
  ChildProcess holder(Quote(BinDir() + L"\\client_old.exe") + L" forever " + Quote(held));
  const bool renamed = WaitUntilHeld(held, holder) &&
                       MoveFileExW(folder.c_str(), (scratch + L"\\renamed").c_str(), 0);
  holder.Terminate();
  RemoveTree(scratch);
  return renamed;
}

TEST_F(UpdaterFaultTest, HeldFile_ReleasedAfter300msByTheOldClient_UpdateCompletes) {
  InstallAndStage(root_);
  ChildProcess old_client(Quote(BinDir() + L"\\client_old.exe") + L" 300 " +
                          Quote(root_ + L"\\Client\\data\\common.txt"));
  ASSERT_TRUE(old_client.started());
  UpdateRun run = RunUpdater(Args(static_cast<int>(old_client.pid()), root_));
  EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
  EXPECT_TRUE(HasLine(run, "wait result 1"));
  EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("2"));
}

// Package mode never leaves a mixture: whatever goes wrong before the new
// version runs, Client keeps its exact old tree, the package stays, the
// extraction is removed and the user sees the dialog.
TEST_F(UpdaterFaultTest, PackageFaults_KeepTheOldTreeThePackageAndTheRoom) {
  // 2,000 files, so that the unpacker can be ended midway.
  const Tree big = ManyFilesVersion();
  const auto package_of = [this](const Tree& tree, const std::wstring& program,
                                 const std::wstring& name) {
    EXPECT_TRUE(MakeClientPackage(work_ + L"\\" + name, tree, program));
    return ReadFileBytes(work_ + L"\\" + name);
  };
  const std::string big_package = package_of(big, L"ZeltorCloudPlay.exe", L"big.7z");
  std::string flipped = big_package;
  flipped[flipped.size() / 2] ^= 0x40;
  Tree roomy = VersionTree("2");
  roomy[L"data\\zeros.bin"] = std::string(8 << 20, '\0');  // packs small, unpacks past 4 MiB
  const std::wstring small = LinkFixtureDir() + L"\\small";
  ULARGE_INTEGER small_size = {};
  const bool have_small = !LinkFixtureDir().empty() &&
                          GetDiskFreeSpaceExW(small.c_str(), nullptr, &small_size, nullptr) &&
                          small_size.QuadPart <= (16u << 20);
  const struct {
    const char* name;
    std::string package;
    int end_unpacker_with = -1;  // its exit code, once the extraction holds `after_files`
    size_t after_files = 0;
    bool on_small_volume = false;
    const char* error;
  } cases[] = {
      {"unpacker ended early", big_package, 1, 100, false, "package not installed"},
      {"unpacker ended late", big_package, 1, 1500, false, "package not installed"},
      {"unpacker ended with code 0", big_package, 0, 800, false, "package not installed"},
      {"one byte flipped", flipped, -1, 0, false, "package not installed"},
      {"disk full", package_of(roomy, L"ZeltorCloudPlay.exe", L"roomy.7z"), -1, 0, true,
       "package not installed"},
      {"new client crashes", package_of(VersionTree("2"), L"client_crash.exe", L"crash.7z"), -1, 0,
       false, "update undone, previous version restored: "},
      {"new client lacks a DLL", package_of(VersionTree("2"), L"client_missing_dll.exe", L"dll.7z"),
       -1, 0, false, "update undone, previous version restored: "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.on_small_volume && !have_small) {
      std::printf("skipped \"%s\": the host mounts no small file system here\n", c.name);
      continue;
    }
    const std::wstring root = c.on_small_volume ? small + L"\\root" : root_;
    RemoveTree(root);
    Install(root + L"\\Client", "1");
    const uint64_t before = TreeHash(root + L"\\Client");
    ULARGE_INTEGER free_before = {}, free_after = {};
    GetDiskFreeSpaceExW(root.c_str(), &free_before, nullptr, nullptr);
    const std::wstring package = work_ + L"\\pkg.7z";
    ASSERT_TRUE(WriteFileBytes(package, c.package));
    std::atomic<bool> ended{false};
    std::thread ender;
    if (c.end_unpacker_with >= 0) {
      ender = std::thread([&] {
        const std::wstring work = root + L"\\zeltorcg_update_tmp";
        for (int i = 0; i < 3000 && !ended; ++i, Sleep(10)) {
          for (const std::wstring& name : Matching(work, L"package.partial-*")) {
            if (DirExists(work + L"\\" + name) && CountFiles(work + L"\\" + name) >= c.after_files)
              ended = EndRunningUnpacker(static_cast<UINT>(c.end_unpacker_with));
          }
        }
      });
    }
    UpdateOptions options;
    options.expect_dialog = true;
    UpdateRun run = RunUpdater(Args(0, root, package), options);
    if (ender.joinable()) {
      ender.join();
      EXPECT_TRUE(ended) << "the unpacker was not ended";
    }
    EXPECT_TRUE(run.dialog.found) << run.log;
    EXPECT_TRUE(HasLine(run, "update finished 0"));
    EXPECT_TRUE(HasLine(run, c.error)) << run.log;
    EXPECT_EQ(TreeHash(root + L"\\Client"), before);
    EXPECT_EQ(ReadFileBytes(package), c.package) << "the package is kept";
    EXPECT_TRUE(Matching(root + L"\\zeltorcg_update_tmp", L"package*").empty());
    EXPECT_TRUE(Matching(root, L"zeltorcg_update_old*").empty());
    // The full volume has its room back (only the small one is quiet enough
    // to tell).
    GetDiskFreeSpaceExW(root.c_str(), &free_after, nullptr, nullptr);
    EXPECT_TRUE(!c.on_small_volume || free_after.QuadPart + (64u << 10) >= free_before.QuadPart)
        << free_after.QuadPart << " bytes free, " << free_before.QuadPart << " before";
    EXPECT_TRUE(ClientStarts().empty());
    RemoveTree(root);
  }
}

// Whatever a package cannot replace at once waits for no one: a file the old
// client holds open (read sharing only, as a running program's image), past
// the 10 s wait or from any other program, or a folder the patch leaves
// untouched. Windows refuses to rename the folder around it: the update fails
// with the old tree whole. Where the platform renames it, the whole new
// version is installed; a held untouched folder that will not move while its
// parent does has its files joined by links instead.
TEST_F(UpdaterFaultTest, PackageHeldFile_InstallsWholeOrKeepsTheOldVersionWhole) {
  const struct {
    const char* name;
    const wchar_t* held;
    bool is_old_client;    // passed as --pid: the updater waits its 10 s first
    bool patch;            // a package of version.txt only: data moves whole
    const wchar_t* probe;  // the same hold on the probe folder
  } cases[] = {
      {"the old client's program", L"\\Client\\ZeltorCloudPlay.exe", true, false, L"\\f.txt"},
      {"a data file", L"\\Client\\data\\common.txt", false, false, L"\\f.txt"},
      {"a file in a folder the patch leaves untouched", L"\\Client\\data\\d0\\f1.txt", false, true,
       L"\\f.txt"},
      {"a folder the patch leaves untouched", L"\\Client\\data", false, true, L"\\sub"},
  };
  const bool folder_itself_renames = PlatformRenamesHeldFolder(work_ + L"\\probe", L"");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool renames = PlatformRenamesHeldFolder(work_ + L"\\probe", c.probe);
    FreshInstall();
    const uint64_t before = TreeHash(root_ + L"\\Client");
    const std::wstring package = c.patch ? work_ + L"\\patch.7z" : Package("2");
    uint64_t after = VersionHash("2");
    if (c.patch) {
      ASSERT_TRUE(MakeClientPackage(package, {{L"version.txt", "2\n"}}));
      const ScopedTempDir patched(L"patched");
      ASSERT_TRUE(WriteTree(patched.path(), ReadTree(root_ + L"\\Client")) &&
                  WriteFileBytes(patched.path() + L"\\version.txt", "2\n"));
      after = TreeHash(patched.path());
    }
    ChildProcess holder = HoldOpen(root_ + c.held);
    UpdateOptions options;
    options.expect_dialog = !renames;
    const int pid = c.is_old_client ? static_cast<int>(holder.pid()) : 0;
    UpdateRun run = RunUpdater(Args(pid, root_, package), options);
    holder.Terminate();
    EXPECT_EQ(HasLine(run, "wait result 0"), c.is_old_client) << run.log;
    if (renames) {
      // The held folder moved whole, or, where it would not, its files were
      // joined by links: either way the new version is whole.
      EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), after);
      if (std::wstring(c.probe) == L"\\sub" && !folder_itself_renames) {
        EXPECT_EQ(CountOccurrences(run.log, "joining its files instead"), 1) << run.log;
      }
      continue;
    }
    EXPECT_TRUE(run.dialog.found) << run.log;
    EXPECT_TRUE(HasLine(run, "update finished 0"));
    EXPECT_TRUE(FileExists(package));
    EXPECT_EQ(TreeHash(root_ + L"\\Client"), before);
    EXPECT_TRUE(ClientStarts().empty());
  }
}

TEST_F(UpdaterFaultTest, HeldInstalledClient_SwapsWholeOrKeepsTheOldVersionWhole) {
  const uint64_t old_hash = VersionHash("1"), new_hash = VersionHash("2");
  // A file a running program holds, and the folder itself, as a console
  // window whose current directory it is holds it.
  const struct {
    const char* name;
    std::wstring held;
  } cases[] = {
      {"a file inside", L"\\Client\\data\\common.txt"},
      {"the folder itself", L"\\Client"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(root_);
    InstallAndStage(root_);
    DeleteFileW((work_ + L"\\starts.txt").c_str());
    const bool renames =
        PlatformRenamesHeldFolder(work_ + L"\\probe", c.held == L"\\Client" ? L"" : L"\\f.txt");
    ChildProcess holder = HoldOpen(root_ + c.held);
    UpdateOptions options;
    options.expect_dialog = !renames;
    UpdateRun run = RunUpdater(Args(0, root_), options);
    holder.Terminate();
    if (renames) {
      EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), new_hash);
      continue;
    }
    // Refused five times: the update stops with both versions whole.
    EXPECT_EQ(CountLines(run, "delete file result:0,"), 5) << run.log;
    EXPECT_FALSE(HasLine(run, "move result:"));
    EXPECT_TRUE(run.dialog.found) << run.log;
    EXPECT_TRUE(HasLine(run, "update finished 0"));
    EXPECT_EQ(TreeHash(root_ + L"\\Client"), old_hash);
    EXPECT_EQ(TreeHash(root_ + L"\\zeltorcg_update_tmp\\Client"), new_hash);
    EXPECT_TRUE(ClientStarts().empty());
  }
}

// A hold on Client that ends is waited out, with growing pauses and one line
// for each wait; one that does not end fails cleanly within the budget, and
// the log says who held it (where the platform says).
TEST_F(UpdaterFaultTest, HeldFolder_IsWaitedOutOrFailsCleanlyWithinTheBudget) {
  if (PlatformRenamesHeldFolder(work_ + L"\\probe", L""))
    GTEST_SKIP() << "this platform renames a folder that another program holds open";
  const uint64_t old_hash = VersionHash("1"), new_hash = VersionHash("2");
  const struct {
    const char* name;
    const wchar_t* hold;  // client_old's time, or "forever"
    bool installs;
  } cases[] = {{"released after 0.2 s", L"200", true},
               {"released after 1 s", L"1000", true},
               {"never released", L"forever", false}};
  for (const auto& c : cases) {
    for (bool packaged : {false, true}) {
      // Both modes share the retries: one waits out the whole budget.
      if (!c.installs && !packaged)
        continue;
      SCOPED_TRACE(std::string(c.name) + (packaged ? ", package mode" : ", staged mode"));
      FreshInstall();
      std::wstring args = Args(0, root_);
      if (packaged)
        args += L" --unzip=" + Quote(Package("2"));
      else
        Install(root_ + L"\\zeltorcg_update_tmp\\Client", "2");
      ChildProcess holder = HoldOpen(root_ + L"\\Client", c.hold);
      UpdateOptions options;
      options.expect_dialog = !c.installs;
      UpdateRun run = RunUpdater(args, options);
      holder.Terminate();
      // Package mode extracts first: a short hold may be over before the swap.
      EXPECT_TRUE((packaged && c.installs) || CountLines(run, "held (error ") >= 1) << run.log;
      if (c.installs) {
        EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
        EXPECT_EQ(TreeHash(root_ + L"\\Client"), new_hash);
        continue;
      }
      EXPECT_TRUE(run.dialog.found) << run.log;
      EXPECT_LT(run.process.seconds, 30.0) << "the budget bounds the wait";
      EXPECT_TRUE(HasLine(run, "the platform names no program holding") ||
                  HasLine(run, "held by ") || HasLine(run, "the platform could not say"))
          << run.log;
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), old_hash);
    }
  }
}

// A previous version that a running program still holds (its folder and a
// file in it) never blocks the next update; a later run deletes it once
// nothing holds it.
TEST_F(UpdaterFaultTest, HeldPreviousVersion_NeverBlocksTheNextUpdate) {
  Install(root_ + L"\\Client", "1");
  const std::wstring previous = root_ + L"\\zeltorcg_update_old";
  Install(previous, "0");
  std::vector<ChildProcess> holders;
  for (const std::wstring& held : {previous, previous + L"\\version.txt"})
    holders.push_back(HoldOpen(held));
  Install(root_ + L"\\zeltorcg_update_tmp\\Client", "2");
  UpdateRun run = RunUpdater(Args(0, root_));
  EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
  EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("2"));
  holders.clear();  // the holders end
  Install(root_ + L"\\zeltorcg_update_tmp\\Client", "3");
  UpdateRun later = RunUpdater(Args(0, root_));
  EXPECT_TRUE(HasLine(later, "update finished 1")) << later.log;
  EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("3"));
  EXPECT_TRUE(Matching(root_, L"zeltorcg_update_old*").empty()) << "the held version is deleted";
}

TEST_F(UpdaterFaultTest, HeldStagedFile_ReadableButNotDeletable_InstallsTheWholeNewVersion) {
  InstallAndStage(root_);
  // A virus scanner or an indexer reading a staged file: it may be read, not
  // deleted, for the whole update.
  const std::wstring scanned = root_ + L"\\zeltorcg_update_tmp\\Client\\data\\common.txt";
  ChildProcess scanner = HoldOpen(scanned);
  UpdateRun run = RunUpdater(Args(0, root_));
  scanner.Terminate();
  EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
  EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("2"));
  EXPECT_EQ(ClientStarts(1).size(), 1u);
}

TEST_F(UpdaterFaultTest, ReadOnly_FilesAndFoldersInBothTreesAreReplaced) {
  InstallAndStage(root_);
  for (const std::wstring& tree : {root_ + L"\\Client", root_ + L"\\zeltorcg_update_tmp\\Client"}) {
    SetFileAttributesW((tree + L"\\version.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((tree + L"\\data\\d0").c_str(), FILE_ATTRIBUTE_READONLY);
    SetFileAttributesW((tree + L"\\data\\d0\\f1.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  UpdateRun run = RunUpdater(Args(0, root_));
  EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
  EXPECT_EQ(ReadFileBytes(root_ + L"\\Client\\version.txt"), "2\n");
  EXPECT_FALSE(DirExists(root_ + L"\\zeltorcg_update_tmp\\Client"));
}

// A file the package does not carry is shared between the two versions until
// the clean-up, and an attribute belongs to the file: a read-only one stays
// read-only in the new version after the clean-up, and in the restored one
// after an undo, in both modes.
TEST_F(UpdaterFaultTest, ReadOnly_AFileTheNewVersionKeepsStaysReadOnly) {
  const std::wstring kept = L"\\Client\\data\\d0\\f1.txt";
  const std::wstring patch = work_ + L"\\patch.7z", crashing = work_ + L"\\crash.7z";
  ASSERT_TRUE(MakeClientPackage(patch, {{L"data\\common.txt", "patched\n"}}));
  ASSERT_TRUE(
      MakeClientPackage(crashing, {{L"data\\common.txt", "patched\n"}}, L"client_crash.exe"));
  for (const bool packaged : {false, true}) {
    for (const bool undone : {false, true}) {
      SCOPED_TRACE(std::string(packaged ? "package mode" : "staged mode") +
                   (undone ? ", undone" : ", installed"));
      FreshInstall();
      // What the update changes: a patch only data\common.txt.
      const std::wstring changed =
          root_ + (packaged ? L"\\Client\\data\\common.txt" : L"\\Client\\version.txt");
      const std::string old_bytes = ReadFileBytes(changed);
      if (!packaged) {
        Install(root_ + L"\\zeltorcg_update_tmp\\Client", "2");
        if (undone) {
          ASSERT_TRUE(CopyFileTo(BinDir() + L"\\client_crash.exe",
                                 StagedDir(root_) + L"\\ZeltorCloudPlay.exe"));
        }
        ASSERT_TRUE(SetFileAttributesW((root_ + L"\\zeltorcg_update_tmp" + kept).c_str(),
                                       FILE_ATTRIBUTE_READONLY));
      }
      ASSERT_TRUE(SetFileAttributesW((root_ + kept).c_str(), FILE_ATTRIBUTE_READONLY));
      UpdateOptions options;
      options.expect_dialog = undone;
      UpdateRun run = RunUpdater(
          packaged ? Args(0, root_, undone ? crashing : patch) : Args(0, root_), options);
      EXPECT_TRUE(HasLine(run, undone ? "update finished 0" : "update finished 1")) << run.log;
      EXPECT_EQ(GetFileAttributesW((root_ + kept).c_str()) & FILE_ATTRIBUTE_READONLY,
                static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
      EXPECT_EQ(ReadFileBytes(changed), undone ? old_bytes : (packaged ? "patched\n" : "2\n"));
      SetFileAttributesW((root_ + kept).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }
}

// With --sha256 the bytes hashed are the bytes extracted: from the checksum
// until the unpacker is done, the package can be neither written, renamed,
// replaced nor deleted. The same attempts on a file nobody holds succeed.
TEST_F(UpdaterFaultTest, Checksum_ThePackageIsHeldFromItsDigestToItsExtraction) {
  Install(root_ + L"\\Client", "1");
  const Tree big = ManyFilesVersion();
  const ScopedTempDir source(L"src");
  ASSERT_TRUE(WriteTree(ClientDir(source.path()), big));
  ASSERT_TRUE(CopyFileTo(BinDir() + L"\\ZeltorCloudPlay.exe",
                         ClientDir(source.path()) + L"\\ZeltorCloudPlay.exe"));
  const uint64_t hashed_version = TreeHash(ClientDir(source.path()));
  const std::wstring package = work_ + L"\\pkg.7z";
  ASSERT_TRUE(MakePackage(source.path(), package));
  const std::string digest = PlatformSha256(ReadFileBytes(package));
  const std::wstring other = Package("3", L"other.7z");
  const std::wstring spare = work_ + L"\\spare.7z";
  // What the attempts are: writing, renaming, replacing and deleting `target`.
  auto attempts = [&other](const std::wstring& target) {
    const std::wstring moved = target + L".moved", copy = other + L".copy";
    std::vector<bool> done{testing_support::ScopedFileHandle(
                               CreateFileW(target.c_str(), GENERIC_WRITE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                           nullptr, OPEN_EXISTING, 0, nullptr))
                               .valid()};
    done.push_back(MoveFileExW(target.c_str(), moved.c_str(), 0));
    if (done.back())
      MoveFileExW(moved.c_str(), target.c_str(), 0);
    CopyFileW(other.c_str(), copy.c_str(), FALSE);
    done.push_back(MoveFileExW(copy.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING));
    DeleteFileW(copy.c_str());
    done.push_back(DeleteFileW(target.c_str()));
    return done;
  };
  ASSERT_TRUE(CopyFileTo(other, spare));
  EXPECT_EQ(attempts(spare), std::vector<bool>(4, true)) << "the control could not be changed";
  std::vector<bool> during;
  std::thread changer([&] {
    const std::wstring work = root_ + L"\\zeltorcg_update_tmp";
    for (int i = 0; i < 6000 && during.empty(); ++i, Sleep(5)) {
      for (const std::wstring& name : Matching(work, L"package.partial-*")) {
        if (CountFiles(work + L"\\" + name) >= 20 && during.empty())
          during = attempts(package);
      }
    }
  });
  UpdateRun run = RunUpdater(Args(0, root_, package) + L" --sha256=" + FromUtf8(digest));
  changer.join();
  EXPECT_EQ(during, std::vector<bool>(4, false)) << "write, rename, replace, delete";
  EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
  EXPECT_EQ(TreeHash(root_ + L"\\Client"), hashed_version);
}

// A link inside the installed Client that the package does not replace (a
// user's saves on another drive, say) is carried into the new version as the
// same link, or the update fails cleanly before anything is touched; what it
// points to is never entered, moved or deleted. Whether the platform can copy
// a link is learned from it first.
TEST_F(UpdaterFaultTest, Links_InsideClientStayLinksAndTheirTargetsAreUntouched) {
  const std::wstring links = LinkFixtureDir() + L"\\links";
  if (LinkFixtureDir().empty() || !DirExists(links + L"\\target"))
    GTEST_SKIP() << "needs the links fixture, made on the host";
  const struct {
    const char* name;
    const wchar_t* installation;
    const wchar_t* link;
  } cases[] = {
      {"a folder link", L"\\folder", L"\\Client\\saves"},
      {"a file link", L"\\file", L"\\Client\\settings.txt"},
  };
  const uint64_t target_hash = TreeHash(links + L"\\target");
  const std::string file_target = ReadFileBytes(links + L"\\target.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring root = links + c.installation;
    const std::wstring link = root + c.link;
    const DWORD attributes = GetFileAttributesW(link.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
      // Wine shows a host link to a file as the plain file it points to.
      std::printf("row \"%s\" left out: this platform does not show the link as a link\n", c.name);
      continue;
    }
    testing_support::ScopedFileHandle opened(
        CreateFileW(link.c_str(), FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                    FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::string data(16 * 1024, '\0');
    DWORD size = 0;
    const bool copyable =
        opened.valid() &&
        DeviceIoControl(opened.get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                        static_cast<DWORD>(data.size()), &size, nullptr);
    opened.reset();
    Install(ClientDir(root), "1");
    UpdateOptions options;
    options.expect_dialog = !copyable;
    UpdateRun run = RunUpdater(Args(0, root, Package("2")), options);
    EXPECT_TRUE(HasLine(run, copyable ? "update finished 1" : "update finished 0")) << run.log;
    if (!copyable) {
      EXPECT_TRUE(HasLine(run,
                          "new version not built, installation kept: installed link cannot "
                          "be carried into the new version"))
          << run.log;
    }
    EXPECT_EQ(ReadFileBytes(root + L"\\Client\\version.txt"), copyable ? "2\n" : "1\n");
    EXPECT_NE(GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_REPARSE_POINT, 0u)
        << "the link is no link any more";
    EXPECT_EQ(TreeHash(links + L"\\target"), target_hash);
    EXPECT_EQ(ReadFileBytes(links + L"\\target.txt"), file_target);
    EXPECT_TRUE(Matching(root + L"\\zeltorcg_update_tmp", L"package*").empty());
  }
}

TEST_F(UpdaterFaultTest, LongPaths_AtAndPastTheLimitShowAsFailedSteps) {
  // The root is made as long as needed for the staged client folder, the
  // longest path the update hands to the file operations, to have `length`
  // units. They refuse 260 and more: such an update must fail before anything
  // is deleted, say why in the log, and keep the installation.
  const std::wstring staged_tail = L"\\zeltorcg_update_tmp\\Client";
  for (size_t length : {259u, 260u, 300u}) {
    SCOPED_TRACE(length);
    const std::wstring root =
        work_ + L"\\" + std::wstring(length - work_.size() - 1 - staged_tail.size(), L'r');
    ASSERT_EQ((root + staged_tail).size(), length);
    Install(root + L"\\Client", "1");
    Install(root + staged_tail, "2");
    const uint64_t before = TreeHash(root + L"\\Client");
    UpdateOptions options;
    options.expect_dialog = length >= 260;
    UpdateRun run = RunUpdater(Args(0, root), options);
    if (length < 260) {
      EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
      EXPECT_EQ(ReadFileBytes(root + L"\\Client\\version.txt"), "2\n");
    } else {
      EXPECT_TRUE(HasLine(run, "staged client directory path too long to move")) << run.log;
      EXPECT_FALSE(HasLine(run, "delete file result:")) << "nothing may be deleted";
      EXPECT_TRUE(HasLine(run, "update finished 0"));
      EXPECT_TRUE(run.dialog.found);
      EXPECT_EQ(TreeHash(root + L"\\Client"), before);
    }
    RemoveTree(root);
  }
}

// Package mode builds the new version aside, which adds to every path the
// extraction folder's length: an installed file as deep as the platform allows
// in place is joined, swapped and cleaned up there too (through the system's
// long path form), and nothing of the extraction is left behind.
TEST_F(UpdaterFaultTest, LongPaths_PackageModeJoinsInstalledFilesOfAnyLength) {
  for (size_t length : {230u, 259u, 300u}) {
    SCOPED_TRACE(length);
    FreshInstall();
    // root\Client\deep\<name>\kept.txt, `length` units from the drive.
    const std::wstring folder = root_ + L"\\Client\\deep\\";
    const std::wstring tail = L"\\kept.txt";
    ASSERT_LT(folder.size() + tail.size(), length);
    const std::wstring deep = folder + std::wstring(length - folder.size() - tail.size(), L'd');
    ASSERT_TRUE(MakeDirs(deep));
    ASSERT_TRUE(WriteFileBytes(deep + tail, "kept\n"));
    ASSERT_EQ((deep + tail).size(), length);
    UpdateRun run = RunUpdater(Args(0, root_, Package("2")));
    EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
    EXPECT_EQ(ReadFileBytes(root_ + L"\\Client\\version.txt"), "2\n");
    EXPECT_EQ(ReadFileBytes(deep + tail), "kept\n");
    EXPECT_TRUE(Matching(root_ + L"\\zeltorcg_update_tmp", L"package*").empty());
    EXPECT_TRUE(Matching(root_, L"zeltorcg_update_old*").empty());
  }
}

TEST_F(UpdaterFaultTest, Roots_TrailingSeparatorNonAsciiAndStartedInClient) {
  const std::wstring unusual = work_ + L"\\\x5BA2\x6237\x7AEF \x00E0 \x00E9t\x00E9";
  struct {
    const char* name;
    std::wstring root;       // as passed
    std::wstring real_root;  // where it lands
    std::wstring cwd;
  } cases[] = {
      {"trailing separator", root_ + L"\\", root_, L""},
      {"CJK and accents", unusual, unusual, L""},
      // Its current directory would hold Client open: the updater leaves it.
      {"started in its Client folder", root_, root_, root_ + L"\\Client"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool packaged : {true, false}) {
      SCOPED_TRACE(packaged ? "package mode" : "staged mode");
      RemoveTree(c.real_root);
      Install(c.real_root + L"\\Client", "1");
      std::wstring args = Args(0, c.root);
      std::wstring package;
      if (packaged) {
        package = Package("2");
        args += L" --unzip=" + Quote(package);
      } else {
        Install(c.real_root + L"\\zeltorcg_update_tmp\\Client", "2");
      }
      DeleteFileW((work_ + L"\\starts.txt").c_str());
      UpdateOptions options;
      options.cwd = c.cwd;
      UpdateRun run = RunUpdater(args, options);
      EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
      EXPECT_EQ(ReadFileBytes(c.real_root + L"\\Client\\version.txt"), "2\n");
      const auto starts = ReadClientRecords(work_ + L"\\starts.txt", 1);
      ASSERT_EQ(starts.size(), 1u);
      EXPECT_EQ(starts[0].at("cwd"), ToUtf8(c.real_root + L"\\Client"))
          << "the client's own folder";
    }
  }
}

// A package may replace a folder by a file and the running update.exe and the
// unpacker by renames, but only with programs that run: each new one is
// started from the extraction first, and one that does not run fails the
// update before anything installed is touched. The next good package then
// installs as usual.
TEST_F(UpdaterFaultTest, Packages_FolderForAFileAndTheUpdaterItselfAreReplacedByWhatRuns) {
  const struct {
    const char* name;
    const wchar_t* broken;       // the program the package carries broken, or null
    const wchar_t* replacement;  // what stands in for it: a fixture, or junk when null
  } cases[] = {
      {"programs that run", nullptr, nullptr},
      {"an update.exe that crashes at its start", L"update.exe", L"client_crash.exe"},
      {"a damaged 7z.exe", L"7z.exe", nullptr},
      {"a damaged 7z.dll", L"7z.dll", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    RemoveTree(root_);
    DeleteFileW(record_file_.c_str());
    Install(root_ + L"\\Client", "1");
    const ScopedTempDir source_dir(L"src");
    const std::wstring& source = source_dir.path();
    Install(source + L"\\Client", "2");
    ASSERT_TRUE(DeleteFileW((source + L"\\Client\\data\\common.txt").c_str()));
    ASSERT_TRUE(MakeDirs(source + L"\\Client\\data\\common.txt"));
    ASSERT_TRUE(WriteFileBytes(source + L"\\Client\\data\\common.txt\\inner.txt", "a folder now"));
    // The updater runs from the root; the package's copies differ by a tail.
    for (const wchar_t* program : {L"update.exe", L"7z.exe", L"7z.dll"}) {
      ASSERT_TRUE(CopyFileTo(UpdaterDir() + L"\\" + program, root_ + L"\\" + program));
      const std::string image = ReadFileBytes(UpdaterDir() + L"\\" + program);
      std::string packed = image + "new version";
      if (c.broken && std::wstring(c.broken) == program)
        packed = c.replacement ? ReadFileBytes(BinDir() + L"\\" + c.replacement)
                               : "MZ" + std::string(4096, '\x90');
      ASSERT_TRUE(WriteFileBytes(source + L"\\" + program, packed));
    }
    const uint64_t installed_root = TreeHash(root_);
    const uint64_t new_client = TreeHash(source + L"\\Client");
    const std::wstring package = work_ + L"\\pkg.7z";
    ASSERT_TRUE(MakePackage(source, package));
    const std::string package_bytes = ReadFileBytes(package);
    UpdateOptions options;
    options.updater = root_ + L"\\update.exe";
    options.expect_dialog = c.broken != nullptr;
    UpdateRun run = RunUpdater(Args(0, root_, package), options);
    if (!c.broken) {
      EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), new_client);
      for (const wchar_t* program : {L"update.exe", L"7z.exe", L"7z.dll"})
        EXPECT_EQ(ReadFileBytes(root_ + L"\\" + program), ReadFileBytes(source + L"\\" + program));
      EXPECT_FALSE(FileExists(package));
      EXPECT_EQ(ClientStarts(1).size(), 1u);
      continue;
    }
    EXPECT_TRUE(HasLine(run, "new program from the package does not run (")) << run.log;
    EXPECT_TRUE(HasLine(run, "update finished 0")) << run.log;
    EXPECT_EQ(TreeHash(root_), installed_root) << "the installation or the updater changed";
    EXPECT_TRUE(ReadFileBytes(package) == package_bytes) << "the package is kept";
    EXPECT_TRUE(ClientStarts().empty());
    options.expect_dialog = false;
    UpdateRun next = RunUpdater(Args(0, root_, Package("3")), options);
    EXPECT_TRUE(HasLine(next, "update finished 1")) << next.log;
    EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("3"));
  }
}

TEST_F(UpdaterFaultTest, Packages_NotAnArchiveTruncatedOrEscapingWriteNothingOutside) {
  Install(root_ + L"\\Client", "1");
  const std::string good = ReadFileBytes(Package("2"));
  struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"not an archive", "plain text, no archive at all"},
      {"truncated", good.substr(0, good.size() / 3)},
      {"escaping names", ZipStored({{"..\\escaped.txt", "outside"},
                                    {"Client\\..\\..\\escaped2.txt", "outside"},
                                    {"Client\\version.txt", "3\n"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::wstring package = work_ + L"\\bad.pkg";
    ASSERT_TRUE(WriteFileBytes(package, c.bytes));
    UpdateOptions options;
    options.expect_dialog = true;
    UpdateRun run = RunUpdater(Args(0, root_, package), options);
    EXPECT_FALSE(FileExists(work_ + L"\\escaped.txt")) << "written outside the root";
    EXPECT_FALSE(FileExists(work_ + L"\\escaped2.txt")) << "written outside the root";
    EXPECT_FALSE(FileExists(work_ + L"\\..\\escaped.txt"));
    // The unpacker renames escaping entries into its output folder: the tree
    // no longer matches the package's listing.
    EXPECT_TRUE(run.dialog.found) << run.log;
    EXPECT_TRUE(FileExists(package)) << "the package is kept";
    EXPECT_FALSE(HasLine(run, "launch process vaild:"));
    EXPECT_EQ(ReadFileBytes(root_ + L"\\Client\\version.txt"), "1\n");
    EXPECT_TRUE(Matching(root_ + L"\\zeltorcg_update_tmp", L"package*").empty());
  }
}

// Arguments that cannot name a package or an installation are refused before
// the unpacker runs: nothing outside the installation is touched, and a
// folder that a wildcard named keeps all its files.
TEST_F(UpdaterFaultTest, Arguments_ThatCannotNameAPackageOrARootAreRefused) {
  Install(root_ + L"\\Client", "1");
  const std::wstring pkgs = work_ + L"\\pkgs";
  ASSERT_TRUE(MakeDirs(pkgs));
  ASSERT_TRUE(CopyFileTo(Package("2"), pkgs + L"\\a.7z"));
  ASSERT_TRUE(CopyFileTo(pkgs + L"\\a.7z", pkgs + L"\\b.7z"));
  const std::wstring package = pkgs + L"\\a.7z";
  ASSERT_TRUE(WriteFileBytes(work_ + L"\\a file", "not a folder"));
  const struct {
    const char* name;
    std::wstring root;
    std::wstring package;
    const char* error;
  } cases[] = {
      {"* in the package", root_, pkgs + L"\\*.7z", "package path holds a wildcard"},
      {"? in the package", root_, pkgs + L"\\?.7z", "package path holds a wildcard"},
      {"* in the root", work_ + L"\\ro*", package, "root directory holds a wildcard"},
      {"? in the root", work_ + L"\\ro?t", package, "root directory holds a wildcard"},
      {"\" in the root", root_ + L"\" \"-x!*", package, "root directory holds a wildcard"},
      {"trailing dot", root_ + L".", package, "root directory has a name that ends in a dot"},
      {"blank ending a name", root_ + L" \\sub", L"",
       "root directory has a name that ends in a dot"},
      {"device root", L"C:\\PRN", package, "root directory names a device"},
      {"device package", root_, work_ + L"\\LPT1.7z", "package path names a device"},
      {"relative root", L"root", package, "root directory is not an absolute path"},
      {"root that is a file", work_ + L"\\a file", package, "root directory is not a folder"},
      {"folder as the package", root_, pkgs, "package is not an existing file"},
      {"program as the package", root_, root_ + L"\\Client\\ZeltorCloudPlay.exe",
       "package is not a 7z or zip archive"},
  };
  const uint64_t before = TreeHash(work_);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    UpdateOptions options;
    options.expect_dialog = true;
    options.cwd = work_;
    std::wstring args = Args(0, c.root);
    if (!c.package.empty())
      args += L" --unzip=" + Quote(c.package);
    UpdateRun run = RunUpdater(args, options);
    EXPECT_TRUE(run.dialog.found) << run.log;
    EXPECT_TRUE(HasLine(run, "update finished 0"));
    const LogLine* refused = FindLine(run, c.error);
    ASSERT_NE(refused, nullptr) << run.log;
    EXPECT_EQ(refused->severity, "ERROR");
    EXPECT_NE(
        refused->text.find(ToUtf8(
            c.package.empty() || std::string(c.error).rfind("root", 0) == 0 ? c.root : c.package)),
        std::string::npos)
        << "the value is named";
    EXPECT_FALSE(HasLine(run, "launch 7z vaild:"));
    EXPECT_EQ(TreeHash(work_), before) << "nothing may change";
  }
}

// With --sha256 the package must have that digest, checked before the
// unpacker runs.
TEST_F(UpdaterFaultTest, Checksum_OnlyTheRightDigestInstalls) {
  const std::wstring package = Package("2");
  const std::string bytes = ReadFileBytes(package);
  const std::string digest = PlatformSha256(bytes);
  ASSERT_EQ(digest.size(), 64u);
  std::string wrong = digest;
  wrong[0] = wrong[0] == '0' ? '1' : '0';
  const struct {
    const char* name;
    std::string value;
    const char* error;  // null: installs
    std::string named;  // what the ERROR names
  } cases[] = {
      {"wrong", wrong, "package checksum mismatch, installation kept: expected ", digest},
      {"short", digest.substr(1), "checksum is not 64 hexadecimal digits", digest.substr(1)},
      {"not hex", "z" + digest.substr(1), "checksum is not 64 hexadecimal digits",
       "z" + digest.substr(1)},
      {"right, in capitals",
       [&] {
         std::string upper = digest;
         for (char& ch : upper)
           ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
         return upper;
       }(),
       nullptr, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FreshInstall();
    const uint64_t before = TreeHash(root_);
    ASSERT_TRUE(WriteFileBytes(package, bytes));
    UpdateOptions options;
    options.expect_dialog = c.error != nullptr;
    UpdateRun run =
        RunUpdater(Args(0, root_, package) + L" --sha256=" + FromUtf8(c.value), options);
    if (!c.error) {
      EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("2"));
      continue;
    }
    EXPECT_TRUE(run.dialog.found) << run.log;
    const LogLine* refused = FindLine(run, c.error);
    ASSERT_NE(refused, nullptr) << run.log;
    EXPECT_NE(refused->text.find(c.named), std::string::npos);
    EXPECT_FALSE(HasLine(run, "launch 7z vaild:"));
    EXPECT_EQ(TreeHash(root_), before) << "an extraction or anything else was left";
    EXPECT_EQ(ReadFileBytes(package), bytes) << "the package is kept";
  }
}

TEST_F(UpdaterFaultTest, TwoUpdaters_ForOneRootUnderTwoSpellingsLoseNothing) {
  // The root lies in the links fixture, which adds a link onto it and another
  // drive letter (Y:) for its folder; without the fixture those rows are left out.
  const std::wstring fixture = LinkFixtureDir();
  const std::wstring root = fixture.empty() ? root_ : fixture + L"\\spelling\\installation root";
  ASSERT_TRUE(MakeDirs(root));
  wchar_t short_name[MAX_PATH] = {};
  GetShortPathNameW(root.c_str(), short_name, MAX_PATH);
  std::wstring upper = root;
  CharUpperW(upper.data());
  const struct {
    const char* name;
    std::wstring other;
  } cases[] = {
      {"the same spelling", root},
      {"letter case", upper},
      {"separators and dots", root + L"\\.\\\\"},
      {"8.3 short name", short_name != root ? std::wstring(short_name) : L""},
      {"a link onto it", fixture.empty() ? L"" : fixture + L"\\spelling\\link"},
      {"another drive letter", fixture.empty() ? L"" : L"Y:\\installation root"},
  };
  const uint64_t new_hash = VersionHash("2");
  for (const auto& c : cases) {
    if (c.other.empty())
      continue;
    SCOPED_TRACE(c.name);
    ClearDir(root);
    InstallAndStage(root);
    DeleteFileW((work_ + L"\\starts.txt").c_str());
    DeleteFileW((work_ + L"\\dialog.txt").c_str());
    const std::wstring updater = Quote(UpdaterDir() + L"\\update.exe") + L" --pid=0 --root_dir=";
    // Whichever updater comes second finds nothing staged and shows the dialog.
    ChildProcess helper(Quote(BinDir() + L"\\dialog_helper.exe") + L" --wait-ms 20000 --result " +
                        Quote(work_ + L"\\dialog.txt"));
    ChildProcess first(updater + Quote(root));
    ChildProcess second(updater + Quote(c.other));
    ASSERT_TRUE(first.started() && second.started() && helper.started());
    HANDLE both[] = {first.handle(), second.handle()};
    EXPECT_EQ(WaitForMultipleObjects(2, both, TRUE, 60000), WAIT_OBJECT_0);
    helper.WaitForExit(10000);
    EXPECT_EQ(TreeHash(root + L"\\Client"), new_hash);
    EXPECT_EQ(ClientStarts(1).size(), 1u);
    EXPECT_NE(ReadFileBytes(work_ + L"\\dialog.txt").find("found=1"), std::string::npos);
  }
  ClearDir(root);
}

// Another program holds the installation lock (an updater of another session
// or user, or one on another machine sharing the folder): the updater waits
// for it, then installs.
TEST_F(UpdaterFaultTest, HeldLock_TheUpdaterWaitsUntilItIsReleased) {
  InstallAndStage(root_);
  testing_support::ScopedFileHandle lock(
      CreateFileW((root_ + L"\\zeltorcg_update_tmp\\update.lock").c_str(),
                  GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  ASSERT_TRUE(lock.valid());
  std::thread releaser([&lock] {
    Sleep(1500);
    lock.reset();
  });
  UpdateRun run = RunUpdater(Args(0, root_));
  releaser.join();
  EXPECT_TRUE(HasLine(run, "waiting for another update of ")) << run.log;
  EXPECT_GE(run.process.seconds, 1.4);
  EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
  EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("2"));
}

// A journal that cannot be trusted, found with the installed Client moved
// aside and the new one not in: the rerun reads the disk instead. Client comes
// back whole before anything new is built on it, so a patch never installs
// alone, and nothing outside the root that the journal names is touched.
TEST_F(UpdaterFaultTest, DamagedJournal_LeavesClientWholeAndTouchesNothingOutside) {
  const std::wstring outside = work_ + L"\\outside";
  const std::wstring journal = root_ + L"\\zeltorcg_update_tmp\\transaction.journal";
  const std::string header = "zeltorcg update transaction 2\n";
  const std::string well_formed = header + "phase\tstarted\nentry\tClient\tzeltorcg_update_tmp" +
                                  "\\Client\tzeltorcg_update_old\tinstalled\nend\n";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"truncated", well_formed.substr(0, 60)},
      {"garbage", "\x7f\x45LF\x01\x02 not a journal\n"},
      {"naming a folder outside the root",
       header + "phase\tstarted\nentry\tClient\t" + ToUtf8(outside) + "\\new\t" + ToUtf8(outside) +
           "\tinstalled\nleftover\t" + ToUtf8(outside) + "\nend\n"},
  };
  // A patch: one changed file, joined with the rest of version 1.
  const std::wstring patch = work_ + L"\\patch.7z";
  ASSERT_TRUE(MakeClientPackage(patch, {{L"data\\common.txt", "patched\n"}}));
  const std::string patch_bytes = ReadFileBytes(patch);
  const ScopedTempDir expected(L"patched");
  Install(expected.path(), "1");
  ASSERT_TRUE(WriteFileBytes(expected.path() + L"\\data\\common.txt", "patched\n"));
  const uint64_t patched_hash = TreeHash(expected.path());
  for (const auto& c : cases) {
    for (const bool packaged : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (packaged ? ", package mode" : ", staged mode"));
      RemoveTree(root_);
      RemoveTree(outside);
      Install(outside, "outside");
      const uint64_t outside_hash = TreeHash(outside);
      Install(root_ + L"\\zeltorcg_update_old", "1");  // Client moved aside
      if (!packaged)
        Install(root_ + L"\\zeltorcg_update_tmp\\Client", "2");
      ASSERT_TRUE(!packaged || WriteFileBytes(patch, patch_bytes));
      // What the swap had moved into its extraction, which only it could tell.
      const std::wstring moved = root_ + L"\\zeltorcg_update_tmp\\package.partial-9-9\\Client\\m";
      ASSERT_TRUE(MakeDirs(moved) && WriteFileBytes(moved + L"\\f.txt", "moved"));
      ASSERT_TRUE(WriteFileBytes(journal, c.text));
      UpdateRun run = RunUpdater(packaged ? Args(0, root_, patch) : Args(0, root_));
      EXPECT_TRUE(HasLine(run, "update journal damaged (")) << run.log;
      EXPECT_TRUE(HasLine(run, "installed entry missing, its previous version restored: "))
          << run.log;
      EXPECT_TRUE(HasLine(run, "update finished 1")) << run.log;
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), packaged ? patched_hash : VersionHash("2"));
      EXPECT_EQ(TreeHash(outside), outside_hash) << "something outside the root was touched";
      EXPECT_EQ(ReadFileBytes(moved + L"\\f.txt"), "moved") << "an extraction was deleted";
      EXPECT_EQ(Matching(root_ + L"\\zeltorcg_update_tmp", L"transaction.journal.damaged-*").size(),
                1u);
    }
  }
}

// A new client that crashes at once while a program it started holds a file
// below Client: the undo waits for that program and for the hold, as the swap
// does. Where a hold outlasts the budget, the journal stays in its undoing
// phase, and the next run with a good package finishes the undo first, then
// installs it.
TEST_F(UpdaterFaultTest, HeldDuringTheUndo_IsWaitedOutOrFinishedByTheNextRun) {
  const bool renames = PlatformRenamesHeldFolder(work_ + L"\\probe", L"\\f.txt");
  const std::wstring crashing = Package("2", L"crash.7z", L"client_crash.exe");
  const struct {
    const char* name;
    const wchar_t* hold_ms;
    bool within_budget;
  } cases[] = {
      {"held for 0.5 s", L"500", true},
      {"held for 2 s", L"2000", true},
      {"held past the budget", L"20000", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FreshInstall();
    SetEnvironmentVariableW(L"CLIENT_CRASH_HOLDER", (BinDir() + L"\\client_old.exe").c_str());
    SetEnvironmentVariableW(L"CLIENT_CRASH_HOLD_MS", c.hold_ms);
    UpdateOptions options;
    options.expect_dialog = true;
    UpdateRun run = RunUpdater(Args(0, root_, crashing), options);
    SetEnvironmentVariableW(L"CLIENT_CRASH_HOLDER", nullptr);
    SetEnvironmentVariableW(L"CLIENT_CRASH_HOLD_MS", nullptr);
    EXPECT_TRUE(HasLine(run, "update finished 0")) << run.log;
    EXPECT_EQ(ReadFileBytes(crashing).empty(), false) << "the package is kept";
    const bool stuck = !c.within_budget && !renames;
    if (!stuck) {
      EXPECT_TRUE(HasLine(run, "update undone, previous version restored: ")) << run.log;
      EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("1"));
      EXPECT_FALSE(FileExists(root_ + L"\\zeltorcg_update_tmp\\transaction.journal"));
      continue;
    }
    EXPECT_TRUE(FileExists(root_ + L"\\zeltorcg_update_tmp\\transaction.journal")) << run.log;
    // Once the hold is over, a good package: the undo is finished first.
    const std::wstring held = root_ + L"\\Client\\data\\common.txt";
    for (int i = 0; i < 300; ++i, Sleep(100)) {
      testing_support::ScopedFileHandle probe(
          CreateFileW(held.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, 0, nullptr));
      if (probe.valid())
        break;
    }
    UpdateRun next = RunUpdater(Args(0, root_, Package("3")));
    EXPECT_TRUE(HasLine(next, "update undone, previous version restored: ")) << next.log;
    EXPECT_TRUE(HasLine(next, "update finished 1")) << next.log;
    EXPECT_EQ(TreeHash(root_ + L"\\Client"), VersionHash("3"));
  }
}

TEST_F(UpdaterFaultTest, LogDirectory_BlockedByAFileFallsBackToDebugLog) {
  const std::wstring log_dir = LogFilePath().substr(0, LogFilePath().rfind(L"\\log\\"));
  const std::wstring moved = log_dir + L".saved";
  RemoveTree(moved);
  ASSERT_TRUE(MoveFileExW(log_dir.c_str(), moved.c_str(), 0) || !DirExists(log_dir));
  ASSERT_TRUE(WriteFileBytes(log_dir, "a file where the folder should be"));
  InstallAndStage(root_);
  const std::wstring cwd = work_ + L"\\cwd";
  ASSERT_TRUE(MakeDirs(cwd));
  RunResult result = e2e::Run(Quote(UpdaterDir() + L"\\update.exe") + L" " + Args(0, root_), cwd);
  DeleteFileW(log_dir.c_str());
  MoveFileExW(moved.c_str(), log_dir.c_str(), 0);
  EXPECT_EQ(result.exit_code, 0u);
  const std::string fallback = ReadFileBytes(cwd + L"\\debug.log");
  EXPECT_NE(fallback.find("update finished 1"), std::string::npos) << fallback;
  EXPECT_EQ(ReadFileBytes(root_ + L"\\Client\\version.txt"), "2\n");
}

}  // namespace
}  // namespace e2e
