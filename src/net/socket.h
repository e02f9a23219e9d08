// TCP sockets, one small interface over Winsock 2 and BSD sockets. Every call
// blocks; there is no time limit except the one a receive asks for. Failures raise
// ESocketError with the Winsock error number (the Linux port maps errno to it).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "net/receive_source.h"

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

  // Resolves host ("LOCALHOST" in any case is 127.0.0.1, a dotted IPv4 address is
  // used as it is, other names go to the system's resolver) and connects, trying
  // each address the resolver gives. Raises ESocketError (11001 for an unknown
  // name). No time limit of its own.
  void Connect(const std::string& host, uint16_t port);
  // Sends all bytes or raises ESocketError.
  void SendAll(const void* data, size_t size);
  // Up to size bytes; 0 when the peer has closed. timeoutMs > 0: raises
  // EReadTimeout when nothing arrives in that time; 0 waits without limit.
  size_t Receive(char* buffer, size_t size, int32_t timeoutMs) override;
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

  static constexpr intptr_t kInvalid = -1;
  // Written by the owner under lock_ (and by Abort on Windows, which must close
  // to wake a blocked call); read without it by the owner.
  std::atomic<intptr_t> handle_{kInvalid};
  std::atomic<bool> aborted_{false};
  std::mutex lock_;
};

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
