// lu-get as a user runs it, against scripted servers, nginx over TLS and a real
// proxy (tinyproxy) on loopback, found through the user's proxy setting.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "local_servers.h"
#include "net/proxy.h"
#include "net/socket.h"
#include "platform/processes.h"
#include "scripted_server.h"

namespace fs = std::filesystem;
using nettest::Answer;
using nettest::TScriptedServer;

namespace {

std::string ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::string Body(size_t n) {
  std::string s(n, '\0');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7919) >> 3);
  return s;
}

// The tests run in the build's tests folder; the tools lie one level up.
fs::path Tool(const std::string& name) {
  for (const char* ext : {".exe", ""}) {
    fs::path p = fs::path("..") / (name + ext);
    if (fs::exists(p)) return p.make_preferred();
  }
  return {};
}

class LuGet : public ::testing::Test {
 protected:
  void SetUp() override {
    tool_ = Tool("lu-get");
    if (tool_.empty()) GTEST_SKIP() << "lu-get is not built";
    saved_ = net::ReadUserProxySetting();
    ASSERT_TRUE(net::WriteUserProxySetting({false, ""}));  // direct unless a test says otherwise
    dir_ = fs::temp_directory_path() / ("lu-get-test-" + std::to_string(platform::CurrentProcessId()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    if (tool_.empty()) return;
    net::WriteUserProxySetting(saved_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
  }

  // Runs lu-get with args; returns its exit status and fills output with what it
  // printed.
  int Run(const std::string& args, std::string& output) {
    fs::path log = dir_ / "output.txt";
    // The tool path has no blanks; left unquoted so that cmd.exe keeps the quotes
    // of the arguments.
    std::string command = tool_.string() + " " + args + " > \"" + log.string() + "\" 2>&1";
    int status = std::system(command.c_str());
    output = ReadFile(log);
    return status;
  }

  fs::path tool_, dir_;
  net::TUserProxySetting saved_;
};

}  // namespace

TEST_F(LuGet, CompleteDownloadExitsZero) {
  std::string body = Body(300000);
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 300000\r\n\r\n" + body));
  fs::path file = dir_ / "kestrovafull.zip";
  std::string out;
  EXPECT_EQ(Run(server.Url("/kestrova/kestrovafull.zip") + " \"" + file.string() + "\"", out), 0) << out;
  EXPECT_TRUE(ReadFile(file) == body) << "file of " << ReadFile(file).size() << " bytes differs";
  EXPECT_EQ(out, "");  // no progress line when the output is not a terminal
}

TEST_F(LuGet, TheNullDeviceTakesTheBodyAndStays) {
  for (const char* sink : {"/dev/null", "NUL"}) {
    TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + Body(70000)));
    std::string out;
    EXPECT_EQ(Run(server.Url("/f.zip") + " " + sink, out), 0) << sink << ": " << out;
  }
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc"));
  std::string out;
  EXPECT_NE(Run(server.Url("/f.zip") + " /dev/null", out), 0);
  EXPECT_NE(out.find("Incomplete download: 3 of 9 bytes."), std::string::npos) << out;
}

