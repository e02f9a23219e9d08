// Windows behaviour of the registry, shortcut files, the proxy query, GUIDs and
// privileges, checked against the system's own tools where it has them (reg.exe,
// the shell's handling of .lnk files). Runs on the Windows build only.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/processes.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace {

using namespace platform;

bool OnWin32() { return HostPath("C:\\") == "C:\\"; }

#define SKIP_UNLESS_WIN32() \
  if (!OnWin32()) GTEST_SKIP() << "Windows behaviour"

std::string ReadAll(const std::string& path) {
  TFileStream s(path, TFileMode::OpenRead);
  std::string data(static_cast<size_t>(s.Size()), '\0');
  s.ReadBuffer(data.data(), static_cast<int64_t>(data.size()));
  return data;
}

TRegValue Sz(const std::string& text) { return TRegValue{REG_SZ_TYPE, text}; }
TRegValue Dword(uint32_t v) {
  std::string d(4, '\0');
  std::memcpy(d.data(), &v, 4);  // the registry stores DWORDs little-endian, as x86 does
  return TRegValue{REG_DWORD_TYPE, d};
}

// A key of its own below HKEY_CURRENT_USER and a scratch folder, both removed afterwards.
class Win32Registry : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!OnWin32()) return;
    key_ = "Software\\ORBAXPlatformTest\\" + NewGuidText();
    dir_ = TempDir() + "lu-w32-" + NewGuidText();
    ASSERT_TRUE(CreateDir(dir_));
  }
  void TearDown() override {
    if (key_.empty()) return;
    RegDeleteKeyTree(HKEY_CURRENT_USER_ID, key_);
    for (const auto& name : ListDir(dir_)) EraseFile(dir_ + "\\" + name);
    RemoveDir(dir_);
  }
  // What reg.exe prints for a query, through the interpreter's redirection.
  std::string RegQuery(const std::string& args) {
    std::string out = dir_ + "\\reg-out.txt";
    EXPECT_TRUE(RunHiddenAndWait("CMD.EXE /C reg " + args + " > \"" + out + "\""));
    std::string text = FileExists(out) ? ReadAll(out) : std::string();
    EraseFile(out);
    return text;
  }

  std::string key_, dir_;
};

}  // namespace

TEST_F(Win32Registry, ValuesOfEveryTypeRoundTripAndReachRegExe) {
  SKIP_UNLESS_WIN32();
  TRegKey key;
  // Created with its missing parents; a leading backslash changes nothing.
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER_ID, "\\" + key_ + "\\Uninstall", true, false));
  const std::string ansi = "Caf\xE9 \"quoted\" ;a;b;";
  const std::string binary("\x00\x01\xFF\x00", 4);
  const std::string multi("one\0two\0", 8);
  EXPECT_TRUE(key.SetValue("Files", Sz(ansi)));
  EXPECT_TRUE(key.SetValue("Flag", Dword(1)));
  EXPECT_TRUE(key.SetValue("Blob", TRegValue{REG_BINARY_TYPE, binary}));
  EXPECT_TRUE(key.SetValue("Expand", TRegValue{REG_EXPAND_SZ_TYPE, "%TEMP%\\x"}));
  EXPECT_TRUE(key.SetValue("Multi", TRegValue{REG_MULTI_SZ_TYPE, multi}));
  EXPECT_TRUE(key.SetValue("Empty", Sz("")));
  EXPECT_TRUE(key.SetValue("", Sz("default")));

  TRegValue v;
  ASSERT_TRUE(key.GetValue("Files", v));
  EXPECT_EQ(v.Type, REG_SZ_TYPE);
  EXPECT_EQ(v.Data, ansi);
  ASSERT_TRUE(key.GetValue("Flag", v));
  EXPECT_EQ(v.Type, REG_DWORD_TYPE);
  EXPECT_EQ(v.Data, std::string("\x01\x00\x00\x00", 4));
  ASSERT_TRUE(key.GetValue("Blob", v));
  EXPECT_EQ(v.Type, REG_BINARY_TYPE);
  EXPECT_EQ(v.Data, binary);
  ASSERT_TRUE(key.GetValue("Expand", v));
  EXPECT_EQ(v.Type, REG_EXPAND_SZ_TYPE);
  EXPECT_EQ(v.Data, "%TEMP%\\x");  // not expanded
  ASSERT_TRUE(key.GetValue("Multi", v));
  EXPECT_EQ(v.Type, REG_MULTI_SZ_TYPE);
  EXPECT_EQ(v.Data, multi);
  ASSERT_TRUE(key.GetValue("Empty", v));
  EXPECT_EQ(v.Data, "");
  ASSERT_TRUE(key.GetValue("", v));
  EXPECT_EQ(v.Data, "default");
  EXPECT_FALSE(key.GetValue("Missing", v));
  EXPECT_EQ(LastError(), 2u);

  // A long value is read whole.
  const std::string big(70000, 'x');
  EXPECT_TRUE(key.SetValue("Big", Sz(big)));
  ASSERT_TRUE(key.GetValue("Big", v));
  EXPECT_EQ(v.Data, big);

  std::vector<std::string> names;
  ASSERT_TRUE(key.ValueNames(names));
  EXPECT_EQ(names.size(), 8u);
  EXPECT_NE(std::find(names.begin(), names.end(), "Files"), names.end());
  EXPECT_TRUE(key.HasValue("Flag"));
  EXPECT_TRUE(key.DeleteValue("Flag"));
  EXPECT_FALSE(key.HasValue("Flag"));
  EXPECT_FALSE(key.DeleteValue("Flag"));
  key.Close();
  EXPECT_FALSE(key.IsOpen());
  key.Close();  // closing twice does nothing

  // The system's own tool sees what we wrote, and we see what it writes.
  std::string shown = RegQuery("query \"HKCU\\" + key_ + "\\Uninstall\" /v Files");
  EXPECT_NE(shown.find("REG_SZ"), std::string::npos) << shown;
  EXPECT_NE(shown.find("\"quoted\" ;a;b;"), std::string::npos) << shown;
  RegQuery("add \"HKCU\\" + key_ + "\" /v FromRegExe /t REG_DWORD /d 42 /f");
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER_ID, key_, false, true));
  ASSERT_TRUE(key.GetValue("FromRegExe", v));
  EXPECT_EQ(v.Type, REG_DWORD_TYPE);
  EXPECT_EQ(v.Data, std::string("\x2A\x00\x00\x00", 4));
  // Opened for reading only: writes are refused with "access denied".
  EXPECT_FALSE(key.SetValue("X", Sz("y")));
  EXPECT_EQ(LastError(), 5u);
  ASSERT_TRUE(key.SubKeyNames(names));
  EXPECT_EQ(names, std::vector<std::string>{"Uninstall"});
}

