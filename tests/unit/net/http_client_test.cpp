// THTTPClient against scripted servers on 127.0.0.1: the request it sends, the
// answers it accepts and refuses, the three body framings and the events.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <thread>

#include "base/text.h"
#include "local_servers.h"
#include "net/base64.h"
#include "net/http_client.h"
#include "net/transfer_guard.h"
#include "scripted_server.h"

using namespace net;
using nettest::Answer;
using nettest::Pattern;
using nettest::TScriptedServer;

namespace {

const char* const kUserAgent = "Mozilla/3.0 (compatible; ORBAX Live Update)";

struct Event {
  char kind;  // 'B'egin, 'W'ork, 'E'nd
  TWorkMode mode;
  int64_t value;
  bool operator==(const Event& o) const { return kind == o.kind && mode == o.mode && value == o.value; }
};

// A client that records every work event.
struct Recorder {
  THTTPClient client;
  std::vector<Event> events;
  Recorder() {
    client.OnWorkBegin = [this](THTTPClient* c, TWorkMode m, int64_t n) {
      EXPECT_EQ(c, &client);
      events.push_back({'B', m, n});
    };
    client.OnWork = [this](THTTPClient*, TWorkMode m, int64_t n) { events.push_back({'W', m, n}); };
    client.OnWorkEnd = [this](THTTPClient*, TWorkMode m) { events.push_back({'E', m, 0}); };
  }
  std::vector<int64_t> Begins() const {
    std::vector<int64_t> out;
    for (auto& e : events)
      if (e.kind == 'B') out.push_back(e.value);
    return out;
  }
  int64_t LastWork() const {
    int64_t last = -1;
    for (auto& e : events)
      if (e.kind == 'W') last = e.value;
    return last;
  }
};

// Runs one Get against a server that answers with response and returns the
// error of class E it must raise.
template <class E>
E ExpectGetThrows(const std::string& response, const std::string& path = "/f.zip") {
  TScriptedServer server(Answer(response));
  THTTPClient client;
  TMemoryStream out;
  try {
    client.Get(server.Url(path), out);
  } catch (const E& e) {
    server.Join();
    return e;
  } catch (const std::exception& e) {
    ADD_FAILURE() << "other error: " << e.what();
    throw;
  }
  ADD_FAILURE() << "no error";
  throw std::runtime_error("no error");
}

}  // namespace

// ---------------------------------------------------------------- the request

TEST(HttpClientRequest, DirectGetAtCreationSendsExactlyTheseBytes) {
  std::string request;
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok", &request));
  THTTPClient client;
  TMemoryStream out;
  client.Get(server.Url("/kestrova/kestrovafull.zip"), out);
  server.Join();
  EXPECT_EQ(request,
            "GET /kestrova/kestrovafull.zip HTTP/1.1\r\n"
            "Content-Type: text/html\r\n"
            "Host: 127.0.0.1:" +
                std::to_string(server.Port()) +
                "\r\n"
                "Accept: text/html, */*\r\n"
                "User-Agent: " +
                kUserAgent +
                "\r\n"
                "\r\n");
  EXPECT_EQ(out.Data(), "ok");
}

TEST(HttpClientRequest, SettingsAndRequestFieldsAtCreation) {
  THTTPClient c;
  EXPECT_EQ(c.ProtocolVersion, THTTPProtocolVersion::pv1_1);
  EXPECT_EQ(c.Port, 80);
  EXPECT_FALSE(c.HandleRedirects);
  EXPECT_EQ(c.RedirectMaximum, 15);
  EXPECT_EQ(c.AuthRetries, 3);
  EXPECT_TRUE(c.AllowCookies);
  EXPECT_EQ(c.ReadTimeout, 0);
  EXPECT_EQ(c.MaxLineLength, 16384);
  EXPECT_EQ(c.RecvBufferSize, 65536);
  EXPECT_EQ(c.ProxyParams.ProxyServer(), "");
  EXPECT_EQ(c.ProxyParams.ProxyPort(), 0);
  EXPECT_FALSE(c.ProxyParams.BasicAuthentication);
  EXPECT_EQ(c.Request.Accept, "text/html, */*");
  EXPECT_EQ(c.Request.UserAgent, kUserAgent);
  EXPECT_EQ(c.Request.ContentType, "text/html");
  EXPECT_EQ(c.Request.ContentLength, -1);
  EXPECT_EQ(c.Request.Connection, "");
  c.Request.Accept = "x";
  c.Request.Clear();
  EXPECT_EQ(c.Request.Accept, "text/html, */*");
}

TEST(HttpClientRequest, WhereARequestGoesIsPlannedWithoutASocket) {
  const struct {
    const char* url;
    const char* proxy;
    const char* connect;  // host:port
    const char* target;
    const char* key;
    bool proxyForm;
  } cases[] = {
      {"http://h/a.zip", "", "h:80", "/a.zip", "H:80", false},
      {"https://h/a.zip", "", "h:443", "/a.zip", "H:443 TLS H:443", false},
      {"http://h:81/a?q#f", "gw", "gw:3128", "http://h:81/a?q", "GW:3128", true},
      {"https://h/a.zip", "gw", "gw:3128", "/a.zip", "GW:3128 TLS H:443", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.url);
    const TRequestTarget t = PlanRequest(c.url, 80, c.proxy, 3128);
    EXPECT_EQ(t.connectHost + ":" + std::to_string(t.connectPort), c.connect);
    EXPECT_EQ(t.requestTarget, c.target);
    EXPECT_EQ(t.connectionKey, c.key);
    EXPECT_EQ(t.ProxyForm(), c.proxyForm);
    const std::string r = BuildGetRequest(t, THTTPRequest(), THTTPProtocolVersion::pv1_1, {}, "Basic x", "");
    EXPECT_EQ(r.find("Proxy-Authorization: Basic x") != std::string::npos, c.proxyForm);
  }
  EXPECT_THROW(PlanRequest("http://h/a\r\nX: y", 80, "", 0), EURIException);
  EXPECT_THROW(PlanRequest("/a.zip", 80, "gw", 3128), EURIException);
  EXPECT_THROW(PlanRequest("ftp://h/a.zip", 80, "", 0), EUnknownProtocol);
}

TEST(HttpClientRequest, HostCarriesThePortOnlyWhenItIsNot80) {
  THTTPClient c;
  auto hostLine = [&](const std::string& url) {
    std::string r = c.BuildRequest(url);
    size_t at = r.find("\r\nHost: ");
    if (at == std::string::npos) return std::string("(none)");
    return r.substr(at + 8, r.find("\r\n", at + 2) - at - 8);
  };
  EXPECT_EQ(hostLine("http://updates.example/a.zip"), "updates.example");
  EXPECT_EQ(hostLine("http://updates.example:80/a.zip"), "updates.example");
  EXPECT_EQ(hostLine("http://updates.example:8080/a.zip"), "updates.example:8080");
  EXPECT_EQ(hostLine("updates.example/a.zip"), "(none)");  // no "://": no host
  EXPECT_EQ(hostLine("http://[::1]/a.zip"), "[::1]");
  EXPECT_EQ(hostLine("https://[fe80::1]:8443/a.zip"), "[fe80::1]:8443");
  c.ProxyParams.SetProxyServer("gw");
  c.ProxyParams.SetProxyPort(3128);
  const std::string r = c.BuildRequest("http://[::1]/a.zip");
  EXPECT_EQ(r.substr(0, r.find("\r\n")), "GET http://[::1]:80/a.zip HTTP/1.1");
}

