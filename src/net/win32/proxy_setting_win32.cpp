// The user's proxy setting as Internet Explorer keeps it, then a nudge so that
// WinINet in this process reads it again.
#include <windows.h>
#include <wininet.h>

#include "net/proxy.h"

namespace net {
namespace {
const char* const kInternetSettings = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
}

TUserProxySetting ReadUserProxySetting() {
  TUserProxySetting s;
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, KEY_READ, &key) != ERROR_SUCCESS) return s;
  DWORD enabled = 0, size = sizeof enabled, type = 0;
  if (RegQueryValueExA(key, "ProxyEnable", nullptr, &type, reinterpret_cast<BYTE*>(&enabled), &size) == ERROR_SUCCESS &&
      type == REG_DWORD)
    s.Enabled = enabled != 0;
  char server[1024];
  size = sizeof server - 1;
  if (RegQueryValueExA(key, "ProxyServer", nullptr, &type, reinterpret_cast<BYTE*>(server), &size) == ERROR_SUCCESS &&
      type == REG_SZ) {
    server[size] = '\0';
    s.Server = server;
  }
  RegCloseKey(key);
  return s;
}

bool WriteUserProxySetting(const TUserProxySetting& setting) {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  DWORD enabled = setting.Enabled ? 1 : 0;
  bool ok = RegSetValueExA(key, "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enabled), sizeof enabled) ==
            ERROR_SUCCESS;
  ok = ok && RegSetValueExA(key, "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(setting.Server.c_str()),
                            static_cast<DWORD>(setting.Server.size() + 1)) == ERROR_SUCCESS;
  RegCloseKey(key);
  // Null handle: the settings of the whole process.
  InternetSetOptionA(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
  InternetSetOptionA(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
  return ok;
}

}  // namespace net
