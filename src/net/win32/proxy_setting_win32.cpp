// The user's proxy setting as Internet Explorer keeps it: the registry values
// WinINet reads and the connection settings WinHTTP reads, written alike, then a
// nudge so that WinINet in this process reads them again.
#include <windows.h>
#include <wininet.h>

#include <vector>

#include "net/proxy.h"

namespace net {
namespace {

const char* const kInternetSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
const char* const kConnections = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const char* const kDefaultConnection = "DefaultConnectionSettings";

// The connection settings record: a version, a change counter, the flags, then
// the proxy list, the bypass list and the script's address, each as a length and
// its bytes, then fields of automatic detection we leave at zero.
constexpr DWORD kSettingsVersion = 0x46;
constexpr DWORD kFlagDirect = 0x1, kFlagProxy = 0x2, kFlagScript = 0x4, kFlagDetect = 0x8;

class TKey {
 public:
  TKey(const char* path, bool write) {
    ok_ = (write ? ::RegCreateKeyExA(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, &key_,
                                     nullptr)
                 : ::RegOpenKeyExA(HKEY_CURRENT_USER, path, 0, KEY_READ, &key_)) == ERROR_SUCCESS;
  }
  ~TKey() {
    if (ok_) ::RegCloseKey(key_);
  }
  TKey(const TKey&) = delete;
  TKey& operator=(const TKey&) = delete;
  bool Ok() const { return ok_; }
  bool Read(const char* name, std::string& data, DWORD& type) const {
    DWORD size = 0;
    if (!ok_ || ::RegQueryValueExA(key_, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, '\0');
    if (::RegQueryValueExA(key_, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS)
      return false;
    data.resize(size);
    return true;
  }
  std::string Text(const char* name) const {
    std::string data;
    DWORD type = 0;
    if (!Read(name, data, type) || (type != REG_SZ && type != REG_EXPAND_SZ)) return "";
    return data.substr(0, data.find('\0'));
  }
  bool Write(const char* name, DWORD type, const std::string& data) {
    return ::RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(data.data()),
                            static_cast<DWORD>(data.size())) == ERROR_SUCCESS;
  }
  bool WriteText(const char* name, const std::string& text) { return Write(name, REG_SZ, text + '\0'); }
  void Delete(const char* name) { ::RegDeleteValueA(key_, name); }

 private:
  HKEY key_{};
  bool ok_ = false;
};

DWORD ReadDword(const std::string& data, size_t& at) {
  DWORD v = 0;
  for (int i = 0; i < 4 && at < data.size(); ++i, ++at)
    v |= static_cast<DWORD>(static_cast<unsigned char>(data[at])) << (8 * i);
  return v;
}

void PutDword(std::string& data, DWORD v) {
  for (int i = 0; i < 4; ++i) data += static_cast<char>((v >> (8 * i)) & 0xFF);
}

void PutField(std::string& data, const std::string& s) {
  PutDword(data, static_cast<DWORD>(s.size()));
  data += s;
}

}  // namespace

TUserProxySetting ReadUserProxySetting() {
  TUserProxySetting s;
  const TKey settings(kInternetSettings, false);
  std::string data;
  DWORD type = 0;
  if (settings.Read("ProxyEnable", data, type) && type == REG_DWORD) {
    size_t at = 0;
    s.Enabled = ReadDword(data, at) != 0;
  }
  s.Server = settings.Text("ProxyServer");
  s.Bypass = settings.Text("ProxyOverride");
  s.AutoConfigUrl = settings.Text("AutoConfigURL");
  const TKey connections(kConnections, false);
  if (connections.Read(kDefaultConnection, data, type) && type == REG_BINARY) {
    size_t at = 8;
    s.AutoDetect = (ReadDword(data, at) & kFlagDetect) != 0;
  }
  return s;
}

bool WriteUserProxySetting(const TUserProxySetting& setting) {
  TKey settings(kInternetSettings, true);
  TKey connections(kConnections, true);
  if (!settings.Ok() || !connections.Ok()) return false;
  std::string enabled;
  PutDword(enabled, setting.Enabled ? 1 : 0);
  bool ok = settings.Write("ProxyEnable", REG_DWORD, enabled);
  ok = settings.WriteText("ProxyServer", setting.Server) && ok;
  ok = settings.WriteText("ProxyOverride", setting.Bypass) && ok;
  if (setting.AutoConfigUrl.empty())
    settings.Delete("AutoConfigURL");
  else
    ok = settings.WriteText("AutoConfigURL", setting.AutoConfigUrl) && ok;

  std::string old;
  DWORD type = 0;
  size_t at = 4;
  const DWORD counter = connections.Read(kDefaultConnection, old, type) ? ReadDword(old, at) + 1 : 1;
  std::string record;
  PutDword(record, kSettingsVersion);
  PutDword(record, counter);
  PutDword(record, kFlagDirect | (setting.Enabled ? kFlagProxy : 0) |
                       (setting.AutoConfigUrl.empty() ? 0 : kFlagScript) | (setting.AutoDetect ? kFlagDetect : 0));
  PutField(record, setting.Server);
  PutField(record, setting.Bypass);
  PutField(record, setting.AutoConfigUrl);
  record.append(32, '\0');
  ok = connections.Write(kDefaultConnection, REG_BINARY, record) && ok;
  // Null handle: the settings of the whole process.
  InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
  return ok;
}

}  // namespace net