TEST_F(Win32Registry, OpeningMissingKeysAndMovingOwnership) {
  SKIP_UNLESS_WIN32();
  TRegKey key;
  EXPECT_FALSE(key.Open(HKEY_CURRENT_USER_ID, key_ + "\\Missing", false, false));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_FALSE(key.Open(0x12345678u, "Software", false, true));  // not a root
  EXPECT_FALSE(key.SetValue("a", Sz("b")));
  EXPECT_FALSE(key.HasValue("a"));
  std::vector<std::string> names{"stale"};
  EXPECT_FALSE(key.SubKeyNames(names));
  EXPECT_TRUE(names.empty());

  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER_ID, key_, true, false));
  TRegKey moved = std::move(key);
  EXPECT_TRUE(moved.IsOpen());
  EXPECT_FALSE(key.IsOpen());
  EXPECT_TRUE(moved.SetValue("a", Sz("b")));
  TRegKey other;
  ASSERT_TRUE(other.Open(HKEY_CURRENT_USER_ID, key_, false, true));
  other = std::move(moved);
  EXPECT_TRUE(other.HasValue("a"));
  // The root itself opens through an empty path.
  TRegKey root;
  EXPECT_TRUE(root.Open(HKEY_CURRENT_USER_ID, "", false, true));
  EXPECT_TRUE(root.SubKeyNames(names));
  EXPECT_NE(std::find(names.begin(), names.end(), "Software"), names.end());
}

TEST_F(Win32Registry, KeyTreeIsDeletedDeepestFirst) {
  SKIP_UNLESS_WIN32();
  for (const char* sub : {"\\Product\\A\\A1\\A11", "\\Product\\A\\A2", "\\Product\\B", "\\Keep"}) {
    TRegKey k;
    ASSERT_TRUE(k.Open(HKEY_CURRENT_USER_ID, key_ + sub, true, false));
    EXPECT_TRUE(k.SetValue("v", Sz(sub)));
  }
  EXPECT_TRUE(RegDeleteKeyTree(HKEY_CURRENT_USER_ID, "\\" + key_ + "\\Product"));
  TRegKey k;
  EXPECT_FALSE(k.Open(HKEY_CURRENT_USER_ID, key_ + "\\Product", false, true));
  EXPECT_TRUE(k.Open(HKEY_CURRENT_USER_ID, key_ + "\\Keep", false, true));
  EXPECT_FALSE(RegDeleteKeyTree(HKEY_CURRENT_USER_ID, key_ + "\\Product"));  // gone already
  EXPECT_FALSE(RegDeleteKeyTree(HKEY_CURRENT_USER_ID, ""));                  // never the root
  EXPECT_FALSE(RegDeleteKeyTree(HKEY_CURRENT_USER_ID, "\\\\"));
  EXPECT_NE(RegQuery("query \"HKCU\\" + key_ + "\\Keep\"").find("Keep"), std::string::npos);
}

