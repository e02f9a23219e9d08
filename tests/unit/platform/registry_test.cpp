// The registry through TRegistry: keys, values, types, errors, enumeration and,
// on the Linux port, the hive files themselves and their behaviour under
// concurrent writers and killed writers.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "settings/registry.h"
#include "support/test_support.h"

using namespace platform;
using testsupport::HelperProgram;
using testsupport::Quoted;
using testsupport::TTestMachine;

namespace {

// A key of its own below HKEY_CURRENT_USER (and HKEY_LOCAL_MACHINE), deleted
// when the test leaves.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string guid = NewGuidText();
    base_ = "Software\\ORBAXLiveUpdateTests\\" + guid.substr(1, 36);
  }
  void TearDown() override {
    TRegistry reg;
    reg.DeleteKey(base_);
    reg.SetRootKey(HKEY_LOCAL_MACHINE_ID);
    reg.DeleteKey(base_);
  }
  std::string Sub(const std::string& rel) const { return base_ + "\\" + rel; }
  std::string ExpectRaise(const std::function<void()>& fn) {
    try {
      fn();
    } catch (const ERegistryException& e) {
      return e.Message;
    }
    return "(nothing raised)";
  }

  TTestMachine machine_;
  std::string base_;
};

std::string HiveText(const std::string& file) {
  return testsupport::ReadFileText(FromHostPath(std::string(std::getenv("ORBAX_PREFIX")) + "/" + file));
}

}  // namespace

TEST_F(RegistryTest, ErrorsCarryTheValueName) {
  TRegistry reg;
  EXPECT_EQ(ExpectRaise([&] { reg.WriteString("Name", "x"); }), "Failed to set data for 'Name'");
  EXPECT_EQ(reg.ReadString("Name"), "");
  ASSERT_TRUE(reg.OpenKey(base_, true));
  reg.WriteBool("Flag", true);
  EXPECT_EQ(ExpectRaise([&] { reg.ReadString("Flag"); }), "Invalid data type for 'Flag'");
  reg.WriteString("Text", "t");
  EXPECT_EQ(ExpectRaise([&] { reg.ReadInteger("Text"); }), "Invalid data type for 'Text'");
  EXPECT_EQ(ExpectRaise([&] { reg.ReadInteger("Missing"); }), "Failed to get data for 'Missing'");
  EXPECT_EQ(reg.ReadString("Missing"), "");
  reg.CloseKey();
  reg.CloseKey();  // closing twice does nothing
  ASSERT_TRUE(reg.OpenKeyReadOnly(base_));
  EXPECT_EQ(reg.ReadString("Text"), "t");
  EXPECT_EQ(ExpectRaise([&] { reg.WriteString("Text", "changed"); }), "Failed to set data for 'Text'");
  EXPECT_EQ(reg.ReadString("Text"), "t");
  try {
    reg.WriteBool("B", false);
    ADD_FAILURE() << "wrote into a read-only key";
  } catch (const Exception& e) {  // the ordinary error class catches it
    EXPECT_EQ(e.Message, "Failed to set data for 'B'");
  }
}

TEST_F(RegistryTest, OpenCreatesParentsAndKeepsTheOldKeyOnFailure) {
  TRegistry reg;
  EXPECT_FALSE(reg.OpenKey(Sub("a\\b\\c"), false));
  EXPECT_FALSE(reg.OpenKeyReadOnly(Sub("a")));
  EXPECT_FALSE(reg.HasOpenKey());
  ASSERT_TRUE(reg.OpenKey("\\" + Sub("a\\b\\c"), true));
  EXPECT_TRUE(reg.KeyExists(Sub("a")));
  EXPECT_TRUE(reg.KeyExists(Sub("a\\b")));
  reg.WriteString("Here", "c");
  EXPECT_FALSE(reg.OpenKey(Sub("zzz"), false));
  EXPECT_TRUE(reg.HasOpenKey());
  EXPECT_EQ(reg.ReadString("Here"), "c");  // still the old key
  // With or without a leading backslash, in any case: the same key.
  TRegistry other;
  ASSERT_TRUE(other.OpenKey(Sub("A\\B\\C"), false));
  EXPECT_EQ(other.ReadString("HERE"), "c");
  ASSERT_TRUE(other.OpenKeyReadOnly("\\" + Sub("a\\b\\c")));
  EXPECT_TRUE(other.ValueExists("here"));
}

