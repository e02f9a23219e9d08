// The parts of TLS that are the same on every system: the error texts.
#include "net/tls.h"

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
    case TCertProblem::Other: break;
  }
  return prefix + detail;
}

std::string HandshakeErrorText(const std::string& host, const std::string& detail) {
  return "No secure connection to " + host + ": " + detail;
}

bool IsIpAddress(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;  // only IPv6 literals hold a colon
  int dots = 0, digits = 0;
  for (char c : host) {
    if (c == '.') {
      if (digits == 0) return false;
      ++dots;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 3) return false;
    } else {
      return false;
    }
  }
  return dots == 3 && digits > 0;
}

}  // namespace net
