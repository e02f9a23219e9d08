#include "settings/live_update.h"

#include <gtest/gtest.h>

#include "platform/registry.h"
#include "settings/build_defaults.h"

using V = std::vector<std::string>;

TEST(LiveUpdate, Creation) {
  TLiveUpdate lu;
  EXPECT_EQ(lu.RegistryKeys.Count(), 0);
  EXPECT_EQ(lu.RegistryKeys.Separator(), ",");
  EXPECT_EQ(lu.DownloadURL, "");
  EXPECT_EQ(lu.InstallFolder, "");
  EXPECT_EQ(lu.Texts, nullptr);
  EXPECT_FALSE(lu.UninstallMode);
  lu.RegistryKeys.SetTextStr("a,b");
  EXPECT_EQ(lu.RegistryKeys.Count(), 2);
}

TEST(LiveUpdate, HasSwitch) {
  EXPECT_TRUE(TLiveUpdate::HasSwitch("/HIDE", V{"/hide"}));
  EXPECT_TRUE(TLiveUpdate::HasSwitch("/HIDE", V{"x", "/Hide"}));
  EXPECT_TRUE(TLiveUpdate::HasSwitch("/hide", V{"/HIDE"}));
  EXPECT_FALSE(TLiveUpdate::HasSwitch("/HIDE", V{"/HIDEX"}));
  EXPECT_FALSE(TLiveUpdate::HasSwitch("/HIDE", V{" /HIDE"}));
  EXPECT_FALSE(TLiveUpdate::HasSwitch("/HIDE", V{}));
  // Only a to z change case.
  EXPECT_FALSE(TLiveUpdate::HasSwitch("/\xE9", V{"/\xC9"}));
}

TEST(LiveUpdate, GetSwitchValue) {
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", V{"/KILL", "1234,5678"}), "1234,5678");
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", V{"/kill", "AbC"}), "AbC");
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", V{"1", "/KILL"}), "");
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", V{}), "");
  const V killHide{"/KILL", "/HIDE"};
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", killHide), "/HIDE");
  EXPECT_TRUE(TLiveUpdate::HasSwitch("/HIDE", killHide));
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", V{"/KILL", "1", "/KILL", "2"}), "1");
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", V{"/KILL", "/KILL", "2"}), "/KILL");
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL", V{"/KILL", ""}), "");
}

TEST(LiveUpdate, SwitchesReadTheProgramArguments) {
  // The argument-less forms read what the platform holds (on Windows, the
  // process's own command line, where no /KILL stands).
  EXPECT_EQ(TLiveUpdate::HasSwitch("/NO-SUCH-SWITCH"), false);
  EXPECT_EQ(TLiveUpdate::GetSwitchValue("/KILL"), "");
}

TEST(LiveUpdate, ExtractURLFileName) {
  EXPECT_EQ(TLiveUpdate::ExtractURLFileName("http://update.example/kestrova/kestrovafull.zip"), "kestrovafull.zip");
  EXPECT_EQ(TLiveUpdate::ExtractURLFileName("http://update.example/kestrova/"), "");
  EXPECT_EQ(TLiveUpdate::ExtractURLFileName("kestrovafull.zip"), "");
  EXPECT_EQ(TLiveUpdate::ExtractURLFileName(""), "");
  EXPECT_EQ(TLiveUpdate::ExtractURLFileName("/a.zip?x=1"), "a.zip?x=1");
  EXPECT_EQ(TLiveUpdate::ExtractURLFileName("http://h/a\\b.zip"), "a\\b.zip");
}

namespace {
uint32_t Root(const TLiveUpdate& lu, int i) { return static_cast<uint32_t>(lu.RegistryKeys.Objects(i)); }
}  // namespace

TEST(LiveUpdate, SetRegistryKeys) {
  TLiveUpdate lu;
  lu.SetRegistryKeys("HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova");
  ASSERT_EQ(lu.RegistryKeys.Count(), 1);
  EXPECT_EQ(lu.RegistryKeys.Strings(0), "Software\\ORBAX\\Kestrova");
  EXPECT_EQ(Root(lu, 0), 0x80000001u);

  lu.SetRegistryKeys(
      "hkey_local_machine\\Software\\A,HKLM\\Software\\B,Software\\C,HKEY_USERS,HKEY_CLASSES_ROOT\\,"
      " HKEY_USERS\\x,HKEY_CURRENT_CONFIG\\Sys\\Case,,HKEY_USERS\\.DEFAULT\\y,HKEY_CURRENT_USER\\a\\\\b");
  ASSERT_EQ(lu.RegistryKeys.Count(), 5);
  EXPECT_EQ(lu.RegistryKeys.Strings(0), "Software\\A");
  EXPECT_EQ(Root(lu, 0), platform::HKEY_LOCAL_MACHINE_ID);
  EXPECT_EQ(lu.RegistryKeys.Strings(1), "");
  EXPECT_EQ(Root(lu, 1), platform::HKEY_CLASSES_ROOT_ID);
  EXPECT_EQ(lu.RegistryKeys.Strings(2), "Sys\\Case");
  EXPECT_EQ(Root(lu, 2), platform::HKEY_CURRENT_CONFIG_ID);
  EXPECT_EQ(lu.RegistryKeys.Strings(3), ".DEFAULT\\y");
  EXPECT_EQ(Root(lu, 3), platform::HKEY_USERS_ID);
  EXPECT_EQ(lu.RegistryKeys.Strings(4), "a\\\\b");
  EXPECT_EQ(Root(lu, 4), platform::HKEY_CURRENT_USER_ID);

  // The uninstall command's form: the Run value and the product key.
  lu.SetRegistryKeys(
      "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Kestrova,"
      "HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova");
  EXPECT_EQ(lu.RegistryKeys.GetTextStr(),
            "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Kestrova,Software\\ORBAX\\Kestrova,");

  lu.SetRegistryKeys("");
  EXPECT_EQ(lu.RegistryKeys.Count(), 0);
}
