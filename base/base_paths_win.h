#ifndef BASE_BASE_PATHS_WIN_H_
#define BASE_BASE_PATHS_WIN_H_

#include <cstddef>

#include "base/base_paths.h"
#include "base/file_path.h"

namespace base {
namespace internal {

// The process's current directory without trailing separators. False, with
// `*result` untouched, when GetCurrentDirectoryW fails or the directory does
// not fit in MAX_PATH units.
bool GetCurrentDirectoryPath(FilePath* result);

// Full path of `module` (null: the process's executable) read into a buffer
// of `buffer_units`. False, with `*result` untouched, when the call fails or
// the name fills the whole buffer, which means it was cut.
bool GetModuleFilePath(void* module, size_t buffer_units, FilePath* result);

// The absolute form of `path` (lexical; the path need not exist), or an empty
// path on failure.
FilePath MakeAbsolutePath(const FilePath& path);

}  // namespace internal
}  // namespace base

#endif  // BASE_BASE_PATHS_WIN_H_
