#include "net/cookies.h"

#include <algorithm>

#include "base/text.h"

namespace net {
namespace {

// RFC 6265 section 5.1.3.
bool DomainMatches(const std::string& host, const std::string& domain) {
  if (text::SameText(host, domain)) return true;
  return host.size() > domain.size() && host[host.size() - domain.size() - 1] == '.' && text::EndsText(domain, host);
}

// RFC 6265 section 5.1.4.
bool PathMatches(const std::string& requestPath, const std::string& cookiePath) {
  if (requestPath.compare(0, cookiePath.size(), cookiePath) != 0) return false;
  return requestPath.size() == cookiePath.size() || cookiePath.back() == '/' || requestPath[cookiePath.size()] == '/';
}

}  // namespace

void TCookieStore::Add(const std::string& setCookie, const std::string& host, const std::string& requestPath) {
  Cookie c;
  bool expired = false;
  size_t from = 0;
  bool first = true;
  for (;;) {
    size_t semi = setCookie.find(';', from);
    std::string part = text::Trim(setCookie.substr(from, semi == std::string::npos ? std::string::npos : semi - from));
    size_t eq = part.find('=');
    std::string key = text::Trim(part.substr(0, eq));
    std::string value = eq == std::string::npos ? "" : text::Trim(part.substr(eq + 1));
    if (first) {
      if (eq == std::string::npos || key.empty()) return;  // not a cookie
      c.name = key;
      c.value = value;
      first = false;
    } else if (text::SameText(key, "Domain") && !value.empty()) {
      c.domain = value[0] == '.' ? value.substr(1) : value;
      c.hostOnly = false;
    } else if (text::SameText(key, "Path") && !value.empty() && value[0] == '/') {
      c.path = value;
    } else if (text::SameText(key, "Max-Age")) {
      int64_t age;
      if (text::TryStrToInt64(value, age) && age <= 0) expired = true;
    }
    if (semi == std::string::npos) break;
    from = semi + 1;
  }
  // A server may only set cookies for itself or a domain above it.
  if (c.hostOnly || !DomainMatches(host, c.domain)) {
    c.domain = host;
    c.hostOnly = true;
  }
  if (c.path.empty()) {
    // RFC 6265 section 5.1.4: the default path is the request's folder.
    size_t last = requestPath.rfind('/');
    c.path = (last == std::string::npos || last == 0) ? "/" : requestPath.substr(0, last);
  }
  auto same = [&](const Cookie& o) {
    return o.name == c.name && text::SameText(o.domain, c.domain) && o.path == c.path;
  };
  cookies_.erase(std::remove_if(cookies_.begin(), cookies_.end(), same), cookies_.end());
  if (expired) return;
  if (cookies_.size() >= kMaxCookies) cookies_.erase(cookies_.begin());
  cookies_.push_back(std::move(c));
}

std::string TCookieStore::CookieHeader(const std::string& host, const std::string& path) const {
  std::string out;
  for (const auto& c : cookies_) {
    bool hostOk = c.hostOnly ? text::SameText(host, c.domain) : DomainMatches(host, c.domain);
    if (!hostOk || !PathMatches(path, c.path)) continue;
    if (!out.empty()) out += "; ";
    out += c.name + "=" + c.value;
  }
  return out;
}

}  // namespace net