TEST(HttpClientRequest, AddressPartsGoOutUnencodedWithBackslashesTurned) {
  THTTPClient c;
  std::string r = c.BuildRequest("http://h\\dir\\a b.zip?x=1&y=%20#frag");
  EXPECT_EQ(r.substr(0, r.find("\r\n")), "GET /dir/a b.zip?x=1&y=%20 HTTP/1.1");
  r = c.BuildRequest("http://user:pw@h:81");
  EXPECT_EQ(r.substr(0, r.find("\r\n")), "GET / HTTP/1.1");
  EXPECT_EQ(r.find("Authorization"), std::string::npos);  // BasicAuthentication is off
  TGetOptions basic;
  basic.BasicAuthentication = true;
  r = c.BuildRequest("http://user:pw@h:81/", basic);
  EXPECT_NE(r.find("\r\nAuthorization: Basic dXNlcjpwdw==\r\n"), std::string::npos);
  basic.Username = "u";  // the request's own credentials before the address's
  basic.Password = "p";
  r = c.BuildRequest("http://user:pw@h:81/", basic);
  EXPECT_NE(r.find("\r\nAuthorization: Basic dTpw\r\n"), std::string::npos);
}

TEST(HttpClientRequest, HeaderOrderWithEveryFieldSet) {
  THTTPClient c;
  THTTPRequest& r = c.Request;
  r.Connection = "c1";
  r.ContentVersion = "c2";
  r.ContentEncoding = "c3";
  r.ContentLanguage = "c4";
  r.ContentLength = 0;
  r.CacheControl = "c6";
  r.Date = "c7";
  r.Expires = "c8";
  r.Pragma = "c9";
  r.CustomHeaders.Add("X-One", "1");
  r.ProxyConnection = "c10";
  r.AcceptCharset = "c11";
  r.AcceptEncoding = "c12";
  r.AcceptLanguage = "c13";
  r.From = "c14";
  r.Referer = "c15";
  r.IfModifiedSince = "c16";
  TGetOptions ranged;
  ranged.Range = "c17";
  ranged.IfRange = "c18";
  std::string got = c.BuildRequest("http://h/p", ranged);
  EXPECT_EQ(got,
            "GET /p HTTP/1.1\r\nConnection: c1\r\nContent-Version: c2\r\nContent-Encoding: c3\r\n"
            "Content-Language: c4\r\nContent-Type: text/html\r\nContent-Length: 0\r\nCache-control: c6\r\n"
            "Date: c7\r\nExpires: c8\r\nPragma: c9\r\nX-One: 1\r\nIf-Range: c18\r\nProxy-Connection: c10\r\nHost: h\r\n"
            "Accept: text/html, */*\r\nAccept-Charset: c11\r\nAccept-Encoding: c12\r\nAccept-Language: c13\r\n"
            "From: c14\r\nReferer: c15\r\nUser-Agent: Mozilla/3.0 (compatible; ORBAX Live Update)\r\n"
            "If-Modified-Since: c16\r\nRange: c17\r\n\r\n");
}

TEST(HttpClientRequest, Version10AsksForKeepAlive) {
  THTTPClient c;
  c.ProtocolVersion = THTTPProtocolVersion::pv1_0;
  std::string r = c.BuildRequest("http://h/p");
  EXPECT_EQ(r.substr(0, r.find("\r\n") + 2), "GET /p HTTP/1.0\r\n");
  EXPECT_NE(r.find("\r\nConnection: keep-alive\r\n"), std::string::npos);
  c.ProxyParams.SetProxyServer("gw");
  c.ProxyParams.SetProxyPort(3128);
  r = c.BuildRequest("http://h/p");
  EXPECT_EQ(r.find("Connection: keep-alive\r\nContent"), std::string::npos);
  EXPECT_NE(r.find("\r\nProxy-Connection: keep-alive\r\nHost: h\r\n"), std::string::npos);
}

TEST(HttpClientRequest, ThroughAProxyTheTargetIsAbsoluteWithPort80) {
  std::string request;
  TScriptedServer proxy(Answer("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\nabc", &request));
  THTTPClient client;
  client.ProxyParams.SetProxyServer("LocalHost");  // any case means 127.0.0.1
  client.ProxyParams.SetProxyPort(proxy.Port());
  TMemoryStream out;
  client.Get("http://updates.example/kestrova/kestrovafull.zip", out);
  proxy.Join();
  EXPECT_EQ(request,
            "GET http://updates.example:80/kestrova/kestrovafull.zip HTTP/1.1\r\n"
            "Content-Type: text/html\r\nHost: updates.example\r\nAccept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; ORBAX Live Update)\r\n\r\n");
  EXPECT_EQ(out.Data(), "abc");
  EXPECT_EQ(client.BuildRequest("http://h:8080/x?q").substr(0, 34), "GET http://h:8080/x?q HTTP/1.1\r\nCo");
}

TEST(HttpClientRequest, ProxyChangeDropsAuthenticationState) {
  TProxyConnectionInfo p;
  p.SetProxyServer("gw");
  p.SetProxyPort(8080);
  p.Authenticated = true;
  p.SetProxyServer("GW");  // same server
  p.SetProxyPort(8080);
  EXPECT_TRUE(p.Authenticated);
  p.SetProxyServer("other");
  EXPECT_FALSE(p.Authenticated);
  p.Authenticated = true;
  p.SetProxyPort(8081);
  EXPECT_FALSE(p.Authenticated);
}

// ---------------------------------------------------------------- refusals

