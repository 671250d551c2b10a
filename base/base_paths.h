#ifndef BASE_BASE_PATHS_H_
#define BASE_BASE_PATHS_H_

// Keys for PathService::Get. The values are fixed: callers and logs name them
// by number.

namespace base {

enum BasePathKey {
  PATH_START = 0,

  DIR_CURRENT = 1,          // Current directory; computed afresh every time.
  DIR_EXE = 2,              // Directory of FILE_EXE.
  DIR_MODULE = 3,           // Directory of FILE_MODULE.
  DIR_MODULE_ALIAS = 4,     // Same as DIR_MODULE.
  DIR_TEMP = 5,             // The user's temporary directory.
  DIR_HOME = 6,             // The user profile directory (with fallbacks).
  FILE_EXE = 7,             // Full path of the process's executable.
  FILE_MODULE = 8,          // Full path of the module holding this code.
  DIR_EXE_GRANDPARENT = 9,  // Parent directory of DIR_EXE.
  DIR_USER_DESKTOP = 10,    // The user's desktop folder.
  DIR_TEST_DATA = 11,       // DIR_EXE_GRANDPARENT\base\test\data, if it exists.

  PATH_END = 12
};

enum BasePathKeyWin {
  PATH_WIN_START = 100,

  DIR_WINDOWS = 101,                 // Windows directory, e.g. C:\Windows.
  DIR_SYSTEM = 102,                  // System directory, e.g. C:\Windows\System32.
  DIR_PROGRAM_FILES = 103,           // Program Files as this process sees it.
  DIR_PROGRAM_FILESX86 = 104,        // 32-bit Program Files (103 on x86 Windows).
  DIR_PROGRAM_FILES6432 = 105,       // 64-bit Program Files under WOW64, else 103.
  DIR_INTERNET_CACHE = 106,          // Temporary Internet files.
  DIR_COMMON_PROGRAMS = 107,         // Start menu programs of all users.
  DIR_PROGRAMS = 108,                // Start menu programs of the user.
  DIR_APP_DATA = 109,                // Roaming application data of the user.
  DIR_LOCAL_APP_DATA = 110,          // Local application data of the user.
  DIR_COMMON_APP_DATA = 111,         // Application data of all users.
  DIR_APP_SHORTCUTS = 112,           // App shortcuts (Windows 8 and later).
  DIR_COMMON_DESKTOP = 113,          // Desktop of all users.
  DIR_QUICK_LAUNCH = 114,            // DIR_APP_DATA\Microsoft\Internet Explorer\Quick Launch.
  DIR_TASKBAR_PINS = 115,            // DIR_QUICK_LAUNCH\User Pinned\TaskBar.
  DIR_IMPLICIT_APP_SHORTCUTS = 116,  // DIR_QUICK_LAUNCH\User Pinned\ImplicitAppShortcuts.
  DIR_FONTS = 117,                   // The fonts folder.

  PATH_WIN_END = 118
};

class FilePath;

// Providers of the keys above, for the PathService chain. Each answers only
// its own keys: it returns true and fills `*result` (possibly with an empty
// path when the system delivered nothing), or returns false and leaves
// `*result` alone. Thread-safe; they may re-enter PathService::Get.
bool WindowsPathProvider(int key, FilePath* result);
bool BasePathProvider(int key, FilePath* result);

}  // namespace base

#endif  // BASE_BASE_PATHS_H_
