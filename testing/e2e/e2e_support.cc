#include "testing/e2e/e2e_support.h"

#include <shlobj.h>
#include <tlhelp32.h>
#include <wincrypt.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <thread>

#include "base/hash/fnv1a.h"
#include "testing/fixtures/win_text.h"

namespace e2e {

std::string ToUtf8(const std::wstring& wide) {
  return fixtures::WideToUtf8(wide);
}

std::wstring FromUtf8(const std::string& utf8) {
  if (utf8.empty())
    return std::wstring();
  int size =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), size);
  return out;
}

std::wstring BinDir() {
  wchar_t path[MAX_PATH * 4];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH * 4);
  std::wstring exe(path, n);
  return exe.substr(0, exe.find_last_of(L'\\'));
}

std::wstring UpdaterDir() {
  wchar_t value[MAX_PATH * 4];
  DWORD n = GetEnvironmentVariableW(L"E2E_UPDATER_DIR", value, MAX_PATH * 4);
  if (n == 0 || n >= MAX_PATH * 4)
    return BinDir();
  std::wstring dir(value, n);
  return dir[0] == L'/' ? HostToWindowsPath(ToUtf8(dir)) : dir;
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  return testing_support::WriteTestFile(path, bytes);
}

std::string ReadFileBytes(const std::wstring& path) {
  return fixtures::ReadWholeFile(path);
}

bool FileExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirExists(const std::wstring& path) {
  DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool MakeDirs(const std::wstring& path) {
  if (path.empty() || DirExists(path))
    return true;
  size_t slash = path.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 2)
    MakeDirs(path.substr(0, slash));
  return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

bool CopyFileTo(const std::wstring& from, const std::wstring& to) {
  return CopyFileW(from.c_str(), to.c_str(), FALSE) != 0;
}

namespace {

void ReadTreeInto(const std::wstring& root, const std::wstring& relative, Tree* tree) {
  WIN32_FIND_DATAW data;
  std::wstring dir = relative.empty() ? root : root + L"\\" + relative;
  const testing_support::ScopedFindHandle find(FindFirstFileW((dir + L"\\*").c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data)) {
    std::wstring name = data.cFileName;
    if (name == L"." || name == L"..")
      continue;
    std::wstring child = relative.empty() ? name : relative + L"\\" + name;
    if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
      (*tree)[child + L"\\"] = "";
      ReadTreeInto(root, child, tree);
    } else {
      (*tree)[child] = ReadFileBytes(root + L"\\" + child);
    }
  }
}

}  // namespace

Tree ReadTree(const std::wstring& root) {
  Tree tree;
  ReadTreeInto(root, L"", &tree);
  return tree;
}

bool WriteTree(const std::wstring& root, const Tree& tree) {
  bool ok = MakeDirs(root);
  for (const auto& [relative, content] : tree) {
    std::wstring path = root + L"\\" + relative;
    if (!relative.empty() && relative.back() == L'\\') {
      ok = MakeDirs(path.substr(0, path.size() - 1)) && ok;
      continue;
    }
    ok = MakeDirs(path.substr(0, path.find_last_of(L'\\'))) && ok;
    ok = WriteFileBytes(path, content) && ok;
  }
  return ok;
}

Tree VersionTree(const std::string& version, const VersionShape& shape) {
  Tree tree = {{L"version.txt", version + "\n"}, {L"data\\common.txt", "common " + version}};
  for (int i = 0; i < shape.files; ++i) {
    tree[L"data\\d" + std::to_wstring(i / 50) + L"\\f" + std::to_wstring(i) + L".txt"] =
        version + " file " + std::to_string(i);
  }
  if (shape.own_file) {
    tree[L"data\\v" + FromUtf8(version) + L".txt"] = "only in " + version;
    tree[L"empty\\"] = "";
  }
  return tree;
}

