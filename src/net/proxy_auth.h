// Answering a proxy that asks who we are (407, RFC 9110 section 11.7.1):
// Negotiate, then NTLM, through the system's security package with the
// logged-on user's credentials (a handshake of several rounds on one
// connection), then Basic with a user name and password from the caller. Each
// scheme is tried once per proxy; a handshake cut by a closed connection starts
// again on the next one.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "net/security_context.h"

namespace net {

struct TAuthChallenge {
  std::string Scheme;  // as the proxy spells it
  std::string Data;    // a token (Base64) after the scheme, "" when none
  std::string Realm;   // the realm parameter, "" when none
};

// The challenges of a list of Proxy-Authenticate (or WWW-Authenticate) values,
// in order; a value may hold several, separated by commas.
std::vector<TAuthChallenge> ParseChallenges(const std::vector<std::string>& values);

class TProxyAuthenticator {
 public:
  // Basic's user name and password for realm: attempt 1 when the proxy first
  // asks, 2 and on when it refused the ones given before. false: none.
  using TCredentials =
      std::function<bool(const std::string& realm, int attempt, std::string& user, std::string& password)>;
  TCredentials Credentials;

  // The Proxy-Authorization value for the request to send after a 407 whose
  // Proxy-Authenticate values are challenges, from proxyHost; "" to send it
  // again without one (a handshake failed where the proxy named no other
  // scheme, though it offered others before); nullopt when nothing is left to
  // try. connectionKept: the 407 came on a connection that stays open, so a
  // handshake can go on over it.
  std::optional<std::string> Respond(const std::vector<std::string>& challenges, const std::string& proxyHost,
                                     bool connectionKept);
  // The scheme of the last answer ("" before any), for the log.
  const std::string& Scheme() const { return scheme_; }
  // The proxy took the last answer: a later 407 starts afresh.
  void Accepted();
  // The connection closed: a handshake that has taken the proxy's token cannot
  // go on over another (one that has only sent its first can).
  void ConnectionClosed();
  // Another proxy: every scheme may be tried again.
  void Reset();

 private:
  std::string Start(const TAuthChallenge& challenge, const std::string& proxyHost);
  std::string BasicAnswer(const std::string& realm, int attempt);

  std::string scheme_;
  std::unique_ptr<TSecurityContext> context_;  // while a handshake is under way
  bool contextBound_ = false;                  // it has taken a token of the proxy's
  bool basicSent_ = false;
  int basicAttempt_ = 0;
  std::set<std::string> failed_, offered_;  // upper-case schemes
};

}  // namespace net
