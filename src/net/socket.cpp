// The parts of the socket that are the same on every system: ownership, moves,
// how a failure is raised, the address look-up and the rate watch around the
// system's receive. The system calls are in posix/ and win32/.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <algorithm>
#include <chrono>

#include "base/text.h"
#include "net/address_list.h"
#include "net/net_errors.h"
#include "net/socket.h"

namespace net {
namespace {

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TSocket::~TSocket() { Close(); }

TSocket::TSocket(TSocket&& other) noexcept
    : handle_(other.handle_.exchange(kInvalid)),
      aborted_(other.aborted_.load()),
      received_(other.received_.load()),
      guard_(other.guard_) {}

TSocket& TSocket::operator=(TSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_.exchange(kInvalid);
    aborted_ = other.aborted_.load();
    received_ = other.received_.load();
    guard_ = other.guard_;
  }
  return *this;
}

void TSocket::Fail(int32_t code) {
  if (aborted_) throw ETransferAborted();
  throw ESocketError(code);
}

void TSocket::Adopt(intptr_t handle) {
  std::lock_guard<std::mutex> guard(lock_);
  handle_ = handle;
}

void TSocket::Watch(const TTransferLimits& limits, bool continues) {
  if (continues)
    guard_.Resume(NowMs());
  else
    guard_.Start(NowMs(), limits);
}

void TSocket::Unwatch() { guard_.Suspend(NowMs()); }

int32_t TSocket::CheckGuard(int32_t maxMs) {
  if (!guard_.Active()) return maxMs;
  const int64_t now = NowMs();
  guard_.Check(now);
  return static_cast<int32_t>(std::min<int64_t>(guard_.MsUntilCheck(now), maxMs));
}

size_t TSocket::Receive(char* buffer, size_t size, int32_t timeoutMs) {
  if (!guard_.Active()) {
    const size_t n = ReceiveSome(buffer, size, timeoutMs);
    received_ += static_cast<int64_t>(n);
    return n;
  }
  // The wait is cut into parts, so that a server that sends nothing at all is
  // found out as surely as one that trickles.
  const int64_t deadline = timeoutMs > 0 ? NowMs() + timeoutMs : 0;
  for (;;) {
    const int64_t now = NowMs();
    guard_.Check(now);
    int64_t wait = guard_.MsUntilCheck(now);
    bool callersLimit = false;
    if (deadline != 0) {
      if (deadline - now <= 0) throw EReadTimeout();
      if (deadline - now <= wait) {
        wait = deadline - now;
        callersLimit = true;
      }
    }
    size_t n;
    try {
      n = ReceiveSome(buffer, size, static_cast<int32_t>(std::min<int64_t>(wait, INT32_MAX)));
    } catch (const EReadTimeout&) {
      if (callersLimit) throw;
      continue;
    }
    guard_.Add(NowMs(), static_cast<int64_t>(n));
    received_ += static_cast<int64_t>(n);
    return n;
  }
}

TAddressList::TAddressList(const std::string& host, uint16_t port) {
  const std::string name = text::SameText(host, "LOCALHOST") ? "127.0.0.1" : host;
  if (name.empty()) {
    code_ = 11001;
    return;
  }
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_protocol = IPPROTO_TCP;
  const std::string address = IpAddressBytes(name);
  if (!address.empty()) {
    hints.ai_family = address.size() == 4 ? AF_INET : AF_INET6;
    hints.ai_flags = AI_NUMERICHOST;
  } else {
    hints.ai_family = AF_UNSPEC;
  }
  const int rc = getaddrinfo(name.c_str(), std::to_string(port).c_str(), &hints, &list_);
  if (rc != 0) {
    list_ = nullptr;
    code_ = ResolverCode(rc);
  }
}

TAddressList::~TAddressList() {
  if (list_) freeaddrinfo(list_);
}

std::string IpAddressBytes(const std::string& host) {
  in_addr v4{};
  in6_addr v6{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return std::string(reinterpret_cast<const char*>(&v4), 4);
  if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) return std::string(reinterpret_cast<const char*>(&v6), 16);
  return "";
}

bool LooksLikeIpAddress(const std::string& host) {
  if (host.find(':') != std::string::npos) return true;
  std::string last = host;
  if (!last.empty() && last.back() == '.') last.pop_back();
  last = last.substr(last.rfind('.') == std::string::npos ? 0 : last.rfind('.') + 1);
  if (last.empty()) return false;
  // The forms inet_aton reads: decimal, octal with a leading 0, hexadecimal with 0x.
  const bool hex = last.size() > 2 && last[0] == '0' && (last[1] == 'x' || last[1] == 'X');
  for (size_t i = hex ? 2 : 0; i < last.size(); ++i) {
    const char c = last[i];
    const bool digit = c >= '0' && c <= '9';
    const bool hexDigit = digit || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (hex ? !hexDigit : !digit) return false;
  }
  return true;
}

}  // namespace net
