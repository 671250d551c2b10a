#ifndef BASE_PATH_SERVICE_H_
#define BASE_PATH_SERVICE_H_

#include "base/base_paths.h"
#include "base/file_path.h"

namespace base {

// Keyed lookup of well-known locations (keys in base/base_paths.h). Answers
// come from a chain of providers (Windows, then base) and are cached for the
// life of the process; only DIR_CURRENT is computed afresh on every call.
// Thread-safe: the cache is guarded by a lock that is never held while a
// provider runs, so providers may look up other keys.
class PathService {
 public:
  PathService() = delete;

  // A provider answers the keys it knows: true with `*result` filled (an
  // empty path makes the lookup fail), or false leaving `*result` alone.
  using ProviderFunc = bool (*)(int key, FilePath* result);

  // Sets `*result` and returns true when `key` resolves to a non-empty path.
  // A path that references a parent ("..") is made absolute first. Returns
  // false and leaves `*result` unchanged for unknown keys and failed system
  // calls.
  [[nodiscard]] static bool Get(int key, FilePath* result);

  // Makes `key` answer `path` from now on (also replacing a cached answer).
  // The path is stored as given. DIR_CURRENT cannot be overridden: returns
  // false for it and for an empty path.
  static bool Override(int key, const FilePath& path);

  // Removes an override made by Override and forgets the cached answer for
  // `key`, so that the next Get asks the providers again. Returns whether an
  // override was removed.
  static bool RemoveOverride(int key);

  // Turns the cache off (true, also dropping what it holds) or back on
  // (false); overrides stay in force.
  // Meant for tests that need fresh answers.
  static void DisableCache(bool disabled);

  // Puts `provider` at the head of the chain, ahead of the built-in ones.
  // Registered providers stay for the life of the process.
  static void RegisterProvider(ProviderFunc provider);
};

}  // namespace base

#endif  // BASE_PATH_SERVICE_H_
