#include "install/uninstall.h"

#include <algorithm>
#include <map>

#include "base/text.h"
#include "install/record.h"
#include "install/register.h"
#include "install/save_settings.h"
#include "install_fixture.h"
#include "platform/file_stream.h"
#include "platform/processes.h"
#include "platform/system.h"
#include "settings/registry.h"
#include "support/platform_id_override.h"
#include "support/recording_progress.h"

using namespace installtest;

TEST(CollapseBackslashes, RunsBecomeOneAndNothingElseChanges) {
  EXPECT_EQ(install::CollapseBackslashes("C:\\Temp\\\\{GUID}\\\\\\a.txt"), "C:\\Temp\\{GUID}\\a.txt");
  EXPECT_EQ(install::CollapseBackslashes("\\\\server\\share\\"), "\\server\\share\\");
  EXPECT_EQ(install::CollapseBackslashes("C:/a//b"), "C:/a//b");
  EXPECT_EQ(install::CollapseBackslashes(""), "");
  EXPECT_EQ(install::CollapseBackslashes("\\\\\\"), "\\");
}

namespace {

class UninstallTest : public InstallTest {
 protected:
  // RunOnce's values, name to data.
  std::map<std::string, std::string> RunOnce() const {
    std::map<std::string, std::string> values;
    for (const auto& name : ValueNames(HKLM, kRunOnce)) {
      const auto value = ReadValue(HKLM, kRunOnce, name);
      values[name] = value ? value->Data : "?";
    }
    return values;
  }
  std::string NtCommand(const std::string& path) const { return "CMD.EXE /C DEL \"" + path + "\""; }
  std::string Folder(const std::string& name) const { return settings.InstallFolder + "\\" + name; }
  testsupport::TRecordingProgress progress;
};

// The path with every backslash doubled.
std::string Doubled(const std::string& path) {
  std::string result;
  for (char c : path) result += c == '\\' ? std::string("\\\\") : std::string(1, c);
  return result;
}

}  // namespace

TEST_F(UninstallTest, LockedFileIsScheduledOnceWhateverTheNumberOfTries) {
  install::TPlatformIdOverride nt(2);
  const std::string file = MakeFile(Folder("bin\\Kestrova.exe"));
  platform::TFileStream holder(file, platform::TFileMode::CreateExclusive);
  EXPECT_FALSE(platform::EraseFile(file)) << "the file should be in use";

  // The doubled backslash of a joined temporary path is not kept.
  const std::string doubled = settings.InstallFolder + "\\\\bin\\Kestrova.exe";
  install::ScheduleDeleteAtRestart(doubled);
  EXPECT_EQ(RunOnce(), (std::map<std::string, std::string>{{"ORBAXLU_DEL_1", NtCommand(file)}}));
  install::ScheduleDeleteAtRestart(file);
  EXPECT_EQ(RunOnce(), (std::map<std::string, std::string>{{"ORBAXLU_DEL_1", NtCommand(file)}}));

  const std::string other = MakeFile(Folder("other.dll"));
  install::ScheduleDeleteAtRestart(other);
  install::ScheduleDeleteAtRestart(file);
  EXPECT_EQ(RunOnce(), (std::map<std::string, std::string>{{"ORBAXLU_DEL_1", NtCommand(file)},
                                                           {"ORBAXLU_DEL_2", NtCommand(other)}}));
}

TEST_F(UninstallTest, MissingFileIsNotScheduled) {
  install::ScheduleDeleteAtRestart(Folder("never-there.exe"));
  EXPECT_TRUE(RunOnce().empty());
}

