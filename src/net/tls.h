// TLS over a connected socket, behind the same byte-source interface as the
// socket itself, so the response reader cannot tell which one it reads. SChannel
// on Windows, OpenSSL on the Linux port; the two give the same error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/receive_source.h"
#include "net/socket.h"

namespace net {

class TTlsStream : public TReceiveSource {
 public:
  TTlsStream();
  ~TTlsStream() override;
  TTlsStream(const TTlsStream&) = delete;
  TTlsStream& operator=(const TTlsStream&) = delete;

  // Runs the handshake over socket, which must stay connected while the stream
  // is used: TLS 1.2 or later (1.3 where the system offers it), the server's
  // chain validated against the system's trust store (Windows: the user's and
  // the machine's root stores, revocation checked where the information can be
  // had; Linux port: OpenSSL's default paths, so SSL_CERT_FILE and SSL_CERT_DIR
  // apply) and host checked against the certificate's subject alternative names
  // (a certificate without any is refused; its common name does not count). A
  // host that looks like an address (LooksLikeIpAddress) must be one the
  // system's parser reads, and is matched against the certificate's IP
  // addresses. Raises ETlsError (a refused certificate says why), ESocketError,
  // EConnClosedGracefully, ETransferAborted, ETransferTooSlow.
  void Start(TSocket& socket, const std::string& host);
  // Encrypts and sends all bytes, or raises as Start does.
  void SendAll(const void* data, size_t size);
  // Up to size bytes of plain text; 0 once the peer has closed (with or without
  // its close notification: a short body is caught by the length framing).
  size_t Receive(char* buffer, size_t size, int32_t timeoutMs) override;
  // Forgets the session; the socket's owner closes the connection.
  void Close();
  bool Active() const { return impl_ != nullptr; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Why a server's certificate was refused; the texts are the same on every system.
enum class TCertProblem { Untrusted, Expired, NotYetValid, NameMismatch, NoAltNames, Revoked, Other };

// The error for a refused certificate. issuer: the issuing authority's name
// (Untrusted); names: the names the certificate is for (NameMismatch); detail:
// the system's own words (Other).
std::string CertificateErrorText(TCertProblem problem, const std::string& host, const std::string& issuer,
                                 const std::vector<std::string>& names, const std::string& detail);
// A handshake that failed for another reason than the certificate.
std::string HandshakeErrorText(const std::string& host, const std::string& detail);

// The bytes of the address host stands for, when it looks like one (no SNI then,
// and the certificate's IP addresses count); "" for a DNS name. Raises ETlsError
// when it looks like an address the system's parser cannot read (as "127.1").
std::string TlsAddressOf(const std::string& host);

}  // namespace net
