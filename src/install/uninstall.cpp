#include "install/uninstall.h"

#include <vector>

#include "base/text.h"
#include "install/platform_id.h"
#include "install/record.h"
#include "install/register.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/registry.h"
#include "settings/string_param.h"

namespace install {

const char* const kRunOnceKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
const char* const kDeleteValuePrefix = "ORBAXLU_DEL_";

namespace {

uint32_t RootOf(const TLiveUpdate& settings, int index) {
  // Held as the list's pointer-sized value; the predefined roots fit 32 bits.
  return static_cast<uint32_t>(settings.RegistryKeys.Objects(index));
}

// The number a value name ends in, after its last "_" (or the whole name). False
// when that part is not a number.
bool TrailingNumber(const std::string& name, int64_t& number) {
  const TStringParam parts(name, "_");
  if (parts.Count() == 0) return false;  // the unnamed default value
  int32_t value = 0;
  if (!text::TryStrToInt(parts.Strings(parts.Count() - 1), value)) return false;
  number = value;
  return true;
}

// The user's desktop folder, as the shell names it ("" when it does not).
std::string DesktopFolder() {
  TRegistry registry;  // HKEY_CURRENT_USER
  if (!registry.OpenKeyReadOnly(kShellFoldersKey)) return std::string();
  try {
    return registry.ReadString("Desktop");
  } catch (ERegistryException&) {
    return std::string();  // only a guard: never a reason to stop uninstalling
  }
}

// Items of the uninstall list are taken with every run of backslashes as one, the
// way the registry resolves them, and a path ending in "\" names the default
// value of its key: no doubled or trailing separator turns a value into the key
// above it, or a key into its parent.
bool NamesDefaultValue(const std::string& item) { return !item.empty() && item.back() == '\\'; }

// The installation record of a list item: a key's "Uninstall" sub-key. A default
// value has none: read as a key, "Software\" would find another program's record.
bool RecordOf(const std::string& path, std::string& record) {
  const std::string item = CollapseBackslashes(path);
  if (NamesDefaultValue(item)) return false;
  record = item + kRecordSubKey;
  return true;
}

bool SameFolder(const std::string& a, const std::string& b) {
  return text::AnsiSameText(text::ExcludeTrailingBackslash(CollapseBackslashes(a)),
                            text::ExcludeTrailingBackslash(CollapseBackslashes(b)));
}

}  // namespace

std::string CollapseBackslashes(const std::string& path) {
  std::string result;
  result.reserve(path.size());
  for (char c : path) {
    if (c == '\\' && !result.empty() && result.back() == '\\') continue;
    result += c;
  }
  return result;
}

std::string DeleteCommand(const std::string& path) {
  const std::string collapsed = CollapseBackslashes(path);
  if (GetPlatformId() == kPlatformWin32NT) return "CMD.EXE /C DEL \"" + collapsed + "\"";
  return "COMMAND.COM /C DEL \"" + platform::ShortPathName(collapsed, 261) + "\"";
}

void ScheduleDeleteAtRestart(const std::string& path) {
  if (!platform::FileExists(path)) return;
  TRegistry registry;
  registry.SetRootKey(platform::HKEY_LOCAL_MACHINE_ID);
  registry.OpenKey(kRunOnceKey, true);  // not tested: a key that is not there fails the write
  const std::string command = DeleteCommand(path);

  std::vector<std::string> names;
  registry.GetValueNames(names);
  SortIgnoringCase(names);
  // n ends one above the highest number in use, whatever program's value bears
  // it, unless a value already holds this very command: then that one is reused.
  int64_t n = 1;
  int64_t high = 1;
  for (const std::string& name : names) {
    int64_t number = 0;
    if (!TrailingNumber(name, number)) continue;
    std::string data;
    try {
      data = registry.ReadString(name);
    } catch (ERegistryException&) {
      continue;  // not a string: not one of ours
    }
    n = number;
    if (data == command) break;
    if (n + 1 < high) {
      n = high;
    } else {
      n = n + 1;
      high = n;
    }
  }
  registry.WriteString(kDeleteValuePrefix + text::IntToStr(n), command);
  registry.CloseKey();
}

void DeleteUninstallEntry(const std::string& path, uint32_t root) {
  std::string record;
  if (!RecordOf(path, record)) return;
  TRegistry registry;
  registry.SetRootKey(root);
  if (!registry.OpenKey(record, false)) return;
  if (!registry.ValueExists(kUninstallKeyValue)) return;
  const std::string entry = registry.ReadString(kUninstallKeyValue);
  registry.CloseKey();
  // An empty name would make this the whole list of every program's entries.
  if (CollapseBackslashes(entry).find_first_not_of('\\') == std::string::npos) return;
  TRegistry system;
  system.SetRootKey(SystemUninstallRoot());
  system.DeleteKey(kSystemUninstallKey + entry);  // result not used
}

void DeleteRegistryItem(const std::string& path, uint32_t root) {
  const std::string item = CollapseBackslashes(path);
  const size_t firstBackslash = item.find('\\');
  if (firstBackslash == std::string::npos || firstBackslash == 0) return;

  TRegistry registry;
  registry.SetRootKey(root);
  if (!NamesDefaultValue(item) && registry.OpenKey(item, false)) {
    std::vector<std::string> subKeys;
    registry.GetKeyNames(subKeys);
    registry.CloseKey();
    for (const std::string& subKey : subKeys) DeleteRegistryItem(item + "\\" + subKey, root);
    registry.DeleteKey(item);
    return;
  }

  // Not a key: the last part names a value of the key before it ("" the default).
  const size_t lastBackslash = item.rfind('\\');
  if (registry.OpenKey(item.substr(0, lastBackslash), false)) {
    registry.DeleteValue(item.substr(lastBackslash + 1));
    registry.CloseKey();
  }
}

bool UninstallFiles(const TLiveUpdate& settings, TStepProgress& progress) {
  progress.SetMax(0);
  progress.SetCaption(settings.Texts->S_UninstallFiles);
  progress.StepOverall();
  // The desktop shortcut's folder is the user's desktop, which must outlive us
  // even when the shortcut was the last thing on it.
  const std::string desktop = DesktopFolder();

  for (int k = 0; k < settings.RegistryKeys.Count(); ++k) {
    TStringParam files("", ";");
    {
      TRegistry registry;
      registry.SetRootKey(RootOf(settings, k));
      std::string record;
      if (!RecordOf(settings.RegistryKeys.Strings(k), record) || !registry.OpenKey(record, false)) continue;
      if (!registry.ValueExists(kFilesValue)) continue;
      files.SetTextStr(registry.ReadString(kFilesValue));
    }
    progress.SetMax(files.Count());
    for (int i = 0; i < files.Count(); ++i) {
      const std::string& file = files.Strings(i);
      platform::SetAttributesNormal(file);
      if (platform::EraseFile(file)) {
        // Succeeds only once the folder is empty; its parents are never tried.
        const std::string folder = text::ExtractFileDir(file);
        if (desktop.empty() || !SameFolder(folder, desktop)) platform::RemoveDir(folder);
      } else {
        ScheduleDeleteAtRestart(file);
      }
      progress.SetPosition(i);
    }
    progress.SetPosition(files.Count());
  }
  return true;
}

bool UninstallRegistries(const TLiveUpdate& settings, TStepProgress& progress) {
  progress.SetMax(0);
  progress.SetCaption(settings.Texts->S_UninstallRegistries);
  progress.StepOverall();
  progress.SetMax(settings.RegistryKeys.Count());
  for (int k = 0; k < settings.RegistryKeys.Count(); ++k) {
    progress.Step();
    DeleteUninstallEntry(settings.RegistryKeys.Strings(k), RootOf(settings, k));
    DeleteRegistryItem(settings.RegistryKeys.Strings(k), RootOf(settings, k));
  }
  return true;
}

}  // namespace install