TEST_F(UninstallTest, NumberIsOneAboveTheHighestOfAnyProgram) {
  install::TPlatformIdOverride nt(2);
  const std::string file = MakeFile(Folder("a.txt"));
  struct Case {
    std::vector<std::pair<std::string, std::string>> present;
    std::string expected;
  } cases[] = {
      {{}, "ORBAXLU_DEL_1"},
      {{{"ORBAXLU_DEL_1", "x"}, {"ORBAXLU_DEL_3", "y"}}, "ORBAXLU_DEL_4"},
      {{{"OtherProgram_7", "z"}}, "ORBAXLU_DEL_8"},
      {{{"ORBAXLU_DEL_1", "x"}, {"Setup_7", "z"}, {"9", "bare number"}}, "ORBAXLU_DEL_10"},
      // Sorted as texts, 10 comes before 2: the high mark keeps 11.
      {{{"ORBAXLU_DEL_10", "x"}, {"ORBAXLU_DEL_2", "y"}}, "ORBAXLU_DEL_11"},
      // Names that do not end in a number, and numbered values that are no text.
      {{{"ORBAXLU_DEL_x", "x"}, {"Trailing_", "y"}, {"", "default"}}, "ORBAXLU_DEL_1"},
  };
  for (const auto& c : cases) {
    TValueSnapshot(HKLM, kRunOnce).Clear();
    for (const auto& [name, data] : c.present) WriteString(HKLM, kRunOnce, name, data);
    install::ScheduleDeleteAtRestart(file);
    const auto values = RunOnce();
    EXPECT_EQ(values.size(), c.present.size() + 1) << c.expected;
    EXPECT_EQ(values.count(c.expected) ? values.at(c.expected) : "<missing>", NtCommand(file)) << c.expected;
  }

  TValueSnapshot(HKLM, kRunOnce).Clear();
  WriteDword(HKLM, kRunOnce, "Binary_30", 5);
  WriteString(HKLM, kRunOnce, "ORBAXLU_DEL_2", "y");
  install::ScheduleDeleteAtRestart(file);
  EXPECT_EQ(RunOnce()["ORBAXLU_DEL_3"], NtCommand(file));
}

TEST_F(UninstallTest, SameCommandIsRewrittenInPlace) {
  install::TPlatformIdOverride nt(2);
  const std::string file = MakeFile(Folder("a.txt"));
  WriteString(HKLM, kRunOnce, "ORBAXLU_DEL_2", NtCommand(file));
  WriteString(HKLM, kRunOnce, "ORBAXLU_DEL_5", "other");
  // Letter case counts: this one is another command.
  WriteString(HKLM, kRunOnce, "ORBAXLU_DEL_1", text::AnsiUpperCase(NtCommand(file)));
  install::ScheduleDeleteAtRestart(file);
  EXPECT_EQ(RunOnce().size(), 3u);
  EXPECT_EQ(RunOnce()["ORBAXLU_DEL_2"], NtCommand(file));
}

TEST_F(UninstallTest, OlderFamilyDeletesByShortName) {
  const std::string file = MakeFile(Folder("Long File Name Of Kestrova.txt"));
  {
    install::TPlatformIdOverride nt(2);
    EXPECT_EQ(install::DeleteCommand(settings.InstallFolder + "\\\\Long File Name Of Kestrova.txt"), NtCommand(file));
  }
  install::TPlatformIdOverride windows9x(1);
  const std::string shortName = platform::ShortPathName(file);
  ASSERT_FALSE(shortName.empty());
  if (!platform::EmulatedMachine()) {
    EXPECT_EQ(shortName.find(' '), std::string::npos) << shortName;
  }
  install::ScheduleDeleteAtRestart(file);
  EXPECT_EQ(RunOnce(),
            (std::map<std::string, std::string>{{"ORBAXLU_DEL_1", "COMMAND.COM /C DEL \"" + shortName + "\""}}));
}

