// The client's cookie store: cookies from Set-Cookie and Set-Cookie2 lines kept in
// memory for the client's lifetime and sent back to matching requests.
#pragma once

#include <string>
#include <vector>

namespace net {

class TCookieStore {
 public:
  // One Set-Cookie value ("name=value; Domain=...; Path=...; Max-Age=..."),
  // received for host and request path. A cookie of the same name, domain and path
  // is replaced; Max-Age 0 or less removes it.
  void Add(const std::string& setCookie, const std::string& host, const std::string& requestPath);
  // "a=1; b=2" for a request to host and path; "" when nothing matches.
  std::string CookieHeader(const std::string& host, const std::string& path) const;
  size_t Count() const { return cookies_.size(); }

  // A server cannot make the store grow without end.
  static constexpr size_t kMaxCookies = 300;

 private:
  struct Cookie {
    std::string name, value, domain, path;
    bool hostOnly = true;
  };
  std::vector<Cookie> cookies_;
};

}  // namespace net
