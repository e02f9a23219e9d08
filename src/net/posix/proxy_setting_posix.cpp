// The Linux port's proxy setting is the environment of the process: http_proxy,
// https_proxy and no_proxy, read for every address so that a change the program
// makes to its own variables counts at once.
#include <cstdlib>

#include "net/proxy.h"
#include "net/proxy_resolver.h"

namespace net {
namespace {

// The lower-case name first, as curl and wget read them.
std::string Variable(const char* lower, const char* upper) {
  const char* v = std::getenv(lower);
  if (!v || !*v) v = std::getenv(upper);
  return v ? v : "";
}

bool Put(const char* lower, const char* upper, const std::string& value) {
  ::unsetenv(upper);
  return value.empty() ? ::unsetenv(lower) == 0 : ::setenv(lower, value.c_str(), 1) == 0;
}

}  // namespace

struct TProxyResolver::Impl {};

TProxyResolver::TProxyResolver() = default;
TProxyResolver::~TProxyResolver() = default;

TProxyPlan TProxyResolver::Resolve(const std::string& url) {
  return EnvironmentProxyPlan(url, Variable("http_proxy", "HTTP_PROXY"), Variable("https_proxy", "HTTPS_PROXY"),
                              Variable("no_proxy", "NO_PROXY"));
}

TUserProxySetting ReadUserProxySetting() {
  TUserProxySetting s;
  s.Server = Variable("http_proxy", "HTTP_PROXY");
  s.Enabled = !s.Server.empty();
  s.Bypass = Variable("no_proxy", "NO_PROXY");
  return s;
}

bool WriteUserProxySetting(const TUserProxySetting& setting) {
  const bool proxy = Put("http_proxy", "HTTP_PROXY", setting.Enabled ? setting.Server : "");
  return Put("no_proxy", "NO_PROXY", setting.Bypass) && proxy;
}

}  // namespace net