TEST(HttpClientRefusal, NotSuccessfulRaisesWithStatusLineCodeAndBody) {
  auto e = ExpectGetThrows<EHTTPProtocolException>("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nno such f");
  EXPECT_EQ(e.Message, "HTTP/1.1 404 Not Found");
  EXPECT_EQ(e.ReplyErrorCode, 404);
  EXPECT_EQ(e.ErrorMessage, "no such f");

  e = ExpectGetThrows<EHTTPProtocolException>("HTTP/1.0 500 Internal Error\r\nConnection: close\r\n\r\nboom");
  EXPECT_EQ(e.Message, "HTTP/1.0 500 Internal Error");
  EXPECT_EQ(e.ErrorMessage, "boom");  // read until the close

  e = ExpectGetThrows<EHTTPProtocolException>(
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic\r\n"
      "Content-Length: 0\r\n\r\n");
  EXPECT_EQ(e.ReplyErrorCode, 401);
  e = ExpectGetThrows<EHTTPProtocolException>("HTTP/1.1 304 Not Modified\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(e.ReplyErrorCode, 304);
  e = ExpectGetThrows<EHTTPProtocolException>("garbage\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(e.Message, "garbage");
  EXPECT_EQ(e.ReplyErrorCode, -1);
}

TEST(HttpClientRefusal, RedirectsAreNotFollowed) {
  auto e = ExpectGetThrows<EHTTPProtocolException>(
      "HTTP/1.1 301 Moved Permanently\r\nLocation: http://elsewhere/f.zip\r\nContent-Length: 5\r\n\r\nmoved");
  EXPECT_EQ(e.Message, "HTTP/1.1 301 Moved Permanently");
  EXPECT_EQ(e.ReplyErrorCode, 301);
  EXPECT_EQ(e.ErrorMessage, "moved");
  e = ExpectGetThrows<EHTTPProtocolException>("HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n");
  EXPECT_EQ(e.Message, "HTTP/1.1 302 Found");
}

TEST(HttpClientRefusal, LocationOnA200IsARedirectToo) {
  auto e =
      ExpectGetThrows<EHTTPProtocolException>("HTTP/1.1 200 OK\r\nLocation: /other\r\nContent-Length: 4\r\n\r\nbody");
  EXPECT_EQ(e.Message, "HTTP/1.1 200 OK");
  EXPECT_EQ(e.ReplyErrorCode, 200);
}

TEST(HttpClientRefusal, RefusedBodyIsReadWithEventsAndCappedInMemory) {
  std::string big = Pattern(200000);
  TScriptedServer server(Answer("HTTP/1.1 403 Forbidden\r\nContent-Length: 200000\r\n\r\n" + big));
  Recorder r;
  TMemoryStream out;
  try {
    r.client.Get(server.Url("/x"), out);
    FAIL();
  } catch (const EHTTPProtocolException& e) {
    EXPECT_TRUE(e.ErrorMessage == big.substr(0, 65536)) << e.ErrorMessage.size();
  }
  EXPECT_EQ(r.Begins(), std::vector<int64_t>{200000});
  EXPECT_EQ(r.LastWork(), 200000);
  EXPECT_EQ(out.Data(), "");  // nothing of a refused answer reaches the destination
}

TEST(HttpClientRefusal, RefusedBodyThatStallsEndsInReadTimeout) {
  const testsupport::TDeadline deadline(30000);  // what it guards gives up well before
  // Length announced, nothing sent; and no length with the connection held open.
  for (const char* head : {"HTTP/1.1 404 Not Found\r\nContent-Length: 10\r\n\r\n", "HTTP/1.1 404 Not Found\r\n\r\n"}) {
    TScriptedServer server([head](net::TSocket& s, int) {
      nettest::ReadRequestHead(s);
      nettest::Send(s, head);
      nettest::WaitForClientClose(s);
    });
    THTTPClient client;
    TMemoryStream out;
    try {
      client.Get(server.Url("/x"), out);
      FAIL();
    } catch (const EReadTimeout& e) {
      EXPECT_EQ(e.Message, "Read Timeout");
    }
    EXPECT_FALSE(client.Connected());
    EXPECT_EQ(client.ReadTimeout, 0);  // restored
  }
}

TEST(HttpClientRefusal, FailureTable) {
  {
    auto e = ExpectGetThrows<EConnClosedGracefully>("HTTP/1.1 200");
    EXPECT_EQ(e.Message, "Connection Closed Gracefully.");
  }
  {
    auto e = ExpectGetThrows<EReadLnMaxLineLengthExceeded>("HTTP/1.1 200 " + std::string(20000, 'x') + "\r\n\r\n");
    EXPECT_EQ(e.Message, "Max line length exceeded.");
    ExpectGetThrows<EReadLnMaxLineLengthExceeded>("HTTP/1.1 200 OK\r\nX: " + std::string(16400, 'x') + "\r\n\r\n");
  }
  {
    auto e = ExpectGetThrows<ENetException>("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n");
    EXPECT_EQ(e.Message, "Undefined situation");
  }
  {
    auto e = ExpectGetThrows<EConvertError>(
        "HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-x/9\r\n"
        "Content-Length: 1\r\n\r\na");
    EXPECT_NE(e.Message.find("is not a valid integer value"), std::string::npos);
    ExpectGetThrows<EConvertError>("HTTP/1.1 206 Partial\r\nContent-Range: bytes 0-9\r\nContent-Length: 1\r\n\r\na");
  }
  THTTPClient client;
  TMemoryStream out;
  try {
    client.Get("ftp://updates.example/f.zip", out);
    FAIL();
  } catch (const EUnknownProtocol& e) {
    EXPECT_EQ(e.Message, "");
  }
  client.ProxyParams.SetProxyServer("127.0.0.1");
  client.ProxyParams.SetProxyPort(1);
  try {
    client.Get("/kestrova/f.zip", out);
    FAIL();
  } catch (const EURIException& e) {
    EXPECT_EQ(e.Message, "Host field is empty");
  }
}

TEST(HttpClientRefusal, HttpsNeverFallsBackToPlainHttp) {
  // A server that speaks plain HTTP where TLS was asked for: the greeting it got
  // was TLS (a handshake record starts with 22), and no request followed.
  std::string got;
  TScriptedServer server([&](net::TSocket& s, int) {
    char c[1];
    if (s.Receive(c, 1, 0) == 1) got = c[0];
    nettest::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
  });
  THTTPClient client;
  TMemoryStream out;
  EXPECT_THROW(client.Get("https://127.0.0.1:" + std::to_string(server.Port()) + "/f.zip", out), ETlsError);
  server.Join();
  EXPECT_EQ(got, "\x16");
  EXPECT_EQ(out.Data(), "");
  EXPECT_FALSE(client.Connected());
}

TEST(HttpClientRefusal, AProxyThatRefusesTheTunnelFailsWithItsStatusLine) {
  std::string request;
  TScriptedServer proxy(Answer("HTTP/1.1 403 Forbidden\r\nContent-Length: 6\r\n\r\nno way", &request));
  Recorder r;
  r.client.ProxyParams.SetProxyServer("127.0.0.1");
  r.client.ProxyParams.SetProxyPort(proxy.Port());
  TMemoryStream out;
  try {
    r.client.Get("https://updates.example/kestrova/f.zip", out);
    FAIL();
  } catch (const EHTTPProtocolException& e) {
    EXPECT_EQ(e.Message, "HTTP/1.1 403 Forbidden");
    EXPECT_EQ(e.ReplyErrorCode, 403);
    EXPECT_EQ(e.ErrorMessage, "no way");
  }
  proxy.Join();
  EXPECT_EQ(request, "CONNECT updates.example:443 HTTP/1.1\r\nHost: updates.example:443\r\nUser-Agent: " +
                         std::string(kUserAgent) + "\r\n\r\n");
  EXPECT_TRUE(r.events.empty());  // the proxy's refusal is not the download
  EXPECT_FALSE(r.client.Connected());
}

TEST(HttpClientRefusal, SocketErrorsCarryTheWinsockNumberAndText) {
  uint16_t closedPort;
  {
    net::TListener l;
    closedPort = l.Port();
  }
  THTTPClient client;
  TMemoryStream out;
  try {
    client.Get("http://127.0.0.1:" + std::to_string(closedPort) + "/f.zip", out);
    FAIL();
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.LastError, 10061);
    EXPECT_EQ(e.Message, "Socket Error # 10061\r\nConnection refused.");
  }
  nettest::TLogCapture log;
  try {
    // Malformed, so the resolver refuses it without asking any name server.
    client.Get("http://no..such..host/f.zip", out);
    FAIL();
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message, "Socket Error # 11001\r\nHost not found.");
  }
  EXPECT_NE(log.Text().find("the name no..such..host could not be looked up: Socket Error # 11001 Host not found."),
            std::string::npos)
      << log.Text();
  // A proxy that cannot be reached is named as the proxy, not taken for the server.
  client.ProxyParams.SetProxyServer("127.0.0.1");
  client.ProxyParams.SetProxyPort(closedPort);
  try {
    client.Get("http://updates.example/f.zip", out);
    FAIL();
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.LastError, 10061);
    EXPECT_EQ(e.Message, "The proxy 127.0.0.1:" + std::to_string(closedPort) +
                             " cannot be reached (Socket Error # 10061 Connection refused.).");
  }
  EXPECT_EQ(ESocketError(10035).Message, "Socket Error # 10035\r\nOperation would block. ");
  EXPECT_EQ(ESocketError(10066).Message, "Socket Error # 10066\r\nDirectory not empty");
  EXPECT_EQ(ESocketError(12345).Message, "Socket Error # 12345\r\n");
}

