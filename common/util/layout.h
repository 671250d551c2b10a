#ifndef COMMON_UTIL_LAYOUT_H_
#define COMMON_UTIL_LAYOUT_H_

// The names of what the updater finds, makes and logs to, in one place for
// the updater and its tests. The installation root holds the client and the
// updater's own entries, all named with kReservedPrefix:
//   <root>\Client\ZeltorCloudPlay.exe        the installed client
//   <root>\zeltorcg_update_tmp\Client        a staged new version
//   <root>\zeltorcg_update_tmp\package.partial-<pid>-<n>   an extraction
//   <root>\zeltorcg_update_old[.<entry>]     a previous version
//   <root>\zeltorcg_update_tmp\transaction.journal   what a run moves where
//   <root>\zeltorcg_update_tmp\update.lock   held while an updater is at work
// and the log is <roaming app data>\ZeltorCloudGame2\log\update_cg.log.

#include <string>

#include "base/file_path.h"

namespace common::layout {

inline constexpr wchar_t kClientDir[] = L"Client";
inline constexpr wchar_t kClientExe[] = L"ZeltorCloudPlay.exe";
inline constexpr wchar_t kReservedPrefix[] = L"zeltorcg_update";
inline constexpr wchar_t kWorkDir[] = L"zeltorcg_update_tmp";
inline constexpr wchar_t kPreviousVersion[] = L"zeltorcg_update_old";
inline constexpr wchar_t kExtraction[] = L"package";
inline constexpr wchar_t kJournal[] = L"transaction.journal";
inline constexpr wchar_t kLockFile[] = L"update.lock";
inline constexpr wchar_t kUpdaterExe[] = L"update.exe";
inline constexpr wchar_t kUnpackerExe[] = L"7z.exe";
inline constexpr wchar_t kUnpackerDll[] = L"7z.dll";
// A previous version that must take a fresh name, because an earlier run's
// still stands under its own, is named so plus "<pid>-<n>".
inline constexpr wchar_t kHeldSuffix[] = L".held-";
// A journal that could not be read is kept under its name plus this and "<pid>-<n>".
inline constexpr wchar_t kDamagedSuffix[] = L".damaged-";

// The top-level entries of the root that an update may replace.
inline constexpr const wchar_t* kInstalledEntries[] = {kClientDir, kUpdaterExe, kUnpackerExe,
                                                       kUnpackerDll};

// root\zeltorcg_update_tmp, and what lies in it.
inline base::FilePath WorkDir(const base::FilePath& root) {
  return root.Append(kWorkDir);
}
inline base::FilePath StagedClientDir(const base::FilePath& root) {
  return WorkDir(root).Append(kClientDir);
}
inline base::FilePath JournalPath(const base::FilePath& root) {
  return WorkDir(root).Append(kJournal);
}
inline base::FilePath LockPath(const base::FilePath& root) {
  return WorkDir(root).Append(kLockFile);
}
inline base::FilePath InstalledClientDir(const base::FilePath& root) {
  return root.Append(kClientDir);
}
// Where the installed top-level entry `name` goes while its new version moves
// in: zeltorcg_update_old for Client, zeltorcg_update_old.<name> for the others.
inline std::wstring PreviousVersionName(const std::wstring& name) {
  return name == kClientDir ? std::wstring(kPreviousVersion)
                            : std::wstring(kPreviousVersion) + L"." + name;
}

// The per-user folder of the company's products, and the updater's log in it.
inline constexpr wchar_t kCompanyDir[] = L"ZeltorCloudGame2";
inline constexpr wchar_t kLogDir[] = L"log";
inline constexpr wchar_t kLogFile[] = L"update_cg.log";

// Test builds only: the step named by the variable kTestPauseVariable holds
// the updater there after it sets the event kTestPauseEvent, or the one that
// kTestPauseEventVariable names (so that tests running at once do not share one).
inline constexpr wchar_t kTestPauseVariable[] = L"ZELTORCG_UPDATE_TEST_PAUSE";
inline constexpr wchar_t kTestPauseEventVariable[] = L"ZELTORCG_UPDATE_TEST_PAUSE_EVENT";
inline constexpr wchar_t kTestPauseEvent[] = L"Local\\ZeltorCloudGame2.update.test-pause";
namespace pause {
inline constexpr wchar_t kAfterUnpacker[] = L"after-unpacker";
inline constexpr wchar_t kAfterCheck[] = L"after-check";
inline constexpr wchar_t kAfterBuild[] = L"after-build";
inline constexpr wchar_t kBeforeCopy[] = L"before-copy";
inline constexpr wchar_t kAfterAside[] = L"after-aside";
inline constexpr wchar_t kBetweenFolderMoves[] = L"between-folder-moves";
inline constexpr wchar_t kAfterMoveIn[] = L"after-move-in";
inline constexpr wchar_t kAfterLaunch[] = L"after-launch";
inline constexpr wchar_t kBeforeCleanUp[] = L"before-clean-up";
inline constexpr wchar_t kUndoing[] = L"undoing";
inline constexpr wchar_t kUndoBetweenRenames[] = L"undo-between-renames";
inline constexpr wchar_t kUndoBetweenFolderMoves[] = L"undo-between-folder-moves";
}  // namespace pause

}  // namespace common::layout

#endif  // COMMON_UTIL_LAYOUT_H_