TEST_F(RegistryTest, ValuesKeepTheirTypesAndText) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(base_, true));
  const std::string tricky = "C:\\Program Files\\\"quoted\" caf\xE9 = [x] ;";
  reg.WriteString("Path", tricky);
  reg.WriteString("", "default value");
  reg.WriteString("Empty", "");
  reg.WriteBool("On", true);
  reg.WriteBool("Off", false);
  reg.WriteInteger("Number", -2);
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKeyReadOnly(base_));
  EXPECT_EQ(reg.ReadString("Path"), tricky);
  EXPECT_EQ(reg.ReadString(""), "default value");
  EXPECT_TRUE(reg.ValueExists("Empty"));
  EXPECT_EQ(reg.ReadString("Empty"), "");
  EXPECT_EQ(reg.ReadInteger("On"), 1);
  EXPECT_EQ(reg.ReadInteger("Off"), 0);
  EXPECT_TRUE(reg.ReadBool("On"));
  EXPECT_EQ(reg.ReadInteger("Number"), -2);

  TRegKey key;
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER_ID, base_, false, false));
  TRegValue v;
  ASSERT_TRUE(key.GetValue("On", v));
  EXPECT_EQ(v.Type, REG_DWORD_TYPE);
  EXPECT_EQ(v.Data, std::string("\x01\0\0\0", 4));
  ASSERT_TRUE(key.GetValue("Path", v));
  EXPECT_EQ(v.Type, REG_SZ_TYPE);
  std::string bytes;
  for (int i = 0; i < 300; ++i) bytes += static_cast<char>(i);
  ASSERT_TRUE(key.SetValue("Blob", TRegValue{REG_BINARY_TYPE, bytes}));
  ASSERT_TRUE(key.SetValue("Lines", TRegValue{REG_SZ_TYPE, "one\r\ntwo"}));
  ASSERT_TRUE(key.GetValue("Blob", v));
  EXPECT_EQ(v.Type, REG_BINARY_TYPE);
  EXPECT_EQ(v.Data, bytes);
  EXPECT_EQ(reg.ReadString("Lines"), "one\r\ntwo");
  EXPECT_EQ(ExpectRaise([&] { reg.ReadString("Blob"); }), "Invalid data type for 'Blob'");
}

TEST_F(RegistryTest, DeleteValuesAndKeyTrees) {
  TRegistry reg;
  for (const char* k : {"tree\\a\\b\\c", "tree\\a\\d", "tree\\e", "keep"}) {
    ASSERT_TRUE(reg.OpenKey(Sub(k), true));
    reg.WriteString("v", k);
    reg.CloseKey();
  }
  ASSERT_TRUE(reg.OpenKey(Sub("keep"), false));
  EXPECT_TRUE(reg.DeleteValue("V"));
  EXPECT_FALSE(reg.ValueExists("v"));
  EXPECT_FALSE(reg.DeleteValue("v"));
  reg.CloseKey();
  EXPECT_TRUE(reg.DeleteKey("\\" + Sub("tree")));
  EXPECT_FALSE(reg.KeyExists(Sub("tree")));
  EXPECT_FALSE(reg.KeyExists(Sub("tree\\a\\b\\c")));
  EXPECT_TRUE(reg.KeyExists(Sub("keep")));
  EXPECT_FALSE(reg.DeleteKey(Sub("tree")));
  // An open key deleted behind the accessor's back fails cleanly.
  ASSERT_TRUE(reg.OpenKey(Sub("keep"), false));
  TRegistry other;
  EXPECT_TRUE(other.DeleteKey(Sub("keep")));
  EXPECT_FALSE(reg.ValueExists("v"));
  EXPECT_EQ(reg.ReadString("v"), "");
  EXPECT_THROW(reg.WriteString("v", "x"), ERegistryException);
}

