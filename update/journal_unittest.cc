#include "update/journal.h"

#include <gtest/gtest.h>

#include <string>

namespace update {
namespace {

Journal PackageJournal() {
  Journal journal;
  journal.phase = JournalPhase::kStarted;
  journal.entries = {
      {L"Client", L"zeltorcg_update_tmp\\package.partial-7-1\\Client", L"zeltorcg_update_old",
       true},
      {L"update.exe", L"zeltorcg_update_tmp\\package.partial-7-1\\update.exe",
       L"zeltorcg_update_old.update.exe", false},
  };
  journal.moves = {{L"zeltorcg_update_old\\data\\d1",
                    L"zeltorcg_update_tmp\\package.partial-7-1\\Client\\data\\d1"},
                   {L"zeltorcg_update_old\\data\\d10",
                    L"zeltorcg_update_tmp\\package.partial-7-1\\Client\\data\\d10"}};
  journal.leftovers = {L"zeltorcg_update_tmp\\package.partial-7-1"};
  journal.package = L"C:\\Users\\\x5F20\\Downloads\\update 2.7z";
  journal.package_identity = "size=12;write=34;file=00ab-0001";
  return journal;
}

TEST(Journal, WhatIsWrittenReadsBackTheSame) {
  Journal staged;
  staged.entries = {{L"Client", L"Client.partial-3-2", L"zeltorcg_update_old.held-3-1", true}};
  staged.leftovers = {L"Client.partial-3-2"};
  Journal undoing = PackageJournal();
  undoing.phase = JournalPhase::kUndoing;
  for (const Journal& journal : {PackageJournal(), staged, undoing, Journal()}) {
    Journal read;
    std::string problem;
    ASSERT_TRUE(ParseJournal(SerializeJournal(journal), &read, &problem)) << problem;
    EXPECT_EQ(read, journal);
  }
}

// Text that no run wrote whole, or that names anything but the updater's own
// entries, is refused as a whole: nothing of it may be acted on.
TEST(Journal, DamagedTextOrForeignNamesAreRefused) {
  const std::string good = SerializeJournal(PackageJournal());
  auto with_entry = [](const std::wstring& live, const std::wstring& source,
                       const std::wstring& previous) {
    Journal journal;
    journal.entries = {{live, source, previous, true}};
    return SerializeJournal(journal);
  };
  const std::wstring source = L"zeltorcg_update_tmp\\Client";
  auto with_moves = [&](std::vector<JournalMove> moves) {
    Journal journal = PackageJournal();
    journal.moves = std::move(moves);
    return SerializeJournal(journal);
  };
  const std::wstring extracted = L"zeltorcg_update_tmp\\package.partial-7-1\\Client";
  const struct {
    const char* name;
    std::string text;
  } cases[] = {
      {"empty", ""},
      {"truncated", good.substr(0, good.size() / 2)},
      {"no end line", good.substr(0, good.size() - 4)},
      {"end line cut off", good.substr(0, good.size() - 1)},
      {"text after the end", good + "entry\tx\n"},
      {"garbage", "\x01\x02zeltorcg\n\xff\xfe"},
      {"the first version's header", "zeltorcg update transaction 1\nphase\tprepared\nend\n"},
      {"unknown phase", "zeltorcg update transaction 2\nphase\tswapping\nend\n"},
      {"no phase", "zeltorcg update transaction 2\nend\n"},
      {"entry with a field missing",
       "zeltorcg update transaction 2\nphase\tprepared\nentry\tClient\tx\ty\nend\n"},
      {"absolute previous version", with_entry(L"Client", source, L"C:\\Users\\me\\Documents")},
      {"previous version is Client", with_entry(L"Client", source, L"Client")},
      {"live entry outside the root", with_entry(L"..\\other", source, L"zeltorcg_update_old")},
      {"live entry not installed by updates", with_entry(L"Saves", source, L"zeltorcg_update_old")},
      {"source climbs out",
       with_entry(L"Client", L"zeltorcg_update_tmp\\..\\..\\x", L"zeltorcg_update_old")},
      {"source on a drive", with_entry(L"Client", L"D:\\Client", L"zeltorcg_update_old")},
      {"source is the installed client", with_entry(L"Client", L"Client", L"zeltorcg_update_old")},
      {"previous version below a folder",
       with_entry(L"Client", source, L"zeltorcg_update_old\\..\\Client")},
      {"a name used twice", with_entry(L"Client", source, L"zeltorcg_update_tmp\\Client")},
      {"move with a field missing",
       "zeltorcg update transaction 2\nphase\tprepared\nmove\tzeltorcg_update_old\\d\nend\n"},
      {"move of the whole previous version", with_moves({{L"zeltorcg_update_old", extracted}})},
      {"move from outside the previous version", with_moves({{L"Saves\\d1", extracted + L"\\d1"}})},
      {"move to another place than it came from",
       with_moves({{L"zeltorcg_update_old\\d1", extracted + L"\\d2"}})},
      {"move into another entry's new version",
       with_moves({{L"zeltorcg_update_old\\d1",
                    L"zeltorcg_update_tmp\\package.partial-7-1\\update.exe\\d1"}})},
      {"move that climbs out",
       with_moves({{L"zeltorcg_update_old\\..\\d1", extracted + L"\\..\\d1"}})},
      {"move within another",
       with_moves({{L"zeltorcg_update_old\\d1", extracted + L"\\d1"},
                   {L"zeltorcg_update_old\\D1\\x", extracted + L"\\d1\\x"}})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Journal read = PackageJournal();
    std::string problem;
    EXPECT_FALSE(ParseJournal(c.text, &read, &problem));
    EXPECT_FALSE(problem.empty());
    EXPECT_EQ(read, Journal());
  }
}

}  // namespace
}  // namespace update
