// What elevation asks of the system: arguments that travel whole to the elevated
// instance, the user it acts for, and a folder's refusal.
#include <gtest/gtest.h>

#include "platform/elevation.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "support/test_platform.h"
#include "support/test_support.h"

using namespace platform;

TEST(Elevation, ArgumentsJoinIntoALineThatSplitsBackIntoThem) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"/HIDE"},
      {"/FOLDER", "C:\\Program Files\\Drevanto\\Kestrova"},
      {"/LOG=C:\\Users\\a b\\Temp\\ORBAXLiveUpdate.log", "/KILL", "12,34"},
      {"", "two  blanks", "tab\there"},
      {"ends in \\", "C:\\", "\\\\server\\share\\", "a\\\\b"},
      {"say \"hi\"", "\\\"", "back\\\\\"quote", "\""},
  };
  for (const auto& arguments : cases) {
    std::vector<std::string> split = SplitCommandLine("program.exe " + JoinCommandLine(arguments));
    split.erase(split.begin());
    EXPECT_EQ(split, arguments) << JoinCommandLine(arguments);
  }
  EXPECT_EQ(JoinCommandLine({"/HIDE", "C:\\a b\\"}), "/HIDE \"C:\\a b\\\\\"");
}

TEST(Elevation, SidTexts) {
  for (const char* good : {"S-1-5-21-0-0-0-1000", "S-1-5-18", "S-1-0"}) EXPECT_TRUE(IsSidText(good)) << good;
  for (const char* bad : {"", "S-1-", "S-1-5-", "S-1--5", "S-2-5", "S-1-5-21\\Software", "S-1-5-x", "1-5-21"})
    EXPECT_FALSE(IsSidText(bad)) << bad;
}

// An elevated instance writes the user's hive through HKEY_CURRENT_USER.
TEST(Elevation, ActingForAUserMakesTheirHiveTheCurrentUsers) {
  if (!CanElevate()) {
    EXPECT_FALSE(ActForUser("S-1-5-21-7-7-7-1001"));
    EXPECT_EQ(CurrentUserSid(), "");
    GTEST_SKIP() << "the Linux port has one user";
  }
  EXPECT_TRUE(IsSidText(CurrentUserSid())) << CurrentUserSid();
  const std::string sid = "S-1-5-21-7-7-7-" + std::to_string(TickCount() % 100000 + 1001);
  TRegKey hive;
  ASSERT_TRUE(hive.Open(HKEY_USERS_ID, sid, true, false));
  hive.Close();
  EXPECT_FALSE(ActForUser(sid + "9"));  // no such hive
  EXPECT_FALSE(ActForUser(sid + "\\Software"));
  ASSERT_TRUE(ActForUser(sid));
  TRegKey key;
  const bool written = key.Open(HKEY_CURRENT_USER_ID, "Software\\ORBAXElevationTest", true, false) &&
                       key.SetValue("Value", TRegValue{REG_SZ_TYPE, "theirs"});
  key.Close();
  StopActingForUser();
  EXPECT_TRUE(written);
  TRegValue value;
  EXPECT_TRUE(key.Open(HKEY_USERS_ID, sid + "\\Software\\ORBAXElevationTest", false, true) &&
              key.GetValue("Value", value) && value.Data == "theirs");
  key.Close();
  EXPECT_FALSE(key.Open(HKEY_CURRENT_USER_ID, "Software\\ORBAXElevationTest", false, true));
  EXPECT_TRUE(RegDeleteKeyTree(HKEY_USERS_ID, sid));
}

TEST(Elevation, AFolderTheUserMayChangeIsNotRefusedAndKeepsNothing) {
  testsupport::TTempFolder tmp;
  EXPECT_FALSE(FolderRefused(tmp.Path()));
  EXPECT_FALSE(FolderRefused(tmp / "not\\yet\\made"));
  EXPECT_TRUE(ListDir(tmp.Path()).empty());
}
