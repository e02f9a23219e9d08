#include "net/http_client.h"

#include "base/text.h"
#include "net/base64.h"

namespace net {
namespace {

// The most of a refused answer's body kept as its error message.
constexpr size_t kMaxErrorBody = 64 * 1024;
// The most of a refused answer's body read at all.
constexpr int64_t kMaxRefusedBody = 1024 * 1024;
// How long the body of a refused answer may keep us waiting between portions.
constexpr int32_t kRefusedBodyTimeoutMs = 2000;

void AddLine(std::string& out, const char* name, const std::string& value) {
  if (value.empty()) return;
  out += name;
  out += ": ";
  out += value;
  out += "\r\n";
}

}  // namespace

void TProxyConnectionInfo::SetProxyServer(const std::string& server) {
  if (!text::SameText(server, server_)) Authenticated = false;
  server_ = server;
}

void TProxyConnectionInfo::SetProxyPort(int32_t port) {
  if (port != port_) Authenticated = false;
  port_ = port;
}

struct THTTPClient::Target {
  TURI uri;
  std::string scheme;      // lower case
  int32_t port = 80;       // of the address
  std::string hostHeader;  // host, ":port" unless 80
  std::string requestTarget;
  std::string connectHost;
  int32_t connectPort = 80;
  bool viaProxy = false;
  bool tls = false;  // https: TLS to the server, through a CONNECT tunnel when via a proxy
  std::string connectionKey;
  // The request itself goes to the proxy (not through a tunnel).
  bool ProxyForm() const { return viaProxy && !tls; }
};

THTTPClient::THTTPClient() {
  work_.OnBegin = [this](TWorkMode m, int64_t n) {
    if (OnWorkBegin) OnWorkBegin(this, m, n);
  };
  work_.OnWork = [this](TWorkMode m, int64_t n) {
    if (OnWork) OnWork(this, m, n);
  };
  work_.OnEnd = [this](TWorkMode m) {
    if (OnWorkEnd) OnWorkEnd(this, m);
  };
}

THTTPClient::~THTTPClient() { Disconnect(); }

void THTTPClient::Abort() { socket_.Abort(); }

void THTTPClient::Disconnect() {
  tls_.Close();
  socket_.Close();
  connectionKey_.clear();
  if (in_) in_->Reset();
}

THTTPClient::Target THTTPClient::Prepare(const std::string& url) {
  for (char c : url)
    if (c == '\r' || c == '\n' || c == '\0') throw EURIException("Invalid character in address");
  Target t;
  t.uri = TURI::Parse(url);
  t.scheme = text::LowerCase(t.uri.Protocol);
  if (t.uri.Port.empty()) {
    if (Port == 0 || Port == 80 || Port == 443) {
      if (t.scheme == "http")
        t.port = 80;
      else if (t.scheme == "https")
        t.port = 443;
      else
        throw EUnknownProtocol();
    } else {
      t.port = Port;
    }
  } else if (!text::TryStrToInt(t.uri.Port, t.port)) {
    throw EURIException("Invalid port: " + t.uri.Port);
  }
  const std::string host = AddressHost(t.uri.Host);
  t.hostHeader = t.port == 80 ? host : host + ":" + std::to_string(t.port);
  Request.Host = t.hostHeader;
  if (!t.uri.Username.empty()) {
    Request.Username = t.uri.Username;
    Request.Password = t.uri.Password;
  }

  t.tls = t.scheme == "https";
  t.viaProxy = !ProxyParams.ProxyServer().empty();
  if (!t.viaProxy) {
    t.connectHost = t.uri.Host;
    t.connectPort = t.port;
    t.requestTarget = t.uri.Target();
  } else {
    if (t.uri.Host.empty()) throw EURIException();
    t.connectHost = ProxyParams.ProxyServer();
    t.connectPort = ProxyParams.ProxyPort();
    // A proxy gets the absolute address, always with its port; through a tunnel
    // the request goes to the server itself.
    t.requestTarget =
        t.tls ? t.uri.Target() : t.uri.Protocol + "://" + host + ":" + std::to_string(t.port) + t.uri.Target();
  }
  // What a kept connection must match to be used again: where it goes, and for
  // TLS the server at its end.
  t.connectionKey = text::UpperCase(t.connectHost) + ":" + std::to_string(t.connectPort);
  if (t.tls) t.connectionKey += " TLS " + text::UpperCase(t.uri.Host) + ":" + std::to_string(t.port);
  if (Connected() && t.connectionKey != connectionKey_) Disconnect();
  return t;
}

std::string THTTPClient::RequestText(const Target& t) {
  const THTTPRequest& r = Request;
  bool v10 = ProtocolVersion == THTTPProtocolVersion::pv1_0;
  std::string out = "GET " + t.requestTarget + (v10 ? " HTTP/1.0" : " HTTP/1.1") + "\r\n";
  std::string connection = r.Connection, proxyConnection = r.ProxyConnection;
  if (v10 && !t.ProxyForm() && connection.empty()) connection = "keep-alive";
  if (v10 && t.ProxyForm() && proxyConnection.empty()) proxyConnection = "keep-alive";

  AddLine(out, "Connection", connection);
  AddLine(out, "Content-Version", r.ContentVersion);
  AddLine(out, "Content-Encoding", r.ContentEncoding);
  AddLine(out, "Content-Language", r.ContentLanguage);
  AddLine(out, "Content-Type", r.ContentType);
  if (r.ContentLength >= 0) AddLine(out, "Content-Length", std::to_string(r.ContentLength));
  AddLine(out, "Cache-control", r.CacheControl);
  AddLine(out, "Date", r.Date);
  AddLine(out, "Expires", r.Expires);
  AddLine(out, "Pragma", r.Pragma);
  out += r.CustomHeaders.Text();
  AddLine(out, "Proxy-Connection", proxyConnection);
  AddLine(out, "Host", r.Host);
  AddLine(out, "Accept", r.Accept);
  AddLine(out, "Accept-Charset", r.AcceptCharset);
  AddLine(out, "Accept-Encoding", r.AcceptEncoding);
  AddLine(out, "Accept-Language", r.AcceptLanguage);
  AddLine(out, "From", r.From);
  AddLine(out, "Referer", r.Referer);
  AddLine(out, "User-Agent", r.UserAgent);
  AddLine(out, "If-Modified-Since", r.IfModifiedSince);
  AddLine(out, "Range", r.Range);
  if (r.BasicAuthentication && !r.Username.empty())
    AddLine(out, "Authorization", "Basic " + Base64Encode(r.Username + ":" + r.Password));
  // Never through a tunnel: the server at its end is not the proxy.
  if (t.ProxyForm()) AddLine(out, "Proxy-Authorization", ProxyAuthorization());
  if (AllowCookies) AddLine(out, "Cookie", cookies_.CookieHeader(t.uri.Host, t.uri.Path + t.uri.Document));
  out += "\r\n";
  return out;
}

std::string THTTPClient::BuildRequest(const std::string& url) { return RequestText(Prepare(url)); }

std::string THTTPClient::ProxyAuthorization() const {
  if (!ProxyParams.BasicAuthentication || ProxyParams.ProxyUsername.empty()) return "";
  return "Basic " + Base64Encode(ProxyParams.ProxyUsername + ":" + ProxyParams.ProxyPassword);
}

void THTTPClient::Send(const std::string& data) {
  if (tls_.Active())
    tls_.SendAll(data.data(), data.size());
  else
    socket_.SendAll(data.data(), data.size());
}

bool THTTPClient::ConnectTo(const Target& t) {
  // A kept connection the server has closed meanwhile is not worth a request.
  if (Connected() && ((in_ && in_->ClosedGracefully()) || socket_.PeerClosed())) Disconnect();
  if (Connected()) return true;
  if (t.connectPort < 1 || t.connectPort > 65535) throw ESocketError(10049);
  size_t block = BodyOptions().recvBufferSize;
  in_.reset();
  try {
    socket_.Connect(t.connectHost, static_cast<uint16_t>(t.connectPort));
    if (t.tls) {
      if (t.viaProxy) OpenTunnel(t);
      tls_.Start(socket_, t.uri.Host);
      in_ = std::make_unique<TInputBuffer>(tls_, block);
    } else {
      in_ = std::make_unique<TInputBuffer>(socket_, block);
    }
  } catch (...) {
    Disconnect();
    throw;
  }
  connectionKey_ = t.connectionKey;
  return false;
}

void THTTPClient::OpenTunnel(const Target& t) {
  // RFC 9110 section 9.3.6: the proxy answers 2xx and from then on relays bytes.
  std::string authority = AddressHost(t.uri.Host) + ":" + std::to_string(t.port);
  std::string request = "CONNECT " + authority + " HTTP/1.1\r\n";
  AddLine(request, "Host", authority);
  AddLine(request, "User-Agent", Request.UserAgent);
  AddLine(request, "Proxy-Authorization", ProxyAuthorization());
  request += "\r\n";
  socket_.SendAll(request.data(), request.size());

  TInputBuffer in(socket_, BodyOptions().recvBufferSize);
  in.SetTimeout(ReadTimeout);
  THTTPResponse answer;
  do ReadResponseHead(in, answer, BodyOptions().maxLineLength);
  while (IsInterimStatus(answer.ResponseCode));
  if (answer.ResponseCode < 200 || answer.ResponseCode > 299) {
    std::string body;
    TWorkCounter quiet;  // the proxy's refusal is no part of the download
    ReadRefusedBody(in, answer, quiet, body);
    throw EHTTPProtocolException(answer.ResponseText, answer.ResponseCode, body);
  }
  // The server speaks only after our greeting: anything else came from the proxy.
  if (in.Buffered() > 0) throw EHTTPInvalidResponse("The proxy sent data into the tunnel before the server.");
}

bool THTTPClient::KeepConnection() const {
  if (!socket_.IsOpen() || !in_ || in_->ClosedGracefully()) return false;
  // Bytes beyond the answer would be read as the next answer's start.
  if (in_->Buffered() > 0) return false;
  return Response.KeepAlive;
}

TBodyOptions THTTPClient::BodyOptions(bool withSizeLimits) const {
  TBodyOptions o;
  o.recvBufferSize = RecvBufferSize > 0 ? static_cast<size_t>(RecvBufferSize) : 1;
  o.maxLineLength = MaxLineLength > 0 ? static_cast<size_t>(MaxLineLength) : 0;
  if (withSizeLimits && ExpectedBodySize >= 0) {
    o.maxSize = ExpectedBodySize;
    o.exactSize = true;
  } else if (withSizeLimits) {
    o.maxSize = MaxBodySize < 0 ? -1 : MaxBodySize;
  }
  return o;
}

void THTTPClient::ReadRefusedBody(TInputBuffer& in, const THTTPResponse& answer, TWorkCounter& work,
                                  std::string& body) {
  TCappedTextStream sink(kMaxErrorBody);
  int32_t saved = in.Timeout();
  in.SetTimeout(kRefusedBodyTimeoutMs);
  struct Restore {
    TInputBuffer& in;
    int32_t ms;
    ~Restore() { in.SetTimeout(ms); }
  } restore{in, saved};
  // Read to its end only while that is short: the rest of a long or endless one
  // is left unread with the connection.
  TBodyOptions o = BodyOptions();
  o.maxSize = kMaxRefusedBody;
  try {
    ReadResponseBody(in, answer, sink, work, o);
  } catch (const EBodySizeError&) {
    Disconnect();
  }
  body = sink.Text();
}

bool THTTPClient::ReadAnswer(const Target& t, TStream& dest, std::string& location) {
  size_t maxLine = BodyOptions().maxLineLength;
  in_->SetTimeout(ReadTimeout);
  do {
    ReadResponseHead(*in_, Response, maxLine);
    statusSeen_ = true;
  } while (IsInterimStatus(Response.ResponseCode));

  if (AllowCookies) {
    for (const char* name : {"Set-cookie", "Set-cookie2"})
      for (const auto& v : Response.RawHeaders.AllValues(name))
        cookies_.Add(v, t.uri.Host, t.uri.Path + t.uri.Document);
  }
  std::string conn = text::Trim(Response.Connection), proxyConn = text::Trim(Response.ProxyConnection);
  if (ProtocolVersion == THTTPProtocolVersion::pv1_1)
    Response.KeepAlive = !text::SameText(conn, "CLOSE") && !text::SameText(proxyConn, "CLOSE");
  else
    Response.KeepAlive = text::SameText(conn, "KEEP-ALIVE") || text::SameText(proxyConn, "KEEP-ALIVE");

  int32_t code = Response.ResponseCode;
  bool redirect = (code >= 300 && code <= 399 && code != 304) || Response.RawHeaders.Has("Location");
  bool success = code >= 200 && code <= 299;
  if (redirect || !success) {
    std::string body;
    ReadRefusedBody(*in_, Response, work_, body);
    if (redirect && HandleRedirects && !Response.Location.empty()) {
      location = Response.Location;
      return true;
    }
    throw EHTTPProtocolException(Response.ResponseText, code, body);
  }
  if (code == 204) return false;
  if (in_->ClosedGracefully() && in_->Buffered() == 0) throw ENetException();
  ReadResponseBody(*in_, Response, dest, work_, BodyOptions(true));
  return false;
}

void THTTPClient::Get(const std::string& url, TStream& dest) {
  socket_.WatchRate(MinimumRate, RateWindow);
  std::string current = url;
  bool retried = false;
  for (int32_t redirects = 0;;) {
    Target t = Prepare(current);
    bool reused = ConnectTo(t);
    std::string location;
    bool follow = false;
    statusSeen_ = false;
    try {
      Send(RequestText(t));
      follow = ReadAnswer(t, dest, location);
    } catch (const EHTTPProtocolException&) {
      // The refused answer was read whole: the connection is as good as after a
      // success.
      if (!KeepConnection()) Disconnect();
      throw;
    } catch (const Exception& e) {
      // Anything else may leave unread bytes of the answer behind.
      Disconnect();
      // A kept connection the server closed just as we reused it: nothing was
      // answered, so the GET is sent again once on a new connection (RFC 9112
      // section 9.3.1).
      bool lostConnection = dynamic_cast<const EConnClosedGracefully*>(&e) || dynamic_cast<const ESocketError*>(&e);
      if (reused && !statusSeen_ && lostConnection && !retried && !socket_.Aborted()) {
        retried = true;
        continue;
      }
      throw;
    } catch (...) {
      Disconnect();
      throw;
    }
    if (!KeepConnection()) Disconnect();
    if (!follow) return;
    if (++redirects > RedirectMaximum) throw EHTTPProtocolException(Response.ResponseText, Response.ResponseCode, "");
    if (location.find("://") != std::string::npos) {
      current = location;
    } else {
      std::string base = t.uri.Protocol + "://" + AddressHost(t.uri.Host) + ":" + std::to_string(t.port);
      current = base + (location[0] == '/' ? location : t.uri.Path + location);
    }
  }
}

}  // namespace net
