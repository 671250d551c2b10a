#include "base/process/launch.h"

#include <userenv.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <utility>

#include "base/debug/activity_tracker.h"
#include "base/logging.h"
#include "base/platform/system_library_win.h"
#include "base/win/scoped_handle.h"
#include "base/win/windows_version.h"

namespace base {

namespace {

// The line the fatal check on a handle that cannot be made inheritable
// reports: tests and crash reports match it.
constexpr int kInheritableCheckLine = 221;

using InitializeProcThreadAttributeListFunction = BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST,
                                                                DWORD,
                                                                DWORD,
                                                                PSIZE_T);
using UpdateProcThreadAttributeFunction =
    BOOL(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST, DWORD, DWORD_PTR, PVOID, SIZE_T, PVOID, PSIZE_T);
using DeleteProcThreadAttributeListFunction = VOID(WINAPI*)(LPPROC_THREAD_ATTRIBUTE_LIST);

// Looked up by name so that the executable still loads where kernel32 lacks
// them; resolved once and shared by every thread.
std::atomic<InitializeProcThreadAttributeListFunction> g_initialize_attribute_list{nullptr};
std::atomic<UpdateProcThreadAttributeFunction> g_update_attribute{nullptr};
std::atomic<DeleteProcThreadAttributeListFunction> g_delete_attribute_list{nullptr};

void ResolveAttributeListFunctions() {
  if (g_initialize_attribute_list.load() && g_update_attribute.load() &&
      g_delete_attribute_list.load()) {
    return;
  }
  HMODULE kernel32 = ::GetModuleHandleW(L"kernel32.dll");
  if (!kernel32)
    return;
  g_initialize_attribute_list.store(reinterpret_cast<InitializeProcThreadAttributeListFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "InitializeProcThreadAttributeList"))));
  g_update_attribute.store(reinterpret_cast<UpdateProcThreadAttributeFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "UpdateProcThreadAttribute"))));
  g_delete_attribute_list.store(reinterpret_cast<DeleteProcThreadAttributeListFunction>(
      reinterpret_cast<void*>(::GetProcAddress(kernel32, "DeleteProcThreadAttributeList"))));
}

// The result of process creation for the duration of a launch: both handles
// are owned from the moment the platform hands them over.
class LaunchedProcessInfo {
 public:
  explicit LaunchedProcessInfo(const PROCESS_INFORMATION& info)
      : process_handle_(info.hProcess),
        thread_handle_(info.hThread),
        process_id_(info.dwProcessId),
        thread_id_(info.dwThreadId) {}
  LaunchedProcessInfo(const LaunchedProcessInfo&) = delete;
  LaunchedProcessInfo& operator=(const LaunchedProcessInfo&) = delete;

  HANDLE process_handle() const { return process_handle_.Get(); }
  HANDLE thread_handle() const { return thread_handle_.Get(); }
  DWORD process_id() const { return process_id_; }
  DWORD thread_id() const { return thread_id_; }

  // Hands the process handle to the caller, who then owns it.
  HANDLE TakeProcessHandle() {
    process_id_ = 0;
    return process_handle_.Take();
  }

 private:
  win::ScopedHandle process_handle_;
  win::ScopedHandle thread_handle_;
  DWORD process_id_;
  DWORD thread_id_;
};

// userenv.dll's functions, from the system folder's copy at first use; null
// when missing.
struct UserEnv {
  decltype(&::CreateEnvironmentBlock) create_block;
  decltype(&::DestroyEnvironmentBlock) destroy_block;
};
const UserEnv& GetUserEnv() {
  static const UserEnv functions = {
      win::SystemFunction<decltype(&::CreateEnvironmentBlock)>(L"userenv.dll",
                                                               "CreateEnvironmentBlock"),
      win::SystemFunction<decltype(&::DestroyEnvironmentBlock)>(L"userenv.dll",
                                                                "DestroyEnvironmentBlock"),
  };
  return functions;
}

// A user's environment block of CreateEnvironmentBlock.
struct EnvironmentBlockTraits {
  using Type = void*;
  static void* InvalidValue() { return nullptr; }
  static void Free(void* block) { GetUserEnv().destroy_block(block); }
};

void RecordLaunch(DWORD pid, const std::wstring& command_line_text) {
  if (debug::GlobalActivityTracker* tracker = debug::GlobalActivityTracker::Get())
    tracker->RecordProcessLaunch(pid, command_line_text);
}

}  // namespace

namespace internal {

void AttributeListTraits::Free(LPPROC_THREAD_ATTRIBUTE_LIST list) {
  if (auto delete_list = g_delete_attribute_list.load())
    delete_list(list);
  std::free(list);
}

}  // namespace internal

LaunchOptions::LaunchOptions() = default;
LaunchOptions::LaunchOptions(const LaunchOptions&) = default;
LaunchOptions& LaunchOptions::operator=(const LaunchOptions&) = default;
LaunchOptions::~LaunchOptions() = default;

ExtendedStartupInfo::ExtendedStartupInfo() {
  std::memset(&startup_info_, 0, sizeof(startup_info_));
  startup_info_.StartupInfo.cb = sizeof(startup_info_);
  ResolveAttributeListFunctions();
}

