// The one look-up of a host's addresses for both socket layers (included by
// posix/ and win32/ after their own socket headers).
#pragma once

#include <cstdint>
#include <string>

struct addrinfo;

namespace net {

class TAddressList {
 public:
  // "LOCALHOST" in any case is 127.0.0.1 and an IPv4 or IPv6 address is taken as
  // it is, without the resolver; other names go to the system's resolver.
  TAddressList(const std::string& host, uint16_t port);
  ~TAddressList();
  TAddressList(const TAddressList&) = delete;
  TAddressList& operator=(const TAddressList&) = delete;

  // 0, or the Winsock number of the failure (11001 for an unknown name).
  int32_t Code() const { return code_; }
  const addrinfo* First() const { return list_; }

 private:
  addrinfo* list_ = nullptr;
  int32_t code_ = 0;
};

// The Winsock number for a getaddrinfo result; each socket layer has its own.
int32_t ResolverCode(int rc);

}  // namespace net