TEST_F(Win32Registry, ProxyQueryFollowsTheUsersInternetSettings) {
  SKIP_UNLESS_WIN32();
  uint32_t access = 99;
  std::string list = "stale";
  // Whatever the machine's settings, the query answers without harm.
  ASSERT_TRUE(QueryProxySettings(access, list));

  const std::string settings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
  TRegKey key;
  ASSERT_TRUE(key.Open(HKEY_CURRENT_USER_ID, settings, true, false));
  TRegValue oldEnable, oldServer;
  bool hadEnable = key.GetValue("ProxyEnable", oldEnable);
  bool hadServer = key.GetValue("ProxyServer", oldServer);
  struct Restore {
    TRegKey& key;
    bool hadEnable, hadServer;
    TRegValue& e;
    TRegValue& s;
    ~Restore() {
      if (hadEnable) {
        key.SetValue("ProxyEnable", e);
      } else {
        key.DeleteValue("ProxyEnable");
      }
      if (hadServer) {
        key.SetValue("ProxyServer", s);
      } else {
        key.DeleteValue("ProxyServer");
      }
    }
  } restore{key, hadEnable, hadServer, oldEnable, oldServer};

  ASSERT_TRUE(key.SetValue("ProxyEnable", Dword(1)));
  ASSERT_TRUE(key.SetValue("ProxyServer", Sz("gw:8080")));
  ASSERT_TRUE(QueryProxySettings(access, list));
  EXPECT_EQ(access, 3u);  // a named proxy
  EXPECT_EQ(list, "gw:8080");

  ASSERT_TRUE(key.SetValue("ProxyServer", Sz("ftp=f:21;http=gw:3128")));
  ASSERT_TRUE(QueryProxySettings(access, list));
  EXPECT_EQ(access, 3u);
  // Windows hands the list over as the user wrote it; Wine keeps only its HTTP
  // entry. Either way the HTTP proxy is what the caller's parse finds.
  EXPECT_TRUE(list == "ftp=f:21;http=gw:3128" || list == "gw:3128") << list;

  ASSERT_TRUE(key.SetValue("ProxyEnable", Dword(0)));
  ASSERT_TRUE(QueryProxySettings(access, list));
  EXPECT_EQ(access, 1u);  // direct
}