TEST_F(UninstallTest, FilesAreDeletedAndOnlyTheirOwnEmptiedFoldersRemoved) {
  install::TPlatformIdOverride nt(2);
  const std::string kept = MakeFile(Folder("data\\user.cfg"));
  const std::string lockedFile = MakeFile(Folder("Kestrova.exe"));
  std::vector<std::string> recorded = {
      MakeFile(Folder("data\\ad.xml")),      // folder keeps user.cfg
      MakeFile(Folder("lib\\deep\\a.dll")),  // deep emptied, lib left though empty
      lockedFile,                            // in use: scheduled
      Folder("obs.xml"),                     // never written: passed over
      MakeFile(Folder("lib\\deep2\\b.dll")),
  };
  std::string list;
  for (const auto& f : recorded) list += f + ";";
  WriteString(HKCU, RecordPath(), "Files", list);
  // A running program keeps its file, as the updater does its own.
  const std::string ready = install_ / "ready";
  const std::string release = install_ / "release";
  platform::TProcessHandle holder = platform::StartProcess(
      testsupport::Quoted(testsupport::HelperProgram("lu-child")) + " hold " + testsupport::Quoted(lockedFile) + " " +
          testsupport::Quoted(ready) + " " + testsupport::Quoted(release),
      true);
  ASSERT_TRUE(holder.Valid());
  ASSERT_TRUE(testsupport::WaitForFile(ready, 20000));
  platform::EraseFile(ready);

  EXPECT_TRUE(install::UninstallFiles(settings, progress));

  EXPECT_FALSE(platform::FileExists(recorded[0]));
  EXPECT_TRUE(platform::FileExists(kept));
  EXPECT_FALSE(platform::DirectoryExists(Folder("lib\\deep")));
  EXPECT_FALSE(platform::DirectoryExists(Folder("lib\\deep2")));
  EXPECT_TRUE(platform::DirectoryExists(Folder("lib")));
  EXPECT_TRUE(platform::FileExists(lockedFile));
  EXPECT_EQ(RunOnce(), (std::map<std::string, std::string>{{"ORBAXLU_DEL_1", NtCommand(lockedFile)}}));
  // The record stays for the registry step.
  EXPECT_EQ(RecordedFiles(), list);
  EXPECT_EQ(progress.Calls, (std::vector<std::string>{"max 0", "caption Deleting files", "overall+1", "max 5", "pos 0",
                                                      "pos 1", "pos 2", "pos 3", "pos 4", "pos 5"}));

  testsupport::WriteFileText(release, "");
  EXPECT_EQ(platform::WaitForProcess(holder, 20000), platform::TWaitResult::Ended);
}

TEST_F(UninstallTest, ReadOnlyFilesAreDeletedToo) {
  const std::string file = MakeFile(Folder("sub\\readonly.txt"));
  platform::SetAttributes(file, platform::faReadOnly, 0444);
  WriteString(HKCU, RecordPath(), "Files", file + ";");
  install::UninstallFiles(settings, progress);
  EXPECT_FALSE(platform::FileExists(file));
  EXPECT_FALSE(platform::DirectoryExists(Folder("sub")));
  EXPECT_TRUE(RunOnce().empty());
}

TEST_F(UninstallTest, EntryWithoutRecordDeletesNoFilesButIsItselfDeleted) {
  const std::string file = MakeFile(Folder("Kestrova.exe"));
  WriteString(HKCU, ProductPath(), "Language", "EN");
  WriteString(HKCU, std::string(kUninstall) + "\\" + names.ApplicationName, "DisplayName", "x");
  install::UninstallFiles(settings, progress);
  EXPECT_EQ(progress.Calls, (std::vector<std::string>{"max 0", "caption Deleting files", "overall+1"}));
  progress.Calls.clear();
  install::UninstallRegistries(settings, progress);
  EXPECT_EQ(progress.Calls,
            (std::vector<std::string>{"max 0", "caption Deleting registries", "overall+1", "max 1", "step"}));
  EXPECT_TRUE(platform::FileExists(file));
  EXPECT_FALSE(KeyExists(HKCU, ProductPath()));
  EXPECT_TRUE(KeyExists(HKCU, std::string(kUninstall) + "\\" + names.ApplicationName));
}

TEST_F(UninstallTest, TopLevelEntriesStayButTheirFilesGo) {
  const std::string top = "LUTop" + tag;
  const std::string file = MakeFile(Folder("Kestrova.exe"));
  WriteString(HKCU, top + "\\Uninstall", "Files", file + ";");
  WriteString(HKCU, top, "Keep", "1");
  settings.SetRegistryKeys("HKEY_CURRENT_USER\\" + top + ",HKEY_CURRENT_USER\\\\" + ProductPath());
  WriteString(HKCU, ProductPath(), "Keep", "1");
  ASSERT_EQ(settings.RegistryKeys.Count(), 2);
  install::UninstallFiles(settings, progress);
  install::UninstallRegistries(settings, progress);
  EXPECT_FALSE(platform::FileExists(file));
  EXPECT_EQ(ReadString(HKCU, top, "Keep"), "1");
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "Keep"), "1");  // its path began with "\"
  platform::RegDeleteKeyTree(HKCU, top);
}

