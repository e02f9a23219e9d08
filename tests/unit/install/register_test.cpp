#include "install/register.h"

#include "base/text.h"
#include "install/record.h"
#include "install_fixture.h"
#include "settings/registry.h"
#include "support/platform_id_override.h"
#include "support/test_support.h"

using namespace installtest;

namespace {

class RegisterTest : public InstallTest {
 protected:
  std::string AppPath() const { return settings.InstallFolder + "\\Kestrova"; }
  std::string StartLink() const { return GroupFolder() + "\\" + names.ApplicationName + ".lnk"; }
  std::string DesktopLink() const { return ShellFolder("Desktop") + "\\" + names.ApplicationName + ".lnk"; }
  std::string UninstallLink(const std::string& word = "Uninstall") const {
    return GroupFolder() + "\\" + word + " " + names.ApplicationName + ".lnk";
  }
  std::string Arguments(const std::string& language = "ENGLISH") const {
    return "/language " + language +
           " /uninstall HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\" +
           names.ApplicationName + ",HKEY_CURRENT_USER\\" + ProductPath();
  }
  std::string SystemEntry() const { return std::string(kUninstall) + "\\" + names.ApplicationName; }
};

}  // namespace

TEST_F(RegisterTest, WithoutDesktopShortcutTwoShortcutsAreMadeAndRecorded) {
  install::TPlatformIdOverride nt(2);
  install::RegisterInstallation(settings, "", false, names);

  EXPECT_TRUE(LinkIs(StartLink(), AppPath(), "", settings.InstallFolder + "\\"));
  EXPECT_TRUE(
      LinkIs(UninstallLink(), settings.InstallFolder + "\\ORBAXLiveUpdate.exe", Arguments(), settings.InstallFolder));
  EXPECT_FALSE(platform::FileExists(DesktopLink()));
  EXPECT_EQ(RecordedFiles(), StartLink() + ";" + UninstallLink() + ";");

  EXPECT_EQ(ReadString(HKCU, kRun, names.ApplicationName), AppPath());
  EXPECT_EQ(ReadString(HKCU, SystemEntry(), "DisplayName"), names.ApplicationName);
  EXPECT_EQ(ReadString(HKCU, SystemEntry(), "UninstallString"),
            "\"" + settings.InstallFolder + "\\ORBAXLiveUpdate.exe\" " + Arguments());
  EXPECT_FALSE(KeyExists(HKLM, SystemEntry()));
}

TEST_F(RegisterTest, WithDesktopShortcutThreeAreMadeAndRecordedInOrder) {
  install::TPlatformIdOverride nt(2);
  install::RecordInstalledFiles(settings, settings.InstallFolder + "\\Kestrova.exe;");
  install::RegisterInstallation(settings, "", true, names);

  EXPECT_TRUE(LinkIs(DesktopLink(), AppPath(), "", settings.InstallFolder + "\\"));
  EXPECT_TRUE(platform::FileExists(StartLink()));
  EXPECT_TRUE(platform::FileExists(UninstallLink()));
  // The files installed before keep their place in front.
  EXPECT_EQ(RecordedFiles(), settings.InstallFolder + "\\Kestrova.exe;" + StartLink() + ";" + DesktopLink() + ";" +
                                 UninstallLink() + ";");
}

TEST_F(RegisterTest, SecondRunRewritesEverythingAndRecordsNothingTwice) {
  install::TPlatformIdOverride nt(2);
  install::RegisterInstallation(settings, "", true, names);
  const std::string first = RecordedFiles();

  // Damage what a second run must put back, and record one shortcut in other case.
  platform::EraseFile(StartLink());
  platform::EraseFile(DesktopLink());
  platform::EraseFile(UninstallLink());
  WriteString(HKCU, kRun, names.ApplicationName, "old");
  WriteString(HKCU, SystemEntry(), "DisplayName", "old");
  WriteString(HKCU, SystemEntry(), "UninstallString", "old");
  std::string upper = text::AnsiUpperCase(StartLink());
  WriteString(HKCU, RecordPath(), "Files", upper + ";");

  install::RegisterInstallation(settings, "", true, names);
  EXPECT_TRUE(platform::FileExists(StartLink()));
  EXPECT_TRUE(platform::FileExists(DesktopLink()));
  EXPECT_TRUE(platform::FileExists(UninstallLink()));
  EXPECT_EQ(ReadString(HKCU, kRun, names.ApplicationName), AppPath());
  EXPECT_EQ(ReadString(HKCU, SystemEntry(), "DisplayName"), names.ApplicationName);
  EXPECT_NE(ReadString(HKCU, SystemEntry(), "UninstallString"), "old");
  EXPECT_EQ(RecordedFiles(), upper + ";" + DesktopLink() + ";" + UninstallLink() + ";");

  WriteString(HKCU, RecordPath(), "Files", first);
  EXPECT_FALSE(ReadValue(HKCU, SystemEntry(), "DisplayVersion").has_value());  // no statement, no version
  install::RegisterInstallation(settings, "5.4.0", true, names);
  EXPECT_EQ(RecordedFiles(), first);
  EXPECT_EQ(ReadString(HKCU, SystemEntry(), "DisplayVersion"), "5.4.0");
}