namespace {

// Reads a shell-link file as Microsoft's published [MS-SHLLINK] format lays it
// out: the fields a shortcut's reader uses to find and start its target.
struct LinkFields {
  bool valid = false;
  std::string localBasePath, workingDir, arguments;
};

LinkFields ParseLink(const std::string& f) {
  LinkFields out;
  auto u16 = [&](size_t at) { return at + 2 <= f.size() ? uint32_t(uint8_t(f[at]) | uint8_t(f[at + 1]) << 8) : 0u; };
  auto u32 = [&](size_t at) { return at + 4 <= f.size() ? u16(at) | u16(at + 2) << 16 : 0u; };
  // Header: size 0x4C, then CLSID {00021401-0000-0000-C000-000000000046}.
  static const unsigned char clsid[16] = {0x01, 0x14, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  if (f.size() < 0x4C || u32(0) != 0x4C || std::memcmp(f.data() + 4, clsid, 16) != 0) return out;
  uint32_t flags = u32(0x14);
  size_t at = 0x4C;
  if (flags & 0x01) at += 2 + u16(at);  // HasLinkTargetIDList: skip the item list
  if (flags & 0x02) {                   // HasLinkInfo
    uint32_t size = u32(at);
    uint32_t infoFlags = u32(at + 8);
    uint32_t baseOffset = u32(at + 16);
    if ((infoFlags & 1) && baseOffset < size && at + size <= f.size())  // VolumeIDAndLocalBasePath
      out.localBasePath = std::string(f.c_str() + at + baseOffset);
    at += size;
  }
  bool unicode = (flags & 0x80) != 0;
  auto readString = [&]() {
    uint32_t count = u16(at);
    at += 2;
    std::string s;
    for (uint32_t i = 0; i < count && at < f.size(); ++i) {
      s.push_back(f[at]);  // the ANSI texts of this test are plain ASCII
      at += unicode ? 2 : 1;
    }
    // The count excludes the terminator, but some writers (Wine's) count it.
    if (!s.empty() && s.back() == '\0') s.pop_back();
    return s;
  };
  if (flags & 0x04) readString();  // HasName
  if (flags & 0x08) readString();  // HasRelativePath
  if (flags & 0x10) out.workingDir = readString();
  if (flags & 0x20) out.arguments = readString();
  out.valid = at <= f.size();
  return out;
}

}  // namespace

TEST_F(Win32Registry, ShortcutIsSavedAndTheShellStartsItsTarget) {
  SKIP_UNLESS_WIN32();
  const std::string target = WindowsDir() + "\\system32\\cmd.exe";
  ASSERT_TRUE(FileExists(target)) << target;
  const std::string link = dir_ + "\\Kestrova.lnk";
  ASSERT_TRUE(SaveShellLink(link, target, "/C echo linked> started.txt", dir_ + "\\"));
  ASSERT_TRUE(FileExists(link));

  LinkFields fields = ParseLink(ReadAll(link));
  ASSERT_TRUE(fields.valid);
  EXPECT_EQ(fields.arguments, "/C echo linked> started.txt");
  EXPECT_EQ(fields.workingDir, dir_ + "\\");
  if (!fields.localBasePath.empty()) {
    EXPECT_EQ(ShortPathName(fields.localBasePath), ShortPathName(target));
  }

  // The shell reads the link back: target, arguments and working folder.
  EXPECT_TRUE(RunHiddenAndWait("CMD.EXE /C start /wait \"\" \"" + link + "\""));
  // "start /wait" may return before the link's own process has written.
  const std::string started = dir_ + "\\started.txt";
  uint32_t start = TickCount();
  auto written = [&] {
    try {
      return FileExists(started) && ReadAll(started).size() >= 6;
    } catch (const Exception&) {
      return false;  // still held by the writer
    }
  };
  while (!written() && TickCount() - start < 30000) SleepMs(20);
  ASSERT_TRUE(written());
  EXPECT_EQ(ReadAll(started).substr(0, 6), "linked");

  // Saving again replaces the link; a folder that does not exist fails.
  EXPECT_TRUE(SaveShellLink(link, target, "", dir_));
  EXPECT_EQ(ParseLink(ReadAll(link)).arguments, "");
  EXPECT_FALSE(SaveShellLink(dir_ + "\\no\\such\\x.lnk", target, "", dir_));
}

TEST_F(Win32Registry, ShortcutFromAThreadWithOrWithoutCom) {
  SKIP_UNLESS_WIN32();
  const std::string target = WindowsDir() + "\\notepad.exe";
  bool saved = false;
  // A thread that never initialised COM: the save sets it up for itself.
  std::thread worker([&] { saved = SaveShellLink(dir_ + "\\a.lnk", target, "x.txt", dir_); });
  worker.join();
  EXPECT_TRUE(saved);
  // Repeated saves balance their own initialisation.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(SaveShellLink(dir_ + "\\b.lnk", target, "", dir_));
  EXPECT_EQ(ParseLink(ReadAll(dir_ + "\\a.lnk")).arguments, "x.txt");
}

TEST(Win32System, GuidsPrivilegesAndClock) {
  SKIP_UNLESS_WIN32();
  std::string a = NewGuidText(), b = NewGuidText();
  EXPECT_NE(a, b);
  ASSERT_EQ(a.size(), 38u);
  for (size_t i = 0; i < a.size(); ++i) {
    char c = a[i];
    if (i == 0) {
      EXPECT_EQ(c, '{');
    } else if (i == 37) {
      EXPECT_EQ(c, '}');
    } else if (i == 9 || i == 14 || i == 19 || i == 24) {
      EXPECT_EQ(c, '-');
    } else {
      EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << a;
    }
  }

  uint32_t before = SetPrivilege("SeShutdownPrivilege", SE_PRIVILEGE_ENABLED_ATTR);
  // Asking again for what is set already reports it as it now is.
  EXPECT_EQ(SetPrivilege("SeShutdownPrivilege", SE_PRIVILEGE_ENABLED_ATTR) & SE_PRIVILEGE_ENABLED_ATTR,
            SE_PRIVILEGE_ENABLED_ATTR);
  SetPrivilege("SeShutdownPrivilege", before);
  EXPECT_THROW(SetPrivilege("SeNoSuchPrivilege", SE_PRIVILEGE_ENABLED_ATTR), EOSError);

  EXPECT_EQ(PlatformId(), 2u);
}
