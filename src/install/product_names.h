// The product's fixed names, as the build (or lu-defaults) set them. Installation
// and uninstallation take them as one value so that a caller can point a run at
// other names than the shipped ones.
#pragma once

#include <string>

namespace install {

struct TProductNames {
  std::string ApplicationName;     // Run value, shortcuts, system uninstall key
  std::string ProgramGroupName;    // Start-menu folder of the shortcuts
  std::string ProductRegistryKey;  // root-qualified, "HKEY_CURRENT_USER\Software\..."
  std::string UpdaterFileName;     // this program's file inside the installation folder
  std::string ApplicationCommand;  // comma-separated programs; its file-name part is the target
  std::string DefaultUserName;
  std::string DefaultPlaceCode;
  std::string DefaultDownloadLocation;

  // The names stored in the program's build-time defaults.
  static TProductNames FromBuildDefaults();
};

}  // namespace install