bool WriteVersion(const std::wstring& dir,
                  const std::string& version,
                  const VersionShape& shape,
                  const std::wstring& program) {
  return WriteTree(dir, VersionTree(version, shape)) &&
         CopyFileTo(BinDir() + L"\\" + program, dir + L"\\ZeltorCloudPlay.exe");
}

uint64_t TreeHash(const std::wstring& root) {
  // A 0xFF byte after each piece keeps a name and the content after it apart.
  uint64_t hash = base::kFnv1a64Basis;
  auto mix = [&hash](const std::string& bytes) {
    const char end = '\xFF';
    hash = base::Fnv1a64(&end, 1, base::Fnv1a64(bytes.data(), bytes.size(), hash));
  };
  for (const auto& [relative, content] : ReadTree(root)) {
    mix(ToUtf8(relative));
    mix(content);
  }
  return hash;
}

std::string PlatformSha256(const std::string& bytes) {
  HCRYPTPROV provider = 0;
  if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
    return std::string();
  HCRYPTHASH hash = 0;
  unsigned char digest[32];
  DWORD length = sizeof(digest);
  const bool ok = CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) &&
                  CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                                static_cast<DWORD>(bytes.size()), 0) &&
                  CryptGetHashParam(hash, HP_HASHVAL, digest, &length, 0) && length == 32;
  if (hash)
    CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  if (!ok)
    return std::string();
  static const char kHex[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex.push_back(kHex[byte >> 4]);
    hex.push_back(kHex[byte & 15]);
  }
  return hex;
}

RunResult Run(const std::wstring& command_line,
              const std::wstring& cwd,
              DWORD timeout_ms,
              bool capture_output) {
  RunResult result;
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  testing_support::ScopedKernelHandle read_end, write_end;
  if (capture_output && CreatePipe(read_end.receive(), write_end.receive(), &inheritable, 0))
    SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
  StartOptions options;
  options.cwd = cwd;
  options.output = write_end.get();
  options.creation_flags = CREATE_NO_WINDOW;
  auto begin = std::chrono::steady_clock::now();
  ChildProcess child(command_line, options);
  write_end.reset();
  result.started = child.started();
  std::thread reader;
  if (read_end.valid() && result.started) {
    reader = std::thread([&read_end, &result] {
      char buffer[4096];
      DWORD read = 0;
      while (ReadFile(read_end.get(), buffer, sizeof(buffer), &read, nullptr) && read > 0) {
        result.output.append(buffer, read);
      }
    });
  }
  if (result.started) {
    result.finished = child.WaitForExit(timeout_ms);
    if (!result.finished) {
      child.Terminate();
      EndDescendantsOf(child, 2000);  // they would hold the output pipe open
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    result.exit_code = child.ExitCode();
  }
  if (reader.joinable())
    reader.join();
  return result;
}

ChildProcess::ChildProcess(const std::wstring& command_line, const StartOptions& options) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  if (options.output) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = options.output;
    startup.hStdError = options.output;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  }
  if (options.hide_window) {
    startup.dwFlags |= STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
  }
  std::wstring mutable_line = command_line;
  if (!CreateProcessW(nullptr, mutable_line.data(), nullptr, nullptr, options.output != nullptr,
                      options.creation_flags, nullptr,
                      options.cwd.empty() ? nullptr : options.cwd.c_str(), &startup, &info_)) {
    info_ = {};
  }
}

ChildProcess ChildProcess::Adopt(DWORD pid) {
  ChildProcess child;
  child.info_.hProcess =
      OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (child.info_.hProcess)
    child.info_.dwProcessId = pid;
  return child;
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept : info_(other.info_) {
  other.info_ = {};
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Close();
    info_ = other.info_;
    other.info_ = {};
  }
  return *this;
}

ChildProcess::~ChildProcess() {
  Close();
}

bool ChildProcess::WaitForExit(DWORD timeout_ms) {
  return started() && WaitForSingleObject(info_.hProcess, timeout_ms) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (started())
    GetExitCodeProcess(info_.hProcess, &code);
  return code;
}

