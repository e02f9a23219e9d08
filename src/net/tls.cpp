// The parts of TLS that are the same on every system: the error texts, what a
// host stands for.
#include "net/tls.h"

#include "net/net_errors.h"

namespace net {

std::string CertificateErrorText(TCertProblem problem, const std::string& host, const std::string& issuer,
                                 const std::vector<std::string>& names, const std::string& detail) {
  const std::string prefix = "The certificate of " + host + " was refused: ";
  switch (problem) {
    case TCertProblem::Untrusted:
      return prefix + "it is not issued by a trusted authority (issuer: " + (issuer.empty() ? "unknown" : issuer) +
             ").";
    case TCertProblem::Expired: return prefix + "it has expired.";
    case TCertProblem::NotYetValid: return prefix + "it is not valid yet.";
    case TCertProblem::NameMismatch: {
      std::string list;
      for (const auto& n : names) list += (list.empty() ? "" : ", ") + n;
      return prefix + "it is not for the name " + host + " (it is for: " + (list.empty() ? "no name" : list) + ").";
    }
    case TCertProblem::NoAltNames:
      return prefix +
             "it names no server in a subject alternative name (a name in its common name alone is not "
             "accepted).";
    case TCertProblem::Revoked: return prefix + "its issuer has revoked it.";
    case TCertProblem::Other: break;
  }
  return prefix + detail;
}

std::string HandshakeErrorText(const std::string& host, const std::string& detail) {
  return "No secure connection to " + host + ": " + detail;
}

std::string TlsAddressOf(const std::string& host) {
  if (!LooksLikeIpAddress(host)) return "";
  const std::string bytes = IpAddressBytes(host);
  // Checked as a DNS name it would match no certificate, yet a resolver may
  // connect to an address; refused, so the name checked is the place reached.
  if (bytes.empty()) throw ETlsError(HandshakeErrorText(host, "it looks like an IP address but is not one."));
  return bytes;
}

}  // namespace net