TEST_F(UninstallTest, DoubledAndTrailingBackslashesNeverReachTheKeyAbove) {
  const std::string product = ProductPath();
  const std::string file = MakeFile(Folder("Kestrova.exe"));
  struct Case {
    std::string path;
    bool productDefault, subKey, subDefault;  // what stays
  } cases[] = {
      {product + "\\", false, true, true},  // the product key's default value, not the key
      {product + "\\\\\\", false, true, true},
      {Doubled(product) + "\\\\", false, true, true},
      {Doubled(product) + "\\\\Sub", true, false, false},
      {product + "\\\\Sub\\", true, true, false},
  };
  for (const Case& c : cases) {
    WriteString(HKCU, product, "", "default");
    WriteString(HKCU, product, "Keep", "1");
    WriteString(HKCU, product + "\\Sub", "", "sub default");
    WriteString(HKCU, RecordPath(), "Files", file + ";");
    settings.SetRegistryKeys("HKEY_CURRENT_USER\\" + c.path);
    ASSERT_EQ(settings.RegistryKeys.Count(), 1);
    install::UninstallFiles(settings, progress);
    install::UninstallRegistries(settings, progress);
    EXPECT_EQ(ReadString(HKCU, product, "Keep"), "1") << c.path;
    EXPECT_EQ(ReadString(HKCU, product, "").has_value(), c.productDefault) << c.path;
    EXPECT_EQ(KeyExists(HKCU, product + "\\Sub"), c.subKey) << c.path;
    EXPECT_EQ(ReadString(HKCU, product + "\\Sub", "").has_value(), c.subDefault) << c.path;
    // A default value has no installation record of its own.
    EXPECT_TRUE(platform::FileExists(file)) << c.path;
  }
}

namespace {

// Every key and value below a root, as "path|name=type:data" lines, leaving out
// the keys at or below "skip".
void DumpTree(uint32_t root, const std::string& path, const std::string& skip, std::vector<std::string>& out) {
  if (!skip.empty() && text::AnsiSameText(path, skip)) return;
  platform::TRegKey key;
  if (!key.Open(root, path, false, true)) return;
  out.push_back(path);
  std::vector<std::string> names;
  key.ValueNames(names);
  for (const auto& name : names) {
    platform::TRegValue value;
    key.GetValue(name, value);
    out.push_back(path + "|" + name + "=" + text::IntToStr(value.Type) + ":" + value.Data);
  }
  key.SubKeyNames(names);
  for (const auto& name : names) DumpTree(root, path.empty() ? name : path + "\\" + name, skip, out);
}

}  // namespace

