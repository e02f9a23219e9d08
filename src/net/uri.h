// Splitting a download address into its parts. No encoding or decoding is
// applied: the request carries the path as the address gives it.
#pragma once

#include <cstdint>
#include <string>

namespace net {

struct TURI {
  std::string Protocol;  // as written; "http" when the address has none
  std::string Username, Password;
  std::string Host;      // an IPv6 address without its brackets
  std::string Port;      // as written; "" when the address has none
  std::string Path;      // up to and including the last "/" before the parameters
  std::string Document;  // what follows the path
  std::string Params;    // from the first "?" (or, without one, the first "=")
  std::string Bookmark;  // after "#", not sent

  // Backslashes count as slashes. Without "://" the whole address is path and
  // document, and the host stays empty.
  static TURI Parse(const std::string& address);
  // Path + document + parameters, with a "/" put in front when it lacks one (an
  // empty or relative target is not valid in a request).
  std::string Target() const;
};

// host as an address writes it: an IPv6 address in brackets (RFC 3986 section
// 3.2.2), any other host as it is.
std::string AddressHost(const std::string& host);

// url as every log line and report shows it: a password replaced by "***", no
// ?query or #fragment (they may carry tokens); scheme, host, port and path stay.
std::string LoggableUrl(const std::string& url);

}  // namespace net
