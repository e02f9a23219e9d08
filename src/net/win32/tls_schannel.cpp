// TLS for the Windows build through SChannel (SSPI). SChannel only transforms
// buffers; the bytes travel through TSocket, so socket errors, time limits and
// aborts are the same as for plain HTTP. The certificate is checked here, not by
// SChannel, so that a refusal can say why in the same words as the Linux port.
#define SECURITY_WIN32
// The chain parameters with the URL retrieval time limit; the newer SChannel
// credentials (they need UNICODE_STRING from subauth.h).
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#define SCHANNEL_USE_BLACKLISTS
#include <winsock2.h>
#include <windows.h>
#include <subauth.h>  // UNICODE_STRING, which schannel.h takes as known

#include <schannel.h>
#include <security.h>
#include <sspi.h>
#include <wincrypt.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>

#include "net/net_errors.h"
#include "net/tls.h"

namespace net {
namespace {

// From wininet.h: the server name is checked by the caller.
constexpr DWORD kIgnoreCertNameInvalid = 0x00001000;
// The most the revocation look-ups of one chain may take together.
constexpr DWORD kRevocationTimeoutMs = 15000;
// Protocols never offered.
constexpr DWORD kOldProtocols =
    SP_PROT_PCT1_CLIENT | SP_PROT_SSL2_CLIENT | SP_PROT_SSL3_CLIENT | SP_PROT_TLS1_0_CLIENT | SP_PROT_TLS1_1_CLIENT;

// Credentials for TLS 1.2 and 1.3 through the newer structure (Windows 10 1809
// and later), else for TLS 1.2 alone through the older one, which takes 1.3
// nowhere. Both leave the certificate to CheckCertificate.
SECURITY_STATUS AcquireCredentials(CredHandle& handle) {
  const DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
  TLS_PARAMETERS parameters{};
  parameters.grbitDisabledProtocols = kOldProtocols;
  SCH_CREDENTIALS modern{};
  modern.dwVersion = SCH_CREDENTIALS_VERSION;
  modern.dwFlags = flags;
  modern.cTlsParameters = 1;
  modern.pTlsParameters = &parameters;
  SECURITY_STATUS status = AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND,
                                                     nullptr, &modern, nullptr, nullptr, &handle, nullptr);
  if (status == SEC_E_OK) return status;
  SCHANNEL_CRED older{};
  older.dwVersion = SCHANNEL_CRED_VERSION;
  // TLS 1.2 named on its own: older protocols stay off even where the system
  // still enables them.
  older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
  older.dwFlags = flags;
  return AcquireCredentialsHandleA(nullptr, const_cast<char*>(UNISP_NAME_A), SECPKG_CRED_OUTBOUND, nullptr, &older,
                                   nullptr, nullptr, &handle, nullptr);
}

std::string StatusText(SECURITY_STATUS status) {
  char buf[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           static_cast<DWORD>(status), 0, buf, sizeof buf, nullptr);
  std::string text(buf, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  char code[16];
  std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
  return text.empty() ? std::string("error ") + code + "." : text + " (" + code + ")";
}

std::string Narrow(const wchar_t* w) {
  std::string s;
  for (; w && *w; ++w) s += *w < 128 ? static_cast<char>(*w) : '?';
  return s;
}

std::string IssuerName(PCCERT_CONTEXT cert) {
  char buf[256] = "";
  CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, CERT_NAME_ISSUER_FLAG, nullptr, buf, sizeof buf);
  return buf;
}

// The certificate's alternative names: DNS names as text, IP addresses as their
// bytes (and as text for messages).
struct TAltNames {
  bool present = false;  // the certificate has the extension
  std::vector<std::string> text;
  std::vector<std::string> ipBytes;
};

TAltNames AltNamesOf(PCCERT_CONTEXT cert) {
  TAltNames out;
  PCERT_EXTENSION ext =
      CertFindExtension(szOID_SUBJECT_ALT_NAME2, cert->pCertInfo->cExtension, cert->pCertInfo->rgExtension);
  out.present = ext != nullptr;
  CERT_ALT_NAME_INFO* info = nullptr;
  DWORD size = 0;
  if (ext && CryptDecodeObjectEx(X509_ASN_ENCODING, X509_ALTERNATE_NAME, ext->Value.pbData, ext->Value.cbData,
                                 CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &size)) {
    for (DWORD i = 0; i < info->cAltEntry; ++i) {
      const CERT_ALT_NAME_ENTRY& e = info->rgAltEntry[i];
      if (e.dwAltNameChoice == CERT_ALT_NAME_DNS_NAME) {
        out.text.push_back(Narrow(e.pwszDNSName));
      } else if (e.dwAltNameChoice == CERT_ALT_NAME_IP_ADDRESS) {
        const CRYPT_DATA_BLOB& b = e.IPAddress;
        out.ipBytes.emplace_back(reinterpret_cast<const char*>(b.pbData), b.cbData);
        char text[64] = "";
        if (b.cbData == 4 || b.cbData == 16) inet_ntop(b.cbData == 4 ? AF_INET : AF_INET6, b.pbData, text, sizeof text);
        out.text.emplace_back(text);
      }
    }
    LocalFree(info);
  }
  if (out.text.empty()) {
    char buf[256] = "";
    CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buf, sizeof buf);
    if (*buf) out.text.emplace_back(buf);
  }
  return out;
}

