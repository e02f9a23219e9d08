#include "install/record.h"

#include <cstdint>
#include <unordered_set>

#include "base/text.h"
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
  // Names as the comparison ignoring case sees them, in a set: an update of tens of
  // thousands of files over as many is not a search through the list per file.
  std::unordered_set<std::string> listed;
  listed.reserve(static_cast<size_t>(items.Count() + fresh.Count()));
  for (int i = 0; i < items.Count(); ++i) listed.insert(text::AnsiLowerCase(items.Strings(i)));
  // Checked against the growing list, so a path listed twice in `added` lands once.
  for (int i = 0; i < fresh.Count(); ++i) {
    if (listed.insert(text::AnsiLowerCase(fresh.Strings(i))).second) items.Add(fresh.Strings(i));
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
