// The Linux port's proxy setting is the http_proxy variable of the process.
#include <cstdlib>

#include "net/proxy.h"

namespace net {

TUserProxySetting ReadUserProxySetting() {
  TUserProxySetting s;
  const char* v = std::getenv("http_proxy");
  if (!v || !*v) v = std::getenv("HTTP_PROXY");
  if (v && *v) {
    s.Enabled = true;
    s.Server = v;
  }
  return s;
}

bool WriteUserProxySetting(const TUserProxySetting& setting) {
  ::unsetenv("HTTP_PROXY");
  if (!setting.Enabled || setting.Server.empty()) return ::unsetenv("http_proxy") == 0;
  return ::setenv("http_proxy", setting.Server.c_str(), 1) == 0;
}

}  // namespace net
