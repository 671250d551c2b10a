#ifndef BASE_PROCESS_LAUNCH_H_
#define BASE_PROCESS_LAUNCH_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/command_line.h"
#include "base/file_path.h"
#include "base/platform/scoped_any_win.h"
#include "base/platform/windows_types.h"
#include "base/process/process.h"

namespace base {

using HandlesToInheritVector = std::vector<HANDLE>;

// How a child is started. Every field defaults to zero, false, null or empty.
// Handles named here stay owned by the caller.
struct LaunchOptions {
  enum class Inherit : int32_t {
    // Only the handles of `inherited_handles`, none when it is empty.
    kListedOnly = 0,
    // Every inheritable handle of the launcher.
    kAllInheritable = 1,
  };

  LaunchOptions();
  LaunchOptions(const LaunchOptions&);
  LaunchOptions& operator=(const LaunchOptions&);
  ~LaunchOptions();

  // After starting, wait without limit until the child ends.
  bool wait_for_exit = false;
  // The child's current directory; empty inherits the launcher's.
  FilePath working_directory;
  // Start the child's first window hidden (SW_HIDE).
  bool hide_window = false;
  Inherit handle_inheritance = Inherit::kListedOnly;
  // When not empty, exactly these handles are made inheritable and handed to
  // the child, whatever `handle_inheritance` says.
  HandlesToInheritVector inherited_handles;
  // When not null, the child runs as this token's user with its environment.
  HANDLE user_token = nullptr;
  // Give the child the empty desktop name instead of "WinSta0\Default".
  bool use_empty_desktop = false;
  // When not null, the child is placed into this job before it runs.
  HANDLE job = nullptr;
  // When any is not null, all three become the child's standard handles.
  HANDLE std_input = nullptr;
  HANDLE std_output = nullptr;
  HANDLE std_error = nullptr;
  // Start the child outside any job of the launcher.
  bool breakaway_from_job = false;
  // Pass the launcher's permission to bring windows to the foreground.
  bool allow_foreground = false;
};

// Starts `command_line_text` (the complete command line, no application
// name) and returns the owner of the child's process handle, or an invalid
// Process when the launch fails; nothing is logged. A handle of
// `inherited_handles` that cannot be made inheritable is a fatal check.
Process LaunchProcess(const std::wstring& command_line_text, const LaunchOptions& options);

// As above with the command line's full text.
Process LaunchProcess(const CommandLine& command_line, const LaunchOptions& options);

namespace internal {

// A process-thread attribute list in memory of std::malloc: deleted, then
// freed.
struct AttributeListTraits {
  using Type = LPPROC_THREAD_ATTRIBUTE_LIST;
  static Type InvalidValue() { return nullptr; }
  static void Free(Type list);
};

}  // namespace internal

// The platform's extended start-up record with an owned process-thread
// attribute list, released on destruction. Not copyable.
class ExtendedStartupInfo {
 public:
  ExtendedStartupInfo();
  ExtendedStartupInfo(const ExtendedStartupInfo&) = delete;
  ExtendedStartupInfo& operator=(const ExtendedStartupInfo&) = delete;
  ~ExtendedStartupInfo();

  // Creates a list with room for `attribute_count` attributes. False when
  // one exists already, the record's size field is not its own size, or the
  // platform refuses.
  bool CreateAttributeList(DWORD attribute_count);

  // Sets one attribute; `value` must outlive the record. False without a list
  // or when the platform refuses.
  bool SetAttribute(DWORD_PTR attribute, void* value, size_t size);

  STARTUPINFOEXW* startup_info() { return &startup_info_; }
  bool has_attribute_list() const { return startup_info_.lpAttributeList != nullptr; }

 private:
  STARTUPINFOEXW startup_info_;
  // Owns what startup_info_.lpAttributeList points to.
  win::ScopedAny<internal::AttributeListTraits> attribute_list_;
};

}  // namespace base

#endif  // BASE_PROCESS_LAUNCH_H_
