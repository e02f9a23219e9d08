#include "net/uri.h"

#include <algorithm>

namespace net {

TURI TURI::Parse(const std::string& address) {
  TURI u;
  std::string s = address;
  std::replace(s.begin(), s.end(), '\\', '/');

  size_t sep = s.find("://");
  if (sep != std::string::npos) {
    u.Protocol = s.substr(0, sep);
    s.erase(0, sep + 3);
    size_t slash = s.find('/');
    std::string authority = s.substr(0, slash);
    s = slash == std::string::npos ? "" : s.substr(slash);
    // user[:password]@ before the host; the last "@" ends it, since a password
    // may hold one.
    size_t at = authority.rfind('@');
    if (at != std::string::npos) {
      std::string user = authority.substr(0, at);
      authority.erase(0, at + 1);
      size_t colon = user.find(':');
      u.Username = user.substr(0, colon);
      if (colon != std::string::npos) u.Password = user.substr(colon + 1);
    }
    // An IPv6 address is in brackets, its colons not the port's.
    size_t hostEnd = authority[0] == '[' ? authority.find(']') : 0;
    if (hostEnd == std::string::npos) hostEnd = authority.size();
    size_t colon = authority.find(':', hostEnd);
    u.Host = authority.substr(0, colon);
    if (hostEnd > 0) u.Host = u.Host.substr(1, hostEnd - 1);
    if (colon != std::string::npos) u.Port = authority.substr(colon + 1);
  }
  if (u.Protocol.empty()) u.Protocol = "http";

  size_t hash = s.find('#');
  if (hash != std::string::npos) {
    u.Bookmark = s.substr(hash + 1);
    s.erase(hash);
  }
  size_t params = s.find('?');
  if (params == std::string::npos) params = s.find('=');
  if (params != std::string::npos) {
    u.Params = s.substr(params);
    s.erase(params);
  }
  size_t last = s.rfind('/');
  u.Path = last == std::string::npos ? "" : s.substr(0, last + 1);
  u.Document = last == std::string::npos ? s : s.substr(last + 1);
  return u;
}

std::string TURI::Target() const {
  std::string t = Path + Document + Params;
  // An empty request target is not valid HTTP (RFC 9112 section 3.2).
  if (t.empty()) return "/";
  return t[0] == '/' ? t : "/" + t;
}

std::string AddressHost(const std::string& host) {
  return host.find(':') == std::string::npos ? host : "[" + host + "]";
}

std::string LoggableUrl(const std::string& url) {
  const size_t scheme = url.find("://");
  const size_t from = scheme == std::string::npos ? 0 : scheme + 3;
  std::string shown = url.substr(0, url.find_first_of("?#", from));
  if (scheme == std::string::npos) return shown;
  const size_t authorityEnd = shown.find_first_of("/\\", from);
  const size_t at = shown.rfind('@', authorityEnd == std::string::npos ? std::string::npos : authorityEnd);
  if (at == std::string::npos || at < from) return shown;
  const size_t colon = shown.find(':', from);
  if (colon == std::string::npos || colon > at) return shown;
  return shown.substr(0, colon + 1) + "***" + shown.substr(at);
}

}  // namespace net
