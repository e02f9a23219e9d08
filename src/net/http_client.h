// THTTPClient: one GET over HTTP/1.1 (RFC 9112), directly or through an HTTP
// proxy, writing the body of a successful answer into a stream and raising
// progress events while it reads. An https address goes over TLS (tls.h), through
// a CONNECT tunnel when a proxy is set; it never falls back to plain HTTP.
//
// A proxy that asks who we are (407) is answered, also for the CONNECT of an
// https address (proxy_auth.h): Negotiate and NTLM with the logged-on user's
// credentials where the system has them, then Basic with ProxyParams' user name
// and password or OnProxyCredentials'. With ResolveProxy set, the proxies of an
// address are tried in their order until one accepts a connection.
//
// Every request line, answer status and size, and the proxy chosen, go to the
// run's log (base/log.h); credentials never do.
//
// Get returns normally when the answer was 2xx and its body was read; a body cut
// short by the server's close also returns normally, and its answer says so
// (TGetResult::Complete). Everything else
// raises one of the errors of net_errors.h, all derived from Exception:
//   EHTTPProtocolException  not 2xx, a redirect, or any answer with Location; also
//                           a proxy's answer other than 2xx to CONNECT (its status line)
//   ETlsError               no secure connection (handshake, refused certificate)
//   ESocketError            connect, send or receive failed ("Socket Error # n")
//   EConnClosedGracefully   closed before the status line (or inside a chunked body)
//   EReadLnMaxLineLengthExceeded, EReadTimeout, ENetException ("Undefined situation"),
//   EURIException, EUnknownProtocol,
//   EHTTPInvalidResponse    framing that cannot be read safely
//   ETransferAborted        Abort was called from another thread
//   ETransferTooSlow        less than MinimumRate arrived over RateWindow
//   EBodySizeError          a body beyond the request's MaxBodySize, or not of its
//                           ExpectedSize
//   EConvertError           a malformed Content-Range
//   and the destination stream's own errors.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "net/cookies.h"
#include "net/http_headers.h"
#include "net/http_response.h"
#include "net/input_buffer.h"
#include "net/net_errors.h"
#include "net/proxy_auth.h"
#include "net/proxy_resolver.h"
#include "net/socket.h"
#include "net/tls.h"
#include "net/uri.h"
#include "platform/stream.h"

namespace net {

class THTTPClient;
using TWorkBeginEvent = std::function<void(THTTPClient* sender, TWorkMode mode, int64_t workCountMax)>;
using TWorkEvent = std::function<void(THTTPClient* sender, TWorkMode mode, int64_t workCount)>;
using TWorkEndEvent = std::function<void(THTTPClient* sender, TWorkMode mode)>;

// What OnProxyCredentials is asked for.
struct TProxyCredentialRequest {
  std::string Proxy;  // "host:port"
  std::string Realm;  // as the proxy names it, "" when it does not
  int Attempt = 1;    // 2 and on: the proxy refused the ones given before
};
// true with a user name and password; false declines.
using TProxyCredentialsEvent = std::function<bool(THTTPClient* sender, const TProxyCredentialRequest& request,
                                                  std::string& username, std::string& password)>;
using TProxyResolveEvent = std::function<TProxyPlan(const std::string& url)>;

// What one Get asks for and may take; the client keeps none of it.
struct TGetOptions {
  // The exact size the body must have when known (a package whose size was
  // published), -1 when not: a Content-Length other than it, a longer or a
  // shorter body raise EBodySizeError. Takes the place of MaxBodySize when set.
  int64_t ExpectedSize = -1;
  // The most bytes the body may have, -1 for no limit: a larger Content-Length
  // is refused before any byte of the body is read, a body that grows past it as
  // it does so, and the destination is never sized beyond it.
  int64_t MaxBodySize = -1;
  // The Range value ("bytes=N-") and the If-Range validator sent with it; "" for none.
  std::string Range, IfRange;
  // Basic credentials for the server, sent when BasicAuthentication is set; the
  // address's own "user:password@" when Username is empty.
  bool BasicAuthentication = false;
  std::string Username, Password;
  // Added to the progress counts of the body (a resumed body goes on from there).
  int64_t ProgressBase = 0;
  // Whether the bodies of refused answers raise progress events.
  bool RefusalProgress = true;
  // Another attempt of the transfer the previous Get made: the rate rule goes
  // on counting over both instead of starting afresh.
  bool ContinuesTransfer = false;
  // Raised when the head of a 2xx answer has been read, before any byte of its
  // body: it may look at the answer and change the limits and ProgressBase of
  // body (a copy of these options) for this body. An error it raises ends Get
  // and closes the connection.
  std::function<void(const THTTPResponse& answer, TGetOptions& body)> OnHeaders;
};

// What Get received of a 2xx answer's body.
struct TGetResult {
  int64_t Bytes = 0;      // written into the destination
  bool Complete = false;  // every announced byte came (a body without a length: it ended)
};

// The proxy the client goes through; an empty server means a direct connection.
class TProxyConnectionInfo {
 public:
  const std::string& ProxyServer() const { return server_; }
  int32_t ProxyPort() const { return port_; }
  // A different server (letter case ignored) or port forgets any proxy
  // authentication held for the old one.
  void SetProxyServer(const std::string& server);
  void SetProxyPort(int32_t port);

