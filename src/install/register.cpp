#include "install/register.h"

#include "base/text.h"
#include "install/platform_id.h"
#include "install/record.h"
#include "platform/files.h"
#include "platform/registry.h"
#include "platform/shell.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/registry.h"
#include "settings/string_param.h"

namespace install {

const char* const kRunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
const char* const kShellFoldersKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char* const kSystemUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

std::string ApplicationPath(const TLiveUpdate& settings, const TProductNames& names) {
  return settings.InstallFolder + "\\" + text::ExtractFileName(names.ApplicationCommand);
}

std::string UninstallArguments(const TLiveUpdate& settings, const TProductNames& names) {
  return "/language " + settings.Texts->Language + " /uninstall HKEY_CURRENT_USER" + kRunKey + "\\" +
         names.ApplicationName + "," + names.ProductRegistryKey;
}

uint32_t SystemUninstallRoot() {
  return GetPlatformId() == kPlatformWin32NT ? platform::HKEY_CURRENT_USER_ID : platform::HKEY_LOCAL_MACHINE_ID;
}

std::string InstalledFolder(const TProductNames& names) {
  try {
    TRegistry run;  // HKEY_CURRENT_USER
    if (!run.OpenKeyReadOnly(kRunKey) || !run.ValueExists(names.ApplicationName)) return "";
    return text::WithoutTrailingSeparators(text::ExtractFilePath(run.ReadString(names.ApplicationName)));
  } catch (const Exception&) {
    return "";  // an entry that cannot be read names no installation
  }
}

namespace {

// One shell link's settings, saved under several file names.
struct TLink {
  std::string Target;
  std::string Arguments;
  std::string WorkingFolder;
};

// Saves the link into folder (made first, with its parents) and lists it for the
// record. An empty folder means the shell did not name one: the link would land
// in the root of the current drive, so none is made.
void SaveLink(const TLink& link, const std::string& folder, const std::string& fileName, TStringParam& made) {
  if (folder.empty()) return;
  platform::ForceDirectories(folder);
  const std::string linkFile = folder + "\\" + fileName;
  platform::SaveShellLink(linkFile, link.Target, link.Arguments, link.WorkingFolder);  // result ignored
  made.Add(linkFile);
}

}  // namespace

void RegisterInstallation(const TLiveUpdate& settings, const std::string& packageVersion, bool createDesktopShortcut,
                          const TProductNames& names) {
  const std::string applicationPath = ApplicationPath(settings, names);
  TLink link{applicationPath, "", text::ExtractFilePath(applicationPath)};

  {
    TRegistry run;  // HKEY_CURRENT_USER
    run.OpenKey(kRunKey, true);
    run.WriteString(names.ApplicationName, applicationPath);
    run.CloseKey();
  }

  TRegistry shellFolders;  // HKEY_CURRENT_USER
  const bool foldersOpen = shellFolders.OpenKeyReadOnly(kShellFoldersKey);
  auto folder = [&](const char* name) {
    return foldersOpen && shellFolders.ValueExists(name) ? shellFolders.ReadString(name) : std::string();
  };
  TStringParam shortcuts("", ";");

  const std::string programs = folder("Programs");
  const std::string group = programs.empty() ? std::string() : programs + "\\" + names.ProgramGroupName;
  SaveLink(link, group, names.ApplicationName + ".lnk", shortcuts);
  if (createDesktopShortcut) SaveLink(link, folder("Desktop"), names.ApplicationName + ".lnk", shortcuts);

  link = TLink{settings.InstallFolder + "\\" + names.UpdaterFileName, UninstallArguments(settings, names),
               settings.InstallFolder};
  SaveLink(link, group, settings.Texts->S_BUninstall + " " + names.ApplicationName + ".lnk", shortcuts);

  RecordInstalledFiles(settings, shortcuts.GetTextStr());
  shellFolders.CloseKey();

  TRegistry uninstall;
  uninstall.SetRootKey(SystemUninstallRoot());
  if (uninstall.OpenKey(kSystemUninstallKey + names.ApplicationName, true)) {
    uninstall.WriteString("DisplayName", names.ApplicationName);
    uninstall.WriteString("UninstallString", "\"" + link.Target + "\" " + link.Arguments);
    if (!packageVersion.empty()) uninstall.WriteString("DisplayVersion", packageVersion);
    uninstall.CloseKey();
  }
}

}  // namespace install
