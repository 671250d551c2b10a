// Ends update.exe at many moments of an update, with TerminateProcess as a
// power cut or an impatient user would, and checks what the user is left with.
// Client must hold the complete old or the complete new version, never a
// mixture, a part or nothing; the one exception is the moment between the two
// renames of the swap, when both versions lie whole below the root. Running the
// same update again must finish it or fail cleanly, and never report a partial
// tree as success. Every way a new version arrives is covered: a staged one by
// rename, or by copy when it lies on another volume, and a package.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "testing/e2e/updater_test.h"
#include "testing/scoped_test_handle.h"

namespace e2e {
namespace {

namespace layout = common::layout;
namespace pause = common::layout::pause;

// When to end the updater: when it is held at the step boundary `pause_at`, or
// `delay_ms` after its start or after a name matching `appears` (a pattern
// relative to the root, whose last component may hold wildcards) showed up.
struct Moment {
  std::string name;
  std::wstring pause_at;
  std::wstring appears;
  DWORD delay_ms = 0;
};

// The updater's test pause: the variable names a step boundary, and the
// updater sets the event when it is held there.
class UpdaterCrashTest : public UpdaterFixture {
 protected:
  void SetUp() override {
    UpdaterFixture::SetUp();
    paused_.reset(CreateEventW(nullptr, TRUE, FALSE, layout::kTestPauseEvent));
    ASSERT_TRUE(paused_.valid());
  }

  // The start state of every case: the old version installed in root\\Client,
  // the new one of `new_files` files staged in `staged` (which may be a link),
  // nothing else. The old version is smaller: only its deletion depends on it.
  // A whole new version from the case before is staged again by a rename (the
  // staged tree is only ever moved whole), which keeps the suite fast.
  // In package mode (package_bytes_ set) the package is written again instead
  // and nothing is staged; its Client holds every name of the old version.
  void Prepare(const std::wstring& root, const std::wstring& staged, int new_files = 1000) {
    const bool reuse = new_hash_ != 0;
    if (!package_bytes_.empty()) {
      ASSERT_TRUE(ReadFileBytes(package_) == package_bytes_ ||
                  WriteFileBytes(package_, package_bytes_));
    } else if (reuse && !DirExists(staged) && client_is_new_) {
      ASSERT_TRUE(MoveFileExW((ClientDir(root)).c_str(), staged.c_str(), 0));
    }
    const std::wstring tmp = root + L"\\" + layout::kWorkDir;
    for (const auto& [dir, pattern] : {std::pair{root, L"Client"},
                                       {root, L"Client.partial-*"},
                                       {root, L"Client.trash-*"},
                                       {root, L"zeltorcg_update_old*"},
                                       {tmp, L"Client.trash-*"},
                                       {tmp, L"package*"},
                                       {tmp, L"transaction.journal*"}}) {
      for (const std::wstring& entry : Matching(dir, pattern))
        ASSERT_TRUE(RemoveTree(dir + L"\\" + entry)) << ToUtf8(entry);
    }
    if (package_bytes_.empty() && (!reuse || !DirExists(staged))) {
      ASSERT_TRUE(ClearDir(staged) || !DirExists(staged));
      ASSERT_TRUE(WriteVersion(staged, "2", {.files = new_files}, new_program_));
    }
    ASSERT_TRUE(WriteVersion(ClientDir(root), "1", {.files = 500}));
    client_is_new_ = false;
    if (old_hash_ == 0) {
      old_hash_ = TreeHash(ClientDir(root));
      old_files_ = ReadTree(ClientDir(root));
    }
    if (!reuse)
      new_hash_ = TreeHash(staged);
  }

  // Package mode from here on: the package of a new version of `files` files.
  void UsePackage(int files) {
    const ScopedTempDir source(L"package");
    ASSERT_TRUE(WriteVersion(ClientDir(source.path()), "2", {.files = files}, new_program_));
    new_hash_ = TreeHash(ClientDir(source.path()));
    package_ = work_ + L"\\update.7z";
    ASSERT_TRUE(MakePackage(source.path(), package_));
    package_bytes_ = ReadFileBytes(package_);
  }