  std::string ProxyUsername, ProxyPassword;
  bool BasicAuthentication = false;
  // Set once a proxy has asked for credentials.
  bool Authenticated = false;

 private:
  std::string server_;
  int32_t port_ = 0;
};

// The request fields; Clear restores the values every new client starts with.
struct THTTPRequest {
  void Clear() { *this = THTTPRequest(); }

  std::string Accept = "text/html, */*";
  std::string UserAgent = "Mozilla/3.0 (compatible; ORBAX Live Update)";
  std::string ContentType = "text/html";
  std::string AcceptCharset, AcceptEncoding, AcceptLanguage;
  std::string CacheControl, Connection, ContentEncoding, ContentLanguage, ContentVersion;
  int64_t ContentLength = -1;  // not sent when negative
  std::string Date, Expires, From, IfModifiedSince, Pragma, ProxyConnection, Referer;
  THeaderList CustomHeaders;
};

class THTTPClient {
 public:
  THTTPClient();
  ~THTTPClient();
  THTTPClient(const THTTPClient&) = delete;
  THTTPClient& operator=(const THTTPClient&) = delete;

  // Sends one GET for url and writes the body of a 2xx answer into dest at its
  // current position. See the top of this file for the outcomes.
  TGetResult Get(const std::string& url, TStream& dest, const TGetOptions& options = TGetOptions());

  // Callable from any thread: makes a running or later Get fail with
  // ETransferAborted as soon as possible (the connection is shut down).
  void Abort();
  // Waits milliseconds, unless Abort is called before or meanwhile: then raises
  // ETransferAborted. For callers that wait between attempts.
  void Pause(int32_t milliseconds);
  // Closes the connection, if one is open.
  void Disconnect();
  bool Connected() const { return socket_.IsOpen(); }

  // Settings, with their values at creation.
  THTTPProtocolVersion ProtocolVersion = THTTPProtocolVersion::pv1_1;
  int32_t Port = 80;
  bool HandleRedirects = false;
  int32_t RedirectMaximum = 15;
  int32_t AuthRetries = 3;
  bool AllowCookies = true;
  int32_t ReadTimeout = 0;  // milliseconds; 0 waits without limit
  int32_t MaxLineLength = 16384;
  // Twice the classic 32 KB: half the system calls per byte while a block still
  // stays in the processor's cache between the receive and the write.
  int32_t RecvBufferSize = 65536;
  // A Get whose last RateWindow milliseconds brought fewer than MinimumRate
  // bytes a second, counted once RateWindow has passed and for every byte of
  // the connection (handshake and headers too), fails with ETransferTooSlow.
  // 0 for either waits without limit.
  int32_t MinimumRate = 1024;
  int32_t RateWindow = 120000;
  TProxyConnectionInfo ProxyParams;
  // When set, asked for the proxies of every address (a redirect's too): they
  // are tried in order, the next when one cannot be connected to, and
  // ProxyParams' server and port are set to the one used; one found unreachable
  // is tried last for the rest of the client's life. Unset: ProxyParams decide.
  TProxyResolveEvent ResolveProxy;
  // Asked for Basic credentials when a proxy wants them and ProxyParams holds
  // none or the proxy refused them, at most AuthRetries times a request. Those
  // given are kept in ProxyParams and, once accepted, sent with every request.
  // Unset, or false: the request fails with the proxy's status line.
  TProxyCredentialsEvent OnProxyCredentials;

