// Proxy discovery: the parse of the proxy list text, row by row, and the whole
// query against the user's real proxy setting.
#include <gtest/gtest.h>

#include "local_servers.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "net/proxy_resolver.h"
#include "scripted_server.h"

using net::ParseProxyList;

namespace {

struct Row {
  const char* list;
  const char* host;
  int32_t port;
  bool result;
};

// Host and Port start as the callers set them: "" and -1.
const Row kRows[] = {
    {"gw:8080", "gw", 8080, true},
    {"http=gw:8080;https=gw:8443", "gw", 8080, true},
    {"ftp=f:21 http=gw:3128", "gw", 3128, true},
    {"https=gw:8443;ftp=f:21", "", -1, false},
    {"http=gw", "", -1, false},
    {"gw:abc", "gw", 0, true},
    {":8080", "", 8080, false},
    // Edge cases.
    {"", "", -1, false},
    {"ftp=f:21;http=gw:81", "gw", 81, true},
    {"http=my gw:80;x", "my gw", 80, true},  // ";" wins, the blank stays in the host
    {"https=gw:8443", "", -1, false},
    {"http://gw:8080", "http", 0, true},
    {"gw:8080 other:1", "gw", 8080, true},
};

}  // namespace

TEST(ProxyList, EveryRowOfTheTable) {
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.list);
    std::string host;
    int32_t port = -1;
    EXPECT_EQ(ParseProxyList(r.list, host, port), r.result);
    EXPECT_EQ(host, r.host);
    EXPECT_EQ(port, r.port);
  }
}

TEST(ProxyList, NothingFoundLeavesTheCallersValues) {
  std::string host = "keep";
  int32_t port = 7;
  EXPECT_TRUE(ParseProxyList("http=gw", host, port));
  EXPECT_EQ(host, "keep");
  EXPECT_EQ(port, 7);
}

// Changes the user's proxy setting for one test and puts it back afterwards.
class SystemProxy : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = net::ReadUserProxySetting(); }
  void TearDown() override { net::WriteUserProxySetting(saved_); }
  net::TUserProxySetting saved_;
};

TEST_F(SystemProxy, TheUsersSettingIsFoundAndParsed) {
  ASSERT_TRUE(net::WriteUserProxySetting({true, "127.0.0.1:3128"}));
  std::string host;
  int32_t port = -1;
  EXPECT_TRUE(net::GetSystemProxy(host, port));
  EXPECT_EQ(host, "127.0.0.1");
  EXPECT_EQ(port, 3128);

  ASSERT_TRUE(net::WriteUserProxySetting({true, "ftp=f:21;http=gw:8000"}));
  host.clear();
  port = -1;
  EXPECT_TRUE(net::GetSystemProxy(host, port));
  EXPECT_EQ(host, "gw");
  EXPECT_EQ(port, 8000);
}

TEST_F(SystemProxy, NoProxyMeansDirect) {
  ASSERT_TRUE(net::WriteUserProxySetting({false, ""}));
  std::string host;
  int32_t port = -1;
  EXPECT_FALSE(net::GetSystemProxy(host, port));
  EXPECT_EQ(host, "");
  EXPECT_EQ(port, -1);
}

// ---------------------------------------------------------------- the proxy for an address

