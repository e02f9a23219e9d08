#include "net/http_client.h"

#include <algorithm>
#include <chrono>

#include "base/log.h"
#include "base/scope_exit.h"
#include "base/text.h"

namespace net {
namespace {

// The system refused the TCP connection itself (to the server or a proxy): the
// next proxy of a plan may do better. Callers see an ESocketError like any other.
class EConnectFailed : public ESocketError {
 public:
  using ESocketError::ESocketError;
};

void Log(const std::string& event) { logging::Log("HTTP: " + event); }

std::string Route(const TRequestTarget& t) {
  return t.viaProxy ? "through proxy " + AddressHost(t.connectHost) + ":" + std::to_string(t.connectPort) : "directly";
}

// Where a redirect's Location leads from the address t asked for.
std::string RedirectTarget(const TRequestTarget& t, const std::string& location) {
  if (location.find("://") != std::string::npos) return location;
  const std::string base = t.uri.Protocol + "://" + AddressHost(t.uri.Host) + ":" + std::to_string(t.port);
  return base + (location[0] == '/' ? location : t.uri.Path + location);
}

}  // namespace

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
  proxy_.Credentials() = [this](const std::string& realm, int attempt, std::string& user, std::string& password) {
    if (attempt == 1 && !ProxyParams.ProxyUsername.empty()) {
      user = ProxyParams.ProxyUsername;
      password = ProxyParams.ProxyPassword;
      return true;
    }
    if (!OnProxyCredentials || attempt > AuthRetries) return false;
    TProxyCredentialRequest request;
    request.Proxy = proxy_.Name();
    request.Realm = ServerText(realm);
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
  proxy_.ConnectionClosed();
}

TRequestTarget THTTPClient::Prepare(const std::string& url) const {
  return PlanRequest(url, Port, ProxyParams.ProxyServer(), ProxyParams.ProxyPort());
}

std::string THTTPClient::BuildRequest(const std::string& url, const TGetOptions& options) const {
  const TRequestTarget t = Prepare(url);
  return BuildGetRequest(t, Request, ProtocolVersion, options, t.ProxyForm() ? proxy_.Authorization() : "",
                         AllowCookies ? cookies_.CookieHeader(t.uri.Host, t.uri.Path + t.uri.Document) : "");
}

void THTTPClient::Send(const std::string& data) {
  if (tls_.Active())
    tls_.SendAll(data.data(), data.size());
  else
    socket_.SendAll(data.data(), data.size());
}

bool THTTPClient::ConnectTo(const TRequestTarget& t) {
  proxy_.Reach(t.proxy);
  if (Connected() && t.connectionKey != connectionKey_) Disconnect();
  // A kept connection the server has closed meanwhile is not worth a request.
  if (Connected() && ((in_ && in_->ClosedGracefully()) || socket_.PeerClosed())) Disconnect();
  if (Connected()) return true;
  if (t.connectPort < 1 || t.connectPort > 65535) throw ESocketError(10049);
  const TBodyOptions framing = BodyOptions();
  in_.reset();
  try {
    try {
      socket_.Connect(t.connectHost, static_cast<uint16_t>(t.connectPort));
    } catch (const ESocketError& e) {
      EConnectFailed failed(e.LastError);
      const std::string cause = text::StringReplace(e.Message, "\r\n", " ");
      // Support must see which machine failed: the proxy is no fault of the server's.
      if (t.viaProxy)
        failed.Message = "The proxy " + AddressHost(t.connectHost) + ":" + std::to_string(t.connectPort) +
                         " cannot be reached (" + cause + ").";
      else if (e.LastError >= kWSAHOST_NOT_FOUND && e.LastError <= kWSAHOST_NOT_FOUND + 3)
        Log("the name " + t.connectHost + " could not be looked up: " + cause);
      throw failed;
    }
    if (t.tls) {
      if (t.viaProxy) OpenTunnel(socket_, t, proxy_, {Request.UserAgent, ReadTimeout, ProtocolVersion, framing});
      tls_.Start(socket_, t.uri.Host);
      in_ = std::make_unique<TInputBuffer>(tls_, framing.recvBufferSize);
    } else {
      in_ = std::make_unique<TInputBuffer>(socket_, framing.recvBufferSize);
    }
  } catch (...) {
    Disconnect();
    throw;
  }
  connectionKey_ = t.connectionKey;
  return false;
}

bool THTTPClient::ConnectAlong(const std::string& url, TRequestTarget& t) {
  if (!ResolveProxy) {
    t = Prepare(url);
    return ConnectTo(t);
  }
  const TProxyPlan plan = ResolveProxy(url);
  Log("proxy for " + LoggableUrl(url) + ": " + plan.Describe());
  const std::vector<TProxyServer> order = proxy_.Order(plan);
  for (size_t i = 0;; ++i) {
    proxy_.Use(order[i]);
    t = Prepare(url);
    try {
      return ConnectTo(t);
    } catch (const EConnectFailed& e) {
      if (order[i].Direct() || i + 1 == order.size()) throw;
      proxy_.Unreachable(order[i]);
      Log(e.Message + " Trying " + order[i + 1].Text() + ".");
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

std::string THTTPClient::RefusedBody(const THTTPResponse& answer, TWorkCounter& work) {
  std::string body;
  if (!ReadRefusedBody(*in_, answer, work, BodyOptions(), body)) Disconnect();
  return body;
}

THTTPClient::TAnswer THTTPClient::ReadAnswer(const TRequestTarget& t, TStream& dest, const TGetOptions& options,
                                             std::string& location, int legs, TGetResult& result) {
  progressBase_ = 0;
  in_->SetTimeout(ReadTimeout);
  do {
    ReadResponseHead(*in_, Response, BodyOptions().maxLineLength);
    statusSeen_ = true;
  } while (IsInterimStatus(Response.ResponseCode));
  Log(ServerText(Response.ResponseText) +
      (Response.HasContentLength() ? ", Content-Length " + text::IntToStr(Response.ContentLength) : "") +
      (Response.ContentRange.empty() ? "" : ", Content-Range " + ServerText(Response.ContentRange)));

  if (AllowCookies) {
    for (const char* name : {"Set-cookie", "Set-cookie2"})
      for (const auto& v : Response.RawHeaders.AllValues(name))
        cookies_.Add(v, t.uri.Host, t.uri.Path + t.uri.Document);
  }
  Response.KeepAlive = AnswerKeepsConnectionOpen(Response, ProtocolVersion);

  const int32_t code = Response.ResponseCode;
  TWorkCounter quiet;  // for bodies that are no part of the download
  // Our proxy's own question; through a tunnel a 407 would come from the server.
  if (code == 407 && t.ProxyForm() && proxy_.Authenticate(Response, Response.KeepAlive, legs)) {
    RefusedBody(Response, quiet);
    return TAnswer::Authenticate;
  }
  const bool redirect = (code >= 300 && code <= 399 && code != 304) || Response.RawHeaders.Has("Location");
  if (redirect || code < 200 || code > 299) {
    const std::string body = RefusedBody(Response, options.RefusalProgress ? work_ : quiet);
    if (redirect && HandleRedirects && !Response.Location.empty()) {
      location = Response.Location;
      return TAnswer::Redirect;
    }
    throw EHTTPProtocolException(Response.ResponseText, code, body);
  }
  result.Complete = code == 204;
  if (code == 204) return TAnswer::Done;
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

THTTPClient::TAnswer THTTPClient::Exchange(const std::string& url, TStream& dest, const TGetOptions& options,
                                           TRequestTarget& t, std::string& location, TGetResult& result, bool& reused) {
  reused = ConnectAlong(url, t);
  for (int legs = 0;; ++legs) {
    statusSeen_ = false;
    const bool answering = proxy_.Answering();
    const std::string proxyAuthorization = proxy_.TakeAuthorization();
    Log("GET " + LoggableUrl(url) + " " + Route(t));
    Send(BuildGetRequest(t, Request, ProtocolVersion, options, t.ProxyForm() ? proxyAuthorization : "",
                         AllowCookies ? cookies_.CookieHeader(t.uri.Host, t.uri.Path + t.uri.Document) : ""));
    const TAnswer answer = ReadAnswer(t, dest, options, location, legs, result);
    if (answer != TAnswer::Authenticate) {
      if (answering) proxy_.Accepted();
      return answer;
    }
    // The next round goes over this connection while it stays open.
    reused = ConnectionReusable();
    if (!reused) {
      Disconnect();
      ConnectTo(t);
    }
  }
}

bool THTTPClient::SendAgain(const Exception& e, bool reused) {
  // A refused answer was read whole: the connection is as good as after a success.
  if (dynamic_cast<const EHTTPProtocolException*>(&e)) {
    if (!ConnectionReusable()) Disconnect();
    return false;
  }
  // Anything else may leave unread bytes of the answer behind.
  Disconnect();
  // Nothing was answered, so the GET may go again on a new connection (RFC 9112
  // section 9.3.1).
  const bool lost = dynamic_cast<const EConnClosedGracefully*>(&e) || dynamic_cast<const ESocketError*>(&e);
  return reused && !statusSeen_ && lost && !socket_.Aborted();
}

TGetResult THTTPClient::GetOnce(const std::string& url, TStream& dest, const TGetOptions& options) {
  socket_.Watch({StallTimeout, MinimumRate, RateWindow}, options.ContinuesTransfer);
  // Between Gets nothing is asked of a server: its clock stands still.
  base::TScopeExit unwatch([this] { socket_.Unwatch(); });
  std::string current = url;
  bool retried = false;
  for (int32_t redirects = 0;;) {
    TRequestTarget t;
    std::string location;
    TGetResult result;
    bool reused = false;
    TAnswer answer;
    try {
      answer = Exchange(current, dest, options, t, location, result, reused);
    } catch (const Exception& e) {
      if (!SendAgain(e, reused) || retried) throw;
      retried = true;
      continue;
    } catch (...) {
      Disconnect();
      throw;
    }
    if (!ConnectionReusable()) Disconnect();
    if (answer != TAnswer::Redirect) return result;
    if (++redirects > RedirectMaximum) throw EHTTPProtocolException(Response.ResponseText, Response.ResponseCode, "");
    current = RedirectTarget(t, location);
  }
}

}  // namespace net