void ChildProcess::Terminate(UINT exit_code) {
  if (!started())
    return;
  TerminateProcess(info_.hProcess, exit_code);
  WaitForSingleObject(info_.hProcess, 10000);
}

void ChildProcess::Close() {
  if (!started())
    return;
  Terminate();
  if (info_.hThread)
    CloseHandle(info_.hThread);
  CloseHandle(info_.hProcess);
  info_ = {};
}

namespace {

std::vector<PROCESSENTRY32W> RunningProcesses() {
  std::vector<PROCESSENTRY32W> entries;
  const testing_support::ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = snapshot.valid() && Process32FirstW(snapshot.get(), &entry); more;
       more = Process32NextW(snapshot.get(), &entry))
    entries.push_back(entry);
  return entries;
}

// Adopts every process whose parent is in `family` or was adopted, adding
// each to `family` and to `adopted`.
void AdoptDescendants(std::vector<DWORD>* family, std::vector<ChildProcess>* adopted) {
  const std::vector<PROCESSENTRY32W> entries = RunningProcesses();
  const auto in_family = [family](DWORD pid) {
    return std::find(family->begin(), family->end(), pid) != family->end();
  };
  for (bool grew = true; grew;) {
    grew = false;
    for (const PROCESSENTRY32W& e : entries) {
      if (!in_family(e.th32ParentProcessID) || in_family(e.th32ProcessID))
        continue;
      family->push_back(e.th32ProcessID);
      grew = true;
      ChildProcess child = ChildProcess::Adopt(e.th32ProcessID);
      if (child.started())
        adopted->push_back(std::move(child));
    }
  }
}

}  // namespace

void EndDescendantsOf(const ChildProcess& process, DWORD grace_ms) {
  std::vector<DWORD> family = {process.pid()};
  std::vector<ChildProcess> adopted;
  AdoptDescendants(&family, &adopted);
  const ULONGLONG deadline = GetTickCount64() + grace_ms;
  for (ChildProcess& child : adopted) {
    const ULONGLONG now = GetTickCount64();
    child.WaitForExit(now < deadline ? static_cast<DWORD>(deadline - now) : 0);
  }
  // Ending a child during its start-up can leave what it was starting (its
  // console host) waiting for it: those go too, when `adopted` is destroyed.
  for (ChildProcess& child : adopted)
    child.Terminate();
  AdoptDescendants(&family, &adopted);
}

bool EndRunningUnpacker(UINT exit_code) {
  const std::vector<PROCESSENTRY32W> entries = RunningProcesses();
  std::vector<DWORD> updaters;
  for (const PROCESSENTRY32W& e : entries) {
    if (_wcsicmp(e.szExeFile, L"update.exe") == 0)
      updaters.push_back(e.th32ProcessID);
  }
  // Opened only to be told apart: the one to end is adopted, the others are
  // left running.
  DWORD youngest = 0;
  ULONGLONG youngest_start = 0;
  for (const PROCESSENTRY32W& e : entries) {
    if (_wcsicmp(e.szExeFile, L"7z.exe") != 0 ||
        std::find(updaters.begin(), updaters.end(), e.th32ParentProcessID) == updaters.end())
      continue;
    const testing_support::ScopedKernelHandle process(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, e.th32ProcessID));
    FILETIME created, exited, kernel, user;
    const bool timed =
        process.valid() && GetProcessTimes(process.get(), &created, &exited, &kernel, &user) != 0;
    const ULONGLONG start =
        (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    if (timed && start >= youngest_start) {
      youngest_start = start;
      youngest = e.th32ProcessID;
    }
  }
  ChildProcess unpacker = ChildProcess::Adopt(youngest);
  if (youngest == 0 || !unpacker.started())
    return false;
  unpacker.Terminate(exit_code);
  return true;
}

