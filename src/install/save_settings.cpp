#include "install/save_settings.h"

#include "base/text.h"
#include "install/record.h"
#include "install/uninstall.h"
#include "net/proxy.h"
#include "net/statement.h"
#include "platform/registry.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/registry.h"
#include "settings/string_param.h"

namespace install {

std::string StripRegistryRoot(const std::string& keyPath) {
  if (text::Pos("HKEY_", keyPath) == 0) return keyPath;
  return text::CopyFrom(keyPath, text::Pos("\\", keyPath) + 1);
}

std::string DataFileList(const std::string& installFolder) {
  TStringParam files("", ";");
  for (const char* name : {"\\ad.gif", "\\ad.xml", "\\id.xml", "\\obs.xml", "\\reg.xml", "\\KestrovaApp.log"})
    files.Add(installFolder + name);
  return files.GetTextStr();
}

std::string ProxyInfoText(const std::string& host, int32_t port) {
  std::string info;
  if (!host.empty()) info = host + ";";
  if (port != -1) info += text::IntToStr(port);
  return info;
}

std::vector<TRegValueName> ValuesChangedByUpdate(const TLiveUpdate& settings, const TProductNames& names) {
  std::vector<TRegValueName> values;
  auto add = [&](uint32_t root, const std::string& key, const std::string& name) {
    for (const TRegValueName& v : values)
      if (v.Root == root && text::AnsiSameText(v.Key, key) && text::AnsiSameText(v.Name, name)) return;
    values.push_back({root, key, name});
  };
  for (int i = 0; i < settings.RegistryKeys.Count(); ++i)
    add(static_cast<uint32_t>(settings.RegistryKeys.Objects(i)), settings.RegistryKeys.Strings(i) + kRecordSubKey,
        kFilesValue);
  const std::string productKey = StripRegistryRoot(names.ProductRegistryKey);
  for (const char* name : {"UserName", "PlaceCode", "Language", "DownloadLocation", "UseProxy", "ProxyInfo", "Version"})
    add(platform::HKEY_CURRENT_USER_ID, productKey, name);
  for (const char* name : {kUninstallKeyValue, kFilesValue})
    add(platform::HKEY_CURRENT_USER_ID, productKey + kRecordSubKey, name);
  platform::TRegKey runOnce;
  std::vector<std::string> scheduled;
  if (runOnce.Open(platform::HKEY_LOCAL_MACHINE_ID, kRunOnceKey, false, true) && runOnce.ValueNames(scheduled)) {
    for (const std::string& name : scheduled)
      if (text::Pos(kDeleteValuePrefix, name) > 0) add(platform::HKEY_LOCAL_MACHINE_ID, kRunOnceKey, name);
  }
  return values;
}

std::string InstalledVersion(const TProductNames& names) {
  TRegistry registry;  // HKEY_CURRENT_USER
  if (!registry.OpenKeyReadOnly(StripRegistryRoot(names.ProductRegistryKey))) return "";
  std::string version;
  try {
    version = registry.ReadString("Version");
  } catch (const Exception&) {
    return "";  // a value of another type is none of ours
  }
  return net::IsVersion(version) ? version : "";
}

bool SaveSettings(const TLiveUpdate& settings, const std::function<void(const std::string&)>& reportWarning,
                  const TProductNames& names, const TProxyQuery& proxyQuery) {
  bool result = false;
  try {
    TRegistry registry;  // HKEY_CURRENT_USER
    const std::string productKey = StripRegistryRoot(names.ProductRegistryKey);

    if (registry.OpenKey(productKey, true)) {
      registry.WriteString("UserName", names.DefaultUserName);
      registry.WriteString("PlaceCode", names.DefaultPlaceCode);
      registry.WriteString("Language", settings.Texts->S_CodeLanguage);
      registry.WriteString("DownloadLocation", names.DefaultDownloadLocation);
      std::string host;
      int32_t port = -1;
      const bool found = proxyQuery ? proxyQuery(host, port) : net::GetSystemProxy(host, port);
      registry.WriteBool("UseProxy", found);
      registry.WriteString("ProxyInfo", ProxyInfoText(host, port));
      // The floor for the next update: nothing older is installed over it.
      if (!settings.PackageVersion.empty()) registry.WriteString("Version", settings.PackageVersion);
      result = true;
      registry.CloseKey();
    }

    if (registry.OpenKey(productKey + kRecordSubKey, true)) {
      registry.WriteString(kUninstallKeyValue, names.ApplicationName);
      std::string files = DataFileList(settings.InstallFolder);
      if (registry.ValueExists(kFilesValue)) files = MergeFileLists(registry.ReadString(kFilesValue), files);
      registry.WriteString(kFilesValue, files);
      registry.CloseKey();
    }

    // Files installed again must not be deleted by an uninstallation's pending
    // commands at the next start.
    registry.SetRootKey(platform::HKEY_LOCAL_MACHINE_ID);
    if (registry.OpenKey(kRunOnceKey, false)) {
      std::vector<std::string> valueNames;
      registry.GetValueNames(valueNames);
      for (const std::string& name : valueNames) {
        if (text::Pos(kDeleteValuePrefix, name) > 0) registry.DeleteValue(name);
      }
      registry.CloseKey();
    }
  } catch (Exception& e) {
    result = false;
    if (reportWarning) reportWarning(e.Message);
  }
  return result;
}

}  // namespace install
