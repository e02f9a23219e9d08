// The parts of the socket that are the same on every system: ownership, moves and
// how a failure is raised. The system calls are in posix/ and win32/.
#include "net/socket.h"

#include "net/net_errors.h"

namespace net {

TSocket::~TSocket() { Close(); }

TSocket::TSocket(TSocket&& other) noexcept
    : handle_(other.handle_.exchange(kInvalid)), aborted_(other.aborted_.load()) {}

TSocket& TSocket::operator=(TSocket&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = other.handle_.exchange(kInvalid);
    aborted_ = other.aborted_.load();
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

}  // namespace net