TEST(HttpClientRefusal, UnsafeFramingIsRefused) {
  ExpectGetThrows<EHTTPInvalidResponse>("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\n");
  ExpectGetThrows<EHTTPInvalidResponse>("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n");
  ExpectGetThrows<EHTTPInvalidResponse>("HTTP/1.1 200 OK\r\nContent-Length: 3\r\nContent-Length: 4\r\n\r\nabcd");
  ExpectGetThrows<EHTTPInvalidResponse>(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-5\r\nabcde\r\n0\r\n\r\n");
  ExpectGetThrows<EHTTPInvalidResponse>(
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10000000000000000\r\nab\r\n0\r\n\r\n");
  std::string many = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 1001; ++i) many += "X-H: " + std::to_string(i) + "\r\n";
  ExpectGetThrows<EHTTPInvalidResponse>(many + "\r\n");
  // The same length twice is one length (RFC 9112 section 6.3).
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-length: 2, 2\r\n\r\nok"));
  THTTPClient client;
  TMemoryStream out;
  client.Get(server.Url("/"), out);
  EXPECT_EQ(out.Data(), "ok");
}

// ---------------------------------------------------------------- bodies and events

TEST(HttpClientBody, KnownLengthIsWrittenAtThePositionWithMatchingCounts) {
  std::string body = Pattern(100000);
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body));
  Recorder r;
  TMemoryStream out;
  out.Write("HEAD", 4);
  r.client.Get(server.Url("/f.zip"), out);
  EXPECT_TRUE(out.Data() == "HEAD" + body) << out.Data().size();
  EXPECT_EQ(out.Position(), 100004);
  EXPECT_EQ(r.Begins(), std::vector<int64_t>{100000});
  EXPECT_EQ(r.LastWork(), 100000);
  ASSERT_GE(r.events.size(), 3u);
  EXPECT_EQ(r.events.front().kind, 'B');
  EXPECT_EQ(r.events.back(), (Event{'E', TWorkMode::wmRead, 0}));
  int64_t prev = 0;
  for (auto& e : r.events) {
    EXPECT_EQ(e.mode, TWorkMode::wmRead);
    if (e.kind == 'W') {
      EXPECT_GT(e.value, prev);  // running totals, not portion sizes
      EXPECT_LE(e.value - prev, 65536);
      prev = e.value;
    }
  }
  EXPECT_EQ(r.client.WorkCounter().Level(TWorkMode::wmRead), 0);
}

TEST(HttpClientBody, EarlyCloseReturnsWithAShortCount) {
  std::string part = Pattern(700);
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n" + part));
  Recorder r;
  TMemoryStream out;
  const TGetResult got = r.client.Get(server.Url("/f.zip"), out);
  EXPECT_EQ(got.Bytes, 700);
  EXPECT_FALSE(got.Complete);
  EXPECT_EQ(r.Begins(), std::vector<int64_t>{1000});
  EXPECT_EQ(r.LastWork(), 700);
  EXPECT_TRUE(out.Data() == part) << out.Data().size();  // presized to 1000, cut back to what came
  EXPECT_FALSE(r.client.Connected());
}

TEST(HttpClientBody, NoLengthReadsUntilCloseWithTheLastShortBlockUncounted) {
  std::string body = Pattern(65536 + 5000);
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\n\r\n" + body));
  Recorder r;
  TMemoryStream out;
  const TGetResult got = r.client.Get(server.Url("/f.zip"), out);
  EXPECT_TRUE(got.Complete);  // the close is its end
  EXPECT_EQ(got.Bytes, static_cast<int64_t>(body.size()));
  EXPECT_TRUE(out.Data() == body) << out.Data().size();
  EXPECT_EQ(r.Begins(), std::vector<int64_t>{0});
  EXPECT_EQ(r.LastWork(), 65536);
}

TEST(HttpClientBody, ChunkedRaisesOneBeginPerChunk) {
  std::string a = Pattern(40000), b = "hello";
  std::string wire =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n9c40\r\n" + a + "\r\n5 ; name=v\r\n" + b + "\r\n0\r\n\r\n";
  TScriptedServer server(Answer(wire));
  Recorder r;
  TMemoryStream out;
  r.client.Get(server.Url("/f.zip"), out);
  EXPECT_TRUE(out.Data() == a + b) << out.Data().size();
  EXPECT_EQ(r.Begins(), (std::vector<int64_t>{40000, 5}));
  EXPECT_EQ(r.LastWork(), 5);
  EXPECT_TRUE(r.client.Connected());  // 1.1 without "close": kept
}

TEST(HttpClientBody, ChunkExtensionsAndAnyCaseOfChunkedAreRead) {
  std::string wire = "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n3\r\nabc\r\n5;x=y\r\nhello\r\n0\r\n\r\n";
  TScriptedServer server(Answer(wire));
  Recorder r;
  TMemoryStream out;
  r.client.Get(server.Url("/f.zip"), out);
  EXPECT_EQ(out.Data(), "abchello");
  EXPECT_EQ(r.Begins(), (std::vector<int64_t>{3, 5}));
}

TEST(HttpClientBody, ChunkedCutShortFails) {
  ExpectGetThrows<EConnClosedGracefully>("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nabc");
  ExpectGetThrows<EConnClosedGracefully>("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n");
  // Only the final empty line missing: all data is there.
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n"));
  THTTPClient client;
  TMemoryStream out;
  client.Get(server.Url("/"), out);
  EXPECT_EQ(out.Data(), "abc");
}