  THTTPRequest Request;
  THTTPResponse Response;
  const TCookieStore& CookieManager() const { return cookies_; }

  TWorkBeginEvent OnWorkBegin;
  TWorkEvent OnWork;
  TWorkEndEvent OnWorkEnd;
  // The progress counters (nesting level, announced total, running count).
  const TWorkCounter& WorkCounter() const { return work_; }
  // Every byte received from the network over the client's life (the answers'
  // heads and bodies, TLS records as sent); readable from any thread, so that a
  // watcher can tell a transfer that moves from one that stalls.
  int64_t BytesReceived() const { return socket_.BytesReceived(); }

  // The request block Get would send for url, for tests and diagnostics.
  std::string BuildRequest(const std::string& url, const TGetOptions& options = TGetOptions()) const;

 private:
  struct Target;
  enum class TAnswer { Done, Redirect, Authenticate };
  TGetResult GetOnce(const std::string& url, TStream& dest, const TGetOptions& options);
  Target Prepare(const std::string& url) const;
  std::string RequestText(const Target& t, const TGetOptions& options, const std::string& proxyAuthorization) const;
  // Prepare and ConnectTo along the proxies ResolveProxy gives url (ProxyParams'
  // alone without it). Returns true when a kept connection is used again.
  bool ConnectAlong(const std::string& url, Target& t);
  void UseProxy(const TProxyServer& server);
  // Returns true when a kept connection is used again.
  bool ConnectTo(const Target& t);
  // Asks the proxy for a tunnel to the address's host and port.
  void OpenTunnel(const Target& t);
  void Send(const std::string& data);
  // Basic with ProxyParams' credentials once they are to be sent unasked.
  std::string ProxyAuthorization() const;
  // The Proxy-Authorization value for the next request: an answer to the
  // proxy's last 407, else ProxyAuthorization().
  std::string TakeProxyAuthorization();
  // Prepares the answer to a proxy's 407; false when nothing is left to try.
  bool Authenticate(const THTTPResponse& answer, bool connectionKept, int legs);
  void AuthenticationAccepted();
  // Whether the answer's headers leave the connection open (RFC 9112 section 9.3).
  bool AnswerKeepsConnectionOpen(const THTTPResponse& answer) const;
  // Reads the answer to a sent request: Redirect when it redirects to location
  // and the redirect is to be followed, Authenticate when the proxy is to be
  // answered (legs so far: at most a few).
  TAnswer ReadAnswer(const Target& t, TStream& dest, const TGetOptions& options, std::string& location, int legs,
                     TGetResult& result);
  void ReadRefusedBody(TInputBuffer& in, const THTTPResponse& answer, TWorkCounter& work, std::string& body);
  // Whether the connection may carry the next request: open, nothing unread,
  // and the last answer left it open.
  bool ConnectionReusable() const;
  // The framing limits; with a request's size limits for a successful answer's body.
  TBodyOptions BodyOptions(const TGetOptions* limits = nullptr) const;

  TSocket socket_;
  TTlsStream tls_;  // active on an https connection, over socket_
  std::unique_ptr<TInputBuffer> in_;
  std::string connectionKey_;
  TCookieStore cookies_;
  TWorkCounter work_;
  int64_t progressBase_ = 0;  // of the body being read
  bool statusSeen_ = false;
  TProxyAuthenticator proxyAuth_;
  std::string authProxy_;         // the proxy proxyAuth_ answers
  std::string pendingProxyAuth_;  // for the next request
  std::vector<std::string> deadProxies_;
  std::mutex pauseLock_;
  std::condition_variable pauseWake_;
};

}  // namespace net
