// The proxies to try for an address, in order, and why: what the system's own
// HTTP stack would use, and more than the fixed proxy GetSystemProxy reads.
//
// Windows: the current user's settings as WinHTTP reads them; when they ask for
// automatic detection or name a configuration script, WinHTTP's answer for the
// address (the script's further proxies too, where the system can say them);
// otherwise, or when that fails, the fixed proxy for the address's scheme unless
// the bypass list names its host; otherwise a direct connection. winhttp.dll is
// loaded when first needed: without it, the fixed proxy and bypass list of the
// Internet settings.
// Linux port: https_proxy (https addresses) or http_proxy, unless no_proxy
// names the host.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/uri.h"

namespace net {

struct TProxyServer {
  std::string Host;  // "" for a direct connection
  int32_t Port = 0;
  // Credentials the setting itself carries ("http://user:secret@gw:3128" in a
  // variable of the Linux port); never logged.
  std::string Username, Password;

  bool Direct() const { return Host.empty(); }
  // "host:port" ("[v6]:port"), or "DIRECT".
  std::string Text() const;
  bool operator==(const TProxyServer& o) const;
};

struct TProxyPlan {
  // In the order to try; the next is tried when one cannot be connected to.
  // Never empty.
  std::vector<TProxyServer> Servers;
  // How the choice was made, in words for the log.
  std::string Reason;
  // "gw:3128, DIRECT (configuration script http://wpad/wpad.dat)".
  std::string Describe() const;
};

// Resolves for one run: the user's settings are read once, on the first call.
// Never raises: a setting or a script that cannot be used falls back as above,
// and the reason says so.
class TProxyResolver {
 public:
  TProxyResolver();
  ~TProxyResolver();
  TProxyResolver(const TProxyResolver&) = delete;
  TProxyResolver& operator=(const TProxyResolver&) = delete;

  TProxyPlan Resolve(const std::string& url);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// ---- the rules behind it, the same on both targets

// "[scheme://][user[:password]@]host[:port][/...]", an IPv6 host in brackets;
// port 80 when none is given. False when there is no host or the port is not a
// number from 1 to 65535.
bool ParseProxyServer(const std::string& text, TProxyServer& server);

// The proxy a Windows proxy list gives an address of scheme: the "scheme=" entry,
// else the first entry without "=" (entries separated by ";" or blanks, as
// "gw:8080", "http=gw:8080;https=gw:8443"). False when it gives none.
bool ProxyForScheme(const std::string& list, const std::string& scheme, TProxyServer& server);

// A configuration script's answer ("PROXY a:1; PROXY b:2; DIRECT"), or WinHTTP's
// list made of it ("a:1;b:2"), in order, duplicates left out. Kinds of proxy the
// client cannot use (SOCKS, HTTPS) are left out too.
std::vector<TProxyServer> ParseScriptResult(const std::string& result);

// Whether a Windows bypass list names the host of url: "<local>" stands for a
// name without a dot and for the loopback addresses; other entries are host
// patterns where "*" stands for any text, optionally with "scheme://" before and
// ":port" after, letter case ignored. entry receives the entry that matched.
bool BypassListMatches(const std::string& list, const std::string& url, std::string& entry);

// Whether a no_proxy list names the host of url: "*" for every host; a name for
// itself and the names below it (a leading "." or "*." changes nothing); an IP
// address for itself, or a network as "address/bits"; ":port" after any of them
// limits it to that port. Entries separated by commas or blanks.
bool NoProxyMatches(const std::string& list, const std::string& url, std::string& entry);

// The plan for a fixed proxy list and its bypass list; source names where they
// come from, for the reason.
TProxyPlan FixedProxyPlan(const std::string& url, const std::string& list, const std::string& bypass,
                          const std::string& source);
// The Linux port's plan from the values of http_proxy, https_proxy and no_proxy.
TProxyPlan EnvironmentProxyPlan(const std::string& url, const std::string& httpProxy, const std::string& httpsProxy,
                                const std::string& noProxy);

}  // namespace net