TEST(HttpClientBody, NoContentZeroLengthAndInterimAnswers) {
  for (const char* wire : {"HTTP/1.1 204 No Content\r\n\r\n", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"}) {
    TScriptedServer server(Answer(wire));
    Recorder r;
    TMemoryStream out;
    r.client.Get(server.Url("/"), out);
    EXPECT_EQ(out.Data(), "");
    EXPECT_TRUE(r.events.empty());
  }
  TScriptedServer server(
      Answer("HTTP/1.1 100 Continue\r\nX: 1\r\n\r\nHTTP/1.1 102 Processing\r\n\r\n"
             "HTTP/1.1 103 Early Hints\r\nLink: </k.css>\r\n\r\n"
             "HTTP/1.1 200 OK\r\nContent-Range: bytes 0-1/*\r\nContent-Length: 2\r\n\r\nok"));
  THTTPClient client;
  TMemoryStream out;
  client.Get(server.Url("/"), out);
  EXPECT_EQ(out.Data(), "ok");
  EXPECT_EQ(client.Response.ResponseText, "HTTP/1.1 200 OK");
}

// ---------------------------------------------------------------- connections

TEST(HttpClientConnection, KeptAliveConnectionIsReusedWithCookies) {
  std::string second;
  TScriptedServer server(
      [&](net::TSocket& s, int) {
        nettest::ReadRequestHead(s);
        nettest::Send(
            s, "HTTP/1.1 200 OK\r\nSet-Cookie: sid=42; Path=/\r\nSet-cookie2: b=2\r\nContent-Length: 1\r\n\r\na");
        second = nettest::ReadRequestHead(s);  // same connection
        nettest::Send(s, "HTTP/1.1 200 OK\r\nConnection: Close \r\nContent-Length: 1\r\n\r\nb");
        nettest::WaitForClientClose(s);
      },
      1);
  THTTPClient client;
  TMemoryStream out;
  client.Get(server.Url("/one"), out);
  EXPECT_TRUE(client.Connected());
  EXPECT_TRUE(client.Response.KeepAlive);
  client.Get(server.Url("/two"), out);
  EXPECT_FALSE(client.Connected());  // "close", blanks and case aside
  server.Join();
  EXPECT_EQ(out.Data(), "ab");
  EXPECT_NE(second.find("\r\nCookie: sid=42; b=2\r\n"), std::string::npos) << second;
  EXPECT_EQ(client.CookieManager().Count(), 2u);
}

TEST(HttpClientConnection, Version10KeepsOnlyWithKeepAlive) {
  TScriptedServer server(
      [&](net::TSocket& s, int i) {
        nettest::ReadRequestHead(s);
        nettest::Send(s, i == 0 ? "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na"
                                : "HTTP/1.0 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1\r\n\r\nb");
        nettest::WaitForClientClose(s);
      },
      2);
  THTTPClient client;
  client.ProtocolVersion = THTTPProtocolVersion::pv1_0;
  TMemoryStream out;
  client.Get(server.Url("/"), out);
  EXPECT_FALSE(client.Connected());
  client.Get(server.Url("/"), out);
  EXPECT_TRUE(client.Connected());
  client.Disconnect();
  server.Join();
}

TEST(HttpClientConnection, AServerThatClosedAKeptConnectionGetsANewOne) {
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nx"), 2);
  THTTPClient client;
  TMemoryStream out;
  client.Get(server.Url("/"), out);
  client.Get(server.Url("/"), out);  // the first connection was closed by the server
  server.Join();
  EXPECT_EQ(out.Data(), "xx");
}

TEST(HttpClientConnection, RedirectsAreFollowedWhenAskedTo) {
  std::string second;
  TScriptedServer server(
      [&](net::TSocket& s, int i) {
        std::string head = nettest::ReadRequestHead(s);
        if (i == 0) {
          nettest::Send(s, "HTTP/1.1 302 Found\r\nLocation: /b.zip\r\nConnection: close\r\n\r\n");
        } else {
          second = head;
          nettest::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 1\r\nConnection: close\r\n\r\nb");
        }
      },
      2);
  THTTPClient client;
  client.HandleRedirects = true;
  TMemoryStream out;
  client.Get(server.Url("/a.zip"), out);
  server.Join();
  EXPECT_EQ(out.Data(), "b");
  EXPECT_EQ(second.substr(0, 15), "GET /b.zip HTTP");
}

TEST(HttpClientConnection, AbortFromAnotherThreadEndsAStalledTransfer) {
  const testsupport::TDeadline deadline(30000);  // what it guards gives up well before
  TScriptedServer server([](net::TSocket& s, int) {
    nettest::ReadRequestHead(s);
    nettest::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789");
    nettest::WaitForClientClose(s);
  });
  THTTPClient client;
  std::mutex m;
  std::condition_variable cv;
  bool started = false;
  client.OnWork = [&](THTTPClient*, TWorkMode, int64_t) {
    std::lock_guard<std::mutex> g(m);
    started = true;
    cv.notify_one();
  };
  std::thread watchdog([&] {
    std::unique_lock<std::mutex> g(m);
    cv.wait(g, [&] { return started; });
    g.unlock();
    client.Abort();
  });
  TMemoryStream out;
  EXPECT_THROW(client.Get(server.Url("/"), out), ETransferAborted);
  watchdog.join();
  EXPECT_FALSE(client.Connected());
  EXPECT_EQ(out.Data(), "0123456789");
}

// ---------------------------------------------------------------- limits

namespace {

// Remembers the largest size the client gave the destination.
struct TSizeRecordingStream : TMemoryStream {
  int64_t largest = 0;
  void SetSize(int64_t size) override {
    largest = std::max(largest, size);
    TMemoryStream::SetSize(size);
  }
};

// A server that sends head, then body bytes without end until the client goes.
TScriptedServer::Script Endless(const std::string& head) {
  return [head](net::TSocket& s, int) {
    nettest::ReadRequestHead(s);
    const std::string block(65536, 'x');
    try {
      nettest::Send(s, head);
      for (;;) nettest::Send(s, block);
    } catch (const Exception&) {
      // the client stopped reading and closed
    }
  };
}

}  // namespace

TEST(HttpClientLimits, SizeLimitsTable) {
  const std::string ok = "HTTP/1.1 200 OK\r\n";
  const std::string body(1000, 'b');
  const struct {
    const char* what;
    TScriptedServer::Script server;
    int64_t max, expected;
    const char* error;  // part of the EBodySizeError message; "" when the body is taken
    size_t kept;        // bytes in the destination afterwards
  } cases[] = {
      {"10 TiB announced", Endless(ok + "Content-Length: 10995116277760\r\n\r\n"), 4294967296, -1,
       "announces 10995116277760 bytes; at most 4294967296", 0},
      {"2 GB announced for a small file", Endless(ok + "Content-Length: 2000000000\r\n\r\n"), 16384, -1,
       "at most 16384 are accepted", 0},
      // One whole block of 64 KB is written; the next would pass the limit.
      {"endless without length", Endless(ok + "Connection: close\r\n\r\n"), 100000, -1, "more than the 100000", 65536},
      {"endless chunk", Endless(ok + "Transfer-Encoding: chunked\r\n\r\nfffffff\r\n"), 100000, -1,
       "more than the 100000", 0},
      {"within the limit", Answer(ok + "Content-Length: 1000\r\n\r\n" + body), 1000, -1, "", 1000},
      {"without length, within", Answer(ok + "Connection: close\r\n\r\n" + body), 1000, -1, "", 1000},
      {"exact", Answer(ok + "Content-Length: 1000\r\n\r\n" + body), -1, 1000, "", 1000},
      {"exact, chunked", Answer(ok + "Transfer-Encoding: chunked\r\n\r\n3e8\r\n" + body + "\r\n0\r\n\r\n"), -1, 1000,
       "", 1000},
      {"exact, until close", Answer(ok + "Connection: close\r\n\r\n" + body), -1, 1000, "", 1000},
      {"another length announced", Answer(ok + "Content-Length: 999\r\n\r\n" + body.substr(1)), -1, 1000,
       "announces 999 bytes; 1000 were expected", 0},
      {"longer without length", Answer(ok + "Connection: close\r\n\r\n" + body + "x"), -1, 1000,
       "more than the 1000 bytes expected", 0},
      {"shorter without length", Answer(ok + "Connection: close\r\n\r\n" + body.substr(1)), -1, 1000,
       "sent 999 bytes; 1000 were expected", 999},
      {"cut short", Answer(ok + "Content-Length: 1000\r\n\r\n" + body.substr(10)), -1, 1000,
       "sent 990 bytes; 1000 were expected", 990},
      {"longer chunked", Answer(ok + "Transfer-Encoding: chunked\r\n\r\n3e8\r\n" + body + "\r\n1\r\nx\r\n0\r\n\r\n"),
       -1, 1000, "more than the 1000 bytes expected", 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TScriptedServer server(c.server);
    THTTPClient client;
    TGetOptions limits;
    limits.MaxBodySize = c.max;
    limits.ExpectedSize = c.expected;
    TSizeRecordingStream out;
    try {
      client.Get(server.Url("/f.zip"), out, limits);
      EXPECT_STREQ(c.error, "");
    } catch (const EBodySizeError& e) {
      EXPECT_STRNE(c.error, "") << e.Message;
      EXPECT_NE(e.Message.find(c.error), std::string::npos) << e.Message;
    }
    // Never sized, nor filled, beyond the limit; a refused announcement is
    // refused before the body's first block is taken in.
    const int64_t limit = c.expected >= 0 ? c.expected : c.max;
    EXPECT_LE(out.largest, limit);
    EXPECT_LE(static_cast<int64_t>(out.Data().capacity()), std::max<int64_t>(limit, 64) * 2);
    EXPECT_EQ(out.Data().size(), c.kept);
    EXPECT_LT(client.BytesReceived(), limit + 3 * 65536);
  }
}

TEST(HttpClientLimits, AnEndlessErrorPageIsLeftUnread) {
  TScriptedServer server(Endless("HTTP/1.1 500 Oops\r\nConnection: close\r\n\r\n"));
  THTTPClient client;
  TMemoryStream out;
  try {
    client.Get(server.Url("/f.zip"), out);
    FAIL();
  } catch (const EHTTPProtocolException& e) {
    EXPECT_EQ(e.Message, "HTTP/1.1 500 Oops");
    EXPECT_EQ(e.ErrorMessage.size(), 65536u);
  }
  EXPECT_LT(client.BytesReceived(), 2 * 1024 * 1024);
  EXPECT_FALSE(client.Connected());
}

TEST(HttpClientLimits, TheTransferGuardCountsTheLastWindowAndTheSilence) {
  auto gives = [](TTransferGuard& g, int64_t now) -> std::string {
    try {
      g.Check(now);
      return "";
    } catch (const ETransferStalled&) {
      return "stalled";
    } catch (const ETransferTooSlow&) {
      return "slow";
    }
  };
  // A minimum of 10 bytes a second over 12 s: 120 bytes a window, slots of 100 ms.
  TTransferGuard g;
  g.Start(1000, {0, 10, 12000});
  EXPECT_EQ(g.MsUntilCheck(1000), 12000);
  EXPECT_EQ(gives(g, 12999), "");  // a whole window must pass first
  EXPECT_EQ(gives(g, 13000), "slow");
  g.Add(13000, 119);
  EXPECT_EQ(gives(g, 13050), "slow");
  g.Add(13050, 1);
  EXPECT_EQ(gives(g, 13050), "");
  EXPECT_EQ(g.MsUntilCheck(13050), 50);  // the next slot boundary
  EXPECT_EQ(gives(g, 24999), "");
  EXPECT_EQ(gives(g, 25000), "slow");  // those bytes have left the window
  // Many bytes early fill no later window; a long silence empties it.
  g.Start(0, {0, 10, 12000});
  g.Add(5000, 1000000);
  EXPECT_EQ(gives(g, 16999), "");
  EXPECT_EQ(gives(g, 17000), "slow");
  g.Add(1000000, 120);
  EXPECT_EQ(gives(g, 1000000), "");
  // The clock stands still between attempts: the window goes on, the wait is not counted.
  g.Start(0, {0, 10, 12000});
  g.Add(11000, 100);
  g.Suspend(11500);
  g.Resume(60000);
  EXPECT_EQ(gives(g, 60400), "");  // 11.9 s on the transfer's clock
  EXPECT_EQ(gives(g, 60500), "slow");
  // Silence: from the start or the last byte, on the same clock.
  g.Start(0, {1000, 0, 0});
  EXPECT_EQ(g.MsUntilCheck(0), 1000);
  EXPECT_EQ(gives(g, 999), "");
  g.Add(999, 1);
  EXPECT_EQ(gives(g, 1998), "");
  g.Suspend(1998);
  g.Resume(50000);
  EXPECT_EQ(gives(g, 50000), "");  // the wait did not count; the silence before it does
  EXPECT_EQ(gives(g, 50001), "stalled");
  // Off.
  g.Start(0, {0, 0, 12000});
  EXPECT_FALSE(g.Active());
  EXPECT_EQ(gives(g, 1000000), "");
}

TEST(HttpClientLimits, ASilentServerIsGivenUpAndTheCounterShowsWhatCame) {
  const testsupport::TDeadline deadline(20000);
  for (const bool trickle : {false, true})
    for (const char* head : {"", "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n0123456789"}) {
      SCOPED_TRACE(std::string(head) + (trickle ? " (too slow)" : " (silent)"));
      TScriptedServer server([head](net::TSocket& s, int) {
        nettest::ReadRequestHead(s);
        nettest::Send(s, head);
        nettest::WaitForClientClose(s);
      });
      THTTPClient client;
      // Long enough for the head to arrive on a loaded machine under Wine.
      if (trickle)
        client.RateWindow = 1500;  // 1024 bytes a second: 1536 bytes in 1.5 s
      else
        client.StallTimeout = 1500;
      TMemoryStream out;
      try {
        client.Get(server.Url("/f.zip"), out);
        FAIL();
      } catch (const ENetException& e) {
        EXPECT_EQ(e.Message, trickle ? "Less than 1024 bytes a second arrived over 1500 milliseconds; the "
                                       "transfer was given up."
                                     : "Nothing arrived for 1500 milliseconds; the transfer was given up.");
      }
      EXPECT_EQ(client.BytesReceived(), static_cast<int64_t>(strlen(head)));
      EXPECT_FALSE(client.Connected());
    }
  EXPECT_EQ(ETransferTooSlow(1024, 120000).Message,
            "Less than 1024 bytes a second arrived over 120 seconds; the transfer was given up.");
  EXPECT_EQ(ETransferStalled(60000).Message, "Nothing arrived for 60 seconds; the transfer was given up.");
}

// ---------------------------------------------------------------- proxies that ask, proxies that fail

namespace {

std::string HeaderValue(const std::string& head, const std::string& name) {
  const size_t at = head.find("\r\n" + name + ": ");
  if (at == std::string::npos) return "";
  const size_t from = at + name.size() + 4;
  return head.substr(from, head.find("\r\n", from) - from);
}

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(s[at + static_cast<size_t>(i)]);
  return v;
}

// An NTLM message of the given type with every security buffer inside it.
bool NtlmMessage(const std::string& m, uint32_t type, size_t buffers) {
  if (m.size() < 12 + 8 * buffers || m.compare(0, 8, std::string("NTLMSSP\0", 8)) != 0 || Le32(m, 8) != type)
    return false;
  for (size_t b = 0; b < buffers; ++b) {
    const size_t field = (type == 1 ? 16 : 12) + 8 * b;
    const uint32_t length = Le32(m, field) & 0xFFFF, offset = Le32(m, field + 4);
    if (length > 0 && (offset > m.size() || length > m.size() - offset)) return false;
  }
  return true;
}

// A challenge as a domain controller would send it: the target name CORP, a
// server challenge, target information naming the domain.
std::string NtlmChallenge() {
  auto le32 = [](uint32_t v) {
    std::string s;
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
    return s;
  };
  const std::string corp("C\0O\0R\0P\0", 8);
  const std::string info = std::string("\x02\x00\x08\x00", 4) + corp + std::string(4, '\0');
  return std::string("NTLMSSP\0", 8) + le32(2) + le32(8 | 8 << 16) + le32(48) +          // type, target name
         le32(0x00898205) + "\x01\x23\x45\x67\x89\xab\xcd\xef" + std::string(8, '\0') +  // flags, challenge
         le32(16 | 16 << 16) + le32(56) + corp + info;                                   // target information
}

// Points client at a proxy on loopback; with credentials, it answers the
// proxy's question with ann and secret.
void ThroughProxy(THTTPClient& client, uint16_t port, bool withCredentials) {
  client.ProxyParams.SetProxyServer("127.0.0.1");
  client.ProxyParams.SetProxyPort(port);
  if (withCredentials)
    client.OnProxyCredentials = [](THTTPClient*, const TProxyCredentialRequest&, std::string& user,
                                   std::string& password) {
      user = "ann";
      password = "secret";
      return true;
    };
}

// A proxy that asks for Negotiate, NTLM or Basic (ann, secret) and answers what
// it is given; it refuses Negotiate, as one without Kerberos would.
struct TAskingProxy {
  std::vector<std::string> steps;  // what arrived: request, negotiate, ntlm1, ntlm3, basic, bad
  std::vector<std::string> requestLines;
  std::string body = "through the proxy";
  TScriptedServer server{[this](net::TSocket& s, int) { Serve(s); }, 3};

  void Serve(net::TSocket& s) {
    for (std::string head; !(head = nettest::ReadRequestHead(s)).empty();) {
      requestLines.push_back(head.substr(0, head.find("\r\n")));
      const std::string auth = HeaderValue(head, "Proxy-Authorization");
      std::string token;
      const bool decoded = Base64Decode(auth.substr(auth.find(' ') + 1), token);
      bool ok = false;
      std::string challenge =
          "Proxy-Authenticate: Negotiate\r\nProxy-Authenticate: NTLM\r\nProxy-Authenticate: Basic realm=\"corp\"\r\n";
      if (auth.empty()) {
        steps.push_back("request");
      } else if (text::StartsText("Basic ", auth)) {
        ok = token == "ann:secret";
        steps.push_back(ok ? "basic" : "bad");
      } else if (text::StartsText("Negotiate ", auth) && decoded &&
                 (token.compare(0, 1, "\x60") == 0 || NtlmMessage(token, 1, 2))) {
        // A GSS-API token (SPNEGO) or NTLM's own first message; refused, so
        // that the client goes on to NTLM.
        steps.push_back("negotiate");
      } else if (text::StartsText("NTLM ", auth) && decoded && NtlmMessage(token, 1, 2)) {
        steps.push_back("ntlm1");
        Base64Encode(NtlmChallenge()).swap(token);
        challenge = "Proxy-Authenticate: NTLM " + token + "\r\n";
      } else if (text::StartsText("NTLM ", auth) && decoded && NtlmMessage(token, 3, 6)) {
        ok = true;
        steps.push_back("ntlm3");
      } else {
        steps.push_back("bad");
      }
      const std::string answer = text::StartsText("CONNECT ", head) && ok ? "HTTP/1.1 403 Forbidden\r\n"
                                 : ok                                     ? "HTTP/1.1 200 OK\r\n"
                                      : "HTTP/1.1 407 Proxy Authentication Required\r\n" + challenge;
      nettest::Send(s,
                    answer + "Content-Length: " + std::to_string(ok ? body.size() : 0) + "\r\n\r\n" + (ok ? body : ""));
    }
  }
};

}  // namespace

TEST(HttpClientProxy, BasicCredentialsAreAskedOnceAndNeverShown) {
  nettest::TLogCapture log;
  TAskingProxy proxy;
  THTTPClient client;
  ThroughProxy(client, proxy.server.Port(), false);
  std::vector<TProxyCredentialRequest> asked;
  client.OnProxyCredentials = [&](THTTPClient*, const TProxyCredentialRequest& r, std::string& user,
                                  std::string& password) {
    asked.push_back(r);
    user = r.Attempt == 1 ? "ann" : "nobody";
    password = "secret";
    return r.Attempt == 1;
  };
  TMemoryStream out;
  client.Get("http://updates.example/k.zip", out);
  client.Get("http://updates.example/k.zip", out);  // the accepted ones go unasked
  EXPECT_EQ(out.Data(), proxy.body + proxy.body);
  client.Disconnect();
  proxy.server.Stop();
  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].Proxy, "127.0.0.1:" + std::to_string(proxy.server.Port()));
  EXPECT_EQ(asked[0].Realm, "corp");