TEST_F(RegistryTest, EnumerationReplacesTheList) {
  TRegistry reg;
  for (const char* k : {"zeta", "Alpha", "mid"}) {
    ASSERT_TRUE(reg.OpenKey(Sub(k), true));
    reg.CloseKey();
  }
  ASSERT_TRUE(reg.OpenKey(base_, false));
  for (const char* v : {"second", "First", "third"}) reg.WriteString(v, v);
  std::vector<std::string> names = {"stale"};
  reg.GetKeyNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"Alpha", "mid", "zeta"}));
  reg.GetValueNames(names);
  if (EmulatedMachine()) {
    EXPECT_EQ(names, (std::vector<std::string>{"second", "First", "third"}));  // as made
  } else {
    std::sort(names.begin(), names.end());  // Wine sorts them, Windows keeps them as made
    EXPECT_EQ(names, (std::vector<std::string>{"First", "second", "third"}));
  }
  reg.CloseKey();
  reg.GetValueNames(names);
  EXPECT_TRUE(names.empty());
}

TEST_F(RegistryTest, RootsAreKeptApart) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(base_, true));
  reg.WriteString("Where", "user");
  reg.SetRootKey(HKEY_LOCAL_MACHINE_ID);
  EXPECT_FALSE(reg.HasOpenKey());  // a new root closes the key
  EXPECT_EQ(reg.RootKey(), HKEY_LOCAL_MACHINE_ID);
  ASSERT_TRUE(reg.OpenKey(base_, true));
  EXPECT_FALSE(reg.ValueExists("Where"));
  reg.WriteString("Where", "machine");
  reg.SetRootKey(HKEY_LOCAL_MACHINE_ID);
  EXPECT_TRUE(reg.HasOpenKey());  // the same root changes nothing
  reg.SetRootKey(HKEY_CURRENT_USER_ID);
  ASSERT_TRUE(reg.OpenKeyReadOnly(base_));
  EXPECT_EQ(reg.ReadString("Where"), "user");
}

TEST_F(RegistryTest, ShellFoldersAreThere) {
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly("\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"));
  std::string programs = reg.ReadString("Programs");
  std::string desktop = reg.ReadString("Desktop");
  ASSERT_GT(programs.size(), 3u);
  ASSERT_GT(desktop.size(), 3u);
  EXPECT_EQ(programs[1], ':');
  EXPECT_EQ(desktop[1], ':');
  if (EmulatedMachine()) {
    EXPECT_EQ(programs.substr(0, 3), "C:\\");
    EXPECT_EQ(programs.substr(programs.size() - 9), "\\Programs");
    EXPECT_TRUE(ForceDirectories(programs));
    EXPECT_NE(HostPath(programs).find(std::getenv("ORBAX_PREFIX")), std::string::npos);
  }
}

TEST_F(RegistryTest, HivesAreRegedit4Text) {
  if (!EmulatedMachine()) GTEST_SKIP() << "the system keeps its own registry";
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(Sub("Kestrova"), true));
  reg.WriteString("Folder", "C:\\Program Files\\\"K\"");
  reg.WriteBool("Flag", true);
  reg.SetRootKey(HKEY_LOCAL_MACHINE_ID);
  ASSERT_TRUE(reg.OpenKey(Sub("Machine"), true));
  reg.WriteString("M", "1");
  std::string user = HiveText("user.reg");
  std::string system = HiveText("system.reg");
  EXPECT_EQ(user.substr(0, 9), "REGEDIT4\n");
  EXPECT_NE(user.find("\n[HKEY_CURRENT_USER\\" + Sub("Kestrova") +
                      "]\n\"Folder\"=\"C:\\\\Program Files\\\\\\\"K\\\"\"\n"
                      "\"Flag\"=dword:00000001\n"),
            std::string::npos)
      << user;
  EXPECT_EQ(user.find("HKEY_LOCAL_MACHINE"), std::string::npos);
  EXPECT_NE(system.find("[HKEY_LOCAL_MACHINE\\" + Sub("Machine") + "]\n\"M\"=\"1\"\n"), std::string::npos) << system;
  EXPECT_EQ(system.find("HKEY_CURRENT_USER"), std::string::npos);
}

