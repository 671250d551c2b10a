#include "update/journal.h"

#include <cwctype>
#include <set>

#include "base/strings/utf_string_conversions.h"
#include "common/util/layout.h"

namespace update {

namespace {

namespace layout = common::layout;

// The first line; a journal without it is not one this version wrote (the
// first version recorded absolute paths, which nothing may act on).
constexpr char kHeader[] = "zeltorcg update transaction 2";

const char* PhaseName(JournalPhase phase) {
  switch (phase) {
    case JournalPhase::kPrepared:
      return "prepared";
    case JournalPhase::kStarted:
      return "started";
    case JournalPhase::kUndoing:
      return "undoing";
  }
  return "prepared";
}

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', start)) {
    fields.push_back(line.substr(start, tab - start));
    start = tab + 1;
  }
  fields.push_back(line.substr(start));
  return fields;
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// Whether `relative` is one or more plain components: none empty, "." or
// "..", none with a drive, a separator other than '\', a wildcard, a quote or
// a control character.
bool PlainRelativePath(const std::wstring& relative) {
  if (relative.empty())
    return false;
  size_t start = 0;
  for (;;) {
    const size_t end = relative.find(L'\\', start);
    const std::wstring part = relative.substr(start, end - start);
    if (part.empty() || part == L"." || part == L"..")
      return false;
    for (wchar_t c : part) {
      if (c < 0x20 || std::wstring_view(L"/:*?\"<>|").find(c) != std::wstring_view::npos)
        return false;
    }
    if (end == std::wstring::npos)
      return true;
    start = end + 1;
  }
}

bool IsInstalledEntry(const std::wstring& key) {
  for (const wchar_t* name : layout::kInstalledEntries) {
    if (key == ListingKey(name))
      return true;
  }
  return false;
}

// Below the work folder, or an unfinished copy of Client beside it.
bool IsWorkName(const std::wstring& key) {
  return StartsWith(key, ListingKey(layout::kWorkDir) + L"\\") ||
         StartsWith(key, ListingKey(layout::kClientDir) + L".partial-");
}

bool IsPreviousName(const std::wstring& key) {
  const std::wstring previous = ListingKey(layout::kPreviousVersion);
  return key == previous || (StartsWith(key, previous + L".") && key.find(L'\\') == key.npos);
}

// Why a move of `journal` cannot be acted on, or empty: each must lie below
// one entry's previous version and the same place below its source, and
// within no other move of that entry (a folder moves with all it holds).
std::string MoveProblem(const Journal& journal) {
  std::vector<std::wstring> froms;
  for (const JournalMove& move : journal.moves) {
    const std::wstring from = ListingKey(move.from);
    const std::wstring to = ListingKey(move.to);
    bool placed = false;
    for (const JournalEntry& entry : journal.entries) {
      const std::wstring previous = ListingKey(entry.previous) + L"\\";
      const std::wstring source = ListingKey(entry.source) + L"\\";
      placed = placed || (StartsWith(from, previous) && StartsWith(to, source) &&
                          from.substr(previous.size()) == to.substr(source.size()));
    }
    if (!PlainRelativePath(move.from) || !PlainRelativePath(move.to) || !placed)
      return "not a move of an entry's folder: " + base::WideToUTF8(move.from);
    for (const std::wstring& other : froms) {
      if (other == from || StartsWith(from, other + L"\\") || StartsWith(other, from + L"\\"))
        return "a move within another: " + base::WideToUTF8(move.from);
    }
    froms.push_back(from);
  }
  return std::string();
}

}  // namespace

std::wstring ListingKey(std::wstring path) {
  for (wchar_t& c : path)
    c = static_cast<wchar_t>(std::towlower(c));
  return path;
}

bool IsInstalledEntryName(const std::wstring& name) {
  return IsInstalledEntry(ListingKey(name));
}