  // Package mode with a concentrated patch: the new program and the files of
  // data\\d0 (a tenth of the old version's files, in one of its ten folders);
  // the other nine folders move whole.
  void UsePatch() {
    const ScopedTempDir source(L"patch");
    const std::wstring client = ClientDir(source.path());
    Tree patch;
    for (const auto& [path, bytes] : VersionTree("2", {.files = 500})) {
      if (path.rfind(L"data\\d0\\", 0) == 0)
        patch[path] = bytes;
    }
    ASSERT_TRUE(WriteTree(client, patch));
    ASSERT_TRUE(CopyFileTo(BinDir() + L"\\" + new_program_, client + L"\\ZeltorCloudPlay.exe"));
    patch_ = ReadTree(client);
    const ScopedTempDir patched(L"patched");
    ASSERT_TRUE(WriteVersion(patched.path(), "1", {.files = 500}) &&
                WriteTree(patched.path(), patch_));
    new_hash_ = TreeHash(patched.path());
    new_files_ = ReadTree(patched.path());
    package_ = work_ + L"\\update.7z";
    ASSERT_TRUE(MakePackage(source.path(), package_));
    package_bytes_ = ReadFileBytes(package_);
  }

  std::wstring Args(const std::wstring& root) { return e2e::Args(0, root, package_); }

  // Where the new version lies while it is not in Client: staged, or
  // extracted in the updater's work folder.
  std::wstring NewVersionAside(const std::wstring& root, const std::wstring& staged) {
    if (package_.empty())
      return staged;
    const std::wstring work = root + L"\\" + layout::kWorkDir;
    const std::vector<std::wstring> extracted = Matching(work, L"package.partial-*");
    return extracted.empty() ? L"" : work + L"\\" + extracted[0] + L"\\Client";
  }

  // Runs the updater and ends it at `moment`. False when it ended on its own
  // first.
  bool RunAndEnd(const std::wstring& root, const Moment& moment) {
    ResetEvent(paused_.get());
    SetEnvironmentVariableW(layout::kTestPauseVariable,
                            moment.pause_at.empty() ? nullptr : moment.pause_at.c_str());
    ChildProcess updater(Quote(UpdaterDir() + L"\\update.exe") + L" " + Args(root));
    SetEnvironmentVariableW(layout::kTestPauseVariable, nullptr);
    EXPECT_TRUE(updater.started());
    if (!moment.pause_at.empty()) {
      HANDLE either[] = {paused_.get(), updater.handle()};
      EXPECT_EQ(WaitForMultipleObjects(2, either, FALSE, 60000), WAIT_OBJECT_0)
          << "the updater never reached " << ToUtf8(moment.pause_at);
    }
    if (!moment.appears.empty()) {
      const size_t slash = moment.appears.rfind(L'\\');
      const std::wstring dir =
          slash == std::wstring::npos ? root : root + L"\\" + moment.appears.substr(0, slash);
      const std::wstring pattern = moment.appears.substr(slash + 1);
      const ULONGLONG deadline = GetTickCount64() + 60000;
      while (Matching(dir, pattern).empty() && !updater.WaitForExit(1) &&
             GetTickCount64() < deadline) {
      }
    }
    if (updater.WaitForExit(moment.delay_ms))
      return false;
    updater.Terminate(9);
    EXPECT_TRUE(updater.WaitForExit(0)) << "the updater did not end when it was terminated";
    // A client the updater was starting when it ended may never run; an
    // unpacker it left need not finish.
    EndDescendantsOf(updater, package_.empty() ? 5000 : 1000);
    return true;
  }

