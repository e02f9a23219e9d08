#include "install/save_settings.h"

#include <algorithm>

#include "base/text.h"
#include "install/record.h"
#include "install/register.h"
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

namespace {

bool SameValue(const TRegValueName& a, const TRegValueName& b) {
  // "\Software\..." and "Software\..." name one key.
  auto key = [](const std::string& k) { return k.substr(std::min(k.find_first_not_of('\\'), k.size())); };
  return a.Root == b.Root && text::AnsiSameText(key(a.Key), key(b.Key)) && text::AnsiSameText(a.Name, b.Name);
}

// The values every update may change, whatever the machine holds.
std::vector<TRegValueName> FixedValues(const TLiveUpdate& settings, const TProductNames& names) {
  std::vector<TRegValueName> values;
  auto add = [&](uint32_t root, const std::string& key, const std::string& name) {
    const TRegValueName value{root, key, name};
    for (const TRegValueName& v : values)
      if (SameValue(v, value)) return;
    values.push_back(value);
  };
  for (int i = 0; i < settings.RegistryKeys.Count(); ++i)
    add(static_cast<uint32_t>(settings.RegistryKeys.Objects(i)), settings.RegistryKeys.Strings(i) + kRecordSubKey,
        kFilesValue);
  const std::string productKey = StripRegistryRoot(names.ProductRegistryKey);
  for (const char* name : {"UserName", "PlaceCode", "Language", "DownloadLocation", "UseProxy", "ProxyInfo", "Version"})
    add(platform::HKEY_CURRENT_USER_ID, productKey, name);
  for (const char* name : {kUninstallKeyValue, kFilesValue})
    add(platform::HKEY_CURRENT_USER_ID, productKey + kRecordSubKey, name);
  return values;
}

bool ScheduledDeletion(const TRegValueName& v) {
  return v.Root == platform::HKEY_LOCAL_MACHINE_ID && SameValue(v, {v.Root, kRunOnceKey, v.Name}) &&
         text::Pos(kDeleteValuePrefix, v.Name) > 0;
}

}  // namespace

std::vector<TRegValueName> ValuesChangedByUpdate(const TLiveUpdate& settings, const TProductNames& names) {
  std::vector<TRegValueName> values = FixedValues(settings, names);
  platform::TRegKey runOnce;
  std::vector<std::string> scheduled;
  if (runOnce.Open(platform::HKEY_LOCAL_MACHINE_ID, kRunOnceKey, false, true) && runOnce.ValueNames(scheduled)) {
    for (const std::string& name : scheduled)
      if (ScheduledDeletion({platform::HKEY_LOCAL_MACHINE_ID, kRunOnceKey, name}))
        values.push_back({platform::HKEY_LOCAL_MACHINE_ID, kRunOnceKey, name});
  }
  return values;
}

bool UpdateMayChange(const TRegValueName& value, const TProductNames& names) {
  TLiveUpdate settings;
  settings.SetRegistryKeys(names.ProductRegistryKey);
  for (const TRegValueName& v : FixedValues(settings, names))
    if (SameValue(v, value)) return true;
  return ScheduledDeletion(value) ||
         SameValue(value, {platform::HKEY_CURRENT_USER_ID, kRunKey, names.ApplicationName}) ||
         (value.Root == SystemUninstallRoot() &&
          SameValue(value, {value.Root, kSystemUninstallKey + names.ApplicationName, value.Name}));
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

bool SaveSettings(const TLiveUpdate& settings, const std::string& packageVersion,
                  const std::function<void(const std::string&)>& reportWarning, const TProductNames& names,
                  const TProxyQuery& proxyQuery) {
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
      if (!packageVersion.empty()) registry.WriteString("Version", packageVersion);
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
