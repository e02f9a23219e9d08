#include "net/http_client.h"

#include <algorithm>
#include <chrono>

#include "base/log.h"
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
// Requests of one address answering a proxy's 407 at most: a handshake takes
// two, and each scheme gets its turn.
constexpr int kMaxAuthLegs = 8;

// The system refused the TCP connection itself (to the server or a proxy): the
// next proxy of a plan may do better. Callers see an ESocketError like any other.
class EConnectFailed : public ESocketError {
 public:
  using ESocketError::ESocketError;
};

void Log(const std::string& event) { logging::Log("HTTP: " + event); }

std::string Route(const std::string& proxy) { return proxy.empty() ? "directly" : "through proxy " + proxy; }

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
  std::string proxy;  // "HOST:port" of the proxy when via one
  // The request itself goes to the proxy (not through a tunnel).
  bool ProxyForm() const { return viaProxy && !tls; }
};

THTTPClient::THTTPClient() {
  work_.OnBegin = [this](TWorkMode m, int64_t n) {
    if (OnWorkBegin) OnWorkBegin(this, m, n > 0 ? progressBase_ + n : 0);
  };
  work_.OnWork = [this](TWorkMode m, int64_t n) {
    if (OnWork) OnWork(this, m, progressBase_ + n);
  };
  work_.OnEnd = [this](TWorkMode m) {
    if (OnWorkEnd) OnWorkEnd(this, m);
  };
  proxyAuth_.Credentials = [this](const std::string& realm, int attempt, std::string& user, std::string& password) {
    if (attempt == 1 && !ProxyParams.ProxyUsername.empty()) {
      user = ProxyParams.ProxyUsername;
      password = ProxyParams.ProxyPassword;
      return true;
    }
    if (!OnProxyCredentials || attempt > AuthRetries) return false;
    TProxyCredentialRequest request;
    request.Proxy = AddressHost(ProxyParams.ProxyServer()) + ":" + std::to_string(ProxyParams.ProxyPort());
    request.Realm = realm;
    request.Attempt = attempt;
    if (!OnProxyCredentials(this, request, user, password)) return false;
    ProxyParams.ProxyUsername = user;
    ProxyParams.ProxyPassword = password;
    return true;
  };
}

THTTPClient::~THTTPClient() { Disconnect(); }

void THTTPClient::Abort() {
  socket_.Abort();
  // Taken, so that a Pause between its check and its wait still hears it.
  std::lock_guard<std::mutex> guard(pauseLock_);
  pauseWake_.notify_all();
}

void THTTPClient::Pause(int32_t milliseconds) {
  std::unique_lock<std::mutex> lock(pauseLock_);
  pauseWake_.wait_for(lock, std::chrono::milliseconds(std::max(milliseconds, 0)), [this] { return socket_.Aborted(); });
  if (socket_.Aborted()) throw ETransferAborted();
}

void THTTPClient::Disconnect() {
  tls_.Close();
  socket_.Close();
  connectionKey_.clear();
  if (in_) in_->Reset();
  proxyAuth_.ConnectionClosed();
}

THTTPClient::Target THTTPClient::Prepare(const std::string& url) const {
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

  t.tls = t.scheme == "https";
  t.viaProxy = !ProxyParams.ProxyServer().empty();
  t.proxy =
      t.viaProxy ? text::UpperCase(ProxyParams.ProxyServer()) + ":" + std::to_string(ProxyParams.ProxyPort()) : "";
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
  return t;
}

std::string THTTPClient::RequestText(const Target& t, const TGetOptions& options,
                                     const std::string& proxyAuthorization) const {
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
  AddLine(out, "If-Range", options.IfRange);
  AddLine(out, "Proxy-Connection", proxyConnection);
  AddLine(out, "Host", t.hostHeader);
  AddLine(out, "Accept", r.Accept);
  AddLine(out, "Accept-Charset", r.AcceptCharset);
  AddLine(out, "Accept-Encoding", r.AcceptEncoding);
  AddLine(out, "Accept-Language", r.AcceptLanguage);
  AddLine(out, "From", r.From);
  AddLine(out, "Referer", r.Referer);
  AddLine(out, "User-Agent", r.UserAgent);
  AddLine(out, "If-Modified-Since", r.IfModifiedSince);
  AddLine(out, "Range", options.Range);
  const bool ownCredentials = !options.Username.empty();
  const std::string& user = ownCredentials ? options.Username : t.uri.Username;
  if (options.BasicAuthentication && !user.empty())
    AddLine(out, "Authorization",
            "Basic " + Base64Encode(user + ":" + (ownCredentials ? options.Password : t.uri.Password)));
  // Never through a tunnel: the server at its end is not the proxy.
  if (t.ProxyForm()) AddLine(out, "Proxy-Authorization", proxyAuthorization);
  if (AllowCookies) AddLine(out, "Cookie", cookies_.CookieHeader(t.uri.Host, t.uri.Path + t.uri.Document));
  out += "\r\n";
  return out;
}

