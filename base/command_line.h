#ifndef BASE_COMMAND_LINE_H_
#define BASE_COMMAND_LINE_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "base/file_path.h"

namespace base {

// A command line split into the program, its switches and its plain
// arguments. Switches are "--name", "-name" or "/name", optionally followed by
// "=value"; names are stored lower-cased without their prefix, the last
// occurrence of a name wins, and "--" ends switch parsing. Also builds command
// lines for child processes, quoted for CommandLineToArgvW (see
// GetArgumentsString for the elements that do not come back unchanged).
//
// Not thread-safe for mutation. The process-wide instance is built once by
// Init on the main thread; after that any thread may read it.
class CommandLine {
 public:
  using StringType = std::wstring;
  using StringVector = std::vector<std::wstring>;
  // Narrow lower-case name (prefix removed) to wide value.
  using SwitchMap = std::map<std::string, std::wstring, std::less<>>;

  // Tried in this order, so "--" wins over "-".
  static constexpr const wchar_t* kSwitchPrefixes[] = {L"--", L"-", L"/"};
  static constexpr wchar_t kSwitchTerminator[] = L"--";
  static constexpr wchar_t kSwitchValueSeparator[] = L"=";

  enum NoProgram { NO_PROGRAM };

  // An empty program, no switches, no arguments.
  explicit CommandLine(NoProgram no_program);
  // An empty command line with `program` (trimmed of whitespace) as argv[0].
  explicit CommandLine(const FilePath& program);
  // Parsed from an already split vector; element 0 is the program.
  CommandLine(int argc, const wchar_t* const* argv);
  explicit CommandLine(const StringVector& argv);

  CommandLine(const CommandLine&) = default;
  CommandLine& operator=(const CommandLine&) = default;
  CommandLine(CommandLine&&) noexcept = default;
  CommandLine& operator=(CommandLine&&) noexcept = default;
  ~CommandLine() = default;

  // Creates the process-wide instance from GetCommandLineW (the arguments are
  // ignored). Returns false, changing nothing, if it already exists. Call on
  // the main thread before any other thread reads ForCurrentProcess.
  static bool Init(int argc, const char* const* argv);

  // The process-wide instance, or null before Init. Never freed.
  static CommandLine* ForCurrentProcess();

  // A command line parsed from one string as the platform splits it.
  static CommandLine FromString(std::wstring_view command_line);

  // Replaces the contents with `command_line` split by CommandLineToArgvW.
  // A text that is empty or only whitespace leaves the object unchanged; a
  // failed split leaves an empty program with no switches.
  void ParseFromString(std::wstring_view command_line);

  // Replaces the contents with the vector; element 0 is the program (an empty
  // vector gives an empty program).
  void InitFromArgv(int argc, const wchar_t* const* argv);
  void InitFromArgv(const StringVector& argv);

  FilePath GetProgram() const;
  // argv[0] = the path's value trimmed of whitespace at both ends.
  void SetProgram(const FilePath& program);

  // True when exactly this name was given. Lookups do not fold case: pass the
  // lower-case name without prefix ("pid", not "PID" or "--pid").
  bool HasSwitch(std::string_view switch_name) const;

  // The value of the switch, empty if absent or if it holds a character above
  // 0x7F; otherwise each UTF-16 unit narrowed to one byte.
  std::string GetSwitchValueASCII(std::string_view switch_name) const;

  // The wide value of the switch, empty if absent.
  std::wstring GetSwitchValue(std::string_view switch_name) const;

  const SwitchMap& GetSwitches() const { return switches_; }

  // Adds a switch: the name is lower-cased (A-Z only), a leading prefix is
  // kept in argv but removed from the key, and an existing value is replaced.
  // The textual form goes before the plain arguments in argv.
  void AppendSwitch(std::string_view switch_name, std::wstring_view value = {});
  // As AppendSwitch with an ASCII value, each byte widened to one unit.
  void AppendSwitchASCII(std::string_view switch_name, std::string_view value);

  // The plain arguments, in order ("--" included if it was given).
  StringVector GetArgs() const;

  // Appends a plain argument given as UTF-8 text.
  void AppendArg(std::string_view value);
  // Appends a plain argument at the end of argv.
  void AppendArgWide(std::wstring_view value);
  void AppendArgPath(const FilePath& value) { AppendArgWide(value.value()); }

  // Program, switches (textual form) and arguments, in that order.
  const StringVector& argv() const { return argv_; }

  // Everything after the program, joined by single spaces. Elements that look
  // like switches are written as the switch text, unquoted, then "=" and the
  // quoted value; all others are quoted so that CommandLineToArgvW gives them
  // back. A switch-like element without "=" is thus written exactly as stored
  // and comes back unchanged only when it needs no quoting: -o"D:\game\" (for
  // programs that split their own command line, as 7-Zip does) does not.
  std::wstring GetArgumentsString() const;

  // The quoted program, then a space and GetArgumentsString when that is not
  // empty. This is what process launching hands to the platform.
  std::wstring GetCommandLineString() const;

  // `arg` quoted so that CommandLineToArgvW yields it back as one argument.
  // Text without blanks, tabs, vertical tabs, line feeds, quotes or
  // backslashes is returned unchanged; the empty argument becomes "" so that
  // it is not lost.
  static std::wstring QuoteForCommandLineToArgvW(std::wstring_view arg);

 private:
  // The process's own command line as the platform holds it.
  static std::wstring_view RawProcessCommandLine();

  void AppendSwitchesAndArguments(const StringVector& argv);

  // argv_[0] is the program; [1, begin_args_) the switches; the rest plain
  // arguments.
  StringVector argv_;
  SwitchMap switches_;
  uint32_t begin_args_;
};

}  // namespace base

#endif  // BASE_COMMAND_LINE_H_
