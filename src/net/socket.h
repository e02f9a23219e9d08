// TCP sockets, one small interface over Winsock 2 and BSD sockets. Every call
// blocks; there is no time limit except the one a receive asks for and the
// transfer guard's (transfer_guard.h) while the owner watches. Failures raise ESocketError with the Winsock
// error number (the Linux port maps errno to it).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "net/receive_source.h"
#include "net/transfer_guard.h"

namespace net {

// Winsock numbers used by name in the code.
constexpr int32_t kWSAEINTR = 10004;
constexpr int32_t kWSAECONNABORTED = 10053;
constexpr int32_t kWSAECONNRESET = 10054;
constexpr int32_t kWSAECONNREFUSED = 10061;
constexpr int32_t kWSAHOST_NOT_FOUND = 11001;

class TSocket : public TReceiveSource {
 public:
  TSocket() = default;
  ~TSocket() override;
  TSocket(TSocket&& other) noexcept;
  TSocket& operator=(TSocket&& other) noexcept;
  TSocket(const TSocket&) = delete;
  TSocket& operator=(const TSocket&) = delete;

  // Resolves host ("LOCALHOST" in any case is 127.0.0.1, an IPv4 or IPv6 address
  // is used as it is, other names go to the system's resolver) and connects,
  // trying each address the resolver gives. Raises ESocketError (11001 for an
  // unknown name). No time limit of its own.
  void Connect(const std::string& host, uint16_t port);
  // Sends all bytes or raises ESocketError.
  void SendAll(const void* data, size_t size);
  // Up to size bytes; 0 when the peer has closed. timeoutMs > 0: raises
  // EReadTimeout when nothing arrives in that time; 0 waits without limit.
  // Raises ETransferStalled or ETransferTooSlow once the watch gives the
  // transfer up, also while it waits.
  size_t Receive(char* buffer, size_t size, int32_t timeoutMs) override;
  // From now on, receives (and on the Linux port the connect) are watched by
  // the transfer guard with limits: a new transfer, or the one watched before
  // going on (continues). Kept across Close and Connect, for one transfer may
  // need another connection. Unwatch stops the guard's clock until the next Watch.
  void Watch(const TTransferLimits& limits, bool continues);
  void Unwatch();
  // Every byte this socket object has received, over all its connections;
  // readable from any thread.
  int64_t BytesReceived() const { return received_.load(); }
  // Whether the peer has already closed or reset an idle connection (looks
  // without waiting and without taking data).
  bool PeerClosed();
  void Close();
  // Callable from another thread: ends every blocked or later call on this socket
  // (connect, receive, send) with an error. The owner still closes it.
  void Abort();
  bool IsOpen() const { return handle_.load() != kInvalid; }
  bool Aborted() const { return aborted_.load(); }

  // For the listener only.
  explicit TSocket(intptr_t handle) : handle_(handle) {}

 private:
  void Adopt(intptr_t handle);
  [[noreturn]] void Fail(int32_t code);
  // While the guard watches: raises when it gives up; returns how long a wait may
  // last before the next call (at most maxMs).
  int32_t CheckGuard(int32_t maxMs);
  // The system's receive: one call, waiting at most timeoutMs (0: no limit).
  size_t ReceiveSome(char* buffer, size_t size, int32_t timeoutMs);

  static constexpr intptr_t kInvalid = -1;
  // Written by the owner under lock_ (and by Abort on Windows, which must close
  // to wake a blocked call); read without it by the owner.
  std::atomic<intptr_t> handle_{kInvalid};
  std::atomic<bool> aborted_{false};
  std::mutex lock_;
  std::atomic<int64_t> received_{0};
  TTransferGuard guard_;  // the owner's thread only
};

// The bytes of host when it is an IPv4 address in dotted decimal (4 bytes) or an
// IPv6 address (16 bytes), read by the system's own parser; "" otherwise.
std::string IpAddressBytes(const std::string& host);
// Whether host is meant as an address rather than a name: it holds a colon, or
// its last label is a number (as "127.1" or "0x7f.1", which some resolvers take
// for 127.0.0.1). Such a host must then be an address IpAddressBytes reads.
bool LooksLikeIpAddress(const std::string& host);

// A listening socket on 127.0.0.1, for tests and local tools.
class TListener {
 public:
  // Binds 127.0.0.1:port (0 = any free port) and listens.
  explicit TListener(uint16_t port = 0);
  ~TListener();
  TListener(const TListener&) = delete;
  TListener& operator=(const TListener&) = delete;

  uint16_t Port() const { return port_; }
  // Waits for the next connection.
  TSocket Accept();
  // Callable from another thread: makes a blocked Accept fail.
  void Abort();

 private:
  intptr_t handle_ = -1;
  uint16_t port_ = 0;
};

}  // namespace net
