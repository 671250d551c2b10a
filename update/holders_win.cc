#include "update/holders.h"

#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/platform/system_library_win.h"
#include "base/platform/windows_types.h"

// restartmanager.h needs <windows.h> first. Only its declarations are used:
// the DLL is loaded from the system folder at first use.
#include <restartmanager.h>

namespace update {

namespace {

constexpr size_t kMaxFiles = 5000;

// rstrtmgr.dll's functions, from the system folder's copy at first use.
struct RestartManager {
  decltype(&::RmStartSession) start = nullptr;
  decltype(&::RmRegisterResources) register_resources = nullptr;
  decltype(&::RmGetList) get_list = nullptr;
  decltype(&::RmEndSession) end = nullptr;
  bool usable() const { return start && register_resources && get_list && end; }
};

const RestartManager& GetRestartManager() {
  static const RestartManager functions = [] {
    constexpr wchar_t kDll[] = L"rstrtmgr.dll";
    RestartManager rm;
    rm.start = base::win::SystemFunction<decltype(rm.start)>(kDll, "RmStartSession");
    rm.register_resources =
        base::win::SystemFunction<decltype(rm.register_resources)>(kDll, "RmRegisterResources");
    rm.get_list = base::win::SystemFunction<decltype(rm.get_list)>(kDll, "RmGetList");
    rm.end = base::win::SystemFunction<decltype(rm.end)>(kDll, "RmEndSession");
    return rm;
  }();
  return functions;
}

// A Restart Manager session, ended when this goes.
class Session {
 public:
  explicit Session(const RestartManager& rm) : rm_(rm) {
    wchar_t key[CCH_RM_SESSION_KEY + 1] = {};
    started_ = rm_.start(&handle_, 0, key) == ERROR_SUCCESS;
  }
  ~Session() {
    if (started_)
      rm_.end(handle_);
  }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;
  bool started() const { return started_; }
  DWORD handle() const { return handle_; }

 private:
  const RestartManager& rm_;
  DWORD handle_ = 0;
  bool started_ = false;
};

}  // namespace

bool FindHolders(const base::FilePath& path, std::vector<Holder>* holders) {
  holders->clear();
  const RestartManager& rm = GetRestartManager();
  if (!rm.usable())
    return false;
  std::vector<std::wstring> files;
  if (base::DirectoryExists(path)) {
    base::FileEnumerator entries(path, true, base::FileEnumerator::kFiles);
    for (base::FilePath file = entries.Next(); !file.empty() && files.size() < kMaxFiles;
         file = entries.Next())
      files.push_back(file.value());
  } else {
    files.push_back(path.value());
  }
  std::vector<LPCWSTR> names;
  for (const std::wstring& file : files)
    names.push_back(file.c_str());
  Session session(rm);
  if (!session.started() ||
      rm.register_resources(session.handle(), static_cast<UINT>(names.size()), names.data(), 0,
                            nullptr, 0, nullptr) != ERROR_SUCCESS)
    return false;
  std::vector<RM_PROCESS_INFO> found(8);
  for (int round = 0; round < 3; ++round) {
    UINT needed = 0;
    UINT count = static_cast<UINT>(found.size());
    DWORD reasons = 0;
    const DWORD result = rm.get_list(session.handle(), &needed, &count, found.data(), &reasons);
    if (result == ERROR_MORE_DATA) {
      found.resize(needed + 4);
      continue;
    }
    if (result != ERROR_SUCCESS)
      return false;
    for (UINT i = 0; i < count; ++i) {
      holders->push_back({found[i].strAppName, found[i].Process.dwProcessId,
                          static_cast<uint32_t>(found[i].TSSessionId)});
    }
    return true;
  }
  return false;
}

void LogHolders(const base::FilePath& path) {
  std::vector<Holder> holders;
  const bool asked = FindHolders(path, &holders);
  LogHolders(path, holders, asked);
}

}  // namespace update
