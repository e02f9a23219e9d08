#include "net/proxy_resolver.h"

#include <algorithm>

#include "base/text.h"
#include "base/wildcard.h"
#include "net/socket.h"
#include "net/uri.h"

namespace net {
namespace {

// The parts of an address the rules look at.
struct TAddress {
  std::string scheme;  // lower case
  std::string host;    // lower case, an IPv6 address without brackets, no trailing dot
  int32_t port = 80;
};

TAddress AddressOf(const std::string& url) {
  const TURI u = TURI::Parse(url);
  TAddress a;
  a.scheme = text::LowerCase(u.Protocol);
  a.host = text::LowerCase(u.Host);
  if (!a.host.empty() && a.host.back() == '.') a.host.pop_back();
  if (!text::TryStrToInt(u.Port, a.port)) a.port = a.scheme == "https" ? 443 : 80;
  return a;
}

std::vector<std::string> Split(const std::string& list, const char* separators) {
  std::vector<std::string> items;
  size_t from = 0;
  while (from <= list.size()) {
    size_t end = list.find_first_of(separators, from);
    if (end == std::string::npos) end = list.size();
    std::string item = text::Trim(list.substr(from, end - from));
    if (!item.empty()) items.push_back(item);
    from = end + 1;
  }
  return items;
}

bool IsLoopback(const std::string& host) {
  if (host == "localhost") return true;
  const std::string bytes = IpAddressBytes(host);
  if (bytes.size() == 4) return bytes[0] == 127;
  return bytes == std::string(15, '\0') + '\1';
}

// Splits "host:port" or "[v6]:port" at its port and takes the brackets away: port
// -1 when there is none (a bare IPv6 address has several colons and none), 0
// when it is not a number.
void SplitPort(std::string& host, int32_t& port) {
  port = -1;
  std::string portText;
  bool hasPort = false;
  if (!host.empty() && host[0] == '[') {
    const size_t close = host.find(']');
    if (close == std::string::npos) return;
    hasPort = close + 1 < host.size() && host[close + 1] == ':';
    if (hasPort) portText = host.substr(close + 2);
    host = host.substr(1, close - 1);
  } else if (host.find(':') != std::string::npos && host.find(':') == host.rfind(':')) {
    hasPort = true;
    portText = host.substr(host.find(':') + 1);
    host.erase(host.find(':'));
  }
  if (hasPort && (!text::TryStrToInt(portText, port) || port < 0)) port = 0;
}

// Whether address lies in the network "address/bits".
bool InNetwork(const std::string& addressBytes, const std::string& network) {
  const size_t slash = network.find('/');
  int32_t bits = 0;
  if (slash == std::string::npos || !text::TryStrToInt(network.substr(slash + 1), bits) || bits < 0) return false;
  const std::string net = IpAddressBytes(network.substr(0, slash));
  if (net.empty() || net.size() != addressBytes.size() || bits > static_cast<int32_t>(net.size() * 8)) return false;
  for (int32_t i = 0; i < bits; ++i) {
    const int mask = 0x80 >> (i % 8);
    if ((net[static_cast<size_t>(i / 8)] & mask) != (addressBytes[static_cast<size_t>(i / 8)] & mask)) return false;
  }
  return true;
}

// RFC 3986 percent-encoding, as a password with reserved characters is written.
std::string PercentDecoded(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size() && text::HexDigitValue(s[i + 1]) >= 0 && text::HexDigitValue(s[i + 2]) >= 0) {
      out += static_cast<char>(text::HexDigitValue(s[i + 1]) * 16 + text::HexDigitValue(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

TProxyPlan DirectPlan(std::string reason) {
  TProxyPlan plan;
  plan.Servers.emplace_back();
  plan.Reason = std::move(reason);
  return plan;
}

}  // namespace

std::string TProxyServer::Text() const { return Direct() ? "DIRECT" : AddressHost(Host) + ":" + std::to_string(Port); }

bool TProxyServer::operator==(const TProxyServer& o) const {
  return text::SameText(Host, o.Host) && (Direct() || Port == o.Port);
}

std::string TProxyPlan::Describe() const {
  std::string list;
  for (const auto& s : Servers) list += (list.empty() ? "" : ", ") + s.Text();
  return list + " (" + Reason + ")";
}

bool ParseProxyServer(const std::string& text, TProxyServer& server) {
  std::string s = text::Trim(text);
  const size_t scheme = s.find("://");
  if (scheme != std::string::npos) s.erase(0, scheme + 3);
  s = s.substr(0, s.find('/'));
  TProxyServer result;
  const size_t at = s.rfind('@');
  if (at != std::string::npos) {
    const std::string user = s.substr(0, at);
    const size_t colon = user.find(':');
    result.Username = PercentDecoded(user.substr(0, colon));
    if (colon != std::string::npos) result.Password = PercentDecoded(user.substr(colon + 1));
    s.erase(0, at + 1);
  }
  SplitPort(s, result.Port);
  if (result.Port == -1) result.Port = 80;
  if (s.empty() || result.Port < 1 || result.Port > 65535) return false;
  result.Host = s;
  server = result;
  return true;
}

bool ProxyForScheme(const std::string& list, const std::string& scheme, TProxyServer& server) {
  std::string general;
  for (const std::string& entry : Split(list, "; \t")) {
    const size_t eq = entry.find('=');
    if (eq == std::string::npos) {
      if (general.empty()) general = entry;
    } else if (text::SameText(text::Trim(entry.substr(0, eq)), scheme)) {
      return ParseProxyServer(entry.substr(eq + 1), server);
    }
  }
  return !general.empty() && ParseProxyServer(general, server);
}

std::vector<TProxyServer> ParseScriptResult(const std::string& result) {
  std::vector<TProxyServer> out;
  auto add = [&out](const TProxyServer& s) {
    if (std::find(out.begin(), out.end(), s) == out.end()) out.push_back(s);
  };
  for (const std::string& item : Split(result, ";")) {
    const std::vector<std::string> words = Split(item, " \t");
    const std::string kind = text::UpperCase(words[0]);
    TProxyServer server;
    if (kind == "DIRECT") {
      add(server);
    } else if (kind == "PROXY" || kind == "HTTP") {
      if (words.size() > 1 && ParseProxyServer(words[1], server)) add(server);
    } else if (kind == "SOCKS" || kind == "SOCKS4" || kind == "SOCKS5" || kind == "HTTPS") {
      // Kinds this client does not speak.
    } else {
      for (const std::string& w : words)
        if (ParseProxyServer(w, server)) add(server);
    }
  }
  return out;
}

bool BypassListMatches(const std::string& list, const std::string& url, std::string& entry) {
  const TAddress a = AddressOf(url);
  for (const std::string& item : Split(list, ";, \t")) {
    if (text::SameText(item, "<local>")) {
      const bool plainName = a.host.find('.') == std::string::npos && a.host.find(':') == std::string::npos;
      if (!a.host.empty() && (plainName || IsLoopback(a.host))) {
        entry = item;
        return true;
      }
      continue;
    }
    std::string pattern = text::LowerCase(item);
    const size_t scheme = pattern.find("://");
    if (scheme != std::string::npos) {
      if (pattern.substr(0, scheme) != a.scheme) continue;
      pattern.erase(0, scheme + 3);
    }
    int32_t port;
    SplitPort(pattern, port);
    if (port != -1 && port != a.port) continue;
    if (!pattern.empty() && text::MatchesWildcard(a.host, pattern, text::TWildcards::StarOnly)) {
      entry = item;
      return true;
    }
  }
  return false;
}

bool NoProxyMatches(const std::string& list, const std::string& url, std::string& entry) {
  const TAddress a = AddressOf(url);
  const std::string hostBytes = IpAddressBytes(a.host);
  for (const std::string& item : Split(list, ", \t")) {
    if (item == "*") {
      entry = item;
      return true;
    }
    std::string name = text::LowerCase(item);
    int32_t port = -1;
    if (name.find('/') == std::string::npos) SplitPort(name, port);
    if (port != -1 && port != a.port) continue;
    bool match;
    if (name.find('/') != std::string::npos) {
      match = !hostBytes.empty() && InNetwork(hostBytes, name);
    } else if (!IpAddressBytes(name).empty()) {
      match = IpAddressBytes(name) == hostBytes;
    } else {
      if (text::StartsText("*.", name)) name.erase(0, 1);
      if (!name.empty() && name[0] == '.') name.erase(0, 1);
      if (!name.empty() && name.back() == '.') name.pop_back();
      match = !name.empty() && (a.host == name || text::EndsText("." + name, a.host));
    }
    if (match) {
      entry = item;
      return true;
    }
  }
  return false;
}

TProxyPlan FixedProxyPlan(const std::string& url, const std::string& list, const std::string& bypass,
                          const std::string& source) {
  const TAddress a = AddressOf(url);
  TProxyServer server;
  if (text::Trim(list).empty()) return DirectPlan(source + ": no proxy");
  if (!ProxyForScheme(list, a.scheme, server))
    return DirectPlan(source + ": no proxy that can be used for " + a.scheme);
  std::string entry;
  if (BypassListMatches(bypass, url, entry))
    return DirectPlan(source + ": " + a.host + " is on the bypass list (" + entry + ")");
  TProxyPlan plan;
  plan.Servers.push_back(server);
  plan.Reason = source;
  return plan;
}

TProxyPlan EnvironmentProxyPlan(const std::string& url, const std::string& httpProxy, const std::string& httpsProxy,
                                const std::string& noProxy) {
  const TAddress a = AddressOf(url);
  // An https address without https_proxy takes http_proxy, as it always has here.
  const bool ownVariable = a.scheme == "https" && !text::Trim(httpsProxy).empty();
  const std::string name = ownVariable ? "https_proxy" : "http_proxy";
  const std::string value = text::Trim(ownVariable ? httpsProxy : httpProxy);
  if (value.empty()) return DirectPlan("no proxy variable set");
  std::string entry;
  if (NoProxyMatches(noProxy, url, entry)) return DirectPlan("no_proxy names " + a.host + " (" + entry + ")");
  TProxyServer server;
  if (!ParseProxyServer(value, server)) return DirectPlan(name + " cannot be read");
  TProxyPlan plan;
  plan.Servers.push_back(server);
  plan.Reason = name;
  return plan;
}

}  // namespace net