#ifdef _WIN32
  // Where the system's NTLM could not answer, Basic did.
  EXPECT_EQ(proxy.steps.back(), "basic");
#else
  EXPECT_EQ(proxy.steps, (std::vector<std::string>{"request", "basic", "basic"}));
#endif
  EXPECT_EQ(log.Text().find("secret"), std::string::npos) << log.Text();
  EXPECT_EQ(log.Text().find(Base64Encode("ann:secret")), std::string::npos) << log.Text();
  EXPECT_NE(log.Text().find("answering with Basic"), std::string::npos) << log.Text();
}

TEST(HttpClientProxy, WithoutCredentialsTheProxysStatusLineIsTheError) {
  for (const bool declines : {false, true}) {
    TAskingProxy proxy;
    THTTPClient client;
    ThroughProxy(client, proxy.server.Port(), false);
    if (declines)
      client.OnProxyCredentials = [](THTTPClient*, const TProxyCredentialRequest&, std::string&, std::string&) {
        return false;
      };
    TMemoryStream out;
    for (const char* url : {"http://updates.example/k.zip", "https://updates.example/k.zip"}) {
      SCOPED_TRACE(url);
      try {
        client.Get(url, out);
        ADD_FAILURE() << "no error";
      } catch (const EHTTPProtocolException& e) {
        EXPECT_EQ(e.Message, "HTTP/1.1 407 Proxy Authentication Required");
        EXPECT_EQ(e.ReplyErrorCode, 407);
      }
    }
    EXPECT_EQ(out.Data(), "");
  }
}

