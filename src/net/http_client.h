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
//   ETransferStalled        nothing arrived for StallTimeout
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
#include "net/http_request.h"
#include "net/http_response.h"
#include "net/input_buffer.h"
#include "net/net_errors.h"
#include "net/proxy_auth.h"
#include "net/proxy_resolver.h"
#include "net/proxy_session.h"
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
  // The rule for giving a transfer up (transfer_guard.h), counted for every byte
  // of the connection (handshake and headers too) and over the attempts of one
  // download (TGetOptions::ContinuesTransfer): a Get that receives nothing for
  // StallTimeout milliseconds fails with ETransferStalled, one whose last
  // RateWindow milliseconds brought fewer than MinimumRate bytes a second with
  // ETransferTooSlow. 0 turns a rule off.
  int32_t StallTimeout = 60000;
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
  enum class TAnswer { Done, Redirect, Authenticate };
  // One request with the redirects it is to follow.
  TGetResult GetOnce(const std::string& url, TStream& dest, const TGetOptions& options);
  // One request and its answer, with the rounds a proxy's 407 asks for.
  // reused: a kept connection carried it.
  TAnswer Exchange(const std::string& url, TStream& dest, const TGetOptions& options, TRequestTarget& t,
                   std::string& location, TGetResult& result, bool& reused);
  // After Exchange failed with e: whether the GET is to be sent again, because a
  // kept connection the server closed just as we reused it answered nothing.
  bool SendAgain(const Exception& e, bool reused);
  TRequestTarget Prepare(const std::string& url) const;
  // Prepare and ConnectTo along the proxies ResolveProxy gives url (ProxyParams'
  // alone without it). Returns true when a kept connection is used again.
  bool ConnectAlong(const std::string& url, TRequestTarget& t);
  // Returns true when a kept connection is used again.
  bool ConnectTo(const TRequestTarget& t);
  void Send(const std::string& data);
  // Reads the answer to a sent request: Redirect when it redirects to location
  // and the redirect is to be followed, Authenticate when the proxy is to be
  // answered (legs so far: at most a few).
  TAnswer ReadAnswer(const TRequestTarget& t, TStream& dest, const TGetOptions& options, std::string& location,
                     int legs, TGetResult& result);
  // A refused answer's body as its error text; a connection left with unread
  // bytes is closed.
  std::string RefusedBody(const THTTPResponse& answer, TWorkCounter& work);
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
  TProxySession proxy_{ProxyParams};
  std::mutex pauseLock_;
  std::condition_variable pauseWake_;
};

}  // namespace net
