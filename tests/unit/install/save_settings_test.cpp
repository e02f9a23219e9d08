#include "install/save_settings.h"

#include <algorithm>

#include "install_fixture.h"
#include "net/proxy.h"
#include "platform/system.h"
#include "settings/registry.h"

using namespace installtest;

TEST(StripRegistryRoot, RemovesWhatPrecedesTheFirstBackslashOnlyWhenARootIsNamed) {
  EXPECT_EQ(install::StripRegistryRoot("HKEY_CURRENT_USER\\Software\\ORBAX\\Kestrova"), "Software\\ORBAX\\Kestrova");
  EXPECT_EQ(install::StripRegistryRoot("HKEY_LOCAL_MACHINE\\SOFTWARE\\X"), "SOFTWARE\\X");
  EXPECT_EQ(install::StripRegistryRoot("Software\\ORBAX\\Kestrova"), "Software\\ORBAX\\Kestrova");
  // "HKEY_" is looked for with its case and anywhere in the text.
  EXPECT_EQ(install::StripRegistryRoot("hkey_current_user\\Software"), "hkey_current_user\\Software");
  EXPECT_EQ(install::StripRegistryRoot("Software\\HKEY_X\\Y"), "HKEY_X\\Y");
  EXPECT_EQ(install::StripRegistryRoot("HKEY_CURRENT_USER"), "HKEY_CURRENT_USER");
  EXPECT_EQ(install::StripRegistryRoot("HKEY_CURRENT_USER\\"), "");
}

TEST(ProxyInfoText, HostAndPortEachOnlyWhenKnown) {
  EXPECT_EQ(install::ProxyInfoText("proxy1", 8080), "proxy1;8080");
  EXPECT_EQ(install::ProxyInfoText("", -1), "");
  EXPECT_EQ(install::ProxyInfoText("gw", -1), "gw;");
  EXPECT_EQ(install::ProxyInfoText("", 8080), "8080");
  EXPECT_EQ(install::ProxyInfoText("gw", 0), "gw;0");
}

namespace {

// The user's proxy setting for one test, put back afterwards.
class TProxySetting {
 public:
  explicit TProxySetting(const std::string& hostPort) : saved_(net::ReadUserProxySetting()) {
    // An environment that names a proxy must not leak into a test that has none.
    for (const char* name : {"http_proxy", "HTTP_PROXY"}) {
      env_.emplace_back(name, platform::GetEnv(name));
      platform::UnsetEnv(name);
    }
    net::TUserProxySetting setting;
    setting.Enabled = !hostPort.empty();
    setting.Server = hostPort;
    EXPECT_TRUE(net::WriteUserProxySetting(setting));
  }
  ~TProxySetting() {
    net::WriteUserProxySetting(saved_);
    for (const auto& [name, value] : env_) {
      if (!value.empty()) platform::SetEnv(name, value);
    }
  }

 private:
  net::TUserProxySetting saved_;
  std::vector<std::pair<std::string, std::string>> env_;
};

class SaveSettingsTest : public InstallTest {
 protected:
  std::string DataFiles() const {
    const std::string& f = settings.InstallFolder;
    return f + "\\ad.gif;" + f + "\\ad.xml;" + f + "\\id.xml;" + f + "\\obs.xml;" + f + "\\reg.xml;" + f +
           "\\KestrovaApp.log;";
  }
  bool Save() {
    return install::SaveSettings(
        settings, packageVersion, [this](const std::string& m) { warnings.push_back(m); }, names);
  }
  std::vector<std::string> warnings;
  std::string packageVersion;
};

}  // namespace

TEST_F(SaveSettingsTest, FirstRunWritesProductValuesAndTheDataFiles) {
  TProxySetting none("");
  ASSERT_TRUE(Save());
  EXPECT_TRUE(warnings.empty());
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "UserName"), "");
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "PlaceCode"), "");
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "Language"), "EN");
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "DownloadLocation"), "COW");
  const auto useProxy = ReadValue(HKCU, ProductPath(), "UseProxy");
  ASSERT_TRUE(useProxy.has_value());
  EXPECT_EQ(useProxy->Type, platform::REG_DWORD_TYPE);
  EXPECT_EQ(useProxy->Data, std::string("\0\0\0\0", 4));
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "ProxyInfo"), "");
  EXPECT_EQ(ReadString(HKCU, RecordPath(), "UninstallKey"), names.ApplicationName);
  EXPECT_EQ(RecordedFiles(), DataFiles());
  // A package without a statement records no version; one with records its own,
  // the floor of the next update. A value that is no version sets none.
  EXPECT_FALSE(ReadValue(HKCU, ProductPath(), "Version").has_value());
  EXPECT_EQ(install::InstalledVersion(names), "");
  packageVersion = "5.10";
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "Version"), "5.10");
  EXPECT_EQ(install::InstalledVersion(names), "5.10");
  WriteString(HKCU, ProductPath(), "Version", "5.x");
  EXPECT_EQ(install::InstalledVersion(names), "");
}