struct TChain {
  PCCERT_CHAIN_CONTEXT p = nullptr;
  ~TChain() {
    if (p) CertFreeCertificateChain(p);
  }
};

struct TCert {
  PCCERT_CONTEXT p = nullptr;
  ~TCert() {
    if (p) CertFreeCertificateContext(p);
  }
};

}  // namespace

struct TTlsStream::Impl {
  TSocket* socket = nullptr;
  std::string host;
  CredHandle cred{};
  bool haveCred = false;
  CtxtHandle ctx{};
  bool haveCtx = false;
  SecPkgContext_StreamSizes sizes{};
  // Received and not yet decrypted.
  std::vector<char> in = std::vector<char>(64 * 1024);
  size_t inLen = 0;
  // Decrypted and not yet handed out.
  std::vector<char> plain;
  size_t plainPos = 0;
  bool peerClosed = false;

  ~Impl() {
    if (haveCtx) DeleteSecurityContext(&ctx);
    if (haveCred) FreeCredentialsHandle(&cred);
  }

  // One receive appended to the undecrypted bytes; false when the peer closed.
  bool Fill(int32_t timeoutMs) {
    if (inLen == in.size()) {
      // No record is larger than the stream sizes say; beyond that the peer lies.
      size_t most = sizes.cbMaximumMessage ? sizes.cbHeader + sizes.cbMaximumMessage + sizes.cbTrailer : 0;
      if (most && in.size() >= 2 * most) throw ETlsError("The secure connection failed: a record is too long.");
      in.resize(in.size() * 2);
    }
    size_t n = socket->Receive(in.data() + inLen, in.size() - inLen, timeoutMs);
    inLen += n;
    return n > 0;
  }

  void SendToken(SecBuffer& token) {
    if (token.cbBuffer > 0 && token.pvBuffer) {
      struct Free {
        void* p;
        ~Free() { FreeContextBuffer(p); }
      } release{token.pvBuffer};
      socket->SendAll(token.pvBuffer, token.cbBuffer);
    }
  }

