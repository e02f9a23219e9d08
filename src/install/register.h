// Registration of an installed application: Start-menu and desktop shortcuts,
// the logon Run value, the system uninstall entry, and the shortcuts added to the
// installation record so that uninstallation removes them.
#pragma once

#include <string>

#include "install/product_names.h"

class TLiveUpdate;

namespace install {

// Registry paths, below the roots named where they are used.
extern const char* const kRunKey;              // HKEY_CURRENT_USER
extern const char* const kShellFoldersKey;     // HKEY_CURRENT_USER
extern const char* const kSystemUninstallKey;  // ends in "\", HKCU on NT, else HKLM

// InstallFolder, "\" and the file-name part of ApplicationCommand.
std::string ApplicationPath(const TLiveUpdate& settings, const TProductNames& names);
// "/language <Language> /uninstall HKEY_CURRENT_USER\...\Run\<ApplicationName>,<ProductRegistryKey>".
std::string UninstallArguments(const TLiveUpdate& settings, const TProductNames& names);
// The system uninstall entry's root for the running platform family.
uint32_t SystemUninstallRoot();
// The folder of the installation there is, as its logon entry names it; "" when
// there is none or it cannot be read.
std::string InstalledFolder(const TProductNames& names);

// Writes the shortcuts (the desktop one only when createDesktopShortcut), the Run
// value and the system uninstall entry (with packageVersion, the version the
// package's release statement gave, unless ""), and records the shortcut files. Shortcuts
// are rewritten on every run; a shortcut that cannot be saved is still recorded.
// Raises ERegistryException when the Run value or the record cannot be written;
// what was done before stays done. An uninstall entry whose key cannot be made is
// skipped silently.
void RegisterInstallation(const TLiveUpdate& settings, const std::string& packageVersion, bool createDesktopShortcut,
                          const TProductNames& names);

}  // namespace install