ExtendedStartupInfo::~ExtendedStartupInfo() = default;

bool ExtendedStartupInfo::CreateAttributeList(DWORD attribute_count) {
  if (startup_info_.StartupInfo.cb != sizeof(startup_info_) || startup_info_.lpAttributeList)
    return false;
  auto initialize_list = g_initialize_attribute_list.load();
  if (!initialize_list)
    return false;

  SIZE_T size = 0;
  initialize_list(nullptr, attribute_count, 0, &size);
  if (size == 0)
    return false;

  // Not yet initialised, so plain memory until the platform accepts it.
  std::unique_ptr<void, decltype(&std::free)> memory(std::malloc(size), &std::free);
  auto* list = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory.get());
  if (!list)
    return false;
  if (!initialize_list(list, attribute_count, 0, &size))
    return false;
  attribute_list_.reset(static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(memory.release()));
  startup_info_.lpAttributeList = attribute_list_.get();
  return true;
}

bool ExtendedStartupInfo::SetAttribute(DWORD_PTR attribute, void* value, size_t size) {
  if (!startup_info_.lpAttributeList)
    return false;
  auto update_attribute = g_update_attribute.load();
  if (!update_attribute)
    return false;
  return update_attribute(startup_info_.lpAttributeList, 0, attribute, value, size, nullptr,
                          nullptr) != 0;
}

Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options) {
  return LaunchProcess(command_line.GetCommandLineString(), options);
}