TEST_F(LuGet, FailuresExitWithTheMessageAndLeaveNoFile) {
  fs::path file = dir_ / "f.zip";
  std::string out;
  {
    // Cut on its one attempt.
    TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + Body(700)));
    EXPECT_NE(Run("--attempts 1 " + server.Url("/f.zip") + " \"" + file.string() + "\"", out), 0);
    EXPECT_NE(out.find("The download stopped at 700 of 1000 bytes after 1 attempts."), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(file));
  }
  {
    TScriptedServer server(Answer("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n"));
    EXPECT_NE(Run(server.Url("/f.zip") + " \"" + file.string() + "\"", out), 0);
    EXPECT_NE(out.find("HTTP/1.1 404 Not Found"), std::string::npos) << out;
    EXPECT_FALSE(fs::exists(file));
  }
  uint16_t closedPort;
  {
    net::TListener l;
    closedPort = l.Port();
  }
  EXPECT_NE(
      Run("--attempts 1 http://127.0.0.1:" + std::to_string(closedPort) + "/f.zip \"" + file.string() + "\"", out), 0);
  EXPECT_NE(out.find("Socket Error # 10061"), std::string::npos) << out;
  EXPECT_NE(out.find("Connection refused."), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(file));
  // An error whose own text is empty fails all the same.
  EXPECT_NE(Run("ftp://127.0.0.1/f.zip \"" + file.string() + "\"", out), 0);
  EXPECT_NE(out.find("Unsupported address"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(LuGet, HttpsDownloadsOnlyFromATrustedServer) {
  nettest::THostServers tls("tls");
  if (!tls.Missing().empty()) GTEST_SKIP() << tls.Missing();
  ASSERT_TRUE(tls.Ready()) << tls.Failure();
  nettest::TTrustedTestCa ca(tls);
  ASSERT_TRUE(ca.Trusted()) << ca.Why();
  std::string body = Body(200000);
  std::ofstream(tls.Local("www/kestrovafull.zip"), std::ios::binary) << body;
  fs::path file = dir_ / "secure.zip";
  auto args = [&](const char* server) {
    return "https://localhost:" + std::to_string(tls.Port(server)) + "/kestrovafull.zip \"" + file.string() + "\"";
  };
  std::string out;
  EXPECT_EQ(Run(args("good"), out), 0) << out;
  EXPECT_TRUE(ReadFile(file) == body) << "file of " << ReadFile(file).size() << " bytes differs";
  fs::remove(file);
  EXPECT_NE(Run(args("untrusted"), out), 0);
  EXPECT_NE(out.find("is not issued by a trusted authority"), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(LuGet, AStalledTransferIsGivenUp) {
  const testsupport::TDeadline deadline(30000);  // what it guards gives up well before
  TScriptedServer server([](net::TSocket& s, int) {
    nettest::ReadRequestHead(s);
    nettest::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nsome bytes");
    nettest::WaitForClientClose(s);  // and never more
  });
  fs::path file = dir_ / "f.zip";
  std::string out;
  EXPECT_NE(Run("--stall-seconds 1 " + server.Url("/f.zip") + " \"" + file.string() + "\"", out), 0);
  EXPECT_NE(out.find("Nothing arrived for 1 seconds; the transfer was given up."), std::string::npos) << out;
  EXPECT_FALSE(fs::exists(file));
}

TEST_F(LuGet, DownloadsThroughTheUsersProxy) {
  nettest::THostServers proxy("tinyproxy");
  if (!proxy.Missing().empty()) GTEST_SKIP() << proxy.Missing();
  ASSERT_TRUE(proxy.Ready()) << proxy.Failure();
  std::string request;
  std::string body = Body(100000);
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body, &request));

  // The user's setting names the proxy; the system query must give it back.
  const uint16_t proxyPort = proxy.Port("tinyproxy");
  ASSERT_TRUE(net::WriteUserProxySetting({true, "127.0.0.1:" + std::to_string(proxyPort)}));
  std::string host;
  int32_t port = -1;
  ASSERT_TRUE(net::GetSystemProxy(host, port));
  EXPECT_EQ(port, proxyPort);

  fs::path file = dir_ / "viaproxy.zip";
  std::string out;
  EXPECT_EQ(
      Run("http://localhost:" + std::to_string(server.Port()) + "/kestrova/kestrovafull.zip \"" + file.string() + "\"",
          out),
      0)
      << out;
  server.Join();
  EXPECT_TRUE(ReadFile(file) == body) << "file of " << ReadFile(file).size() << " bytes differs";
  // It came through the proxy: tinyproxy adds its Via line.
  EXPECT_NE(request.find("GET /kestrova/kestrovafull.zip HTTP/1.1\r\n"), std::string::npos) << request;
  EXPECT_NE(request.find("\r\nVia: "), std::string::npos) << request;
}
