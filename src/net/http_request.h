// The request a GET sends, built from memory without a socket: where it goes
// (the server, or the proxy that forwards it or tunnels to it), its request
// line and its header block (RFC 9112 section 3). What one request asks for
// and may take, and what came of it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "net/http_headers.h"
#include "net/http_response.h"
#include "net/uri.h"

namespace net {

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

// Where a request for an address goes and what it names.
struct TRequestTarget {
  TURI uri;
  std::string scheme;      // lower case
  int32_t port = 80;       // of the address
  std::string hostHeader;  // host, ":port" unless 80
  std::string requestTarget;
  std::string connectHost;
  int32_t connectPort = 80;
  bool viaProxy = false;
  bool tls = false;  // https: TLS to the server, through a CONNECT tunnel when via a proxy
  // What a kept connection must match to be used again: where it goes, and for
  // TLS the server at its end.
  std::string connectionKey;
  std::string proxy;  // "HOST:port" of the proxy when via one
  // The request itself goes to the proxy (not through a tunnel).
  bool ProxyForm() const { return viaProxy && !tls; }
};

// The target of url, directly or through proxyServer:proxyPort ("" for none).
// defaultPort stands for an address without a port unless it is 0, 80 or 443.
// Raises EURIException (a line break in the address, a bad port, no host
// through a proxy) and EUnknownProtocol (neither http nor https without a port).
TRequestTarget PlanRequest(const std::string& url, int32_t defaultPort, const std::string& proxyServer,
                           int32_t proxyPort);

// The request block of a GET: fields' headers, the options' range and
// credentials, proxyAuthorization when the request goes to a proxy, cookie.
std::string BuildGetRequest(const TRequestTarget& t, const THTTPRequest& fields, THTTPProtocolVersion version,
                            const TGetOptions& options, const std::string& proxyAuthorization,
                            const std::string& cookie);

// "name: value" and its line end, when value is not empty.
void AddHeaderLine(std::string& out, const char* name, const std::string& value);

// Whether an answer's headers leave its connection open for the next request
// (RFC 9112 section 9.3): under 1.1 unless one says "close", under 1.0 only
// when one says "keep-alive".
bool AnswerKeepsConnectionOpen(const THTTPResponse& answer, THTTPProtocolVersion version);

}  // namespace net