TEST(HttpClientProxy, TheTunnelOfAnHttpsAddressIsAnsweredToo) {
  TAskingProxy proxy;
  THTTPClient client;
  ThroughProxy(client, proxy.server.Port(), true);
  TMemoryStream out;
  // The proxy takes the credentials, then refuses the tunnel: its answer to them.
  try {
    client.Get("https://updates.example/k.zip", out);
    FAIL();
  } catch (const EHTTPProtocolException& e) {
    EXPECT_EQ(e.Message, "HTTP/1.1 403 Forbidden");
  }
  client.Disconnect();
  proxy.server.Stop();
  ASSERT_GE(proxy.requestLines.size(), 2u);
  for (const auto& line : proxy.requestLines) EXPECT_EQ(line, "CONNECT updates.example:443 HTTP/1.1");
  EXPECT_EQ(proxy.steps.back(), "basic");
}

// A real proxy's Basic: tinyproxy with BasicAuth, for a plain address and for
// the tunnel of an https one.
TEST(HttpClientProxy, TinyproxysBasicAuthentication) {
  nettest::THostServers tinyproxy("tinyproxy-auth");
  if (!tinyproxy.Missing().empty()) GTEST_SKIP() << tinyproxy.Missing();
  ASSERT_TRUE(tinyproxy.Ready()) << tinyproxy.Failure();
  std::string request;
  TScriptedServer server(Answer("HTTP/1.1 200 OK\r\nContent-Length: 8\r\n\r\nkestrova", &request));
  TScriptedServer tlsServer([](net::TSocket&, int) {});  // takes the tunnel's connection and closes it
  for (const bool withCredentials : {false, true}) {
    SCOPED_TRACE(withCredentials ? "with credentials" : "hidden, none");
    nettest::TLogCapture log;
    THTTPClient client;
    ThroughProxy(client, tinyproxy.Port("tinyproxy"), withCredentials);
    TMemoryStream out;
    try {
      client.Get(server.Url("/kestrova.zip"), out);
      EXPECT_TRUE(withCredentials);
      EXPECT_EQ(out.Data(), "kestrova");
      EXPECT_NE(request.find("\r\nVia: "), std::string::npos) << request;
      EXPECT_EQ(request.find("Proxy-Authorization"), std::string::npos) << request;  // not passed on
    } catch (const EHTTPProtocolException& e) {
      EXPECT_FALSE(withCredentials);
      EXPECT_EQ(e.ReplyErrorCode, 407);
      EXPECT_NE(e.Message.find(" 407 "), std::string::npos) << e.Message;
    }
    if (!withCredentials) continue;
    // A client of its own, so that the tunnel is asked for what it needs.
    THTTPClient tunnel;
    ThroughProxy(tunnel, tinyproxy.Port("tinyproxy"), true);
    EXPECT_THROW(tunnel.Get("https://127.0.0.1:" + std::to_string(tlsServer.Port()) + "/k.zip", out), ETlsError);
    const std::string text = log.Text();
    const size_t connect = text.find("HTTP: CONNECT 127.0.0.1:" + std::to_string(tlsServer.Port()));
    ASSERT_NE(connect, std::string::npos) << text;
    EXPECT_NE(text.find("proxy accepts Basic", connect), std::string::npos) << text;
    EXPECT_EQ(text.find("secret"), std::string::npos) << text;
  }
}

