// Proxy discovery: the parse of the proxy list text, row by row, and the whole
// query against the user's real proxy setting.
#include <gtest/gtest.h>

#include "net/proxy.h"

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
