#ifndef BASE_BASE_PATHS_WIN_H_
#define BASE_BASE_PATHS_WIN_H_

#include <cstddef>

#include "base/base_paths.h"
#include "base/file_path.h"

namespace base {
namespace internal {

// Full path of `module` (null: the process's executable) read into a buffer
// of `buffer_units`. False, with `*result` untouched, when the call fails or
// the name fills the whole buffer, which means it was cut.
bool GetModuleFilePath(void* module, size_t buffer_units, FilePath* result);

}  // namespace internal
}  // namespace base

#endif  // BASE_BASE_PATHS_WIN_H_