std::string THTTPClient::BuildRequest(const std::string& url, const TGetOptions& options) const {
  const Target t = Prepare(url);
  return RequestText(t, options, t.ProxyForm() ? ProxyAuthorization() : "");
}

std::string THTTPClient::ProxyAuthorization() const {
  if (!ProxyParams.BasicAuthentication || ProxyParams.ProxyUsername.empty()) return "";
  return "Basic " + Base64Encode(ProxyParams.ProxyUsername + ":" + ProxyParams.ProxyPassword);
}

std::string THTTPClient::TakeProxyAuthorization() {
  std::string value;
  value.swap(pendingProxyAuth_);
  return value.empty() ? ProxyAuthorization() : value;
}

bool THTTPClient::Authenticate(const THTTPResponse& answer, bool connectionKept, int legs) {
  std::string offered;
  for (const auto& c : ParseChallenges(answer.ProxyAuthenticate)) offered += (offered.empty() ? "" : ", ") + c.Scheme;
  const std::string proxy = AddressHost(ProxyParams.ProxyServer()) + ":" + std::to_string(ProxyParams.ProxyPort());
  const std::optional<std::string> next =
      legs < kMaxAuthLegs ? proxyAuth_.Respond(answer.ProxyAuthenticate, ProxyParams.ProxyServer(), connectionKept)
                          : std::optional<std::string>();
  if (!next) {
    Log("proxy " + proxy + " asks who we are (" + offered + "); nothing is left to answer it with");
    return false;
  }
  ProxyParams.Authenticated = true;
  pendingProxyAuth_ = *next;
  Log("proxy " + proxy + " asks who we are (" + offered + "); " +
      (next->empty() ? proxyAuth_.Scheme() + " failed, asking again" : "answering with " + proxyAuth_.Scheme()));
  return true;
}

void THTTPClient::AuthenticationAccepted() {
  Log("proxy accepts " + proxyAuth_.Scheme());
  // Credentials the proxy took go with every later request, unasked.
  if (proxyAuth_.Scheme() == "Basic") ProxyParams.BasicAuthentication = true;
  proxyAuth_.Accepted();
}

bool THTTPClient::AnswerKeepsConnectionOpen(const THTTPResponse& answer) const {
  const std::string conn = text::Trim(answer.Connection), proxyConn = text::Trim(answer.ProxyConnection);
  if (ProtocolVersion == THTTPProtocolVersion::pv1_1)
    return !text::SameText(conn, "CLOSE") && !text::SameText(proxyConn, "CLOSE");
  return text::SameText(conn, "KEEP-ALIVE") || text::SameText(proxyConn, "KEEP-ALIVE");
}

void THTTPClient::Send(const std::string& data) {
  if (tls_.Active())
    tls_.SendAll(data.data(), data.size());
  else
    socket_.SendAll(data.data(), data.size());
}

