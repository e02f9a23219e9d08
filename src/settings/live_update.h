// The settings object: what the main window and the worker share about one
// run, plus the command-line switches and the parsing of root-qualified
// registry key paths.
#pragma once

#include <string>
#include <vector>

#include "settings/file_xml.h"
#include "settings/string_param.h"

class TLiveUpdate {
 public:
  TLiveUpdate();

  // Sub-key paths, each with its root key handle attached (platform::HKEY_*_ID).
  TStringParam RegistryKeys;
  std::string DownloadURL;
  // As the system returns it, with its trailing backslash.
  std::string TempFolder;
  // Without trailing backslash.
  std::string InstallFolder;
  // Not owned.
  TFileXML* Texts = nullptr;
  bool UninstallMode = false;

  // Whether any program argument equals the switch; ASCII letters compared
  // without regard to case, the whole argument.
  static bool HasSwitch(const std::string& name);
  static bool HasSwitch(const std::string& name, const std::vector<std::string>& arguments);
  // The argument after the first argument equal to the switch that has one
  // after it, unchanged; "" when there is none.
  static std::string GetSwitchValue(const std::string& name);
  static std::string GetSwitchValue(const std::string& name, const std::vector<std::string>& arguments);

  // Everything after the last "/"; "" when there is none.
  static std::string ExtractURLFileName(const std::string& address);

  // Replaces RegistryKeys with the pieces of a comma-separated list of
  // root-qualified key paths ("HKEY_CURRENT_USER\Software\X"). Pieces whose root
  // (before the first backslash, ASCII case ignored) is none of the five
  // predefined root names are skipped.
  void SetRegistryKeys(const std::string& list);
};