std::string SerializeJournal(const Journal& journal) {
  std::string text = std::string(kHeader) + "\n";
  text += std::string("phase\t") + PhaseName(journal.phase) + "\n";
  for (const JournalEntry& entry : journal.entries) {
    text += "entry\t" + base::WideToUTF8(entry.live) + "\t" + base::WideToUTF8(entry.source) +
            "\t" + base::WideToUTF8(entry.previous) + "\t" +
            (entry.had_installed ? "installed" : "new") + "\n";
  }
  for (const JournalMove& move : journal.moves)
    text += "move\t" + base::WideToUTF8(move.from) + "\t" + base::WideToUTF8(move.to) + "\n";
  for (const std::wstring& leftover : journal.leftovers)
    text += "leftover\t" + base::WideToUTF8(leftover) + "\n";
  if (!journal.package.empty())
    text +=
        "package\t" + base::WideToUTF8(journal.package) + "\t" + journal.package_identity + "\n";
  return text + "end\n";
}

bool ParseJournal(const std::string& text, Journal* journal, std::string* problem) {
  *journal = Journal();
  Journal read;
  bool phase_seen = false;
  bool ended = false;
  size_t start = 0;
  if (text.compare(0, sizeof(kHeader), std::string(kHeader) + "\n") != 0) {
    *problem = "not a journal of this version";
    return false;
  }
  start = sizeof(kHeader);
  while (start < text.size()) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos || ended) {
      *problem = ended ? "text after the end line" : "last line cut off";
      return false;
    }
    const std::vector<std::string> fields = SplitTabs(text.substr(start, end - start));
    start = end + 1;
    const std::string& kind = fields[0];
    if (kind == "phase" && fields.size() == 2 && !phase_seen) {
      phase_seen = true;
      if (fields[1] == "started")
        read.phase = JournalPhase::kStarted;
      else if (fields[1] == "undoing")
        read.phase = JournalPhase::kUndoing;
      else if (fields[1] != "prepared")
        phase_seen = false;
    } else if (kind == "entry" && fields.size() == 5 &&
               (fields[4] == "installed" || fields[4] == "new")) {
      read.entries.push_back({base::UTF8ToWide(fields[1]), base::UTF8ToWide(fields[2]),
                              base::UTF8ToWide(fields[3]), fields[4] == "installed"});
    } else if (kind == "move" && fields.size() == 3) {
      read.moves.push_back({base::UTF8ToWide(fields[1]), base::UTF8ToWide(fields[2])});
    } else if (kind == "leftover" && fields.size() == 2) {
      read.leftovers.push_back(base::UTF8ToWide(fields[1]));
    } else if (kind == "package" && fields.size() == 3 && read.package.empty() &&
               !fields[1].empty()) {
      read.package = base::UTF8ToWide(fields[1]);
      read.package_identity = fields[2];
    } else if (kind == "end" && fields.size() == 1) {
      ended = true;
    } else {
      *problem = "unknown line: " + kind;
      return false;
    }
    if (kind == "phase" && !phase_seen) {
      *problem = "unknown phase";
      return false;
    }
  }
  if (!ended || !phase_seen) {
    *problem = ended ? "no phase" : "no end line";
    return false;
  }
  *problem = JournalNameProblem(read);
  if (!problem->empty())
    return false;
  *journal = std::move(read);
  return true;
}

std::string JournalNameProblem(const Journal& journal) {
  std::set<std::wstring> used;
  auto check = [&used](const std::wstring& name, bool (*allowed)(const std::wstring&),
                       const char* what) -> std::string {
    const std::wstring key = ListingKey(name);
    if (!PlainRelativePath(name) || !allowed(key))
      return std::string("not one of the updater's own names (") + what +
             "): " + base::WideToUTF8(name);
    if (!used.insert(key).second)
      return "a name used twice: " + base::WideToUTF8(name);
    return std::string();
  };
  for (const JournalEntry& entry : journal.entries) {
    for (const std::string& problem : {check(entry.live, IsInstalledEntry, "installed entry"),
                                       check(entry.source, IsWorkName, "new version"),
                                       check(entry.previous, IsPreviousName, "previous version")}) {
      if (!problem.empty())
        return problem;
    }
  }
  const std::string moves = MoveProblem(journal);
  if (!moves.empty())
    return moves;
  for (const std::wstring& leftover : journal.leftovers) {
    // A leftover may hold a source (an extraction holds the new Client).
    used.erase(ListingKey(leftover));
    const std::string problem = check(leftover, IsWorkName, "leftover");
    if (!problem.empty())
      return problem;
  }
  return std::string();
}

}  // namespace update
