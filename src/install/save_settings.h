// The product settings written after a successful installation or update: the
// product key's values, the application's data files added to the installation
// record, and the removal of deletions an earlier uninstallation left scheduled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "install/product_names.h"

class TLiveUpdate;

namespace install {

// The key path without its root name: when "HKEY_" occurs anywhere in it, what
// follows its first "\"; otherwise the text unchanged.
std::string StripRegistryRoot(const std::string& keyPath);

// The data files the application writes into its folder, recorded so that
// uninstallation removes them too: InstallFolder + "\ad.gif", ... in fixed order.
std::string DataFileList(const std::string& installFolder);

// "host;port", "host;", "port" or "" (port -1 means none).
std::string ProxyInfoText(const std::string& host, int32_t port);

// Fills host and port with the system's proxy; false when there is none.
using TProxyQuery = std::function<bool(std::string& host, int32_t& port)>;

// A registry value by its place: a root (platform::HKEY_*_ID), a key below it and
// the value's name.
struct TRegValueName {
  uint32_t Root = 0;
  std::string Key;
  std::string Name;
};

// The values the record of installed files (RecordInstalledFiles) and SaveSettings
// may write or delete in a run, each once: "Files" of the record of every entry of
// settings.RegistryKeys, the product key's values and its record's, and the
// deletions scheduled in RunOnce that SaveSettings removes. A run that does not
// complete puts them back as they were.
std::vector<TRegValueName> ValuesChangedByUpdate(const TLiveUpdate& settings, const TProductNames& names);
// Whether an update of the product names may change a value: those above (for
// the product's own registry keys), any deletion scheduled in RunOnce, the logon
// value and the values of the system uninstall entry. What an update's journal
// asks to put back must be one of these.
bool UpdateMayChange(const TRegValueName& value, const TProductNames& names);

// The "Version" value of the product key: the version of the installed package
// as its release statement gave it; "" when none is recorded, or what is recorded
// is no version.
std::string InstalledVersion(const TProductNames& names);

// Writes the product values below HKEY_CURRENT_USER and the product key path
// ("Version", packageVersion, too when the package came with a statement),
// merges the data files into its record, and deletes every RunOnce value of
// HKEY_LOCAL_MACHINE whose name contains "ORBAXLU_DEL_". True when the product key
// could be opened. An ordinary error (Exception) ends it with false after
// reportWarning(message); it never raises those.
bool SaveSettings(const TLiveUpdate& settings, const std::string& packageVersion,
                  const std::function<void(const std::string&)>& reportWarning, const TProductNames& names,
                  const TProxyQuery& proxyQuery = TProxyQuery());

}  // namespace install