TEST_F(UninstallTest, ListsNamingARootOrAWholeBranchLeaveOtherProgramsAlone) {
  // The system's registry is shared by every program on it: these lists would
  // wipe it if the guard failed.
  if (!platform::EmulatedMachine()) GTEST_SKIP() << "only on a machine of the test's own";
  install::TPlatformIdOverride nt(2);
  const std::string others = MakeFile(install_ / "Other\\other.exe");
  WriteString(HKCU, "Software\\OtherVendor\\App", "Setting", "1");
  WriteString(HKCU, "Software\\OtherVendor\\App\\..", "dots", "a key named so");
  WriteString(HKCU, std::string(kRun), "OtherApp", others);
  WriteString(HKCU, std::string(kUninstall) + "\\OtherApp", "DisplayName", "Other");
  // Where a branch read as a key would look for its installation record.
  for (const std::string& key : {std::string("Software\\Uninstall"), std::string(kRun) + "\\Uninstall"}) {
    WriteString(HKCU, key, "Files", others + ";");
    WriteString(HKCU, key, "UninstallKey", "OtherApp");
  }
  WriteString(HKLM, "Software\\OtherVendor", "Setting", "1");

  const std::string run = "HKEY_CURRENT_USER\\" + std::string(kRun);
  const char* const lists[] = {
      "HKEY_CURRENT_USER\\Software\\",
      "HKEY_CURRENT_USER\\Software\\\\",
      "HKEY_CURRENT_USER\\\\Software\\",
      "HKEY_CURRENT_USER",
      "HKEY_CURRENT_USER\\",
      "HKEY_CURRENT_USER\\\\",
      "HKEY_CURRENT_USER\\\\\\",
      "HKEY_CURRENT_USER/Software",
      "HKEY_CURRENT_USER\\Software/",
      "HKEY_CURRENT_USER\\Software\\OtherVendor/App",
      "HKEY_CURRENT_USER\\Software\\OtherVendor\\App\\..\\..",
      "HKEY_CURRENT_USER\\Software\\.\\OtherVendor",
      "HKEY_LOCAL_MACHINE\\Software\\",
      "HKEY_LOCAL_MACHINE\\\\",
  };
  std::vector<std::string> cases(std::begin(lists), std::end(lists));
  cases.push_back(run + "\\");
  cases.push_back(run + "\\\\");
  cases.push_back(Doubled(run) + "\\\\");

  const std::string product = "HKEY_CURRENT_USER\\" + ProductPath();
  for (const std::string& list : cases) {
    const std::string file = MakeFile(Folder("Kestrova.exe"));
    WriteString(HKCU, ProductPath(), "Language", "EN");
    WriteString(HKCU, RecordPath(), "Files", file + ";");
    std::vector<std::string> before, beforeMachine;
    DumpTree(HKCU, "", ProductPath(), before);
    DumpTree(HKLM, "", "", beforeMachine);

    settings.SetRegistryKeys(list + "," + product);
    install::UninstallFiles(settings, progress);
    install::UninstallRegistries(settings, progress);

    std::vector<std::string> after, afterMachine;
    DumpTree(HKCU, "", ProductPath(), after);
    DumpTree(HKLM, "", "", afterMachine);
    EXPECT_EQ(after, before) << list;
    EXPECT_EQ(afterMachine, beforeMachine) << list;
    EXPECT_TRUE(platform::FileExists(others)) << list;
    EXPECT_FALSE(platform::FileExists(file)) << list;
    EXPECT_FALSE(KeyExists(HKCU, ProductPath())) << list;
  }
}

TEST_F(UninstallTest, NestedKeysAreRemovedCompletelyAndValuesByName) {
  const std::string product = ProductPath();
  WriteString(HKCU, product, "Language", "EN");
  WriteString(HKCU, product + "\\A\\B\\C", "v", "1");
  WriteString(HKCU, product + "\\A\\B2", "v", "1");
  WriteString(HKCU, product + "\\Z", "", "default");
  WriteString(HKCU, kRun, names.ApplicationName, "C:\\x\\Kestrova");
  WriteString(HKCU, kRun, names.ApplicationName + "Other", "C:\\y");
  install::DeleteRegistryItem(product, HKCU);
  EXPECT_FALSE(KeyExists(HKCU, product));
  EXPECT_TRUE(KeyExists(HKCU, "Software\\ORBAXTest\\" + tag));  // the parent stays

  install::DeleteRegistryItem(std::string(kRun) + "\\" + names.ApplicationName, HKCU);
  EXPECT_FALSE(ReadString(HKCU, kRun, names.ApplicationName).has_value());
  EXPECT_EQ(ReadString(HKCU, kRun, names.ApplicationName + "Other"), "C:\\y");
  DeleteValue(HKCU, kRun, names.ApplicationName + "Other");
  // Nothing by that name: nothing happens.
  install::DeleteRegistryItem("Software\\ORBAXTest\\" + tag + "\\Nothing\\Here", HKCU);
  EXPECT_TRUE(KeyExists(HKCU, "Software\\ORBAXTest\\" + tag));
}