TEST_F(SaveSettingsTest, LanguageAndDefaultsComeFromTheRunsTexts) {
  TProxySetting none("");
  UseLanguage("FRENCH");
  names.DefaultUserName = "Marie";
  names.DefaultPlaceCode = "FR75";
  names.DefaultDownloadLocation = "EU";
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "Language"), "FR");
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "UserName"), "Marie");
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "PlaceCode"), "FR75");
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "DownloadLocation"), "EU");
}

TEST_F(SaveSettingsTest, SystemProxyIsRecorded) {
  TProxySetting proxy("proxy1:8080");
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "ProxyInfo"), "proxy1;8080");
  const auto useProxy = ReadValue(HKCU, ProductPath(), "UseProxy");
  ASSERT_TRUE(useProxy.has_value());
  EXPECT_EQ(useProxy->Type, platform::REG_DWORD_TYPE);
  EXPECT_EQ(useProxy->Data, std::string("\1\0\0\0", 4));
}

TEST_F(SaveSettingsTest, ExistingRecordKeepsItsOrderAndGainsOnlyMissingDataFiles) {
  TProxySetting none("");
  const std::string& f = settings.InstallFolder;
  const std::string installed = "C:\\Start\\Kestrova.lnk;" + f + "\\Kestrova.exe;" + f + "\\ID.XML;";
  WriteString(HKCU, RecordPath(), "Files", installed);
  ASSERT_TRUE(Save());
  const std::string expected =
      installed + f + "\\ad.gif;" + f + "\\ad.xml;" + f + "\\obs.xml;" + f + "\\reg.xml;" + f + "\\KestrovaApp.log;";
  EXPECT_EQ(RecordedFiles(), expected);
  ASSERT_TRUE(Save());
  EXPECT_EQ(RecordedFiles(), expected);
}

TEST_F(SaveSettingsTest, PendingDeletionsOfThisProgramAreCancelled) {
  TProxySetting none("");
  WriteString(HKLM, kRunOnce, "ORBAXLU_DEL_1", "CMD.EXE /C DEL \"C:\\a\"");
  WriteString(HKLM, kRunOnce, "ORBAXLU_DEL_12", "CMD.EXE /C DEL \"C:\\b\"");
  WriteString(HKLM, kRunOnce, "OldORBAXLU_DEL_3", "x");      // contains the prefix
  WriteString(HKLM, kRunOnce, "orbaxlu_del_4", "x");         // other case: not ours
  WriteString(HKLM, kRunOnce, "OtherProgram", "setup.exe");  // not ours
  ASSERT_TRUE(Save());
  auto left = ValueNames(HKLM, kRunOnce);
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"OtherProgram", "orbaxlu_del_4"}));
}

TEST_F(SaveSettingsTest, RegistryErrorIsReportedAsWarningAndAnswersFalse) {
  TProxySetting none("");
  WriteDword(HKCU, RecordPath(), "Files", 1);
  WriteString(HKLM, kRunOnce, "ORBAXLU_DEL_1", "CMD.EXE /C DEL \"C:\\a\"");
  EXPECT_FALSE(Save());
  EXPECT_EQ(warnings, (std::vector<std::string>{"Invalid data type for 'Files'"}));
  // What came before the error stays written; what came after is not done.
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "Language"), "EN");
  EXPECT_EQ(ReadString(HKCU, RecordPath(), "UninstallKey"), names.ApplicationName);
  EXPECT_TRUE(ReadString(HKLM, kRunOnce, "ORBAXLU_DEL_1").has_value());
}

TEST_F(SaveSettingsTest, ProductKeyWithoutRootNameIsTakenBelowTheCurrentUser) {
  TProxySetting none("");
  names.ProductRegistryKey = ProductPath();
  ASSERT_TRUE(Save());
  EXPECT_EQ(ReadString(HKCU, ProductPath(), "Language"), "EN");
  EXPECT_EQ(RecordedFiles(), DataFiles());
}
