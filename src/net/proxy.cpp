#include "net/proxy.h"

#include "base/log.h"
#include "base/text.h"
#include "platform/system.h"

namespace net {

namespace {
constexpr uint32_t kInternetOpenTypeProxy = 3;  // INTERNET_OPEN_TYPE_PROXY
}

bool ParseProxyList(const std::string& list, std::string& Host, int32_t& Port) {
  std::string w = list;
  if (!w.empty()) {
    // "http=" is looked for before the list is cut, so an HTTP entry that is
    // not the first one is still found.
    int64_t p = text::Pos("http=", w);
    if (p > 0) w = text::CopyFrom(w, p + 5);
    std::string separator = text::Pos(";", w) > 0 ? ";" : " ";
    int64_t s = text::Pos(separator, w);
    if (s > 0) w = text::Copy(w, 1, s - 1);
    // What is left is another protocol's entry.
    if (text::Pos("=", w) > 0) w.clear();
    int64_t q = text::Pos(":", w);
    if (q > 0) {
      Host = text::Copy(w, 1, q - 1);
      Port = text::StrToIntDef(text::CopyFrom(w, q + 1), 0);
    }
  }
  return !Host.empty() && Port != -1;
}

bool GetSystemProxy(std::string& Host, int32_t& Port) {
  std::string list;
  try {
    uint32_t accessType = 0;
    std::string text;
    if (platform::QueryProxySettings(accessType, text) && accessType == kInternetOpenTypeProxy) list = text;
  } catch (const std::exception& e) {
    // A failing query means no proxy.
    logging::Log(std::string("Proxy setting: the query failed (") + e.what() + "); no proxy");
    list.clear();
  } catch (...) {
    logging::Log("Proxy setting: the query failed with an error of no known kind; no proxy");
    list.clear();
  }
  return ParseProxyList(list, Host, Port);
}

}  // namespace net
