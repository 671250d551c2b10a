#include "update/package.h"

#include <set>

#include <cstdio>

#include "base/command_line.h"
#include "base/files/file_enumerator.h"
#include "base/files/file_util.h"
#include "base/hash/sha256.h"
#include "base/logging.h"
#include "base/process/launch.h"
#include "base/process/process.h"
#include "base/strings/utf_string_conversions.h"
#include "base/win/scoped_handle.h"
#include "common/util/layout.h"
#include "common/util/path_util.h"
#include "update/arguments.h"
#include "update/steps.h"

// After <windows.h>, which it needs.
#include <winioctl.h>

namespace update {

namespace {

bool IsLink(DWORD attributes) {
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

uint64_t FileSize(const WIN32_FIND_DATAW& data) {
  return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// `path` relative to `dir`, which must be its ancestor.
std::wstring RelativePath(const base::FilePath& dir, const base::FilePath& path) {
  base::FilePath relative;
  return dir.AppendRelativePath(path, &relative) ? relative.value() : path.value();
}

std::string Describe(const std::string& what, const std::wstring& path) {
  return what + ": " + base::WideToUTF8(path);
}

// Reads the open `file` from where it stands to its end in pieces of 1 MiB,
// handing each to `piece`. False when a read fails.
bool ReadInPieces(HANDLE file, const std::function<void(const char*, DWORD)>& piece) {
  std::string buffer(1 << 20, '\0');
  for (;;) {
    DWORD read = 0;
    if (!ReadFile(file, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr))
      return false;
    if (read == 0)
      return true;
    piece(buffer.data(), read);
  }
}

// Makes `target` the same link (reparse point) as `link`: a folder or a file
// carrying `link`'s reparse data. False, with nothing left at `target`, when
// the platform does not give the data or does not take it.
bool CopyLink(const base::FilePath& link, const base::FilePath& target, bool directory) {
  constexpr DWORD kOpenLink = FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS;
  const base::win::ScopedHandle from(
      CreateFileW(link.value().c_str(), FILE_READ_ATTRIBUTES,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                  kOpenLink, nullptr));
  std::string data(16 * 1024, '\0');  // the largest reparse data there is
  DWORD size = 0;
  if (!from.IsValid() ||
      !DeviceIoControl(from.Get(), FSCTL_GET_REPARSE_POINT, nullptr, 0, data.data(),
                       static_cast<DWORD>(data.size()), &size, nullptr)) {
    return false;
  }
  if (directory ? !CreateDirectoryW(target.value().c_str(), nullptr)
                : !base::win::ScopedHandle(CreateFileW(target.value().c_str(), GENERIC_WRITE, 0,
                                                       nullptr, CREATE_NEW, 0, nullptr))
                       .IsValid()) {
    return false;
  }
  bool set = false;
  {
    const base::win::ScopedHandle to(CreateFileW(target.value().c_str(), GENERIC_WRITE, 0, nullptr,
                                                 OPEN_EXISTING, kOpenLink, nullptr));
    DWORD unused = 0;
    set = to.IsValid() && DeviceIoControl(to.Get(), FSCTL_SET_REPARSE_POINT, data.data(), size,
                                          nullptr, 0, &unused, nullptr);
  }
  if (!set)
    directory ? RemoveDirectoryW(target.value().c_str()) : DeleteFileW(target.value().c_str());
  return set;
}

}  // namespace

bool ExtractedTreeMatches(const base::FilePath& dir,
                          const ArchiveListing& entries,
                          std::string* problem) {
  // The folders extraction creates above listed entries need no entry of
  // their own.
  const std::set<std::wstring> parents = TouchedKeys(entries);
  size_t found = 0;
  base::FileEnumerator tree(dir, true,
                            base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories);
  for (base::FilePath path = tree.Next(); !path.empty(); path = tree.Next()) {
    const WIN32_FIND_DATAW data = tree.GetInfo().find_data();
    const std::wstring relative = RelativePath(dir, path);
    if (IsLink(data.dwFileAttributes)) {
      *problem = Describe("extracted entry is a link", relative);
      return false;
    }
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::wstring key = ListingKey(relative);
    const auto listed = entries.find(key);
    if (listed == entries.end()) {
      if (directory && parents.count(key))
        continue;
      *problem = Describe("extracted entry not in the package's listing", relative);
      return false;
    }
    if (listed->second.directory != directory) {
      *problem = Describe("extracted entry of another kind than listed", relative);
      return false;
    }
    if (!directory && FileSize(data) != listed->second.size) {
      *problem =
          Describe("extracted file of another size than listed (" + std::to_string(FileSize(data)) +
                       " of " + std::to_string(listed->second.size) + " bytes)",
                   relative);
      return false;
    }
    ++found;
  }
  if (found != entries.size()) {
    for (const auto& [key, entry] : entries) {
      const DWORD attributes = GetFileAttributesW(dir.Append(entry.path).value().c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES) {
        *problem = Describe("listed entry not extracted", entry.path);
        return false;
      }
    }
    *problem = "extracted tree does not match the package's listing";
    return false;
  }
  return true;
}

JoinPlan::JoinPlan() = default;
JoinPlan::JoinPlan(const JoinPlan&) = default;
JoinPlan& JoinPlan::operator=(const JoinPlan&) = default;
JoinPlan::~JoinPlan() = default;

namespace {

uint64_t Ticks(const FILETIME& time) {
  return (static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// The last-write time of `path`, 0 when it cannot be read.
uint64_t LastWriteOf(const base::FilePath& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  return GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard, &data)
             ? Ticks(data.ftLastWriteTime)
             : 0;
}

}  // namespace

JoinPlan PlanJoin(const base::FilePath& installed,
                  const std::function<FreshEntry(const std::wstring& relative)>& fresh_entry,
                  bool leave_out) {
  JoinPlan plan;
  plan.fresh_entry = fresh_entry;
  plan.leave_out = leave_out;
  plan.walked.emplace_back(std::wstring(), LastWriteOf(installed));
  base::FileEnumerator tree(installed, true,
                            base::FileEnumerator::kFiles | base::FileEnumerator::kDirectories);
  // Parents are listed before what they hold, so a folder the new version
  // cannot take is known before its content comes up.
  std::vector<std::wstring> skipped;
  for (base::FilePath path = tree.Next(); !path.empty(); path = tree.Next()) {
    const WIN32_FIND_DATAW data = tree.GetInfo().find_data();
    const std::wstring relative = RelativePath(installed, path);
    bool below_skipped = false;
    for (const std::wstring& folder : skipped)
      below_skipped = below_skipped || ListingKey(relative).rfind(folder + L"\\", 0) == 0;
    if (below_skipped)
      continue;
    const FreshEntry existing = fresh_entry(relative);
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = IsLink(data.dwFileAttributes);
    if (existing == FreshEntry::kNone && directory && !link && leave_out) {
      plan.left_out.push_back(relative);
      tree.SkipLastDirectory();
      continue;
    }
    // The new version's own entry wins; a folder the package replaced by a
    // file takes nothing of the installed one below it.
    if (existing == FreshEntry::kFile && directory)
      skipped.push_back(ListingKey(relative));
    if (directory && !link && existing != FreshEntry::kFile)
      plan.walked.emplace_back(relative, Ticks(data.ftLastWriteTime));
    if (existing == FreshEntry::kNone)
      plan.entries.push_back({relative, data.dwFileAttributes});
  }
  return plan;
}

bool JoinAsPlanned(const base::FilePath& installed,
                   const base::FilePath& fresh,
                   JoinPlan* plan,
                   std::string* problem) {
  for (const auto& [relative, last_write] : plan->walked) {
    if (LastWriteOf(relative.empty() ? installed : installed.Append(relative)) != last_write) {
      LOG(INFO) << "installed folder changed since it was walked, walking it again: " << installed;
      *plan = PlanJoin(installed, plan->fresh_entry, plan->leave_out);
      break;
    }
  }
  for (const JoinPlan::Entry& entry : plan->entries) {
    const base::FilePath path = installed.Append(entry.relative);
    const base::FilePath target = fresh.Append(entry.relative);
    const bool directory = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (IsLink(entry.attributes)) {
      // A link (a user's saves on another drive, say) goes into the new
      // version as the same link; what it points to is never entered.
      if (!CopyLink(path, target, directory)) {
        *problem =
            Describe("installed link cannot be carried into the new version", entry.relative);
        return false;
      }
      continue;
    }
    if (directory) {
      if (!CreateDirectoryW(target.value().c_str(), nullptr)) {
        const DWORD error = GetLastError();
        *problem =
            Describe("folder not created (error " + std::to_string(error) + ")", target.value());
        return false;
      }
      continue;
    }
    // A read-only file is copied: an attribute belongs to the file, and a
    // shared one would change in both versions at once.
    const bool read_only = (entry.attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (!read_only && CreateHardLinkW(target.value().c_str(), path.value().c_str(), nullptr))
      continue;
    // A copy keeps the installed file's attributes, read-only among them.
    if (!CopyFileW(path.value().c_str(), target.value().c_str(), TRUE) ||
        !SetFileAttributesW(target.value().c_str(), entry.attributes)) {
      const DWORD error = GetLastError();
      *problem = Describe(
          "installed file not joined to the new version (error " + std::to_string(error) + ")",
          entry.relative);
      return false;
    }
  }
  return true;
}

bool JoinInstalledFiles(const base::FilePath& installed,
                        const base::FilePath& fresh,
                        std::string* problem) {
  JoinPlan plan = PlanJoin(
      installed,
      [&fresh](const std::wstring& relative) {
        const DWORD attributes = GetFileAttributesW(fresh.Append(relative).value().c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
          return FreshEntry::kNone;
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? FreshEntry::kDirectory : FreshEntry::kFile;
      },
      false);
  return JoinAsPlanned(installed, fresh, &plan, problem);
}

bool ListedEntriesMatch(const std::map<std::wstring, base::FilePath>& tops,
                        const ArchiveListing& entries,
                        std::string* problem) {
  for (const auto& [key, entry] : entries) {
    const size_t slash = key.find(L'\\');
    const auto top = tops.find(key.substr(0, slash));
    if (top == tops.end()) {
      *problem = Describe("listed entry has no place in the new version", entry.path);
      return false;
    }
    const base::FilePath path = slash == std::wstring::npos
                                    ? top->second
                                    : top->second.Append(entry.path.substr(slash + 1));
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path.value().c_str(), GetFileExInfoStandard, &data)) {
      *problem = Describe("listed entry missing", entry.path);
      return false;
    }
    const bool directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const uint64_t size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    if (directory != entry.directory || (!directory && size != entry.size)) {
      *problem = Describe("listed entry of another kind or size", entry.path);
      return false;
    }
    if (directory || !entry.has_crc)
      continue;
    const base::win::ScopedHandle file(CreateFileW(path.value().c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    uint32_t crc = 0;
    const bool readable =
        file.IsValid() && ReadInPieces(file.Get(), [&crc](const char* bytes, DWORD size) {
          crc = Crc32(crc, bytes, size);
        });
    if (!readable || crc != entry.crc) {
      *problem = Describe(
          readable ? "listed file's content differs (CRC)" : "listed file unreadable", entry.path);
      return false;
    }
  }
  return true;
}

bool PackageFile::Open(const base::FilePath& path) {
  path_ = path;
  // Readers only: the unpacker opens it for reading, nobody may change it.
  file_.Set(CreateFileW(path.value().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                        FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  return file_.IsValid();
}

bool PackageFile::Sha256(std::string* digest) const {
  LARGE_INTEGER start = {};
  if (!file_.IsValid() || !SetFilePointerEx(file_.Get(), start, nullptr, FILE_BEGIN))
    return false;
  base::SHA256Context context;
  base::SHA256Init(&context);
  if (!ReadInPieces(file_.Get(), [&context](const char* bytes, DWORD size) {
        base::SHA256Update(&context, bytes, size);
      }))
    return false;
  base::SHA256Digest result;
  base::SHA256Final(&result, &context);
  *digest = base::SHA256DigestToBase16(result);
  return true;
}

namespace {

std::string IdentityOf(HANDLE file) {
  // The volume's serial number is left out: Wine reports 0 for it until its
  // mount manager answers, and another number afterwards, so a journal would
  // name the same package as another file. The file's index, size and last
  // write time tell it from a new download at the same path. The query asks
  // the volume too, which a busy system can fail to answer for a moment.
  BY_HANDLE_FILE_INFORMATION info;
  bool known = false;
  for (int attempt = 0; attempt < 5 && !(known = GetFileInformationByHandle(file, &info));
       ++attempt)
    Sleep(20);
  if (!known)
    return std::string();
  char text[96];
  snprintf(text, sizeof(text), "%08lx%08lx-%08lx%08lx-%08lx%08lx", info.nFileIndexHigh,
           info.nFileIndexLow, info.nFileSizeHigh, info.nFileSizeLow,
           info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
  return text;
}

// A new file of the temporary folder, readable and writable through the
// returned handle (inheritable) and deleted when the last handle to it closes,
// whoever holds it (a console host can outlive the child it served). Invalid
// on failure.
base::win::ScopedHandle CreateScratchFile() {
  base::FilePath temp;
  wchar_t name[MAX_PATH];
  if (!base::GetTempDir(&temp) || !GetTempFileNameW(temp.value().c_str(), L"zcg", 0, name))
    return base::win::ScopedHandle();
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  return base::win::ScopedHandle(CreateFileW(
      name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
}

// Reads all of the open `file` from its start: false when it cannot be read
// or exceeds 1 GiB.
bool ReadFromStart(HANDLE file, std::string* bytes) {
  LARGE_INTEGER size;
  if (!SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) ||
      !GetFileSizeEx(file, &size) || size.QuadPart > (1 << 30))
    return false;
  bytes->resize(static_cast<size_t>(size.QuadPart));
  DWORD read = 0;
  return bytes->empty() ||
         (ReadFile(file, bytes->data(), static_cast<DWORD>(bytes->size()), &read, nullptr) &&
          read == bytes->size());
}

// The unpacker's listing of `package` written to a scratch file: started, not
// waited for. Invalid when it could not be started.
base::Process StartLister(const base::FilePath& package, base::win::ScopedHandle* listing_file) {
  *listing_file = CreateScratchFile();
  if (!listing_file->IsValid())
    return base::Process();
  base::LaunchOptions options;
  options.hide_window = true;
  options.std_output = options.std_error = listing_file->Get();
  options.inherited_handles = {listing_file->Get()};
  base::CommandLine list(common::GetExeDirFilePath(common::layout::kUnpackerExe));
  list.AppendArg("l");
  list.AppendArg("-slt");
  list.AppendArg("-sccUTF-8");
  list.AppendArgWide(package.value());
  return base::LaunchProcess(list, options);
}

// Waits for the lister and reads what it listed. False, with `problem`, when
// it failed or its listing cannot be read.
bool FinishListing(const base::Process& lister,
                   const base::win::ScopedHandle& listing_file,
                   ArchiveListing* entries,
                   std::string* problem) {
  int code = -1;
  std::string text;
  if (!lister.IsValid() || !lister.WaitForExit(&code) || code != 0 ||
      !ReadFromStart(listing_file.Get(), &text) || !ParseArchiveListing(text, entries)) {
    *problem = "the package's listing could not be read (exit code " + std::to_string(code) + ")";
    return false;
  }
  return true;
}

}  // namespace

std::string PackageFile::Identity() const {
  return file_.IsValid() ? IdentityOf(file_.Get()) : std::string();
}

std::string PackageFile::IdentityAt(const base::FilePath& path) {
  const base::win::ScopedHandle file(CreateFileW(
      path.value().c_str(), FILE_READ_ATTRIBUTES,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr));
  return file.IsValid() ? IdentityOf(file.Get()) : std::string();
}

namespace {

// How long a new program of the package has to show that it runs.
constexpr int64_t kNewProgramCheckMs = 5000;

// Whether `command_line` (its program quoted) runs hidden and exits 0 within
// kNewProgramCheckMs; one still running then is ended. Logs an ERROR if not.
bool RunsAndExits0(const base::CommandLine& command_line, const base::FilePath& program) {
  base::LaunchOptions options;
  options.hide_window = true;
  const base::Process process = base::LaunchProcess(command_line, options);
  int code = -1;
  const bool ended = process.IsValid() &&
                     process.WaitForExitWithTimeout(base::Milliseconds(kNewProgramCheckMs), &code);
  if (ended && code == 0)
    return true;
  if (process.IsValid() && !ended)
    (void)process.Terminate(1, true);
  LOG(ERROR) << "new program from the package does not run ("
             << (!process.IsValid() ? "not started"
                 : ended            ? "exit code " + std::to_string(code)
                                    : "still running")
             << "), installation kept: " << program;
  return false;
}

}  // namespace

bool NewProgramsRun(const base::FilePath& root,
                    const base::FilePath& out_dir,
                    const base::FilePath& package) {
  namespace layout = common::layout;
  const base::FilePath updater = out_dir.Append(layout::kUpdaterExe);
  if (base::PathExists(updater)) {
    base::CommandLine check(updater);
    check.AppendSwitch(kCheckSwitch);
    if (!RunsAndExits0(check, updater))
      return false;
  }
  const base::FilePath new_exe = out_dir.Append(layout::kUnpackerExe);
  const base::FilePath new_dll = out_dir.Append(layout::kUnpackerDll);
  if (!base::PathExists(new_exe) && !base::PathExists(new_dll))
    return true;
  // The unpacker loads its DLL from its own folder: the pair that will be
  // installed runs together in a folder of its own.
  const base::FilePath pair = base::UniqueSiblingPath(out_dir, L".check-");
  bool runs = CreateDirectoryW(pair.value().c_str(), nullptr) != 0;
  for (const wchar_t* name : {layout::kUnpackerExe, layout::kUnpackerDll}) {
    const base::FilePath fresh = out_dir.Append(name);
    const base::FilePath from = base::PathExists(fresh) ? fresh : root.Append(name);
    runs = runs && base::CopySingleFile(from, pair.Append(name), true);
  }
  if (runs) {
    // Listing the package needs the DLL's archive formats, not only the program.
    base::CommandLine list(pair.Append(layout::kUnpackerExe));
    list.AppendArg("l");
    list.AppendArgWide(package.value());
    runs = RunsAndExits0(list, base::PathExists(new_exe) ? new_exe : new_dll);
  } else {
    LOG(ERROR) << "new unpacker from the package could not be set up to run, installation kept: "
               << pair;
  }
  (void)base::DeletePath(pair, true);
  return runs;
}

bool ListPackage(const PackageFile& package, ArchiveListing* listing) {
  base::win::ScopedHandle listing_file;
  std::string problem;
  return FinishListing(StartLister(package.path(), &listing_file), listing_file, listing, &problem);
}

// The unpacker splits its own command line and reads no backslash escapes, so
// its output switch is written as -o"<folder>" verbatim after the arguments
// the command-line builder quotes: quoted as one argument, a path with a blank
// or a non-ASCII character would reach it split. The listing runs beside the
// extraction; the unpacker has no time limit and its console stays hidden.
bool UnpackPackage(const PackageFile& package,
                   const base::FilePath& out_dir,
                   ArchiveListing* listing,
                   const std::function<void()>& on_listing) {
  base::LaunchOptions options;
  options.hide_window = true;
  base::CommandLine unpack(common::GetExeDirFilePath(common::layout::kUnpackerExe));
  unpack.AppendArg("x");
  unpack.AppendArgWide(package.path().value());
  unpack.AppendArg("-aoa");
  const std::wstring command = unpack.GetCommandLineString() + L" -o\"" + out_dir.value() + L"\"";
  const base::Process unpacker = base::LaunchProcess(command, options);
  LogUnpackerLaunch(unpacker.IsValid(), command);
  if (!unpacker.IsValid()) {
    LogUnpackerLaunchFailed();
    return false;
  }
  // Started second, so that the unpacker, which takes far longer, is not
  // kept waiting for it.
  base::win::ScopedHandle listing_file;
  const base::Process lister = StartLister(package.path(), &listing_file);
  ArchiveListing& entries = *listing;
  std::string problem;
  const bool listed = FinishListing(lister, listing_file, &entries, &problem);
  if (listed && on_listing)
    on_listing();
  int exit_code = 0;
  const bool ret = unpacker.WaitForExit(&exit_code);
  LogUnpackerExit(exit_code, ret);
  PauseForTest(common::layout::pause::kAfterUnpacker);
  // Only an exit code of 0 and a tree that matches the package's own listing
  // count as success: a killed unpacker, a full disk or a damaged package
  // leave a tree that does not. An unreadable exit code is no proof of it.
  if (!ret || exit_code != 0)
    problem = "the unpacker failed (exit code " + std::to_string(exit_code) + ")";
  else if (listed && entries.empty())
    problem = "the package holds nothing";
  else if (listed)
    (void)ExtractedTreeMatches(base::LongPathForm(out_dir), entries, &problem);
  if (!problem.empty()) {
    LOG(ERROR) << "package not installed, installation kept: " << problem;
    return false;
  }
  return true;
}

}  // namespace update