bool THTTPClient::ConnectTo(const Target& t) {
  if (t.proxy != authProxy_) {
    proxyAuth_.Reset();
    authProxy_ = t.proxy;
  }
  if (Connected() && t.connectionKey != connectionKey_) Disconnect();
  // A kept connection the server has closed meanwhile is not worth a request.
  if (Connected() && ((in_ && in_->ClosedGracefully()) || socket_.PeerClosed())) Disconnect();
  if (Connected()) return true;
  if (t.connectPort < 1 || t.connectPort > 65535) throw ESocketError(10049);
  size_t block = BodyOptions().recvBufferSize;
  in_.reset();
  try {
    try {
      socket_.Connect(t.connectHost, static_cast<uint16_t>(t.connectPort));
    } catch (const ESocketError& e) {
      throw EConnectFailed(e.LastError);
    }
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

void THTTPClient::UseProxy(const TProxyServer& server) {
  // Credentials are not offered unasked to another proxy than the one that took them.
  if (!text::SameText(server.Host, ProxyParams.ProxyServer()) || server.Port != ProxyParams.ProxyPort())
    ProxyParams.BasicAuthentication = false;
  ProxyParams.SetProxyServer(server.Host);
  ProxyParams.SetProxyPort(server.Direct() ? 0 : server.Port);
  // Credentials the setting carries count as the caller's own.
  if (!server.Username.empty() && ProxyParams.ProxyUsername.empty()) {
    ProxyParams.ProxyUsername = server.Username;
    ProxyParams.ProxyPassword = server.Password;
  }
}

bool THTTPClient::ConnectAlong(const std::string& url, Target& t) {
  if (!ResolveProxy) {
    t = Prepare(url);
    return ConnectTo(t);
  }
  const TProxyPlan plan = ResolveProxy(url);
  Log("proxy for " + LoggableUrl(url) + ": " + plan.Describe());
  // Those that failed before go last, in their order.
  std::vector<TProxyServer> order;
  for (const bool dead : {false, true})
    for (const TProxyServer& s : plan.Servers)
      if ((std::find(deadProxies_.begin(), deadProxies_.end(), s.Text()) != deadProxies_.end()) == dead)
        order.push_back(s);
  if (order.empty()) order.emplace_back();
  for (size_t i = 0;; ++i) {
    UseProxy(order[i]);
    t = Prepare(url);
    try {
      return ConnectTo(t);
    } catch (const EConnectFailed& e) {
      if (order[i].Direct() || i + 1 == order.size()) throw;
      if (std::find(deadProxies_.begin(), deadProxies_.end(), order[i].Text()) == deadProxies_.end())
        deadProxies_.push_back(order[i].Text());
      Log("proxy " + order[i].Text() + " cannot be reached (" + text::StringReplace(e.Message, "\r\n", " ") +
          "); trying " + order[i + 1].Text());
    }
  }
}

void THTTPClient::OpenTunnel(const Target& t) {
  // RFC 9110 section 9.3.6: the proxy answers 2xx and from then on relays bytes.
  const std::string authority = AddressHost(t.uri.Host) + ":" + std::to_string(t.port);
  TInputBuffer in(socket_, BodyOptions().recvBufferSize);
  in.SetTimeout(ReadTimeout);
  for (int legs = 0;; ++legs) {
    const bool answering = !pendingProxyAuth_.empty();
    const std::string proxyAuthorization = TakeProxyAuthorization();
    std::string request = "CONNECT " + authority + " HTTP/1.1\r\n";
    AddLine(request, "Host", authority);
    AddLine(request, "User-Agent", Request.UserAgent);
    AddLine(request, "Proxy-Authorization", proxyAuthorization);
    request += "\r\n";
    Log("CONNECT " + authority + " " + Route(AddressHost(t.connectHost) + ":" + std::to_string(t.connectPort)));
    socket_.SendAll(request.data(), request.size());

    THTTPResponse answer;
    do ReadResponseHead(in, answer, BodyOptions().maxLineLength);
    while (IsInterimStatus(answer.ResponseCode));
    Log(answer.ResponseText);
    if (answer.ResponseCode >= 200 && answer.ResponseCode <= 299) {
      if (answering) AuthenticationAccepted();
      // The server speaks only after our greeting: anything else came from the proxy.
      if (in.Buffered() > 0) throw EHTTPInvalidResponse("The proxy sent data into the tunnel before the server.");
      return;
    }
    const bool again = answer.ResponseCode == 407 && Authenticate(answer, AnswerKeepsConnectionOpen(answer), legs);
    std::string body;
    TWorkCounter quiet;  // the proxy's refusal is no part of the download
    ReadRefusedBody(in, answer, quiet, body);
    if (!again) throw EHTTPProtocolException(answer.ResponseText, answer.ResponseCode, body);
    if (!AnswerKeepsConnectionOpen(answer) || in.ClosedGracefully() || in.Buffered() > 0 || !socket_.IsOpen()) {
      // The next round on a new connection to the same proxy.
      socket_.Close();
      proxyAuth_.ConnectionClosed();
      in.Reset();
      socket_.Connect(t.connectHost, static_cast<uint16_t>(t.connectPort));
    }
  }
}

bool THTTPClient::ConnectionReusable() const {
  if (!socket_.IsOpen() || !in_ || in_->ClosedGracefully()) return false;
  // Bytes beyond the answer would be read as the next answer's start.
  if (in_->Buffered() > 0) return false;
  return Response.KeepAlive;
}

TBodyOptions THTTPClient::BodyOptions(const TGetOptions* limits) const {
  TBodyOptions o;
  o.recvBufferSize = RecvBufferSize > 0 ? static_cast<size_t>(RecvBufferSize) : 1;
  o.maxLineLength = MaxLineLength > 0 ? static_cast<size_t>(MaxLineLength) : 0;
  if (limits && limits->ExpectedSize >= 0) {
    o.maxSize = limits->ExpectedSize;
    o.exactSize = true;
  } else if (limits) {
    o.maxSize = limits->MaxBodySize < 0 ? -1 : limits->MaxBodySize;
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

THTTPClient::TAnswer THTTPClient::ReadAnswer(const Target& t, TStream& dest, const TGetOptions& options,
                                             std::string& location, int legs, TGetResult& result) {
  size_t maxLine = BodyOptions().maxLineLength;
  progressBase_ = 0;
  in_->SetTimeout(ReadTimeout);
  do {
    ReadResponseHead(*in_, Response, maxLine);
    statusSeen_ = true;
  } while (IsInterimStatus(Response.ResponseCode));
  Log(Response.ResponseText +
      (Response.HasContentLength() ? ", Content-Length " + text::IntToStr(Response.ContentLength) : "") +
      (Response.ContentRange.empty() ? "" : ", Content-Range " + Response.ContentRange));

  if (AllowCookies) {
    for (const char* name : {"Set-cookie", "Set-cookie2"})
      for (const auto& v : Response.RawHeaders.AllValues(name))
        cookies_.Add(v, t.uri.Host, t.uri.Path + t.uri.Document);
  }
  Response.KeepAlive = AnswerKeepsConnectionOpen(Response);

  int32_t code = Response.ResponseCode;
  // Our proxy's own question; through a tunnel a 407 would come from the server.
  if (code == 407 && t.ProxyForm() && Authenticate(Response, Response.KeepAlive, legs)) {
    std::string body;
    TWorkCounter quiet;  // a round of the handshake is no part of the download
    ReadRefusedBody(*in_, Response, quiet, body);
    return TAnswer::Authenticate;
  }
  bool redirect = (code >= 300 && code <= 399 && code != 304) || Response.RawHeaders.Has("Location");
  bool success = code >= 200 && code <= 299;
  if (redirect || !success) {
    std::string body;
    TWorkCounter quiet;
    ReadRefusedBody(*in_, Response, options.RefusalProgress ? work_ : quiet, body);
    if (redirect && HandleRedirects && !Response.Location.empty()) {
      location = Response.Location;
      return TAnswer::Redirect;
    }
    throw EHTTPProtocolException(Response.ResponseText, code, body);
  }
  if (code == 204) {
    result.Complete = true;
    return TAnswer::Done;
  }
  if (in_->ClosedGracefully() && in_->Buffered() == 0) throw ENetException();
  TGetOptions body = options;
  if (options.OnHeaders) options.OnHeaders(Response, body);
  progressBase_ = body.ProgressBase;
  const TBodyResult read = ReadResponseBody(*in_, Response, dest, work_, BodyOptions(&body));
  result.Bytes = read.Bytes;
  result.Complete = read.Complete;
  Log(text::IntToStr(read.Bytes) + " bytes received" + (read.Complete ? "" : ", fewer than announced"));
  return TAnswer::Done;
}

TGetResult THTTPClient::Get(const std::string& url, TStream& dest, const TGetOptions& options) {
  try {
    return GetOnce(url, dest, options);
  } catch (const Exception& e) {
    Log("failed: " + text::StringReplace(e.Message, "\r\n", " "));
    throw;
  }
}

TGetResult THTTPClient::GetOnce(const std::string& url, TStream& dest, const TGetOptions& options) {
  socket_.WatchRate(MinimumRate, RateWindow);
  std::string current = url;
  bool retried = false;
  for (int32_t redirects = 0;;) {
    Target t;
    bool reused = ConnectAlong(current, t);
    std::string location;
    TAnswer answer = TAnswer::Done;
    TGetResult result;
    try {
      for (int legs = 0;; ++legs) {
        statusSeen_ = false;
        const bool answering = !pendingProxyAuth_.empty();
        const std::string proxyAuthorization = TakeProxyAuthorization();
        Log("GET " + LoggableUrl(current) + " " +
            Route(t.viaProxy ? AddressHost(t.connectHost) + ":" + std::to_string(t.connectPort) : ""));
        Send(RequestText(t, options, t.ProxyForm() ? proxyAuthorization : ""));
        answer = ReadAnswer(t, dest, options, location, legs, result);
        if (answer != TAnswer::Authenticate) {
          if (answering) AuthenticationAccepted();
          break;
        }
        // The next round goes over this connection while it stays open.
        reused = ConnectionReusable();
        if (!reused) {
          Disconnect();
          ConnectTo(t);
        }
      }
    } catch (const EHTTPProtocolException&) {
      // The refused answer was read whole: the connection is as good as after a
      // success.
      if (!ConnectionReusable()) Disconnect();
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
    if (!ConnectionReusable()) Disconnect();
    if (answer != TAnswer::Redirect) return result;
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