  // Drives the handshake (the first, or one the server asks for later) with the
  // bytes in `in` until it completes.
  void Handshake(bool first) {
    const DWORD want = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY |
                       ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM | ISC_REQ_EXTENDED_ERROR |
                       ISC_REQ_MANUAL_CRED_VALIDATION;
    // A handshake the server asks for goes on with what DecryptMessage left over,
    // even nothing (a TLS 1.2 renegotiation starts with our hello; TLS 1.3's
    // messages after the handshake come whole): waiting for the server first
    // would wait for ever.
    bool needInput = false;
    bool declinedCertificate = false;
    for (;;) {
      if (needInput && !Fill(0)) throw ETlsError(HandshakeErrorText(host, "the server closed the connection."));
      SecBuffer inBufs[2] = {{static_cast<unsigned long>(inLen), SECBUFFER_TOKEN, in.data()},
                             {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBufs};
      SecBuffer outBufs[1] = {{0, SECBUFFER_TOKEN, nullptr}};
      SecBufferDesc outDesc{SECBUFFER_VERSION, 1, outBufs};
      ULONG got = 0;
      bool initial = first && !haveCtx;
      SECURITY_STATUS status =
          InitializeSecurityContextA(&cred, initial ? nullptr : &ctx, const_cast<char*>(host.c_str()), want, 0, 0,
                                     initial ? nullptr : &inDesc, 0, initial ? &ctx : nullptr, &outDesc, &got, nullptr);
      if (initial && (status == SEC_I_CONTINUE_NEEDED || status == SEC_E_OK)) haveCtx = true;
      if (status == SEC_E_INCOMPLETE_MESSAGE) {
        needInput = true;
        continue;
      }
      SendToken(outBufs[0]);
      // The server asks for a client certificate: none is offered, and the same
      // input is handed in again (once; a server that insists ends below).
      if (status == SEC_I_INCOMPLETE_CREDENTIALS && !declinedCertificate) {
        declinedCertificate = true;
        needInput = false;
        continue;
      }
      if (status != SEC_E_OK && status != SEC_I_CONTINUE_NEEDED)
        throw ETlsError(HandshakeErrorText(host, StatusText(status)));
      // What the call did not consume belongs to the next message.
      if (!initial) {
        if (inBufs[1].BufferType == SECBUFFER_EXTRA && inBufs[1].cbBuffer > 0) {
          std::memmove(in.data(), in.data() + inLen - inBufs[1].cbBuffer, inBufs[1].cbBuffer);
          inLen = inBufs[1].cbBuffer;
        } else {
          inLen = 0;
        }
      }
      if (status == SEC_E_OK) return;
      needInput = inLen == 0;
    }
  }

  void CheckCertificate() {
    TCert remote;
    SECURITY_STATUS status = QueryContextAttributesA(&ctx, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote.p);
    if (status != SEC_E_OK || !remote.p) throw ETlsError(HandshakeErrorText(host, "the server sent no certificate."));

    TChain chain;
    if (!Chain(remote.p, 0, chain))
      throw ETlsError(
          CertificateErrorText(TCertProblem::Other, host, "", {}, StatusText(HRESULT_FROM_WIN32(GetLastError()))));

    const std::string ip = TlsAddressOf(host);
    DWORD error = PolicyError(chain, ip);
    const CERT_SIMPLE_CHAIN* simple = chain.p->cChain > 0 ? chain.p->rgpChain[0] : nullptr;
    PCCERT_CONTEXT top =
        simple && simple->cElement > 0 ? simple->rgpElement[simple->cElement - 1]->pCertContext : remote.p;
    TCertProblem problem = ProblemOf(error, remote.p);
    TAltNames names = AltNamesOf(remote.p);
    // The system's check takes the common name where there are no alternative
    // names (RFC 6125 section 6.4.4 says not to).
    if ((error == 0 || problem == TCertProblem::NameMismatch) && !names.present) {
      problem = TCertProblem::NoAltNames;
      error = static_cast<DWORD>(CERT_E_CN_NO_MATCH);
    }
    if (error == 0 && !ip.empty() && std::find(names.ipBytes.begin(), names.ipBytes.end(), ip) == names.ipBytes.end()) {
      problem = TCertProblem::NameMismatch;
      error = static_cast<DWORD>(CERT_E_CN_NO_MATCH);
    }
    if (error != 0)
      throw ETlsError(CertificateErrorText(problem, host, IssuerName(top), names.text,
                                           StatusText(static_cast<SECURITY_STATUS>(error))));

    CheckRevocation(remote.p);
  }

  // What the system's SSL policy says of the chain: 0 or the refusal's status.
  DWORD PolicyError(const TChain& chain, const std::string& ip) const {
    std::wstring wideHost;
    for (unsigned char c : host) wideHost += static_cast<wchar_t>(c);
    HTTPSPolicyCallbackData extra{};
    extra.cbSize = sizeof extra;
    extra.dwAuthType = AUTHTYPE_SERVER;
    // An IP address is matched by the caller against the certificate's IP addresses.
    extra.fdwChecks = ip.empty() ? 0 : kIgnoreCertNameInvalid;
    extra.pwszServerName = ip.empty() ? const_cast<wchar_t*>(wideHost.c_str()) : nullptr;
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.p, &policy, &result))
      result.dwError = static_cast<DWORD>(HRESULT_FROM_WIN32(GetLastError()));
    return result.dwError;
  }

  static TCertProblem ProblemOf(DWORD error, PCCERT_CONTEXT cert) {
    TCertProblem problem = TCertProblem::Other;
    switch (static_cast<HRESULT>(error)) {
      case 0: break;
      case CERT_E_UNTRUSTEDROOT:
      case CERT_E_CHAINING:
      case CERT_E_UNTRUSTEDCA:
      case TRUST_E_CERT_SIGNATURE: problem = TCertProblem::Untrusted; break;
      case CERT_E_EXPIRED: problem = TCertProblem::Expired; break;
      case CERT_E_CN_NO_MATCH: problem = TCertProblem::NameMismatch; break;
      default: break;
    }
    // A certificate outside its dates is refused as such whatever else the
    // policy found first, so the reason does not depend on the order in which
    // the system checks.
    if (error != 0) {
      LONG when = CertVerifyTimeValidity(nullptr, cert->pCertInfo);
      if (when != 0) problem = when < 0 ? TCertProblem::NotYetValid : TCertProblem::Expired;
    }
    return problem;
  }

  void CheckRevocation(PCCERT_CONTEXT cert) const {
    // Revocation apart, so that its answer never hides another refusal: soft-fail,
    // as browsers do, where it cannot be learnt (no address given, the responder
    // offline); a revoked certificate in the chain (the root is the trust store's
    // own) refuses.
    TChain checked;
    if (Chain(cert, CERT_CHAIN_REVOCATION_CHECK_CHAIN_EXCLUDE_ROOT | CERT_CHAIN_REVOCATION_ACCUMULATIVE_TIMEOUT,
              checked) &&
        (checked.p->TrustStatus.dwErrorStatus & CERT_TRUST_IS_REVOKED))
      throw ETlsError(CertificateErrorText(TCertProblem::Revoked, host, "", {}, ""));
  }

  // The chain of cert: the root stores of the user and of the machine (the
  // default chain engine), the server's own intermediate certificates from its
  // handshake store.
  static bool Chain(PCCERT_CONTEXT cert, DWORD flags, TChain& chain) {
    LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH), const_cast<LPSTR>(szOID_SERVER_GATED_CRYPTO),
                      const_cast<LPSTR>(szOID_SGC_NETSCAPE)};
    CERT_CHAIN_PARA para{};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    para.RequestedUsage.Usage.cUsageIdentifier = 3;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // For all revocation look-ups together.
    para.dwUrlRetrievalTimeout = kRevocationTimeoutMs;
    return CertGetCertificateChain(nullptr, cert, nullptr, cert->hCertStore, &para, flags, nullptr, &chain.p) != FALSE;
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
  // An address that is not one fails before anything is sent.
  TlsAddressOf(host);
  SECURITY_STATUS status = AcquireCredentials(s->cred);
  if (status != SEC_E_OK) throw ETlsError(HandshakeErrorText(host, StatusText(status)));
  s->haveCred = true;
  s->Handshake(true);
  s->CheckCertificate();
  status = QueryContextAttributesA(&s->ctx, SECPKG_ATTR_STREAM_SIZES, &s->sizes);
  if (status != SEC_E_OK) throw ETlsError(HandshakeErrorText(host, StatusText(status)));
  impl_ = std::move(s);
}

