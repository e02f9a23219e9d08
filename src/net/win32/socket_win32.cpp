// Winsock 2 sockets for the Windows build. The library is started once per
// process and left running until the process ends.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>

#include "net/address_list.h"
#include "net/net_errors.h"
#include "net/socket.h"

namespace net {
namespace {

void StartWinsock() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0) throw ESocketError(rc);
  });
}

SOCKET SockOf(intptr_t h) { return static_cast<SOCKET>(h); }

}  // namespace

int32_t ResolverCode(int rc) {
  // getaddrinfo reports Winsock numbers; EAI_NONAME is WSAHOST_NOT_FOUND.
  return rc == EAI_NONAME ? 11001 : rc;
}

void TSocket::Connect(const std::string& host, uint16_t port) {
  StartWinsock();
  Close();
  if (aborted_) throw ETransferAborted();

  const TAddressList list(host, port);
  if (list.Code() != 0) Fail(list.Code());

  int32_t lastCode = WSAECONNREFUSED;
  for (const addrinfo* a = list.First(); a; a = a->ai_next) {
    SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
    if (s == INVALID_SOCKET) {
      lastCode = WSAGetLastError();
      continue;
    }
    // Not inherited by the programs the updater starts later.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    Adopt(static_cast<intptr_t>(s));
    if (aborted_) break;
    if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0 && !aborted_) return;
    lastCode = WSAGetLastError();
    Close();
  }
  Fail(lastCode);
}

void TSocket::SendAll(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (aborted_) throw ETransferAborted();
    int part = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    int n = ::send(SockOf(handle_), p, part, 0);
    if (n == SOCKET_ERROR) Fail(WSAGetLastError());
    p += n;
    size -= static_cast<size_t>(n);
  }
}

size_t TSocket::ReceiveSome(char* buffer, size_t size, int32_t timeoutMs) {
  if (aborted_) throw ETransferAborted();
  SOCKET s = SockOf(handle_);
  if (handle_ == kInvalid) Fail(WSAENOTCONN);
  if (timeoutMs > 0) {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(s, &set);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int r = ::select(0, &set, nullptr, nullptr, &tv);
    if (r == 0) throw EReadTimeout();
    if (r == SOCKET_ERROR) Fail(WSAGetLastError());
  }
  int part = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
  int n = ::recv(s, buffer, part, 0);
  if (n == SOCKET_ERROR) Fail(WSAGetLastError());
  if (n == 0 && aborted_) throw ETransferAborted();
  return static_cast<size_t>(n);
}

bool TSocket::PeerClosed() {
  if (handle_ == kInvalid) return true;
  SOCKET s = SockOf(handle_);
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  timeval tv{0, 0};
  if (::select(0, &set, nullptr, nullptr, &tv) <= 0) return false;
  char c;
  int n = ::recv(s, &c, 1, MSG_PEEK);
  return n <= 0;
}

void TSocket::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  intptr_t h = handle_.exchange(kInvalid);
  if (h != kInvalid) ::closesocket(SockOf(h));
}

void TSocket::Abort() {
  std::lock_guard<std::mutex> guard(lock_);
  aborted_ = true;
  // Only closing the socket reliably wakes a blocked Winsock call; the owner
  // finds the handle gone and reports the abort.
  intptr_t h = handle_.exchange(kInvalid);
  if (h != kInvalid) {
    ::shutdown(SockOf(h), SD_BOTH);
    ::closesocket(SockOf(h));
  }
}

TListener::TListener(uint16_t port) {
  StartWinsock();
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) throw ESocketError(WSAGetLastError());
  // Exclusive, so that no other program can take over the test port.
  BOOL on = TRUE;
  ::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(s, 16) != 0) {
    int32_t code = WSAGetLastError();
    ::closesocket(s);
    throw ESocketError(code);
  }
  int len = sizeof a;
  ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  handle_ = static_cast<intptr_t>(s);
}

TListener::~TListener() {
  if (handle_ != -1) ::closesocket(SockOf(handle_));
}

TSocket TListener::Accept() {
  SOCKET s = ::accept(SockOf(handle_), nullptr, nullptr);
  if (s == INVALID_SOCKET) throw ESocketError(WSAGetLastError());
  return TSocket(static_cast<intptr_t>(s));
}

void TListener::Abort() {
  intptr_t h = handle_;
  handle_ = -1;
  if (h != -1) ::closesocket(SockOf(h));
}

}  // namespace net