bool WaitUntilHeld(const std::wstring& path, ChildProcess& holder) {
  for (int i = 0; i < 1500 && !holder.WaitForExit(0); ++i) {
    // Opening for deletion fails with a sharing violation exactly while some
    // handle without delete sharing is open.
    const testing_support::ScopedFileHandle probe(
        CreateFileW(path.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!probe.valid() && GetLastError() == ERROR_SHARING_VIOLATION)
      return true;
    Sleep(20);
  }
  return false;
}

std::wstring Args(int pid, const std::wstring& root, const std::wstring& package) {
  std::wstring args = L"--pid=" + std::to_wstring(pid) + L" --root_dir=" + Quote(root);
  if (!package.empty())
    args += L" --unzip=" + Quote(package);
  return args;
}

std::wstring Quote(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
    return arg;
  std::wstring out = L"\"";
  size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

bool MakePackage(const std::wstring& source_dir, const std::wstring& package) {
  RunResult r = Run(Quote(BinDir() + L"\\7z.exe") + L" a -t7z -bd -y " + Quote(package) + L" .\\*",
                    source_dir, 120000, true);
  return r.started && r.finished && r.exit_code == 0;
}

std::wstring LogFilePath() {
  wchar_t app_data[MAX_PATH];
  if (FAILED(SHGetFolderPathW(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, app_data))) {
    return std::wstring();
  }
  return std::wstring(app_data) + L"\\ZeltorCloudGame2\\log\\update_cg.log";
}

std::vector<LogLine> ParseLog(const std::string& text) {
  static const std::regex prefix(
      R"(^\[(\d+):(\d+):(\d{4}/\d{2}:\d{2}:\d{2}\.\d{3}):([A-Z0-9]+):([^:]*):([^():]+)\((\d+)\)\] (.*)$)");
  std::vector<LogLine> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string raw = text.substr(start, end - start);
    if (!raw.empty() && raw.back() == '\r')
      raw.pop_back();
    LogLine line;
    std::smatch m;
    if (std::regex_match(raw, m, prefix)) {
      line.pid = static_cast<unsigned>(std::stoul(m[1]));
      line.tid = static_cast<unsigned>(std::stoul(m[2]));
      line.timestamp = m[3];
      line.severity = m[4];
      line.user = m[5];
      line.file = m[6];
      line.line = std::stoi(m[7]);
      line.text = m[8];
    } else {
      line.text = raw;
    }
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

namespace {

DialogReport ReadDialogReport(const std::wstring& path) {
  DialogReport report;
  std::string text = ReadFileBytes(path);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    size_t eq = line.find('=');
    if (eq != std::string::npos) {
      std::string key = line.substr(0, eq), value = line.substr(eq + 1);
      if (key == "found")
        report.found = value == "1";
      if (key == "text")
        report.text = value;
      if (key == "finished_lines")
        report.finished_lines = std::stoi(value);
      if (key == "closed")
        report.closed = value == "1";
      if (key == "screenshot")
        report.screenshot = value == "1";
    }
    start = end + 1;
  }
  return report;
}

}  // namespace

UpdateRun RunUpdater(const std::wstring& arguments, const UpdateOptions& options) {
  UpdateRun run;
  run.dialog_expected = options.expect_dialog;
  const std::wstring log_path = LogFilePath();
  const size_t before = ReadFileBytes(log_path).size();

  ChildProcess helper;
  const ScopedTempDir report_dir(L"dialog");
  const std::wstring report_path = report_dir.Append(L"report.txt");
  if (options.expect_dialog) {
    std::wstring helper_line = Quote(BinDir() + L"\\dialog_helper.exe") + L" --result " +
                               Quote(report_path) + L" --log " + Quote(log_path) +
                               L" --wait-ms 60000";
    if (!options.screenshot_request.empty()) {
      helper_line += L" --screenshot-request " + Quote(options.screenshot_request);
    }
    helper = ChildProcess(helper_line);
  }
  const std::wstring updater =
      options.updater.empty() ? UpdaterDir() + L"\\update.exe" : options.updater;
  run.process = Run(Quote(updater) + L" " + arguments, options.cwd, options.timeout_ms,
                    options.capture_output);
  if (helper.started()) {
    if (!helper.WaitForExit(10000))
      helper.Terminate();
    run.dialog = ReadDialogReport(report_path);
  }
  std::string all = ReadFileBytes(log_path);
  run.log = all.size() >= before ? all.substr(before) : all;
  run.lines = ParseLog(run.log);
  return run;
}

const LogLine* FindLine(const UpdateRun& run, const std::string& prefix) {
  for (const LogLine& line : run.lines) {
    if (!line.file.empty() && line.text.rfind(prefix, 0) == 0)
      return &line;
  }
  return nullptr;
}

int CountLines(const UpdateRun& run, const std::string& prefix) {
  int count = 0;
  for (const LogLine& line : run.lines) {
    if (!line.file.empty() && line.text.rfind(prefix, 0) == 0)
      ++count;
  }
  return count;
}

bool HasLine(const UpdateRun& run, const std::string& prefix) {
  return FindLine(run, prefix) != nullptr;
}

namespace {

std::vector<std::map<std::string, std::string>> ParseClientRecords(
    const std::wstring& record_file) {
  std::vector<std::map<std::string, std::string>> records;
  std::string text = ReadFileBytes(record_file);
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos)
      end = text.size();
    std::string line = text.substr(start, end - start);
    std::map<std::string, std::string> record;
    size_t field = 0;
    while (field <= line.size()) {
      size_t bar = line.find('|', field);
      if (bar == std::string::npos)
        bar = line.size();
      std::string item = line.substr(field, bar - field);
      size_t eq = item.find('=');
      if (eq != std::string::npos)
        record[item.substr(0, eq)] = item.substr(eq + 1);
      field = bar + 1;
    }
    if (!record.empty())
      records.push_back(record);
    start = end + 1;
  }
  return records;
}

}  // namespace

