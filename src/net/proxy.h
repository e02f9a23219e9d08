// The fixed proxy the current user's Internet settings name for HTTP, in its
// plain "host:port" form (also as the "http=" entry of a per-protocol list), as
// recorded in the product's settings after an update. The proxies a download
// goes through are proxy_resolver.h's, which also reads the configuration
// script, auto-detection and the bypass list; this file also reads and writes
// the user's setting for tests and tools.
#pragma once

#include <cstdint>
#include <string>

namespace net {

// Asks the system (WinINet on Windows; http_proxy on the Linux port) and parses
// its proxy list. Host and Port are written together, and only when an entry of
// the form host:port was found; otherwise they keep what the caller gave (the
// callers pass "" and -1). Returns whether Host is not empty and Port is not -1
// on return. Never raises: every failure means no proxy.
bool GetSystemProxy(std::string& Host, int32_t& Port);

// The parse behind it, for a proxy list text such as "gw:8080",
// "http=gw:8080;https=gw:8443" or "ftp=f:21 http=gw:3128". Same contract.
bool ParseProxyList(const std::string& list, std::string& Host, int32_t& Port);

// ---- the current user's proxy setting, for tests and tools that need to point
// the program at a proxy. Windows: the "Internet Settings" registry values of
// HKEY_CURRENT_USER (ProxyEnable, ProxyServer, ProxyOverride, AutoConfigURL) and
// the connection settings WinHTTP reads (DefaultConnectionSettings), kept alike
// as the system keeps them, after which WinINet is told to reload them. Linux
// port: this process's http_proxy and no_proxy (there are no scripts there).
struct TUserProxySetting {
  TUserProxySetting() = default;
  TUserProxySetting(bool enabled, std::string server) : Enabled(enabled), Server(std::move(server)) {}
  bool Enabled = false;
  std::string Server;         // the proxy list text ("host:port")
  std::string Bypass;         // the bypass list ("<local>;*.corp"), no_proxy on the Linux port
  std::string AutoConfigUrl;  // a configuration script
  bool AutoDetect = false;
};
TUserProxySetting ReadUserProxySetting();
bool WriteUserProxySetting(const TUserProxySetting& setting);

}  // namespace net
