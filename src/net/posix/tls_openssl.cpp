// TLS for the Linux port through OpenSSL. The library never touches the socket:
// it reads and writes two memory buffers and this file moves the bytes, so every
// socket error, time limit and abort comes from TSocket as it does for plain HTTP.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>

#include "net/net_errors.h"
#include "net/tls.h"

namespace net {
namespace {

// How much is taken from the socket at once: one TLS record and more.
constexpr size_t kNetBlock = 64 * 1024;

std::string SslErrorText() {
  unsigned long e = ERR_get_error();
  ERR_clear_error();
  if (e == 0) return "the connection broke.";
  const char* reason = ERR_reason_error_string(e);
  return std::string(reason ? reason : "unknown error") + ".";
}

std::string CommonName(X509_NAME* name) {
  if (!name) return "";
  char buf[256];
  int n = X509_NAME_get_text_by_NID(name, NID_commonName, buf, sizeof buf);
  if (n > 0) return std::string(buf, static_cast<size_t>(n));
  char* line = X509_NAME_oneline(name, buf, sizeof buf);
  return line ? line : "";
}

// The DNS names and IP addresses a certificate is for (its common name when it
// has no alternative names, for the message only).
std::vector<std::string> NamesOf(X509* cert) {
  std::vector<std::string> names;
  if (!cert) return names;
  auto* sans = static_cast<GENERAL_NAMES*>(X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr));
  for (int i = 0; sans && i < sk_GENERAL_NAME_num(sans); ++i) {
    const GENERAL_NAME* g = sk_GENERAL_NAME_value(sans, i);
    if (g->type == GEN_DNS) {
      const ASN1_STRING* s = g->d.dNSName;
      names.emplace_back(reinterpret_cast<const char*>(ASN1_STRING_get0_data(s)),
                         static_cast<size_t>(ASN1_STRING_length(s)));
    } else if (g->type == GEN_IPADD) {
      const ASN1_OCTET_STRING* s = g->d.iPAddress;
      char text[INET6_ADDRSTRLEN] = "";
      int len = ASN1_STRING_length(s);
      if (len == 4 || len == 16) inet_ntop(len == 4 ? AF_INET : AF_INET6, ASN1_STRING_get0_data(s), text, sizeof text);
      names.emplace_back(text);
    }
  }
  GENERAL_NAMES_free(sans);
  if (names.empty()) {
    std::string cn = CommonName(X509_get_subject_name(cert));
    if (!cn.empty()) names.push_back(cn);
  }
  return names;
}

bool HasAltNames(X509* cert) { return cert && X509_get_ext_by_NID(cert, NID_subject_alt_name, -1) >= 0; }

}  // namespace

struct TTlsStream::Impl {
  TSocket* socket = nullptr;
  std::string host;
  SSL_CTX* ctx = nullptr;
  SSL* ssl = nullptr;
  BIO* fromNet = nullptr;  // owned by ssl
  BIO* toNet = nullptr;    // owned by ssl
  bool peerClosed = false;
  std::vector<char> block = std::vector<char>(kNetBlock);

  ~Impl() {
    SSL_free(ssl);
    SSL_CTX_free(ctx);
  }

  // Sends what the library has written.
  void Flush() {
    while (BIO_ctrl_pending(toNet) > 0) {
      int n = BIO_read(toNet, block.data(), static_cast<int>(block.size()));
      if (n <= 0) break;
      socket->SendAll(block.data(), static_cast<size_t>(n));
    }
  }

  // One receive handed to the library; false when the peer has closed.
  bool Feed(int32_t timeoutMs) {
    size_t n = socket->Receive(block.data(), block.size(), timeoutMs);
    if (n == 0) return false;
    BIO_write(fromNet, block.data(), static_cast<int>(n));
    return true;
  }

  [[noreturn]] void FailHandshake() {
    long result = SSL_get_verify_result(ssl);
    if (result == X509_V_OK) throw ETlsError(HandshakeErrorText(host, SslErrorText()));
    ERR_clear_error();
    STACK_OF(X509)* chain = SSL_get_peer_cert_chain(ssl);
    X509* leaf = chain && sk_X509_num(chain) > 0 ? sk_X509_value(chain, 0) : nullptr;
    X509* top = chain && sk_X509_num(chain) > 0 ? sk_X509_value(chain, sk_X509_num(chain) - 1) : nullptr;
    TCertProblem problem = TCertProblem::Other;
    switch (result) {
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
      case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
      case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
      case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
      case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
      case X509_V_ERR_CERT_UNTRUSTED: problem = TCertProblem::Untrusted; break;
      case X509_V_ERR_CERT_HAS_EXPIRED: problem = TCertProblem::Expired; break;
      case X509_V_ERR_CERT_NOT_YET_VALID: problem = TCertProblem::NotYetValid; break;
      case X509_V_ERR_HOSTNAME_MISMATCH:
      case X509_V_ERR_IP_ADDRESS_MISMATCH:
        problem = HasAltNames(leaf) ? TCertProblem::NameMismatch : TCertProblem::NoAltNames;
        break;
      case X509_V_ERR_CERT_REVOKED: problem = TCertProblem::Revoked; break;
      default: break;
    }
    throw ETlsError(CertificateErrorText(problem, host, top ? CommonName(X509_get_issuer_name(top)) : "", NamesOf(leaf),
                                         std::string(X509_verify_cert_error_string(result)) + "."));
  }
};

