#ifndef BASE_PLATFORM_WINDOWS_TYPES_H_
#define BASE_PLATFORM_WINDOWS_TYPES_H_

// The one place that includes <windows.h>, lean and free of min/max macros.
// The Windows version it declares comes from the compile definitions of the
// target base_platform (base/CMakeLists.txt), which every user links.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif

#include <windows.h>

// Names of this code base that <windows.h> would turn into their ...A or ...W
// macro forms (base::DeleteFile, base::GetCurrentDirectory); the Win32 calls
// keep their explicit ...W names.
#undef DeleteFile
#undef GetCurrentDirectory

#endif  // BASE_PLATFORM_WINDOWS_TYPES_H_