namespace {

enum class Rule { Fixed, Environment, Script };

struct PlanRow {
  Rule rule;
  const char* url;
  const char* proxy;   // Fixed: the list; Environment: http_proxy; Script: its answer
  const char* bypass;  // Fixed: the bypass list; Environment: no_proxy
  const char* servers;
  const char* httpsProxy = "";
};

const PlanRow kPlans[] = {
    // A Windows list: one proxy for all, or one per scheme.
    {Rule::Fixed, "http://updates.example/k.zip", "gw:8080", "", "gw:8080"},
    {Rule::Fixed, "https://updates.example/k.zip", "gw:8080", "", "gw:8080"},
    {Rule::Fixed, "http://updates.example/k.zip", "http=gw:8080;https=gs:8443", "", "gw:8080"},
    {Rule::Fixed, "https://updates.example/k.zip", "http=gw:8080;https=gs:8443", "", "gs:8443"},
    {Rule::Fixed, "https://updates.example/k.zip", "http=gw:8080", "", "DIRECT"},
    {Rule::Fixed, "http://updates.example/k.zip", "ftp=f:21 gw:3128", "", "gw:3128"},
    {Rule::Fixed, "http://updates.example/k.zip", "http=http://gw:8080", "", "gw:8080"},
    {Rule::Fixed, "http://updates.example/k.zip", "gw", "", "gw:80"},
    {Rule::Fixed, "http://updates.example/k.zip", "", "", "DIRECT"},
    // Its bypass list.
    {Rule::Fixed, "http://intranet/k.zip", "gw:8080", "<local>", "DIRECT"},
    {Rule::Fixed, "http://localhost:81/k.zip", "gw:8080", "<local>", "DIRECT"},
    {Rule::Fixed, "http://127.0.0.1:81/k.zip", "gw:8080", "<local>", "DIRECT"},
    {Rule::Fixed, "http://[::1]/k.zip", "gw:8080", "<local>", "DIRECT"},
    {Rule::Fixed, "http://updates.example/k.zip", "gw:8080", "<local>", "gw:8080"},
    {Rule::Fixed, "http://a.corp.example/k.zip", "gw:8080", "*.corp.example; 10.*", "DIRECT"},
    {Rule::Fixed, "http://corp.example/k.zip", "gw:8080", "*.corp.example; 10.*", "gw:8080"},
    {Rule::Fixed, "http://10.1.2.3/k.zip", "gw:8080", "*.corp.example; 10.*", "DIRECT"},
    {Rule::Fixed, "http://UPDATES.example:8080/k.zip", "gw:8080", "updates.EXAMPLE:8080", "DIRECT"},
    {Rule::Fixed, "http://updates.example/k.zip", "gw:8080", "updates.example:8080", "gw:8080"},
    {Rule::Fixed, "https://updates.example/k.zip", "gw:8080", "https://updates.example", "DIRECT"},
    {Rule::Fixed, "http://updates.example/k.zip", "gw:8080", "https://updates.example", "gw:8080"},
    {Rule::Fixed, "http://www.updates.example/k.zip", "gw:8080", "updates.example", "gw:8080"},
    // The Linux port's variables.
    {Rule::Environment, "http://updates.example/k.zip", "http://gw:3128/", "", "gw:3128"},
    {Rule::Environment, "https://updates.example/k.zip", "gw:3128", "", "gw:3128"},
    {Rule::Environment, "https://updates.example/k.zip", "gw:3128", "", "gs:8443", "http://gs:8443"},
    {Rule::Environment, "http://updates.example/k.zip", "", "", "DIRECT"},
    {Rule::Environment, "http://a.corp.example/k.zip", "gw:3128", ".corp.example", "DIRECT"},
    {Rule::Environment, "http://corp.example/k.zip", "gw:3128", "other, corp.example", "DIRECT"},
    {Rule::Environment, "http://notcorp.example/k.zip", "gw:3128", ".corp.example", "gw:3128"},
    {Rule::Environment, "http://updates.example/k.zip", "gw:3128", "*", "DIRECT"},
    {Rule::Environment, "http://updates.example:8080/k.zip", "gw:3128", "updates.example:8080", "DIRECT"},
    {Rule::Environment, "http://updates.example/k.zip", "gw:3128", "updates.example:8080", "gw:3128"},
    {Rule::Environment, "http://10.2.3.4/k.zip", "gw:3128", "10.0.0.0/8", "DIRECT"},
    {Rule::Environment, "http://11.0.0.1/k.zip", "gw:3128", "10.0.0.0/8", "gw:3128"},
    {Rule::Environment, "http://[::1]:81/k.zip", "gw:3128", "::1", "DIRECT"},
    {Rule::Environment, "http://127.0.0.1/k.zip", "gw:3128", "127.0.0.1", "DIRECT"},
    {Rule::Environment, "http://updates.example/k.zip", "[::1]:3128", "", "[::1]:3128"},
    // A configuration script's answer, or WinHTTP's list made of it.
    {Rule::Script, "", "PROXY a:1; PROXY b:2; DIRECT", "", "a:1, b:2, DIRECT"},
    {Rule::Script, "", "a:1;b:2", "", "a:1, b:2"},
    {Rule::Script, "", "SOCKS s:1; PROXY a:1; PROXY a:1", "", "a:1"},
    {Rule::Script, "", "DIRECT", "", "DIRECT"},
};

std::string Texts(const std::vector<net::TProxyServer>& servers) {
  std::string s;
  for (const auto& p : servers) s += (s.empty() ? "" : ", ") + p.Text();
  return s;
}

}  // namespace

TEST(ProxyPlan, EveryRowOfTheTable) {
  for (const PlanRow& r : kPlans) {
    SCOPED_TRACE(std::string(r.url) + " | " + r.proxy + " | " + r.bypass);
    if (r.rule == Rule::Script) {
      EXPECT_EQ(Texts(net::ParseScriptResult(r.proxy)), r.servers);
      continue;
    }
    const net::TProxyPlan plan = r.rule == Rule::Fixed
                                     ? net::FixedProxyPlan(r.url, r.proxy, r.bypass, "settings")
                                     : net::EnvironmentProxyPlan(r.url, r.proxy, r.httpsProxy, r.bypass);
    EXPECT_EQ(Texts(plan.Servers), r.servers);
    EXPECT_FALSE(plan.Reason.empty());
  }
}

