#include "update/arguments.h"

#include <string>

#include "gtest/gtest.h"

namespace update {
namespace {

TEST(UnsafePathProblem, RefusesNamesWindowsCannotHoldAndRelativePaths) {
  const struct {
    const wchar_t* path;
    bool refused;
  } cases[] = {
      {L"C:\\Games\\Zeltor", false},
      {L"C:/Games/Zeltor", false},
      {L"D:\\", false},
      {L"\\\\server\\share\\Zeltor", false},
      {L"C:\\My Games\\caf\x00E9 \x5347\x7EA7", false},
      {L"C:\\Games\\v1.2\\Zeltor", false},
      {L"C:\\Games\\console\\conifer", false},
      {L"", true},
      {L"Zeltor", true},
      {L"C:Zeltor", true},
      {L"\\Zeltor", true},
      {L"C:\\pkgs\\*.7z", true},
      {L"C:\\pkgs\\a?.7z", true},
      {L"C:\\Zel\"tor", true},
      {L"C:\\Zel|tor", true},
      {L"\\\\?\\C:\\Zeltor", true},
      {L"C:\\Zeltor.", true},
      {L"C:\\Zeltor \\Client", true},
      {L"C:\\Games\\.", true},
      {L"C:\\PRN", true},
      {L"C:\\Games\\lpt1\\Zeltor", true},
      {L"C:\\Games\\nul.txt", true},
      {L"C:\\Games\\COM9.7z", true},
      {L"C:\\Games\\update.7z:stream", true},
      {L"C:\\Games\\a\tb", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::wstring(c.path));
    EXPECT_EQ(!UnsafePathProblem(c.path).empty(), c.refused) << UnsafePathProblem(c.path);
  }
}

TEST(IsSha256Text, TakesExactly64HexDigitsOfEitherCase) {
  const std::wstring digest(L"e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_TRUE(IsSha256Text(digest));
  EXPECT_TRUE(IsSha256Text(L"E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855"));
  EXPECT_FALSE(IsSha256Text(digest.substr(1)));
  EXPECT_FALSE(IsSha256Text(digest + L"0"));
  EXPECT_FALSE(IsSha256Text(L"g" + digest.substr(1)));
  EXPECT_FALSE(IsSha256Text(L"\xFF10" + digest.substr(1)));  // a full-width digit
  EXPECT_FALSE(IsSha256Text(L""));
}

}  // namespace
TEST(PidFromSwitchValue, ReadsLeadingDecimalAndRejectsTheRest) {
  struct {
    std::wstring raw;
    int32_t pid;
  } cases[] = {
      {L"1234", 1234},
      {L"1234abc", 1234},
      {L"  42", 42},
      {L"+7", 7},
      {L"-5", -5},
      {L"2147483647", 2147483647},
      {L"-2147483648", INT32_MIN},
      {L"2147483648", 0},
      {L"-2147483649", 0},
      {L"99999999999999999999", 0},
      {L"", 0},
      {L"abc", 0},
      {L"-", 0},
      {L"12\x4E00", 0},
      {L"\xFF11\xFF12", 0},  // full-width digits are no ASCII digits
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "raw of " << c.raw.size() << " units, expected " << c.pid);
    EXPECT_EQ(PidFromSwitchValue(c.raw), c.pid);
  }
}

}  // namespace update
