#include "base/command_line.h"

#include "base/strings/string_util.h"
#include "base/strings/utf_string_conversions.h"

namespace base {

namespace {

CommandLine* g_current_process_command_line = nullptr;

std::wstring TrimmedCopy(const std::wstring& text) {
  std::wstring trimmed;
  TrimWhitespace(text, TRIM_ALL, &trimmed);
  return trimmed;
}

std::wstring WidenBytes(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (char c : text)
    wide.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return wide;
}

size_t GetSwitchPrefixLength(std::wstring_view text) {
  for (const wchar_t* prefix : CommandLine::kSwitchPrefixes) {
    const std::wstring_view p(prefix);
    if (text.substr(0, p.size()) == p)
      return p.size();
  }
  return 0;
}

// Splits `arg` into its switch text (prefix included) and value when it is a
// switch. A bare prefix is a plain argument, and so is a switch whose name
// holds a character above 0x7F: names are narrowed to bytes, so such a name
// could otherwise pose as an ASCII one ("pid" spelled with U+0170 for 'p').
bool IsSwitch(std::wstring_view arg, std::wstring* switch_string, std::wstring* switch_value) {
  const size_t prefix_length = GetSwitchPrefixLength(arg);
  if (prefix_length == 0 || prefix_length == arg.size())
    return false;

  const size_t equals = arg.find(CommandLine::kSwitchValueSeparator);
  const std::wstring_view name = arg.substr(0, equals);
  for (wchar_t c : name) {
    if (c > 0x7F)
      return false;
  }
  switch_string->assign(name);
  if (equals == std::wstring_view::npos)
    switch_value->clear();
  else
    switch_value->assign(arg.substr(equals + 1));
  return true;
}

}  // namespace

CommandLine::CommandLine(NoProgram) : argv_(1), begin_args_(1) {}

CommandLine::CommandLine(const FilePath& program) : argv_(1), begin_args_(1) {
  SetProgram(program);
}

CommandLine::CommandLine(int argc, const wchar_t* const* argv) : argv_(1), begin_args_(1) {
  InitFromArgv(argc, argv);
}

CommandLine::CommandLine(const StringVector& argv) : argv_(1), begin_args_(1) {
  InitFromArgv(argv);
}

// static
bool CommandLine::Init(int /*argc*/, const char* const* /*argv*/) {
  if (g_current_process_command_line)
    return false;
  g_current_process_command_line = new CommandLine(NO_PROGRAM);
  g_current_process_command_line->ParseFromString(RawProcessCommandLine());
  return true;
}

// static
CommandLine* CommandLine::ForCurrentProcess() {
  return g_current_process_command_line;
}

// static
CommandLine CommandLine::FromString(std::wstring_view command_line) {
  CommandLine cmd(NO_PROGRAM);
  cmd.ParseFromString(command_line);
  return cmd;
}

void CommandLine::InitFromArgv(int argc, const wchar_t* const* argv) {
  StringVector new_argv;
  for (int i = 0; i < argc; ++i)
    new_argv.push_back(argv[i] ? std::wstring(argv[i]) : std::wstring());
  InitFromArgv(new_argv);
}

void CommandLine::InitFromArgv(const StringVector& argv) {
  argv_ = StringVector(1);
  switches_.clear();
  begin_args_ = 1;
  SetProgram(argv.empty() ? FilePath() : FilePath(argv[0]));
  AppendSwitchesAndArguments(argv);
}

FilePath CommandLine::GetProgram() const {
  return FilePath(argv_[0]);
}

void CommandLine::SetProgram(const FilePath& program) {
  argv_[0] = TrimmedCopy(program.value());
}

bool CommandLine::HasSwitch(std::string_view switch_name) const {
  return switches_.find(switch_name) != switches_.end();
}

std::string CommandLine::GetSwitchValueASCII(std::string_view switch_name) const {
  const std::wstring value = GetSwitchValue(switch_name);
  std::string ascii;
  ascii.reserve(value.size());
  for (wchar_t c : value) {
    if (c > 0x7F)
      return std::string();
    ascii.push_back(static_cast<char>(c));
  }
  return ascii;
}

std::wstring CommandLine::GetSwitchValue(std::string_view switch_name) const {
  const auto it = switches_.find(switch_name);
  return it == switches_.end() ? std::wstring() : it->second;
}

void CommandLine::AppendSwitch(std::string_view switch_name, std::wstring_view value) {
  std::string key(switch_name);
  for (char& c : key)
    c = ToLowerASCII(c);
  std::wstring combined = WidenBytes(key);
  const size_t prefix_length = GetSwitchPrefixLength(combined);

  switches_[key.substr(prefix_length)] = std::wstring(value);

  if (prefix_length == 0)
    combined.insert(0, kSwitchPrefixes[0]);
  if (!value.empty()) {
    combined.append(kSwitchValueSeparator);
    combined.append(value);
  }
  argv_.insert(argv_.begin() + begin_args_, std::move(combined));
  ++begin_args_;
}

void CommandLine::AppendSwitchASCII(std::string_view switch_name, std::string_view value) {
  AppendSwitch(switch_name, WidenBytes(value));
}

CommandLine::StringVector CommandLine::GetArgs() const {
  return StringVector(argv_.begin() + begin_args_, argv_.end());
}

void CommandLine::AppendArg(std::string_view value) {
  std::wstring wide;
  UTF8ToWide(value.data(), value.size(), &wide);
  AppendArgWide(wide);
}

void CommandLine::AppendArgWide(std::wstring_view value) {
  argv_.emplace_back(value);
}

void CommandLine::AppendSwitchesAndArguments(const StringVector& argv) {
  bool parse_switches = true;
  std::wstring switch_string;
  std::wstring switch_value;
  for (size_t i = 1; i < argv.size(); ++i) {
    std::wstring arg = TrimmedCopy(argv[i]);
    parse_switches &= arg != kSwitchTerminator;
    if (parse_switches && IsSwitch(arg, &switch_string, &switch_value)) {
      AppendSwitch(UTF16ToASCII(switch_string), switch_value);
    } else {
      argv_.push_back(std::move(arg));
    }
  }
}

std::wstring CommandLine::GetArgumentsString() const {
  std::wstring out;
  bool parse_switches = true;
  std::wstring switch_string;
  std::wstring switch_value;
  for (size_t i = 1; i < argv_.size(); ++i) {
    const std::wstring& arg = argv_[i];
    parse_switches &= arg != kSwitchTerminator;
    if (i > 1)
      out.push_back(L' ');
    if (parse_switches && IsSwitch(arg, &switch_string, &switch_value)) {
      out.append(switch_string);
      if (!switch_value.empty()) {
        out.append(kSwitchValueSeparator);
        out.append(QuoteForCommandLineToArgvW(switch_value));
      }
    } else {
      out.append(QuoteForCommandLineToArgvW(arg));
    }
  }
  return out;
}

std::wstring CommandLine::GetCommandLineString() const {
  std::wstring out = QuoteForCommandLineToArgvW(argv_[0]);
  const std::wstring arguments = GetArgumentsString();
  if (!arguments.empty()) {
    out.push_back(L' ');
    out.append(arguments);
  }
  return out;
}

// static
std::wstring CommandLine::QuoteForCommandLineToArgvW(std::wstring_view arg) {
  // The empty argument needs quotes, or the splitter drops it. Tabs and line
  // breaks need them as well as blanks: the splitter may treat them as
  // separators.
  if (!arg.empty() && arg.find_first_of(L" \t\n\v\\\"") == std::wstring_view::npos)
    return std::wstring(arg);

  std::wstring out;
  out.push_back(L'"');
  for (size_t i = 0; i < arg.size(); ++i) {
    if (arg[i] == L'\\') {
      // Backslashes are literal unless a run of them precedes a quote, where
      // each pair yields one; the closing quote counts, so a run at the end
      // is doubled too.
      size_t end = i;
      while (end < arg.size() && arg[end] == L'\\')
        ++end;
      const size_t count = end - i;
      const bool before_quote = end == arg.size() || arg[end] == L'"';
      out.append(before_quote ? 2 * count : count, L'\\');
      i = end - 1;
    } else if (arg[i] == L'"') {
      out.append(L"\\\"");
    } else {
      out.push_back(arg[i]);
    }
  }
  out.push_back(L'"');
  return out;
}

}  // namespace base