TEST_F(RegistryTest, HandWrittenHivesAreReadAndBrokenOnesAreNotOverwritten) {
  if (!EmulatedMachine()) GTEST_SKIP() << "the system keeps its own registry";
  std::string prefix = std::getenv("ORBAX_PREFIX");
  std::string hive = FromHostPath(prefix + "/user.reg");
  testsupport::WriteFileText(hive,
                             "REGEDIT4\r\n\r\n; a comment\r\n[hkey_current_user\\Software\\Hand]\r\n"
                             "@=\"default\"\r\n\"Bin\"=hex:01,02,\\\r\n  03\r\n\"Exp\"=hex(2):25,00\r\n"
                             "\"Num\"=dword:0000ABCD\r\n");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey("Software\\Hand", false));
  EXPECT_EQ(reg.ReadString(""), "default");
  EXPECT_EQ(reg.ReadString("Exp"), "%");
  EXPECT_EQ(reg.ReadInteger("Num"), 0xABCD);
  TRegKey key;
  TRegValue v;
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER_ID, "Software\\Hand", false, true));
  ASSERT_TRUE(key.GetValue("Bin", v));
  EXPECT_EQ(v.Data, "\x01\x02\x03");
  reg.WriteString("New", "n");  // rewrites the hive in its own form
  EXPECT_NE(HiveText("user.reg").find("[HKEY_CURRENT_USER\\Software\\Hand]\n@=\"default\"\n"), std::string::npos);
  // Changed by hand in place right after, to the same size: seen, not the tree read before.
  std::string text = HiveText("user.reg");
  text.replace(text.find("\"New\"=\"n\""), 9, "\"New\"=\"m\"");
  testsupport::WriteFileText(hive, text);
  EXPECT_EQ(reg.ReadString("New"), "m");

  std::string broken = "REGEDIT4\n[HKEY_CURRENT_USER\\Software\\Hand]\n\"Good\"=\"g\"\nthis line means nothing\n";
  testsupport::WriteFileText(hive, broken);
  ASSERT_TRUE(reg.OpenKey("Software\\Hand", false));
  EXPECT_EQ(reg.ReadString("Good"), "g");
  EXPECT_THROW(reg.WriteString("Other", "o"), ERegistryException);
  EXPECT_EQ(HiveText("user.reg"), broken);  // nothing lost
}

TEST_F(RegistryTest, ConcurrentWritersLoseNothing) {
  if (!EmulatedMachine()) GTEST_SKIP() << "the system keeps its own registry";
  const int count = 100;
  std::string key = Sub("Concurrent");
  TProcessHandle a = StartProcess(
      Quoted(HelperProgram("lu-child")) + " regwrite " + Quoted(key) + " p " + std::to_string(count), true);
  TProcessHandle b = StartProcess(
      Quoted(HelperProgram("lu-child")) + " regwrite " + Quoted(key) + " q " + std::to_string(count), true);
  ASSERT_TRUE(a.Valid());
  ASSERT_TRUE(b.Valid());
  EXPECT_EQ(WaitForProcess(a, 120000), TWaitResult::Ended);
  EXPECT_EQ(WaitForProcess(b, 120000), TWaitResult::Ended);
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKeyReadOnly(key));
  std::vector<std::string> names;
  reg.GetValueNames(names);
  EXPECT_EQ(names.size(), static_cast<size_t>(2 * count));
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i), expected = std::string("v").append(n);
    EXPECT_EQ(reg.ReadString(std::string("p").append(n)), expected);
    EXPECT_EQ(reg.ReadString(std::string("q").append(n)), expected);
  }
}