TEST(HttpClientProxy, NtlmThroughTheSystemAsFarAsItGoes) {
  TAskingProxy proxy;
  THTTPClient client;
  ThroughProxy(client, proxy.server.Port(), true);
  TMemoryStream out;
  client.Get("http://updates.example/k.zip", out);
  EXPECT_EQ(out.Data(), proxy.body);
  client.Disconnect();
  proxy.server.Stop();
  std::string steps;
  for (const auto& s : proxy.steps) steps += s + " ";
  // How far the system's package went (under Wine: NTLM's first message, where
  // Samba's ntlm_auth is installed; the second needs a logged-on domain user).
  ::testing::Test::RecordProperty("steps", steps);
  // Every NTLM message the proxy got was framed as one; nothing it could not read.
  EXPECT_EQ(std::count(proxy.steps.begin(), proxy.steps.end(), "bad"), 0);
  // Negotiate and NTLM need the system's package: the Linux port goes to Basic at once.
#ifndef _WIN32
  EXPECT_EQ(steps, "request basic ");
#endif
}

TEST(HttpClientProxy, AnUnreachableProxyOfThePlanMakesWayForTheNext) {
  nettest::TLogCapture log;
  uint16_t dead;
  {
    net::TListener l;
    dead = l.Port();
  }
  std::string request;
  TScriptedServer live([&](net::TSocket& s, int) {
    for (std::string head; !(head = nettest::ReadRequestHead(s)).empty();) {
      request = head;
      nettest::Send(s, "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    }
  });
  THTTPClient client;
  client.ResolveProxy = [&](const std::string&) {
    TProxyPlan plan;
    plan.Servers.resize(3);
    plan.Servers[0].Host = plan.Servers[1].Host = "127.0.0.1";
    plan.Servers[0].Port = dead;
    plan.Servers[1].Port = live.Port();
    plan.Reason = "a test's script";
    return plan;
  };
  TMemoryStream out;
  client.Get("http://updates.example/k.zip", out);
  client.Get("http://updates.example/k.zip", out);
  EXPECT_EQ(out.Data(), "okok");
  EXPECT_EQ(client.ProxyParams.ProxyPort(), live.Port());
  EXPECT_EQ(request.substr(0, request.find("\r\n")), "GET http://updates.example:80/k.zip HTTP/1.1");
  const std::string text = log.Text();
  EXPECT_NE(text.find("proxy for http://updates.example/k.zip: 127.0.0.1:" + std::to_string(dead) +
                      ", 127.0.0.1:" + std::to_string(live.Port()) + ", DIRECT (a test's script)"),
            std::string::npos)
      << text;
  // Found dead once; the second request went to the live one first.
  const std::string unreachable = "proxy 127.0.0.1:" + std::to_string(dead) + " cannot be reached";
  ASSERT_NE(text.find(unreachable), std::string::npos) << text;
  EXPECT_EQ(text.find(unreachable, text.find(unreachable) + 1), std::string::npos) << text;
}
