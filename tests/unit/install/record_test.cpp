#include "install/record.h"

#include "install_fixture.h"
#include "settings/registry.h"

using namespace installtest;

TEST(MergeFileLists, AppendsOnlyWhatIsMissingIgnoringCaseAndKeepsOrder) {
  struct Case {
    const char* existing;
    const char* added;
    const char* merged;
  } cases[] = {
      {"", "C:\\a;C:\\b;", "C:\\a;C:\\b;"},
      {"C:\\b;C:\\a;", "C:\\a;C:\\c;", "C:\\b;C:\\a;C:\\c;"},
      {"C:\\App\\Kestrova.exe;", "c:\\app\\KESTROVA.EXE;", "C:\\App\\Kestrova.exe;"},
      // ISO-8859-1 letters compare without case too.
      {"C:\\D\xE9sinstaller.lnk;", "C:\\D\xC9SINSTALLER.LNK;", "C:\\D\xE9sinstaller.lnk;"},
      // A path twice in the new list lands once; a missing final ";" is implied.
      {"C:\\x;", "C:\\y;C:\\Y;C:\\z", "C:\\x;C:\\y;C:\\z;"},
      {"C:\\x", "", "C:\\x;"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(install::MergeFileLists(c.existing, c.added), c.merged) << c.existing << " + " << c.added;
  }
}

TEST_F(InstallTest, FirstRecordWritesTheListUnchanged) {
  // Not the joined form, not sorted: exactly what was given.
  const std::string list = "C:\\Inst\\z.dll;C:\\Inst\\a.exe;C:\\Inst\\z.dll";
  install::RecordInstalledFiles(settings, list);
  EXPECT_EQ(RecordedFiles(), list);
}

TEST_F(InstallTest, LaterRecordsOnlyGrowTheList) {
  install::RecordInstalledFiles(settings, "C:\\Inst\\b.exe;C:\\Inst\\a.dll;");
  install::RecordInstalledFiles(settings, "C:\\INST\\A.DLL;C:\\Inst\\c.txt;");
  EXPECT_EQ(RecordedFiles(), "C:\\Inst\\b.exe;C:\\Inst\\a.dll;C:\\Inst\\c.txt;");
  install::RecordInstalledFiles(settings, "c:\\inst\\c.TXT;");
  EXPECT_EQ(RecordedFiles(), "C:\\Inst\\b.exe;C:\\Inst\\a.dll;C:\\Inst\\c.txt;");
}

TEST_F(InstallTest, MergedListCarriesOverToTheNextProductKey) {
  const std::string second = ProductPath() + "Second";
  settings.SetRegistryKeys(names.ProductRegistryKey + ",HKEY_CURRENT_USER\\" + second);
  WriteString(HKCU, RecordPath(), "Files", "C:\\one;");
  WriteString(HKCU, second + "\\Uninstall", "Files", "C:\\two;");
  install::RecordInstalledFiles(settings, "C:\\new;");
  EXPECT_EQ(RecordedFiles(), "C:\\one;C:\\new;");
  EXPECT_EQ(ReadString(HKCU, second + "\\Uninstall", "Files"), "C:\\two;C:\\one;C:\\new;");
  platform::RegDeleteKeyTree(HKCU, second);
}

TEST_F(InstallTest, NoProductKeyRecordsNothing) {
  settings.SetRegistryKeys("HKCU\\" + ProductPath());  // abbreviated root: not recognised
  ASSERT_EQ(settings.RegistryKeys.Count(), 0);
  install::RecordInstalledFiles(settings, "C:\\a;");
  EXPECT_FALSE(KeyExists(HKCU, RecordPath()));
}

TEST_F(InstallTest, RecordThatIsNotTextRaisesTheRegistryError) {
  WriteDword(HKCU, RecordPath(), "Files", 7);
  try {
    install::RecordInstalledFiles(settings, "C:\\a;");
    FAIL() << "no error";
  } catch (ERegistryException& e) {
    EXPECT_EQ(e.Message, "Invalid data type for 'Files'");
  }
}