TEST_F(UninstallTest, SystemEntryFollowsThePlatformFamily) {
  const std::string entry = std::string(kUninstall) + "\\" + names.ApplicationName;
  WriteString(HKCU, RecordPath(), "UninstallKey", names.ApplicationName);
  for (uint32_t id : {2u, 1u}) {
    install::TPlatformIdOverride family(id);
    WriteString(HKCU, entry + "\\Sub", "DisplayName", "x");
    WriteString(HKLM, entry + "\\Sub", "DisplayName", "x");
    install::DeleteUninstallEntry(ProductPath(), HKCU);
    EXPECT_EQ(KeyExists(HKCU, entry), id != 2) << id;
    EXPECT_EQ(KeyExists(HKLM, entry), id == 2) << id;
    platform::RegDeleteKeyTree(HKCU, entry);
    platform::RegDeleteKeyTree(HKLM, entry);
  }
}

TEST_F(UninstallTest, EmptyUninstallKeyLeavesOtherProgramsEntries) {
  install::TPlatformIdOverride nt(2);
  const std::string neighbour = std::string(kUninstall) + "\\" + names.ApplicationName;
  WriteString(HKCU, neighbour, "DisplayName", "another program");
  for (const char* name : {"", "\\", "\\\\"}) {
    WriteString(HKCU, RecordPath(), "UninstallKey", name);
    install::DeleteUninstallEntry(ProductPath(), HKCU);
    EXPECT_EQ(ReadString(HKCU, neighbour, "DisplayName"), "another program") << "[" << name << "]";
  }
}

TEST_F(UninstallTest, RecordValuesThatAreNotTextRaise) {
  WriteDword(HKCU, RecordPath(), "Files", 3);
  EXPECT_THROW(install::UninstallFiles(settings, progress), ERegistryException);
  WriteDword(HKCU, RecordPath(), "UninstallKey", 3);
  EXPECT_THROW(install::UninstallRegistries(settings, progress), ERegistryException);
}

TEST_F(UninstallTest, RegisteredUninstallListUndoesAWholeInstallation) {
  install::TPlatformIdOverride nt(2);
  const std::string desktop = ShellFolder("Desktop");
  const std::vector<std::string> desktopBefore = platform::ListDir(desktop);
  // What the copy step, the settings and the registration leave behind.
  std::string copied;
  for (const char* name : {"Kestrova", "ORBAXLiveUpdate.exe", "lang\\fr.xml", "lang\\en.xml"})
    copied += MakeFile(Folder(name)) + ";";
  install::RecordInstalledFiles(settings, copied);
  ASSERT_TRUE(install::SaveSettings(settings, "", nullptr, names, [](std::string&, int32_t&) { return false; }));
  for (const char* name : {"ad.gif", "id.xml", "KestrovaApp.log"}) MakeFile(Folder(name));
  install::RegisterInstallation(settings, "", true, names);
  ASSERT_TRUE(KeyExists(HKCU, std::string(kUninstall) + "\\" + names.ApplicationName));

  // The uninstall command the registration left, as a later run would read it.
  const std::string command =
      *ReadString(HKCU, std::string(kUninstall) + "\\" + names.ApplicationName, "UninstallString");
  const std::string list = command.substr(command.find("/uninstall ") + 11);
  TLiveUpdate uninstall;
  uninstall.Texts = &texts;
  uninstall.InstallFolder = settings.InstallFolder;
  uninstall.SetRegistryKeys(list);
  ASSERT_EQ(uninstall.RegistryKeys.Count(), 2);
  EXPECT_TRUE(install::UninstallFiles(uninstall, progress));
  EXPECT_TRUE(install::UninstallRegistries(uninstall, progress));

  EXPECT_TRUE(platform::ListDir(settings.InstallFolder).empty());
  EXPECT_FALSE(platform::DirectoryExists(GroupFolder()));
  EXPECT_FALSE(platform::FileExists(desktop + "\\" + names.ApplicationName + ".lnk"));
  EXPECT_TRUE(platform::DirectoryExists(desktop));
  EXPECT_EQ(platform::ListDir(desktop), desktopBefore);
  EXPECT_FALSE(ReadString(HKCU, kRun, names.ApplicationName).has_value());
  EXPECT_FALSE(KeyExists(HKCU, std::string(kUninstall) + "\\" + names.ApplicationName));
  EXPECT_FALSE(KeyExists(HKCU, ProductPath()));
  EXPECT_TRUE(RunOnce().empty());
}
