// The client's dealings with its proxy: which proxy of a plan to go through
// (one found unreachable is tried last from then on), the answers to a proxy
// that asks who we are (407, through proxy_auth.h), and the CONNECT tunnel of
// an https address (RFC 9110 section 9.3.6). Credentials never reach the log.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/http_request.h"
#include "net/input_buffer.h"
#include "net/proxy_auth.h"
#include "net/proxy_resolver.h"
#include "net/socket.h"

namespace net {

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

class TProxySession {
 public:
  explicit TProxySession(TProxyConnectionInfo& params) : params_(params) {}
  TProxySession(const TProxySession&) = delete;
  TProxySession& operator=(const TProxySession&) = delete;

  // Basic's user name and password when a proxy asks (see TProxyAuthenticator).
  TProxyAuthenticator::TCredentials& Credentials() { return auth_.Credentials; }
  // "host:port" of the proxy in use, for questions and the log.
  std::string Name() const;

  // plan's servers in the order to try: those found unreachable before go last.
  std::vector<TProxyServer> Order(const TProxyPlan& plan) const;
  void Unreachable(const TProxyServer& server);
  // Goes through server from now on (a direct connection when it is one).
  void Use(const TProxyServer& server);
  // A request goes to the proxy named proxyKey ("" directly): another one than
  // before starts its authentication afresh.
  void Reach(const std::string& proxyKey);

  // Whether the next request answers the proxy's last 407.
  bool Answering() const { return !pending_.empty(); }
  // The Proxy-Authorization value for the next request: an answer to the
  // proxy's last 407, else Basic with the credentials it took before.
  std::string TakeAuthorization();
  // Basic with the credentials once they are to be sent unasked; "" otherwise.
  std::string Authorization() const;
  // Prepares the answer to a proxy's 407; false when nothing is left to try.
  bool Authenticate(const THTTPResponse& answer, bool connectionKept, int legs);
  // The proxy took the answer.
  void Accepted();
  void ConnectionClosed() { auth_.ConnectionClosed(); }

 private:
  TProxyConnectionInfo& params_;
  TProxyAuthenticator auth_;
  std::string authProxy_;  // the proxy auth_ answers
  std::string pending_;    // for the next request
  std::vector<std::string> dead_;
};

// How the tunnel's requests and answers are read and written.
struct TTunnelSettings {
  std::string UserAgent;
  int32_t ReadTimeout = 0;
  THTTPProtocolVersion Version = THTTPProtocolVersion::pv1_1;
  TBodyOptions Framing;
};

// Asks the proxy socket is connected to for a tunnel to t's host and port,
// answering its 407s through proxy (on a new connection to it when it closes
// one). Raises EHTTPProtocolException with the proxy's status line when it
// refuses, EHTTPInvalidResponse when it sends data into the tunnel before the
// server could, and the socket's and the answer reader's errors.
void OpenTunnel(TSocket& socket, const TRequestTarget& t, TProxySession& proxy, const TTunnelSettings& settings);

}  // namespace net
