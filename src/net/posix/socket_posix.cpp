// BSD sockets for the Linux port. errno values are turned into Winsock numbers so
// that the messages match the Windows build word for word.
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "net/address_list.h"
#include "net/net_errors.h"
#include "net/socket.h"

namespace net {
namespace {

int32_t WinsockCode(int err) {
  switch (err) {
    case EINTR: return 10004;
    case EBADF: return 10009;
    case EACCES: return 10013;
    case EPERM: return 10013;
    case EFAULT: return 10014;
    case EINVAL: return 10022;
    case EMFILE: return 10024;
    case EWOULDBLOCK: return 10035;
    case EINPROGRESS: return 10036;
    case EALREADY: return 10037;
    case ENOTSOCK: return 10038;
    case EDESTADDRREQ: return 10039;
    case EMSGSIZE: return 10040;
    case EPROTOTYPE: return 10041;
    case ENOPROTOOPT: return 10042;
    case EPROTONOSUPPORT: return 10043;
    case ESOCKTNOSUPPORT: return 10044;
    case EOPNOTSUPP: return 10045;
    case EPFNOSUPPORT: return 10046;
    case EAFNOSUPPORT: return 10047;
    case EADDRINUSE: return 10048;
    case EADDRNOTAVAIL: return 10049;
    case ENETDOWN: return 10050;
    case ENETUNREACH: return 10051;
    case ENETRESET: return 10052;
    case ECONNABORTED: return 10053;
    // A send to a peer that has reset is WSAECONNRESET on Windows.
    case EPIPE: return 10054;
    case ECONNRESET: return 10054;
    case ENOBUFS: return 10055;
    case EISCONN: return 10056;
    case ENOTCONN: return 10057;
    case ESHUTDOWN: return 10058;
    case ETOOMANYREFS: return 10059;
    case ETIMEDOUT: return 10060;
    case ECONNREFUSED: return 10061;
    case ELOOP: return 10062;
    case ENAMETOOLONG: return 10063;
    case EHOSTDOWN: return 10064;
    case EHOSTUNREACH: return 10065;
    case ENOTEMPTY: return 10066;
    default: return err;  // no Winsock counterpart: the number stands alone
  }
}

int FdOf(intptr_t h) { return static_cast<int>(h); }

}  // namespace

int32_t ResolverCode(int rc) {
  switch (rc) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
    case EAI_FAIL: return 11001;   // WSAHOST_NOT_FOUND
    case EAI_AGAIN: return 11002;  // WSATRY_AGAIN
    case EAI_MEMORY: return 10055;
    case EAI_SYSTEM: return WinsockCode(errno);
    default: return 11003;  // WSANO_RECOVERY
  }
}

void TSocket::Connect(const std::string& host, uint16_t port) {
  Close();
  if (aborted_) throw ETransferAborted();

  const TAddressList list(host, port);
  if (list.Code() != 0) Fail(list.Code());

  int32_t lastCode = 10061;
  for (const addrinfo* a = list.First(); a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastCode = WinsockCode(errno);
      continue;
    }
    Adopt(fd);
    if (aborted_) break;
    // Without blocking, so that the transfer guard and Abort reach a connect
    // that hangs (an address that drops what is sent to it).
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
    int err = r == 0 ? 0 : errno;
    while (err == EINPROGRESS || err == EINTR) {
      pollfd p{fd, POLLOUT, 0};
      const int n = ::poll(&p, 1, CheckGuard(250));
      if (aborted_) break;
      if (n < 0) {
        err = errno == EINTR ? EINPROGRESS : errno;
        continue;
      }
      if (n == 0) continue;
      socklen_t len = sizeof err;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    }
    ::fcntl(fd, F_SETFL, flags);
    if (err == 0 && !aborted_) return;
    lastCode = WinsockCode(err);
    Close();
  }
  Fail(lastCode);
}

void TSocket::SendAll(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    if (aborted_) throw ETransferAborted();
    ssize_t n = ::send(FdOf(handle_), p, size, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(WinsockCode(errno));
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

size_t TSocket::ReceiveSome(char* buffer, size_t size, int32_t timeoutMs) {
  for (;;) {
    if (aborted_) throw ETransferAborted();
    int fd = FdOf(handle_);
    if (fd < 0) Fail(10057);
    if (timeoutMs > 0) {
      pollfd p{fd, POLLIN, 0};
      int r = ::poll(&p, 1, timeoutMs);
      if (r == 0) throw EReadTimeout();
      if (r < 0) {
        if (errno == EINTR) continue;
        Fail(WinsockCode(errno));
      }
    }
    ssize_t n = ::recv(fd, buffer, size, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(WinsockCode(errno));
    }
    // A shut-down socket reads as closed; tell an abort from the peer's close.
    if (n == 0 && aborted_) throw ETransferAborted();
    return static_cast<size_t>(n);
  }
}

bool TSocket::PeerClosed() {
  int fd = FdOf(handle_);
  if (fd < 0) return true;
  pollfd p{fd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;
  char c;
  ssize_t n = ::recv(fd, &c, 1, MSG_PEEK | MSG_DONTWAIT);
  return n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK);
}

void TSocket::Close() {
  std::lock_guard<std::mutex> guard(lock_);
  intptr_t h = handle_.exchange(kInvalid);
  if (h != kInvalid) ::close(FdOf(h));
}

void TSocket::Abort() {
  std::lock_guard<std::mutex> guard(lock_);
  aborted_ = true;
  // shutdown wakes a blocked connect, recv or send in the owner's thread; the fd
  // stays valid until the owner closes it, so it cannot be reused meanwhile.
  intptr_t h = handle_.load();
  if (h != kInvalid) ::shutdown(FdOf(h), SHUT_RDWR);
}

TListener::TListener(uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw ESocketError(WinsockCode(errno));
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 16) != 0) {
    int32_t code = WinsockCode(errno);
    ::close(fd);
    throw ESocketError(code);
  }
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  handle_ = fd;
}

TListener::~TListener() {
  if (handle_ >= 0) ::close(FdOf(handle_));
}

TSocket TListener::Accept() {
  for (;;) {
    int fd = ::accept4(FdOf(handle_), nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return TSocket(fd);
    if (errno == EINTR || errno == ECONNABORTED) continue;
    throw ESocketError(WinsockCode(errno));
  }
}

void TListener::Abort() { ::shutdown(FdOf(handle_), SHUT_RDWR); }

}  // namespace net
