#include "install/record.h"

#include <cstdint>

#include "settings/live_update.h"
#include "settings/registry.h"
#include "settings/string_param.h"

namespace install {

const char* const kRecordSubKey = "\\Uninstall";
const char* const kFilesValue = "Files";
const char* const kUninstallKeyValue = "UninstallKey";

std::string MergeFileLists(const std::string& existing, const std::string& added) {
  TStringParam items(existing, ";");
  const TStringParam fresh(added, ";");
  // Checked against the growing list, so a path listed twice in `added` lands once.
  for (int i = 0; i < fresh.Count(); ++i) {
    if (items.IndexOf(fresh.Strings(i)) < 0) items.Add(fresh.Strings(i));
  }
  return items.GetTextStr();
}

void RecordInstalledFiles(const TLiveUpdate& settings, std::string list) {
  for (int i = 0; i < settings.RegistryKeys.Count(); ++i) {
    TRegistry registry;
    registry.SetRootKey(static_cast<uint32_t>(settings.RegistryKeys.Objects(i)));
    // Not tested: a record that cannot be made shows as the write error below.
    registry.OpenKey(settings.RegistryKeys.Strings(i) + kRecordSubKey, true);
    if (registry.ValueExists(kFilesValue)) list = MergeFileLists(registry.ReadString(kFilesValue), list);
    registry.WriteString(kFilesValue, list);
    registry.CloseKey();
  }
}

}  // namespace install