TTlsStream::TTlsStream() = default;
TTlsStream::~TTlsStream() = default;

void TTlsStream::Close() { impl_.reset(); }

void TTlsStream::Start(TSocket& socket, const std::string& host) {
  impl_.reset();
  auto s = std::make_unique<Impl>();
  s->socket = &socket;
  s->host = host;
  ERR_clear_error();
  s->ctx = SSL_CTX_new(TLS_client_method());
  if (!s->ctx) throw ETlsError(HandshakeErrorText(host, SslErrorText()));
  SSL_CTX_set_min_proto_version(s->ctx, TLS1_2_VERSION);
  // The default paths read SSL_CERT_FILE and SSL_CERT_DIR at this call.
  SSL_CTX_set_default_verify_paths(s->ctx);
  SSL_CTX_set_verify(s->ctx, SSL_VERIFY_PEER, nullptr);
  s->ssl = SSL_new(s->ctx);
  s->fromNet = BIO_new(BIO_s_mem());
  s->toNet = BIO_new(BIO_s_mem());
  if (!s->ssl || !s->fromNet || !s->toNet) {
    BIO_free(s->fromNet);
    BIO_free(s->toNet);
    throw ETlsError(HandshakeErrorText(host, SslErrorText()));
  }
  SSL_set_bio(s->ssl, s->fromNet, s->toNet);
  SSL_set_connect_state(s->ssl);
  X509_VERIFY_PARAM* param = SSL_get0_param(s->ssl);
  // RFC 6125 section 6.4.4: with no alternative names, no name at all.
  X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS | X509_CHECK_FLAG_NEVER_CHECK_SUBJECT);
  const std::string address = TlsAddressOf(host);
  // A name or address that cannot be set would leave the certificate unchecked.
  bool set;
  if (!address.empty()) {
    set = X509_VERIFY_PARAM_set1_ip(param, reinterpret_cast<const unsigned char*>(address.data()), address.size()) == 1;
  } else {
    // Server name indication is for DNS names only (RFC 6066 section 3).
    set = SSL_set_tlsext_host_name(s->ssl, host.c_str()) == 1 && SSL_set1_host(s->ssl, host.c_str()) == 1;
  }
  if (!set) throw ETlsError(HandshakeErrorText(host, "the name to check cannot be set: " + SslErrorText()));
  for (;;) {
    ERR_clear_error();
    int r = SSL_do_handshake(s->ssl);
    s->Flush();
    if (r == 1) break;
    int e = SSL_get_error(s->ssl, r);
    if (e == SSL_ERROR_WANT_READ) {
      if (!s->Feed(0)) throw ETlsError(HandshakeErrorText(host, "the server closed the connection."));
      continue;
    }
    s->FailHandshake();
  }
  impl_ = std::move(s);
}

void TTlsStream::SendAll(const void* data, size_t size) {
  if (!impl_) throw ESocketError(10057);
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ERR_clear_error();
    int part = static_cast<int>(std::min<size_t>(size, INT_MAX));
    int n = SSL_write(impl_->ssl, p, part);
    impl_->Flush();
    if (n <= 0) {
      int e = SSL_get_error(impl_->ssl, n);
      if (e == SSL_ERROR_WANT_READ) {
        if (!impl_->Feed(0)) throw EConnClosedGracefully();
        continue;
      }
      if (e == SSL_ERROR_WANT_WRITE) continue;
      throw ETlsError("The secure connection failed: " + SslErrorText());
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

size_t TTlsStream::Receive(char* buffer, size_t size, int32_t timeoutMs) {
  if (!impl_) throw ESocketError(10057);
  for (;;) {
    ERR_clear_error();
    int n = SSL_read(impl_->ssl, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    if (n > 0) return static_cast<size_t>(n);
    int e = SSL_get_error(impl_->ssl, n);
    if (e == SSL_ERROR_ZERO_RETURN) return 0;
    if (e == SSL_ERROR_WANT_READ || e == SSL_ERROR_WANT_WRITE) {
      impl_->Flush();
      if (e == SSL_ERROR_WANT_WRITE) continue;
      if (impl_->peerClosed) return 0;
      if (!impl_->Feed(timeoutMs)) impl_->peerClosed = true;
      continue;
    }
    throw ETlsError("The secure connection failed: " + SslErrorText());
  }
}

}  // namespace net
