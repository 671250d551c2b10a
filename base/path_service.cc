#include "base/path_service.h"

#include <unordered_map>

#include "base/base_paths_win.h"
#include "base/os_paths.h"
#include "base/synchronization/lock.h"

namespace base {

namespace {

struct PathProvider {
  PathService::ProviderFunc func;
  const PathProvider* next;
};

// The chain the system ships with: Windows keys first, then the base keys.
const PathProvider kBaseProvider = {BasePathProvider, nullptr};
const PathProvider kWindowsProvider = {WindowsPathProvider, &kBaseProvider};

struct PathServiceData {
  Lock lock;
  std::unordered_map<int, FilePath> cache;
  std::unordered_map<int, FilePath> overrides;
  const PathProvider* providers = &kWindowsProvider;
  bool cache_disabled = false;
};

PathServiceData& GetPathData() {
  // Created once (the initialisation of a local static is thread-safe) and
  // never freed, so lookups during process exit stay valid.
  static PathServiceData* const data = new PathServiceData;
  return *data;
}

}  // namespace

// static
bool PathService::Get(int key, FilePath* result) {
  // The current directory can change at any time, so it is never cached.
  if (key == DIR_CURRENT)
    return GetCurrentDirectory(result);

  PathServiceData& data = GetPathData();

  const PathProvider* provider = nullptr;
  {
    AutoLock lock(data.lock);
    if (!data.cache_disabled) {
      const auto it = data.cache.find(key);
      if (it != data.cache.end()) {
        *result = it->second;
        return true;
      }
    }
    const auto it = data.overrides.find(key);
    if (it != data.overrides.end()) {
      if (!data.cache_disabled)
        data.cache[key] = it->second;
      *result = it->second;
      return true;
    }
    provider = data.providers;
  }

  // Providers run without the lock: they may look up other keys through Get.
  FilePath path;
  for (; provider; provider = provider->next) {
    if (provider->func(key, &path))
      break;
  }
  if (path.empty())
    return false;

  if (path.ReferencesParent()) {
    path = MakeAbsoluteFilePath(path);
    if (path.empty())
      return false;
  }

  *result = path;
  AutoLock lock(data.lock);
  if (!data.cache_disabled)
    data.cache[key] = std::move(path);
  return true;
}

// static
bool PathService::Override(int key, const FilePath& path) {
  if (key == DIR_CURRENT || path.empty())
    return false;
  PathServiceData& data = GetPathData();
  AutoLock lock(data.lock);
  data.overrides[key] = path;
  data.cache[key] = path;
  return true;
}

// static
bool PathService::RemoveOverride(int key) {
  PathServiceData& data = GetPathData();
  AutoLock lock(data.lock);
  data.cache.erase(key);
  return data.overrides.erase(key) != 0;
}

// static
void PathService::DisableCache(bool disabled) {
  PathServiceData& data = GetPathData();
  AutoLock lock(data.lock);
  data.cache_disabled = disabled;
  if (disabled)
    data.cache.clear();
}

// static
void PathService::RegisterProvider(ProviderFunc provider) {
  PathServiceData& data = GetPathData();
  AutoLock lock(data.lock);
  // Records are never freed: a lookup may still be walking the old chain.
  data.providers = new PathProvider{provider, data.providers};
}

}  // namespace base