TEST(ProxyPlan, CredentialsOfTheSettingAreKeptButNeverShown) {
  const net::TProxyPlan plan = net::EnvironmentProxyPlan("http://h/k.zip", "http://ann:p%40ss@gw:3128", "", "");
  ASSERT_EQ(plan.Servers.size(), 1u);
  EXPECT_EQ(plan.Servers[0].Username, "ann");
  EXPECT_EQ(plan.Servers[0].Password, "p@ss");
  EXPECT_EQ(plan.Describe().find("p@ss"), std::string::npos);
  EXPECT_EQ(plan.Describe().find("p%40ss"), std::string::npos);
  // Every log line and report: no password, no query or fragment (tokens ride there).
  for (const auto& [url, shown] :
       std::vector<std::pair<std::string, std::string>>{{"http://ann:secret@h/k.zip?x=1", "http://ann:***@h/k.zip"},
                                                        {"http://h/k.zip?u=a@b#frag", "http://h/k.zip"},
                                                        {"https://ann@h:8443/p/k.zip#x", "https://ann@h:8443/p/k.zip"},
                                                        {"http://a:b@c:d@h/?token=1", "http://a:***@h/"},
                                                        {"/k.zip?x", "/k.zip"}})
    EXPECT_EQ(net::LoggableUrl(url), shown) << url;
}

// The system's choice carries the download, on loopback: a configuration script
// (Windows; the Linux port has none) or the fixed proxy with its bypass list.
// tinyproxy passes on what goes through it and adds its Via line.
TEST_F(SystemProxy, TheSystemsChoiceCarriesTheDownload) {
  nettest::THostServers tinyproxy("tinyproxy");
  if (!tinyproxy.Missing().empty()) GTEST_SKIP() << tinyproxy.Missing();
  ASSERT_TRUE(tinyproxy.Ready()) << tinyproxy.Failure();
  const std::string live = "127.0.0.1:" + std::to_string(tinyproxy.Port("tinyproxy"));
  uint16_t closed;
  {
    net::TListener l;
    closed = l.Port();
  }
  const std::string dead = "127.0.0.1:" + std::to_string(closed);
  std::string last;
  nettest::TScriptedServer package(
      [&](net::TSocket& s, int) {
        last = nettest::ReadRequestHead(s);
        nettest::Send(s, "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 8\r\n\r\nkestrova");
      },
      20);
  const std::string script =
      "function FindProxyForURL(url, host) {\n  if (host == \"localhost\") return \"DIRECT\";\n"
      "  if (shExpMatch(url, \"*/dead/*\")) return \"PROXY " +
      dead + "; PROXY " + live + "\";\n  return \"PROXY " + live + "\";\n}\n";
  nettest::TScriptedServer pac(nettest::Answer("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " +
                                               std::to_string(script.size()) + "\r\n\r\n" + script),
                               50);
  struct Row {
    bool script;
    const char* bypass;
    const char* host;
    const char* path;
    bool viaProxy;
  };
  const Row rows[] = {
      {true, "", "127.0.0.1", "/kestrova.zip", true},
      {true, "", "127.0.0.1", "/dead/kestrova.zip", true},  // the next proxy of the script
      {true, "", "localhost", "/kestrova.zip", false},      // the script says DIRECT
      {false, "localhost", "localhost", "/kestrova.zip", false},
      {false, "localhost", "127.0.0.1", "/kestrova.zip", true},
  };
  for (const Row& row : rows) {
#ifndef _WIN32
    if (row.script) continue;
#endif
    const std::string url = std::string("http://") + row.host + ":" + std::to_string(package.Port()) + row.path;
    SCOPED_TRACE(url + (row.script ? " by the script" : " by the fixed proxy"));
    net::TUserProxySetting setting(!row.script, row.script ? "" : live);
    setting.Bypass = row.bypass;
    if (row.script) setting.AutoConfigUrl = pac.Url("/proxy.pac");
    ASSERT_TRUE(net::WriteUserProxySetting(setting));
    nettest::TLogCapture log;
    net::TProxyResolver resolver;
    net::THTTPClient client;
    client.ResolveProxy = [&resolver](const std::string& u) { return resolver.Resolve(u); };
    TMemoryStream out;
    ASSERT_NO_THROW(client.Get(url, out)) << log.Text();
    EXPECT_EQ(out.Data(), "kestrova");
    EXPECT_EQ(last.find("\r\nVia: ") != std::string::npos, row.viaProxy) << last;
    const bool toDead = std::string(row.path).find("/dead/") != std::string::npos;
    const std::string text = log.Text();
    EXPECT_NE(text.find("proxy for " + url + ": " +
                        (!row.viaProxy ? "DIRECT"
                         : toDead      ? dead + ", " + live
                                       : live)),
              std::string::npos)
        << text;
    if (row.script) {
      EXPECT_NE(text.find("(configuration script " + pac.Url("/proxy.pac")), std::string::npos) << text;
    }
    if (toDead) {
      EXPECT_NE(text.find("proxy " + dead + " cannot be reached"), std::string::npos) << text;
    }
  }
}
