#include "net/proxy_session.h"

#include <algorithm>

#include "base/log.h"
#include "base/text.h"
#include "net/base64.h"
#include "net/net_errors.h"

namespace net {
namespace {

// Requests of one address answering a proxy's 407 at most: a handshake takes
// two, and each scheme gets its turn.
constexpr int kMaxAuthLegs = 8;

void Log(const std::string& event) { logging::Log("HTTP: " + event); }

}  // namespace

void TProxyConnectionInfo::SetProxyServer(const std::string& server) {
  if (!text::SameText(server, server_)) Authenticated = false;
  server_ = server;
}

void TProxyConnectionInfo::SetProxyPort(int32_t port) {
  if (port != port_) Authenticated = false;
  port_ = port;
}

std::string TProxySession::Name() const {
  return AddressHost(params_.ProxyServer()) + ":" + std::to_string(params_.ProxyPort());
}

std::vector<TProxyServer> TProxySession::Order(const TProxyPlan& plan) const {
  std::vector<TProxyServer> order;
  for (const bool dead : {false, true})
    for (const TProxyServer& s : plan.Servers)
      if ((std::find(dead_.begin(), dead_.end(), s.Text()) != dead_.end()) == dead) order.push_back(s);
  if (order.empty()) order.emplace_back();
  return order;
}

void TProxySession::Unreachable(const TProxyServer& server) {
  if (std::find(dead_.begin(), dead_.end(), server.Text()) == dead_.end()) dead_.push_back(server.Text());
}

void TProxySession::Use(const TProxyServer& server) {
  // Credentials are not offered unasked to another proxy than the one that took them.
  if (!text::SameText(server.Host, params_.ProxyServer()) || server.Port != params_.ProxyPort())
    params_.BasicAuthentication = false;
  params_.SetProxyServer(server.Host);
  params_.SetProxyPort(server.Direct() ? 0 : server.Port);
  // Credentials the setting carries count as the caller's own.
  if (!server.Username.empty() && params_.ProxyUsername.empty()) {
    params_.ProxyUsername = server.Username;
    params_.ProxyPassword = server.Password;
  }
}

void TProxySession::Reach(const std::string& proxyKey) {
  if (proxyKey == authProxy_) return;
  auth_.Reset();
  authProxy_ = proxyKey;
}

std::string TProxySession::Authorization() const {
  if (!params_.BasicAuthentication || params_.ProxyUsername.empty()) return "";
  return "Basic " + Base64Encode(params_.ProxyUsername + ":" + params_.ProxyPassword);
}

std::string TProxySession::TakeAuthorization() {
  std::string value;
  value.swap(pending_);
  return value.empty() ? Authorization() : value;
}

bool TProxySession::Authenticate(const THTTPResponse& answer, bool connectionKept, int legs) {
  std::string offered;
  for (const auto& c : ParseChallenges(answer.ProxyAuthenticate)) offered += (offered.empty() ? "" : ", ") + c.Scheme;
  const std::optional<std::string> next =
      legs < kMaxAuthLegs ? auth_.Respond(answer.ProxyAuthenticate, params_.ProxyServer(), connectionKept)
                          : std::optional<std::string>();
  if (!next) {
    Log("proxy " + Name() + " asks who we are (" + ServerText(offered) + "); nothing is left to answer it with");
    return false;
  }
  params_.Authenticated = true;
  pending_ = *next;
  Log("proxy " + Name() + " asks who we are (" + ServerText(offered) + "); " +
      (next->empty() ? auth_.Scheme() + " failed, asking again" : "answering with " + auth_.Scheme()));
  return true;
}

void TProxySession::Accepted() {
  Log("proxy accepts " + auth_.Scheme());
  // Credentials the proxy took go with every later request, unasked.
  if (auth_.Scheme() == "Basic") params_.BasicAuthentication = true;
  auth_.Accepted();
}

void OpenTunnel(TSocket& socket, const TRequestTarget& t, TProxySession& proxy, const TTunnelSettings& settings) {
  // The proxy answers 2xx and from then on relays bytes.
  const std::string authority = AddressHost(t.uri.Host) + ":" + std::to_string(t.port);
  TInputBuffer in(socket, settings.Framing.recvBufferSize);
  in.SetTimeout(settings.ReadTimeout);
  for (int legs = 0;; ++legs) {
    const bool answering = proxy.Answering();
    std::string request = "CONNECT " + authority + " HTTP/1.1\r\n";
    AddHeaderLine(request, "Host", authority);
    AddHeaderLine(request, "User-Agent", settings.UserAgent);
    AddHeaderLine(request, "Proxy-Authorization", proxy.TakeAuthorization());
    request += "\r\n";
    Log("CONNECT " + authority + " through proxy " + AddressHost(t.connectHost) + ":" + std::to_string(t.connectPort));
    socket.SendAll(request.data(), request.size());

    THTTPResponse answer;
    do ReadResponseHead(in, answer, settings.Framing.maxLineLength);
    while (IsInterimStatus(answer.ResponseCode));
    Log(ServerText(answer.ResponseText));
    if (answer.ResponseCode >= 200 && answer.ResponseCode <= 299) {
      if (answering) proxy.Accepted();
      // The server speaks only after our greeting: anything else came from the proxy.
      if (in.Buffered() > 0) throw EHTTPInvalidResponse("The proxy sent data into the tunnel before the server.");
      return;
    }
    const bool keeps = AnswerKeepsConnectionOpen(answer, settings.Version);
    const bool again = answer.ResponseCode == 407 && proxy.Authenticate(answer, keeps, legs);
    std::string body;
    TWorkCounter quiet;  // the proxy's refusal is no part of the download
    const bool whole = ReadRefusedBody(in, answer, quiet, settings.Framing, body);
    if (!again) throw EHTTPProtocolException(answer.ResponseText, answer.ResponseCode, body);
    if (!whole || !keeps || in.ClosedGracefully() || in.Buffered() > 0 || !socket.IsOpen()) {
      // The next round on a new connection to the same proxy.
      socket.Close();
      proxy.ConnectionClosed();
      in.Reset();
      socket.Connect(t.connectHost, static_cast<uint16_t>(t.connectPort));
    }
  }
}

}  // namespace net