namespace {

// Marks every handle of `*handles` inheritable and makes them the only
// handles the child inherits. False when the attribute list cannot be made;
// a handle that cannot be marked is a fatal check. `*handles` must outlive
// the launch.
bool ListInheritedHandles(HandlesToInheritVector* handles, ExtendedStartupInfo* startup_info_ex) {
  if (handles->size() > 0x3FFFFFFF)
    return false;
  for (HANDLE handle : *handles) {
    const BOOL result = ::SetHandleInformation(handle, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    // A handle the caller asked to hand over that cannot be made
    // inheritable is a programming error: the child would run without it.
    PCHECK_AT(result, kInheritableCheckLine);
  }
  if (!startup_info_ex->CreateAttributeList(1))
    return false;
  return startup_info_ex->SetAttribute(PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles->data(),
                                       sizeof(HANDLE) * handles->size());
}

// Fills in the desktop, the show state and, when any is set, the three
// standard handles. `*desktop` keeps the name the record points to and must
// outlive the launch.
void SetWindowAndStandardHandles(const LaunchOptions& options,
                                 std::wstring* desktop,
                                 STARTUPINFOW* startup_info) {
  *desktop = options.use_empty_desktop ? std::wstring() : L"WinSta0\\Default";
  startup_info->lpDesktop = desktop->data();
  startup_info->dwFlags = STARTF_USESHOWWINDOW;
  startup_info->wShowWindow = options.hide_window ? SW_HIDE : SW_SHOWNORMAL;

  if (options.std_input || options.std_output || options.std_error) {
    startup_info->dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup_info->hStdInput = options.std_input;
    startup_info->hStdOutput = options.std_output;
    startup_info->hStdError = options.std_error;
  }
}

// Job placement and foreground permission must happen before the child runs
// its first instruction.
bool StartsSuspended(const LaunchOptions& options) {
  return options.job || options.allow_foreground;
}

DWORD CreationFlags(const LaunchOptions& options, bool with_handle_list) {
  DWORD flags = CREATE_NEW_CONSOLE;
  if (with_handle_list)
    flags |= EXTENDED_STARTUPINFO_PRESENT;
  if (StartsSuspended(options))
    flags |= CREATE_SUSPENDED;
  // Before Windows 8 a process belongs to one job only: leave ours to enter
  // the caller's.
  if (options.job && win::GetWindowsVersion() < win::WindowsVersion::kWin8)
    flags |= CREATE_BREAKAWAY_FROM_JOB;
  if (options.breakaway_from_job)
    flags |= CREATE_BREAKAWAY_FROM_JOB;
  return flags;
}

// Creates the child, as the user of `options.user_token` with that user's
// environment when a token is given. False when the platform refuses.
bool CreateChild(const LaunchOptions& options,
                 std::wstring* writable_command_line,
                 BOOL inherit,
                 DWORD flags,
                 STARTUPINFOW* startup_info,
                 PROCESS_INFORMATION* raw_info) {
  const wchar_t* current_directory =
      options.working_directory.empty() ? nullptr : options.working_directory.value().c_str();
  if (!options.user_token) {
    return ::CreateProcessW(nullptr, writable_command_line->data(), nullptr, nullptr, inherit,
                            flags, nullptr, current_directory, startup_info, raw_info) != 0;
  }
  win::ScopedAny<EnvironmentBlockTraits> environment;
  const UserEnv& userenv = GetUserEnv();
  if (!userenv.create_block || !userenv.destroy_block) {
    ::SetLastError(ERROR_MOD_NOT_FOUND);
    return false;
  }
  if (!userenv.create_block(environment.Receive(), options.user_token, FALSE))
    return false;
  return ::CreateProcessAsUserW(options.user_token, nullptr, writable_command_line->data(), nullptr,
                                nullptr, inherit, flags | CREATE_UNICODE_ENVIRONMENT,
                                environment.get(), current_directory, startup_info, raw_info) != 0;
}

// Ends a child that must not run on, with exit code 1.
void EndChild(LaunchedProcessInfo* process_info) {
  Process child(process_info->TakeProcessHandle());
  child.Terminate(1, true);
}

// Puts the child into its job, passes the foreground permission and lets a
// suspended child run. False, with the child ended, when it cannot be placed
// or resumed.
bool PlaceAndResumeChild(const LaunchOptions& options, LaunchedProcessInfo* process_info) {
  if (options.job && !::AssignProcessToJobObject(options.job, process_info->process_handle())) {
    // The suspended child never runs.
    EndChild(process_info);
    return false;
  }

  if (options.allow_foreground)
    ::AllowSetForegroundWindow(::GetProcessId(process_info->process_handle()));

  if (StartsSuspended(options) &&
      ::ResumeThread(process_info->thread_handle()) == static_cast<DWORD>(-1)) {
    // A child that cannot be resumed would hang suspended forever and be
    // reported as started: end it instead.
    EndChild(process_info);
    return false;
  }
  return true;
}

}  // namespace

// How a launch goes, and why in this order:
//
//  - Every child gets a console of its own (CREATE_NEW_CONSOLE): the
//    launcher is a GUI process and the unpacker is a console program that
//    must not borrow, or fail for want of, the launcher's console.
//  - Inheritance is opt-in. With an explicit handle list the child inherits
//    exactly those handles through the PROC_THREAD_ATTRIBUTE_HANDLE_LIST
//    attribute, even when other inheritable handles exist in the launcher;
//    this keeps log files and process handles of the launcher out of
//    long-lived children such as the relaunched client. Each listed handle
//    must be inheritable for the attribute to accept it, so it is marked
//    first; a handle that cannot be marked is the caller's bug.
//  - The desktop is named explicitly ("WinSta0\Default") so that a child
//    started from a service-like context still shows its windows where the
//    user sees them; the empty name asks for a fresh, invisible desktop.
//  - The show state is always passed (STARTF_USESHOWWINDOW), so a hidden
//    launch really starts hidden and a normal one is not minimised by an
//    inherited state. Standard handles are passed as a set of three, null
//    ones included, because the platform takes all three or none.
//  - A child that goes into a job, or that receives the foreground
//    permission, starts suspended: both must be in place before it runs its
//    first instruction, or it could escape the job by launching a child of
//    its own, or lose the race for the foreground.
//  - Before Windows 8 a process can belong to one job only; a child that
//    should enter the caller's job must first leave any job of ours.
//  - With a user token the child gets that user's own environment block,
//    not the launcher's, and the block is freed whatever the outcome.
//  - From the moment the platform returns them, the process and thread
//    handles are owned by holders, so every early return below is leak-free
//    and the handle verifier sees each adoption.
//  - A failed job placement or a failed resume ends the suspended child with
//    exit code 1 and reports the launch as failed: a child that never runs,
//    or runs outside the job it was meant for, must not look started.
//  - The launch is recorded with the activity tracker, when one exists, so
//    that a later crash report can name the children and their command
//    lines.
//  - Nothing here writes to the log: a launch failure is the caller's to
//    report, with the context only the caller has. The one exception is the
//    fatal check of ListInheritedHandles, which ends the process and so must
//    say why. Failures of the foreground grant and of the final wait are not
//    failures of the launch and are ignored.
Process LaunchProcess(const std::wstring& command_line_text, const LaunchOptions& options) {
  ExtendedStartupInfo startup_info_ex;
  STARTUPINFOW* startup_info = &startup_info_ex.startup_info()->StartupInfo;

  // The handle list lives until process creation is done: the attribute list
  // points into it.
  HandlesToInheritVector handles = options.inherited_handles;
  const bool with_handle_list = !handles.empty();
  if (with_handle_list && !ListInheritedHandles(&handles, &startup_info_ex))
    return Process();
  const BOOL inherit =
      with_handle_list || options.handle_inheritance == LaunchOptions::Inherit::kAllInheritable;

  std::wstring desktop;
  SetWindowAndStandardHandles(options, &desktop, startup_info);

  // The platform may write into the command line.
  std::wstring writable_command_line = command_line_text;
  PROCESS_INFORMATION raw_info = {};
  if (!CreateChild(options, &writable_command_line, inherit,
                   CreationFlags(options, with_handle_list), startup_info, &raw_info)) {
    return Process();
  }
  LaunchedProcessInfo process_info(raw_info);

  if (!PlaceAndResumeChild(options, &process_info))
    return Process();

  if (options.wait_for_exit)
    ::WaitForSingleObject(process_info.process_handle(), INFINITE);

  RecordLaunch(process_info.process_id(), command_line_text);

  return Process(process_info.TakeProcessHandle());
}

static_assert(sizeof(STARTUPINFOEXW) == 72, "the extended start-up record is 72 bytes here");

}  // namespace base
