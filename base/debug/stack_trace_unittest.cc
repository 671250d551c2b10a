#include "base/debug/stack_trace.h"

#include <string.h>

#include <algorithm>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/debug/debugger.h"
#include "base/debug/stack_trace_internal.h"
#include "base/platform/windows_types.h"
#include "gmock/gmock.h"
#include "gtest/gtest.h"

// dbghelp.h needs <windows.h> first.
#include <dbghelp.h>

namespace base::debug {
namespace {

// Captures at the bottom of `depth` extra frames. The volatile sink keeps each
// level a real call (no tail call, no folding).
__attribute__((noinline)) size_t CaptureAtDepth(int depth, volatile int* sink) {
  if (depth > 0) {
    const size_t count = CaptureAtDepth(depth - 1, sink);
    *sink = *sink + 1;
    return count;
  }
  StackSnapshot snapshot;
  return snapshot.count();
}

__attribute__((noinline)) StackSnapshot CaptureSnapshotAtDepth(int depth, volatile int* sink) {
  if (depth > 0) {
    StackSnapshot snapshot = CaptureSnapshotAtDepth(depth - 1, sink);
    *sink = *sink + 1;
    return snapshot;
  }
  return StackSnapshot();
}

TEST(StackSnapshot, Capture_CountsFramesUpToCapacity) {
  volatile int sink = 0;
  const size_t shallow = CaptureAtDepth(0, &sink);
  ASSERT_GT(shallow, 0u);
  ASSERT_LT(shallow + 10, StackSnapshot::kMaxTraces);
  struct {
    int extra_frames;
    size_t expected;
  } cases[] = {
      {1, shallow + 1},
      {5, shallow + 5},
      // Exactly at and one past the capacity.
      {static_cast<int>(StackSnapshot::kMaxTraces - shallow), StackSnapshot::kMaxTraces},
      {static_cast<int>(StackSnapshot::kMaxTraces - shallow + 1), StackSnapshot::kMaxTraces},
      {200, StackSnapshot::kMaxTraces},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra_frames);
    EXPECT_EQ(CaptureAtDepth(c.extra_frames, &sink), c.expected);
  }
}

TEST(StackSnapshot, CopyConstruction_KeepsAddressesAndCapsCount) {
  const void* addresses[100];
  for (size_t i = 0; i < std::size(addresses); ++i)
    addresses[i] = reinterpret_cast<const void*>(0x1000 + i);
  struct {
    size_t count;
    size_t expected;
  } cases[] = {{0, 0}, {1, 1}, {62, 62}, {63, 62}, {100, 62}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    const StackSnapshot snapshot(addresses, c.count);
    const StackSnapshot copy = snapshot;
    size_t count = 0;
    const void* const* copied = copy.Addresses(&count);
    ASSERT_EQ(count, c.expected);
    EXPECT_TRUE(std::equal(copied, copied + count, addresses));
  }
}

__attribute__((noinline)) std::string TraceFromNamedFunction(volatile int* sink) {
  StackSnapshot snapshot;
  *sink = *sink + 1;
  return snapshot.ToString();
}

TEST(StackSnapshot, Output_ResolvesNamesAndLines) {
  volatile int sink = 0;
  const std::string trace = TraceFromNamedFunction(&sink);
  ASSERT_EQ(trace.rfind("Backtrace:\n", 0), 0u) << trace;
  // Every frame line has the resolved or the unresolved form.
  const std::regex frame_line(
      "\t(\\S.* \\[0x[0-9A-F]{8}\\+\\d+\\]( \\(.+:\\d+\\))?|\\(No symbol\\) \\[0x[0-9A-F]{8}\\])");
  std::istringstream lines(trace.substr(strlen("Backtrace:\n")));
  std::string line;
  int frames = 0;
  while (std::getline(lines, line)) {
    SCOPED_TRACE(line);
    EXPECT_TRUE(std::regex_match(line, frame_line));
    ++frames;
  }
  EXPECT_GT(frames, 1);
  EXPECT_TRUE(
      std::regex_search(trace, std::regex("\n\t\\S*TraceFromNamedFunction\\S* \\[0x[0-9A-F]{8}"
                                          "\\+\\d+\\] \\(.*stack_trace_unittest\\.cc:\\d+\\)\n")))
      << trace;
  EXPECT_NE(trace.find("Output_ResolvesNamesAndLines"), std::string::npos) << trace;
}

TEST(StackSnapshot, SymbolEngine_SetUpOnceWithExecutableDirectory) {
  StackSnapshot().ToString();
  StackSnapshot().ToString();
  ASSERT_EQ(internal::SymbolEngineSetUpError(), 0u);
  wchar_t search_path[1024];
  ASSERT_TRUE(SymGetSearchPathW(GetCurrentProcess(), search_path, std::size(search_path)));
  wchar_t module_path[MAX_PATH];
  ASSERT_NE(GetModuleFileNameW(nullptr, module_path, MAX_PATH), 0u);
  const std::wstring directory = internal::ExecutableDirectory(module_path);
  // A second set-up would have appended the directory again.
  const std::wstring path(search_path);
  const std::wstring entry = L";" + directory;
  const size_t first = path.find(entry);
  ASSERT_NE(first, std::wstring::npos);
  EXPECT_EQ(path.find(entry, first + 1), std::wstring::npos);
}

TEST(StackSnapshot, Output_ConcurrentResolutionMatchesSerial) {
  volatile int sink = 0;
  std::vector<StackSnapshot> snapshots;
  for (int depth : {0, 3, 7})
    snapshots.push_back(CaptureSnapshotAtDepth(depth, &sink));
  std::vector<std::string> serial;
  for (const StackSnapshot& snapshot : snapshots)
    serial.push_back(snapshot.ToString());

  constexpr int kThreads = 4;
  std::vector<std::vector<std::string>> results(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 3; ++round) {
        for (const StackSnapshot& snapshot : snapshots)
          results[t].push_back(snapshot.ToString());
      }
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  for (int t = 0; t < kThreads; ++t) {
    SCOPED_TRACE(t);
    ASSERT_EQ(results[t].size(), 3 * serial.size());
    for (size_t i = 0; i < results[t].size(); ++i)
      EXPECT_EQ(results[t][i], serial[i % serial.size()]);
  }
}

TEST(StackSnapshot, Output_BadStreamGetsNothing) {
  std::ostringstream stream;
  stream.setstate(std::ios::badbit);
  StackSnapshot().OutputToStream(&stream);
  EXPECT_EQ(stream.str(), "");

  const void* addresses[] = {reinterpret_cast<const void*>(0x401000)};
  std::ostringstream unresolved;
  unresolved.setstate(std::ios::failbit);
  internal::OutputUnresolvedTrace(126, addresses, 1, &unresolved);
  EXPECT_EQ(unresolved.str(), "");
}

TEST(StackSnapshot, UnresolvedOutput_ListsOneAddressPerLine) {
  const void* addresses[] = {reinterpret_cast<const void*>(0x00401000),
                             reinterpret_cast<const void*>(0x7BC5ABCD),
                             reinterpret_cast<const void*>(0xFFFFFFFF)};
  struct {
    size_t count;
    const char* expected;
  } cases[] = {
      {0, "Error initializing symbols (87).  Dumping unresolved backtrace:\n"},
      {1, "Error initializing symbols (87).  Dumping unresolved backtrace:\n\t00401000\n"},
      {3,
       "Error initializing symbols (87).  Dumping unresolved backtrace:\n\t00401000\n\t7BC5ABCD\n"
       "\tFFFFFFFF\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.count);
    std::ostringstream stream;
    internal::OutputUnresolvedTrace(87, addresses, c.count, &stream);
    EXPECT_EQ(stream.str(), c.expected);
  }
}

TEST(StackSnapshot, AddressText_EightUpperCaseDigits) {
  struct {
    uintptr_t address;
    const char* expected;
  } cases[] = {
      {0, "00000000"}, {0x1a, "0000001A"}, {0x401000, "00401000"}, {0xFFFFFFFF, "FFFFFFFF"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(internal::AddressText(reinterpret_cast<const void*>(c.address)), c.expected);
  }
}

TEST(StackSnapshot, ExecutableDirectory_KeepsRoots) {
  struct {
    const wchar_t* path;
    const wchar_t* expected;
  } cases[] = {
      {L"C:\\a\\b\\x.exe", L"C:\\a\\b"},
      {L"C:\\x.exe", L"C:\\"},
      {L"\\\\srv\\share\\x.exe", L"\\\\srv\\share"},
      {L"Z:/work/x.exe", L"Z:/work"},
      {L"\\x.exe", L"\\"},
      {L"x.exe", L"."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    EXPECT_EQ(internal::ExecutableDirectory(c.path), c.expected);
  }
}

TEST(Debugger, IsDebuggerAttached_MatchesPlatform) {
  EXPECT_EQ(IsDebuggerAttached(), IsDebuggerPresent() != 0);
}

TEST(DebuggerDeathTest, TrapProcess_EndsWithBreakpointException) {
  EXPECT_EXIT(
      TrapProcess(), [](int code) { return static_cast<DWORD>(code) == EXCEPTION_BREAKPOINT; }, "");
}

}  // namespace
}  // namespace base::debug