void TTlsStream::SendAll(const void* data, size_t size) {
  if (!impl_) throw ESocketError(WSAENOTCONN);
  Impl& s = *impl_;
  const char* p = static_cast<const char*>(data);
  std::vector<char> message;
  while (size > 0) {
    size_t part = std::min<size_t>(size, s.sizes.cbMaximumMessage);
    message.resize(s.sizes.cbHeader + part + s.sizes.cbTrailer);
    std::memcpy(message.data() + s.sizes.cbHeader, p, part);
    SecBuffer bufs[4] = {{s.sizes.cbHeader, SECBUFFER_STREAM_HEADER, message.data()},
                         {static_cast<unsigned long>(part), SECBUFFER_DATA, message.data() + s.sizes.cbHeader},
                         {s.sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, message.data() + s.sizes.cbHeader + part},
                         {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
    SECURITY_STATUS status = EncryptMessage(&s.ctx, 0, &desc, 0);
    if (status != SEC_E_OK) throw ETlsError("The secure connection failed: " + StatusText(status));
    s.socket->SendAll(message.data(), bufs[0].cbBuffer + bufs[1].cbBuffer + bufs[2].cbBuffer);
    p += part;
    size -= part;
  }
}

size_t TTlsStream::Receive(char* buffer, size_t size, int32_t timeoutMs) {
  if (!impl_) throw ESocketError(WSAENOTCONN);
  Impl& s = *impl_;
  for (;;) {
    if (s.plainPos < s.plain.size()) {
      size_t n = std::min(size, s.plain.size() - s.plainPos);
      std::memcpy(buffer, s.plain.data() + s.plainPos, n);
      s.plainPos += n;
      return n;
    }
    if (s.inLen > 0) {
      SecBuffer bufs[4] = {{static_cast<unsigned long>(s.inLen), SECBUFFER_DATA, s.in.data()},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr},
                           {0, SECBUFFER_EMPTY, nullptr}};
      SecBufferDesc desc{SECBUFFER_VERSION, 4, bufs};
      SECURITY_STATUS status = DecryptMessage(&s.ctx, &desc, 0, nullptr);
      if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
        s.plain.clear();
        s.plainPos = 0;
        const SecBuffer* extra = nullptr;
        for (const SecBuffer& b : bufs) {
          if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
            const char* from = static_cast<const char*>(b.pvBuffer);
            s.plain.assign(from, from + b.cbBuffer);
          } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
            extra = &b;
          }
        }
        size_t keep = extra ? extra->cbBuffer : 0;
        std::memmove(s.in.data(), s.in.data() + s.inLen - keep, keep);
        s.inLen = keep;
        if (status == SEC_I_CONTEXT_EXPIRED) {
          // The server's close notification: what was decrypted before still counts.
          s.peerClosed = true;
          s.inLen = 0;
        } else if (status == SEC_I_RENEGOTIATE) {
          // The server asks for a new handshake (or sends post-handshake messages).
          s.Handshake(false);
        }
        continue;
      }
      if (status != SEC_E_INCOMPLETE_MESSAGE) throw ETlsError("The secure connection failed: " + StatusText(status));
    }
    if (s.peerClosed) return 0;
    if (!s.Fill(timeoutMs)) {
      // A close without notification: the length framing decides about the body.
      s.peerClosed = true;
      return 0;
    }
  }
}

}  // namespace net