TEST_F(RegisterTest, OlderFamilyPutsTheSystemEntryBelowLocalMachine) {
  install::TPlatformIdOverride windows9x(1);
  install::RegisterInstallation(settings, "", false, names);
  EXPECT_EQ(ReadString(HKLM, SystemEntry(), "DisplayName"), names.ApplicationName);
  EXPECT_EQ(ReadString(HKLM, SystemEntry(), "UninstallString"),
            "\"" + settings.InstallFolder + "\\ORBAXLiveUpdate.exe\" " + Arguments());
  EXPECT_FALSE(KeyExists(HKCU, SystemEntry()));
  // The logon entry is the user's whatever the family.
  EXPECT_EQ(ReadString(HKCU, kRun, names.ApplicationName), AppPath());
  EXPECT_FALSE(ReadString(HKLM, kRun, names.ApplicationName).has_value());
}

TEST_F(RegisterTest, FrenchSectionNamesTheUninstallShortcutInFrench) {
  install::TPlatformIdOverride nt(2);
  UseLanguage("FRENCH");
  ASSERT_EQ(texts.S_BUninstall, "D\xE9sinstaller");
  install::RegisterInstallation(settings, "", false, names);
  const std::string link = UninstallLink("D\xE9sinstaller");
  EXPECT_TRUE(
      LinkIs(link, settings.InstallFolder + "\\ORBAXLiveUpdate.exe", Arguments("FRENCH"), settings.InstallFolder));
  EXPECT_FALSE(platform::FileExists(UninstallLink()));
  EXPECT_EQ(RecordedFiles(), StartLink() + ";" + link + ";");
}

TEST_F(RegisterTest, UnrecognisedProductKeyStillRegistersWithoutRecord) {
  install::TPlatformIdOverride nt(2);
  names.ProductRegistryKey = "HKCU\\" + ProductPath();
  settings.SetRegistryKeys(names.ProductRegistryKey);
  install::RegisterInstallation(settings, "", true, names);
  EXPECT_TRUE(platform::FileExists(StartLink()));
  EXPECT_TRUE(platform::FileExists(DesktopLink()));
  EXPECT_TRUE(platform::FileExists(UninstallLink()));
  EXPECT_EQ(ReadString(HKCU, kRun, names.ApplicationName), AppPath());
  EXPECT_EQ(ReadString(HKCU, SystemEntry(), "DisplayName"), names.ApplicationName);
  // The key is written with its own (unrecognised) root name.
  EXPECT_NE(ReadString(HKCU, SystemEntry(), "UninstallString")->find(",HKCU\\" + ProductPath()), std::string::npos);
  EXPECT_FALSE(KeyExists(HKCU, RecordPath()));
}

TEST_F(RegisterTest, ApplicationCommandWithFolderPointsAtItsFileName) {
  install::TPlatformIdOverride nt(2);
  names.ApplicationCommand = "bin\\Kestrova.exe";
  install::RegisterInstallation(settings, "", false, names);
  const std::string target = settings.InstallFolder + "\\Kestrova.exe";
  EXPECT_EQ(ReadString(HKCU, kRun, names.ApplicationName), target);
  EXPECT_TRUE(LinkIs(StartLink(), target, "", settings.InstallFolder + "\\"));
}

TEST_F(RegisterTest, ShellWithoutProgramsFolderMakesNoStrayShortcut) {
  install::TPlatformIdOverride nt(2);
  const auto programs = ReadString(HKCU, kShellFolders, "Programs");
  // Read as empty whether missing or empty; a hive that lost it gets it back on
  // the Linux port, so it is emptied instead.
  WriteString(HKCU, kShellFolders, "Programs", "");
  // The current folder's drive root is where "\<group>" would have gone.
  const std::string cwd = platform::GetCurrentDir();
  ASSERT_TRUE(platform::SetCurrentDir(settings.InstallFolder));
  install::RegisterInstallation(settings, "", false, names);
  platform::SetCurrentDir(cwd);
  WriteString(HKCU, kShellFolders, "Programs", *programs);

  const std::string stray = settings.InstallFolder.substr(0, 2) + "\\" + names.ProgramGroupName;
  EXPECT_FALSE(platform::DirectoryExists(stray));
  testsupport::RemoveTree(stray);
  EXPECT_EQ(RecordedFiles(), "");
  EXPECT_EQ(ReadString(HKCU, kRun, names.ApplicationName), AppPath());
  EXPECT_EQ(ReadString(HKCU, SystemEntry(), "DisplayName"), names.ApplicationName);
}