  // What the user has after the updater ended: the complete old or new version
  // in Client, or, between the two renames, both whole below the root.
  std::string ExpectWholeVersion(const std::wstring& root, const std::wstring& staged) {
    if (!DirExists(ClientDir(root)) && !patch_.empty()) {
      // The untouched folders may lie in either version while they move:
      // each version is whole with the other's share of them.
      Tree previous = ReadTree(root + L"\\" + layout::kPreviousVersion);
      Tree fresh = ReadTree(NewVersionAside(root, staged));
      for (const auto& [path, bytes] : fresh) {
        if (!patch_.count(path))
          previous.emplace(path, bytes);
      }
      fresh.merge(Tree(previous));
      EXPECT_TRUE(previous == old_files_) << "the old version is lost";
      EXPECT_TRUE(fresh == new_files_) << "the new version is lost";
      return "no Client; old and new whole below the root, folders in either";
    }
    if (!DirExists(ClientDir(root))) {
      EXPECT_EQ(TreeHash(root + L"\\" + layout::kPreviousVersion), old_hash_)
          << "the old version is lost";
      EXPECT_EQ(TreeHash(NewVersionAside(root, staged)), new_hash_) << "the new version is lost";
      return "no Client; old and new whole below the root";
    }
    const uint64_t installed = TreeHash(ClientDir(root));
    EXPECT_TRUE(installed == old_hash_ || installed == new_hash_)
        << "Client holds a mixture or a part";
    return installed == old_hash_   ? "old version"
           : installed == new_hash_ ? "new version"
                                    : "BROKEN";
  }

  // Runs the same update again: it finishes with the new version, or fails
  // cleanly with a whole version in Client. A new version that cannot start
  // is never reported as installed: the rerun ends with the old one.
  std::string ExpectRerunFinishesOrFailsCleanly(const std::wstring& root) {
    UpdateRun again = RunUpdater(Args(root));
    if (!again.process.finished) {
      ADD_FAILURE() << "the rerun did not end within its time limit\n" << again.log;
      return "HUNG";
    }
    const uint64_t installed = TreeHash(ClientDir(root));
    client_is_new_ = installed == new_hash_;
    if (new_fails()) {
      EXPECT_TRUE(HasLine(again, "update finished 0")) << again.log;
      EXPECT_EQ(installed, old_hash_) << "the new version stays installed\n" << again.log;
      if (!package_.empty()) {
        EXPECT_TRUE(ReadFileBytes(package_) == package_bytes_) << "the package is kept";
      }
      return installed == old_hash_ ? "failed cleanly, old version in place" : "BROKEN";
    }
    if (HasLine(again, "update finished 1")) {
      EXPECT_EQ(installed, new_hash_) << "success reported for a partial tree\n" << again.log;
      for (const wchar_t* leftover :
           {L"zeltorcg_update_old*", L"Client.partial-*", L"Client.trash-*"})
        EXPECT_TRUE(Matching(root, leftover).empty()) << ToUtf8(leftover);
      EXPECT_TRUE(Matching(root + L"\\" + layout::kWorkDir, L"package*").empty());
      return "finished with the new version";
    }
    EXPECT_TRUE(HasLine(again, "update finished 0")) << again.log;
    EXPECT_TRUE(installed == old_hash_ || installed == new_hash_) << again.log;
    return installed == new_hash_ ? "failed cleanly, new version in place"
                                  : "failed cleanly, old version in place";
  }

