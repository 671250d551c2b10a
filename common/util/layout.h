#ifndef COMMON_UTIL_LAYOUT_H_
#define COMMON_UTIL_LAYOUT_H_

// The names of what the updater finds, makes and logs to, in one place for
// the updater and its tests. The installation root holds the client and the
// updater's own entries, all named with kReservedPrefix:
//   <root>\Client\ZeltorCloudPlay.exe        the installed client
//   <root>\zeltorcg_update_tmp\Client        a staged new version
//   <root>\zeltorcg_update_tmp\package.partial-<pid>-<n>   an extraction
//   <root>\zeltorcg_update_old[.<entry>]     a previous version
// and the log is <roaming app data>\ZeltorCloudGame2\log\update_cg.log.

namespace common::layout {

inline constexpr wchar_t kClientDir[] = L"Client";
inline constexpr wchar_t kClientExe[] = L"ZeltorCloudPlay.exe";
inline constexpr wchar_t kReservedPrefix[] = L"zeltorcg_update";
inline constexpr wchar_t kWorkDir[] = L"zeltorcg_update_tmp";
inline constexpr wchar_t kPreviousVersion[] = L"zeltorcg_update_old";
inline constexpr wchar_t kExtraction[] = L"package";
inline constexpr wchar_t kJournal[] = L"transaction.journal";
inline constexpr wchar_t kUnpackerExe[] = L"7z.exe";

// The per-user folder of the company's products, and the updater's log in it.
inline constexpr wchar_t kCompanyDir[] = L"ZeltorCloudGame2";
inline constexpr wchar_t kLogDir[] = L"log";
inline constexpr wchar_t kLogFile[] = L"update_cg.log";

// Kernel objects of the session: the installation locks are
// kObjectPrefix + an id of the root folder.
inline constexpr wchar_t kObjectPrefix[] = L"Local\\ZeltorCloudGame2.update.";

// Test builds only: the step named by the variable kTestPauseVariable holds
// the updater there after it sets the event kTestPauseEvent.
inline constexpr wchar_t kTestPauseVariable[] = L"ZELTORCG_UPDATE_TEST_PAUSE";
inline constexpr wchar_t kTestPauseEvent[] = L"Local\\ZeltorCloudGame2.update.test-pause";
namespace pause {
inline constexpr wchar_t kAfterUnpacker[] = L"after-unpacker";
inline constexpr wchar_t kAfterCheck[] = L"after-check";
inline constexpr wchar_t kAfterBuild[] = L"after-build";
inline constexpr wchar_t kBeforeCopy[] = L"before-copy";
inline constexpr wchar_t kAfterAside[] = L"after-aside";
inline constexpr wchar_t kAfterMoveIn[] = L"after-move-in";
inline constexpr wchar_t kAfterLaunch[] = L"after-launch";
inline constexpr wchar_t kBeforeCleanUp[] = L"before-clean-up";
}  // namespace pause

}  // namespace common::layout

#endif  // COMMON_UTIL_LAYOUT_H_