std::vector<std::map<std::string, std::string>> ReadClientRecords(const std::wstring& record_file,
                                                                  size_t expected) {
  auto records = ParseClientRecords(record_file);
  for (int i = 0; i < 200 && records.size() < expected; ++i) {
    Sleep(50);
    records = ParseClientRecords(record_file);
  }
  return records;
}

int CountOccurrences(const std::string& text, const std::string& needle) {
  return fixtures::CountOccurrences(text, needle);
}

bool ClearDir(const std::wstring& dir) {
  bool cleared = true;
  for (const std::wstring& name : Matching(dir, L"*"))
    cleared = RemoveTree(dir + L"\\" + name) && cleared;
  return cleared;
}

std::vector<std::wstring> Matching(const std::wstring& dir, const std::wstring& pattern) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW data;
  const testing_support::ScopedFindHandle find(
      FindFirstFileW((dir + L"\\" + pattern).c_str(), &data));
  for (bool more = find.valid(); more; more = FindNextFileW(find.get(), &data)) {
    const std::wstring name = data.cFileName;
    if (name != L"." && name != L"..")
      names.push_back(name);
  }
  return names;
}

size_t CountFiles(const std::wstring& dir) {
  size_t count = 0;
  for (const std::wstring& name : Matching(dir, L"*")) {
    const std::wstring path = dir + L"\\" + name;
    count += DirExists(path) ? CountFiles(path) : 1;
  }
  return count;
}

std::wstring LinkFixtureDir() {
  char dir[MAX_PATH];
  const DWORD n = GetEnvironmentVariableA("E2E_LINK_DIR", dir, MAX_PATH);
  return n > 0 && n < MAX_PATH ? HostToWindowsPath(dir) : std::wstring();
}

std::wstring HostToWindowsPath(const std::string& host_path) {
  std::wstring out = L"Z:";
  for (char c : host_path)
    out.push_back(c == '/' ? L'\\' : static_cast<wchar_t>(c));
  return out;
}

}  // namespace e2e