  // One reference run without an end, then every moment: ended there, the
  // state checked, run again.
  void RunMoments(const std::wstring& root,
                  const std::wstring& staged,
                  const char* path,
                  int spread,
                  const std::vector<Moment>& boundaries) {
    // The shorter of two whole runs: the first start of a prefix is slow.
    double seconds = 1e9;
    for (int run = 0; run < 2; ++run) {
      Prepare(root, staged);
      RunResult reference = e2e::Run(Quote(UpdaterDir() + L"\\update.exe") + L" " + Args(root));
      ASSERT_TRUE(reference.finished);
      ASSERT_EQ(TreeHash(ClientDir(root)), new_fails() ? old_hash_ : new_hash_);
      client_is_new_ = !new_fails();
      seconds = std::min(seconds, reference.seconds);
    }
    const DWORD total_ms = static_cast<DWORD>(seconds * 1000);
    std::vector<Moment> moments = boundaries;
    for (int k = 0; k < spread; ++k) {
      const DWORD at = total_ms * k / spread;
      moments.push_back({std::to_string(at) + " ms of " + std::to_string(total_ms), L"", L"", at});
    }
    for (const Moment& moment : moments) {
      SCOPED_TRACE(moment.name);
      Prepare(root, staged);
      if (HasFatalFailure())
        return;
      const bool ended = RunAndEnd(root, moment);
      const std::string state = ExpectWholeVersion(root, staged);
      const std::string rerun = ExpectRerunFinishesOrFailsCleanly(root);
      std::printf("crash | %s | %s | %s | %s\n", path, moment.name.c_str(),
                  ended ? state.c_str() : "(finished before the end)", rerun.c_str());
      std::fflush(stdout);  // a suite cut short by its time limit still shows how far it got
      if (rerun == "HUNG")
        return;  // the next cases would wait for the same installation lock
    }
  }

