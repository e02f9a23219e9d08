// One authentication by the system's security package (SSPI on Windows) with
// the logged-on user's own credentials, as a proxy asks for it with Negotiate or
// NTLM: tokens go back and forth until the package is done. The Linux port has
// no such package.
#pragma once

#include <memory>
#include <string>

namespace net {

class TSecurityContext {
 public:
  virtual ~TSecurityContext() = default;
  // The token to send after the peer's token (empty before the first); false
  // when the package cannot go on (a refused or malformed token, no credentials).
  virtual bool Next(const std::string& input, std::string& output) = 0;
};

// package: "Negotiate" or "NTLM"; target: the service's name, as Kerberos wants
// it ("HTTP/proxy.example"). nullptr when the system has no such package or no
// credentials of the user's for it.
std::unique_ptr<TSecurityContext> NewSecurityContext(const std::string& package, const std::string& target);

}  // namespace net