TEST_F(RegistryTest, AWriterKilledAtAnyMomentLeavesAWholeHive) {
  if (!EmulatedMachine()) GTEST_SKIP() << "the system keeps its own registry";
  std::string key = Sub("Killed");
  TRegistry reg;
  ASSERT_TRUE(reg.OpenKey(Sub("Witness"), true));
  reg.WriteString("Still", "here");
  reg.CloseKey();
  std::mt19937 random(12345);
  for (int round = 0; round < 25; ++round) {
    TProcessHandle writer = StartProcess(Quoted(HelperProgram("lu-child")) + " regloop " + Quoted(key), true);
    ASSERT_TRUE(writer.Valid());
    SleepMs(5 + random() % 40);
    ASSERT_TRUE(TerminateProcessWith(writer, 1));
    ASSERT_EQ(WaitForProcess(writer, 10000), TWaitResult::Ended);
    std::string text = HiveText("user.reg");
    ASSERT_EQ(text.substr(0, 9), "REGEDIT4\n") << "round " << round;
    ASSERT_TRUE(reg.OpenKey(Sub("Witness"), false)) << "round " << round;
    EXPECT_EQ(reg.ReadString("Still"), "here");
    reg.WriteString("Round", std::to_string(round));  // the hive is whole: writing works
    reg.CloseKey();
  }
}

// The deletions an uninstallation scheduled for the next start: carried out and
// removed, except a file still held; other commands and other programs' values stay.
TEST_F(RegistryTest, PendingDeletesRunAtTheNextStart) {
  if (!EmulatedMachine()) GTEST_SKIP() << "Windows runs them itself when it starts";
  testsupport::TTempFolder dir;
  for (const char* name : {"gone.exe", "held.dll", "theirs.txt", "a.txt"}) testsupport::WriteFileText(dir / name, "x");
  const std::string key = "\\" + Sub("RunOnce");
  auto del = [](const char* shell, const std::string& path) { return std::string(shell) + " /C DEL \"" + path + "\""; };
  TRegistry reg;
  reg.SetRootKey(HKEY_LOCAL_MACHINE_ID);
  ASSERT_TRUE(reg.OpenKey(key, true));
  reg.WriteString("ORBAXLU_DEL_1", del("CMD.EXE", dir / "gone.exe"));
  reg.WriteString("ORBAXLU_DEL_2", del("COMMAND.COM", dir / "missing.txt"));
  reg.WriteString("ORBAXLU_DEL_3", del("CMD.EXE", dir / "held.dll"));
  reg.WriteString("ORBAXLU_DEL_4", del("CMD.EXE", dir / "*.txt"));
  reg.WriteString("ORBAXLU_DEL_5", "CMD.EXE /C RD /S /Q \"" + dir.Path() + "\"");
  reg.WriteString("Other_6", del("CMD.EXE", dir / "theirs.txt"));
  {
    TFileStream held(dir / "held.dll", TFileMode::OpenReadWrite);
    RunPendingDeletes(key, "ORBAXLU_DEL_");
  }
  EXPECT_FALSE(FileExists(dir / "gone.exe"));
  EXPECT_TRUE(FileExists(dir / "held.dll"));
  EXPECT_TRUE(FileExists(dir / "theirs.txt"));
  EXPECT_TRUE(FileExists(dir / "a.txt"));
  std::vector<std::string> names;
  reg.GetValueNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"ORBAXLU_DEL_3", "ORBAXLU_DEL_4", "ORBAXLU_DEL_5", "Other_6"}));
  // Free now, the held file goes at the following start.
  RunPendingDeletes(key, "ORBAXLU_DEL_");
  EXPECT_FALSE(FileExists(dir / "held.dll"));
  reg.GetValueNames(names);
  EXPECT_EQ(names, (std::vector<std::string>{"ORBAXLU_DEL_4", "ORBAXLU_DEL_5", "Other_6"}));
  RunPendingDeletes(Sub("NoSuchKey"), "ORBAXLU_DEL_");  // nothing to do, nothing made
  EXPECT_FALSE(reg.KeyExists(Sub("NoSuchKey")));
}