  std::wstring package_;
  std::string package_bytes_;
  Tree patch_;  // a patch's files below Client; empty for whole versions
  Tree old_files_;
  Tree new_files_;
  // The new version's client program; another one, which crashes at its
  // start, makes every update end in an undo.
  std::wstring new_program_ = L"ZeltorCloudPlay.exe";
  bool new_fails() const { return new_program_ != L"ZeltorCloudPlay.exe"; }
  testing_support::ScopedKernelHandle paused_;
  uint64_t old_hash_ = 0;
  uint64_t new_hash_ = 0;
  bool client_is_new_ = false;  // root\\Client holds the whole new version
};

TEST_F(UpdaterCrashTest, EndedAnywhereOnTheRenamePath_LeavesAWholeVersion) {
  RunMoments(root_, StagedDir(root_), "rename", 10,
             {
                 {"after the move aside", pause::kAfterAside, L"", 0},
                 {"after the move in", pause::kAfterMoveIn, L"", 0},
                 {"after the client started", pause::kAfterLaunch, L"", 0},
                 {"as the old version's deletion starts", L"", L"zeltorcg_update_old.trash-*", 0},
                 {"during the old version's deletion", L"", L"zeltorcg_update_old.trash-*", 100},
             });
}

TEST_F(UpdaterCrashTest, EndedAnywhereInPackageMode_LeavesAWholeVersion) {
  UsePackage(2000);
  RunMoments(root_, L"", "package", 10,
             {
                 {"after the extraction", pause::kAfterUnpacker, L"", 0},
                 {"after the check", pause::kAfterCheck, L"", 0},
                 {"after the new tree is built", pause::kAfterBuild, L"", 0},
                 {"between the two renames", pause::kAfterAside, L"", 0},
                 {"after the client started", pause::kAfterLaunch, L"", 0},
                 {"as the clean-up starts", pause::kBeforeCleanUp, L"", 0},
                 {"during the old version's deletion", L"", L"zeltorcg_update_old.trash-*", 100},
             });
}

// A new version that crashes at its start is undone: ended anywhere in the
// undo, the next run finishes it and ends with the old version, never with
// the new one reported as installed.
TEST_F(UpdaterCrashTest, EndedAnywhereInTheUndo_EndsWithTheOldVersion) {
  new_program_ = L"client_crash.exe";
  RunMoments(root_, StagedDir(root_), "undo, staged", 4,
             {
                 {"as the undo starts", pause::kUndoing, L"", 0},
                 {"between the undo's renames", pause::kUndoBetweenRenames, L"", 0},
             });
}

TEST_F(UpdaterCrashTest, EndedAnywhereInThePackageUndo_EndsWithTheOldVersion) {
  new_program_ = L"client_crash.exe";
  UsePackage(1000);
  RunMoments(root_, L"", "undo, package", 4,
             {
                 {"as the undo starts", pause::kUndoing, L"", 0},
                 {"between the undo's renames", pause::kUndoBetweenRenames, L"", 0},
                 {"as the extraction's deletion starts", L"",
                  L"zeltorcg_update_tmp\\package.partial-*.trash-*", 0},
                 {"during the extraction's deletion", L"",
                  L"zeltorcg_update_tmp\\package.partial-*.trash-*", 50},
             });
}

// A patch moves the folders it leaves untouched from the old version into
// the new one between the two renames, and back in its undo: ended amid
// either, each version is whole once the folders are counted where they lie.
TEST_F(UpdaterCrashTest, EndedAnywhereInAPatch_LeavesAWholeVersion) {
  UsePatch();
  RunMoments(root_, L"", "patch", 4,
             {
                 {"after the new tree is built", pause::kAfterBuild, L"", 0},
                 {"between the folder moves", pause::kBetweenFolderMoves, L"", 0},
                 {"after the move in", pause::kAfterMoveIn, L"", 0},
                 {"as the clean-up starts", pause::kBeforeCleanUp, L"", 0},
             });
}

TEST_F(UpdaterCrashTest, EndedAnywhereInAPatchUndo_EndsWithTheOldVersion) {
  new_program_ = L"client_crash.exe";
  UsePatch();
  RunMoments(root_, L"", "undo, patch", 2,
             {
                 {"between the folder moves", pause::kBetweenFolderMoves, L"", 0},
                 {"as the undo starts", pause::kUndoing, L"", 0},
                 {"between the undo's renames", pause::kUndoBetweenRenames, L"", 0},
                 {"between the undo's folder moves", pause::kUndoBetweenFolderMoves, L"", 0},
             });
}

// A power cut can leave extracted files at their size without their content.
// The run that finds such a tree checks it against the package again before
// it swaps it in: the update is undone and the package kept.
TEST_F(UpdaterCrashTest, ResumeOverADamagedExtraction_UndoesAndKeepsThePackage) {
  UsePackage(1000);
  Prepare(root_, L"");
  ASSERT_TRUE(RunAndEnd(root_, {"between the two renames", pause::kAfterAside, L"", 0}));
  const std::wstring extracted = NewVersionAside(root_, L"");
  ASSERT_FALSE(extracted.empty());
  const std::wstring damaged = extracted + L"\\data\\d0\\f1.txt";
  std::string bytes = ReadFileBytes(damaged);
  ASSERT_FALSE(bytes.empty());
  bytes[0] ^= 0x20;
  ASSERT_TRUE(WriteFileBytes(damaged, bytes));
  UpdateRun again = RunUpdater(Args(root_));
  EXPECT_TRUE(HasLine(again,
                      "new version of an update that was cut short differs from its "
                      "package: listed file's content differs (CRC)"))
      << again.log;
  EXPECT_TRUE(HasLine(again, "update undone, previous version restored: ")) << again.log;
  EXPECT_TRUE(HasLine(again, "update finished 0"));
  EXPECT_EQ(TreeHash(ClientDir(root_)), old_hash_);
  EXPECT_TRUE(ReadFileBytes(package_) == package_bytes_) << "the package is kept";
  // Once nothing is left to finish, the same package installs.
  UpdateRun next = RunUpdater(Args(root_));
  EXPECT_TRUE(HasLine(next, "update finished 1")) << next.log;
  EXPECT_EQ(TreeHash(ClientDir(root_)), new_hash_);
}

// The client downloads its next package to the same path while an update of
// the one before was cut short after its swap: the rerun installs the new
// package, or fails cleanly, and never deletes it unseen.
TEST_F(UpdaterCrashTest, NewPackageAtTheOldPath_IsInstalledNeverDeletedUnseen) {
  const ScopedTempDir source(L"package3");
  ASSERT_TRUE(WriteVersion(ClientDir(source.path()), "3", {.files = 1000}));
  const uint64_t third_hash = TreeHash(ClientDir(source.path()));
  const std::wstring third = work_ + L"\\third.7z";
  ASSERT_TRUE(MakePackage(source.path(), third));
  UsePackage(1000);
  for (const Moment& moment : {Moment{"after the move in", pause::kAfterMoveIn, L"", 0},
                               Moment{"after the client started", pause::kAfterLaunch, L"", 0},
                               Moment{"as the clean-up starts", pause::kBeforeCleanUp, L"", 0}}) {
    SCOPED_TRACE(moment.name);
    Prepare(root_, L"");
    ASSERT_TRUE(RunAndEnd(root_, moment));
    ASSERT_TRUE(WriteFileBytes(package_, ReadFileBytes(third)));
    UpdateRun again = RunUpdater(Args(root_));
    const uint64_t installed = TreeHash(ClientDir(root_));
    if (HasLine(again, "update finished 1")) {
      EXPECT_EQ(installed, third_hash) << again.log;
    } else {
      EXPECT_TRUE(HasLine(again, "update finished 0")) << again.log;
      EXPECT_TRUE(ReadFileBytes(package_) == ReadFileBytes(third)) << "deleted unseen\n"
                                                                   << again.log;
      EXPECT_TRUE(installed == old_hash_ || installed == new_hash_) << again.log;
    }
    client_is_new_ = false;
  }
}

// The links fixture's staged Client is a link onto another file system: the
// rename fails there and the tree is copied.
TEST_F(UpdaterCrashTest, EndedAnywhereOnTheCopyPath_LeavesAWholeVersion) {
  const std::wstring root = LinkFixtureDir() + L"\\copy\\root";
  const std::wstring staged = StagedDir(root);
  if (LinkFixtureDir().empty() || !DirExists(staged))
    GTEST_SKIP() << "needs the links fixture on a host with a second file system";
  RunMoments(root, staged, "copy", 5,
             {
                 {"after the move aside", pause::kAfterAside, L"", 0},
                 {"as the copy starts", L"", L"Client.partial-*", 0},
                 {"during the copy", L"", L"Client.partial-*", 300},
                 {"after the copy is in place", pause::kAfterMoveIn, L"", 0},
                 {"during the old version's deletion", L"", L"zeltorcg_update_old.trash-*", 100},
             });
  // The source could not be renamed away to another volume's trash: it stays
  // staged, whole.
  EXPECT_EQ(TreeHash(staged), new_hash_);
}

TEST_F(UpdaterCrashTest, CopyPath_UnreadableStagedFileKeepsTheInstallation) {
  const std::wstring root = LinkFixtureDir() + L"\\copy\\root";
  const std::wstring staged = StagedDir(root);
  if (LinkFixtureDir().empty() || !DirExists(staged))
    GTEST_SKIP() << "needs the links fixture on a host with a second file system";
  Prepare(root, staged, 100);
  // Nobody else may read this file: every copy attempt fails.
  testing_support::ScopedFileHandle held(CreateFileW((staged + L"\\data\\d0\\f0.txt").c_str(),
                                                     GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0,
                                                     nullptr));
  ASSERT_TRUE(held.valid());
  UpdateRun run = RunUpdater(Args(root));
  held.reset();
  // The copy is built before anything moves: nothing needs undoing.
  EXPECT_TRUE(HasLine(run, "staged client directory could not be copied, installation kept: "))
      << run.log;
  EXPECT_FALSE(HasLine(run, "delete file result:"));
  EXPECT_TRUE(HasLine(run, "update finished 0"));
  EXPECT_EQ(TreeHash(ClientDir(root)), old_hash_);
  EXPECT_EQ(TreeHash(staged), new_hash_);
  EXPECT_TRUE(Matching(root, L"Client.partial-*").empty()) << "failed copies are removed";
}

}  // namespace
}  // namespace e2e
