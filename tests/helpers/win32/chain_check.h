// Checks a server's certificate chain as the Windows build's https client does:
// the default chain engine, the rest of the chain as the server's own
// intermediates, the SSL policy for the name asked for. For the test programs
// that trust a test authority under Wine (add-root-cert, TTrustedTestCa).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

namespace chaincheck {

inline std::string Hex(DWORD code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

inline std::string SystemText(DWORD code) {
  char buffer[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                           sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? Hex(code) : text + " (" + Hex(code) + ")";
}

inline std::string NameOf(PCCERT_CONTEXT cert) {
  char buffer[256] = "";
  CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer, sizeof buffer);
  return buffer;
}

// What the chain engine found wrong with one certificate of a chain.
inline std::string Problems(DWORD status) {
  static const struct {
    DWORD bit;
    const char* text;
  } known[] = {
      {CERT_TRUST_IS_NOT_SIGNATURE_VALID, "its signature does not verify"},
      {CERT_TRUST_IS_UNTRUSTED_ROOT, "it is a root nobody trusts"},
      {CERT_TRUST_IS_PARTIAL_CHAIN, "its issuer was not found"},
      {CERT_TRUST_IS_NOT_TIME_VALID, "it is outside its dates"},
      {CERT_TRUST_IS_REVOKED, "it is revoked"},
      {CERT_TRUST_IS_NOT_VALID_FOR_USAGE, "it is not for server authentication"},
  };
  std::string text;
  for (const auto& k : known)
    if (status & k.bit) {
      text += (text.empty() ? "" : ", ") + std::string(k.text);
      status &= ~k.bit;
    }
  if (status != 0) text += (text.empty() ? "trust status " : ", trust status ") + Hex(status);
  return text;
}

// Every certificate of PEM text into a memory store; the first one's context.
inline PCCERT_CONTEXT LoadChain(const std::string& pem, HCERTSTORE store) {
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  PCCERT_CONTEXT first = nullptr;
  for (size_t at = pem.find(kBegin); at != std::string::npos; at = pem.find(kBegin, at + 1)) {
    const size_t end = pem.find(kEnd, at);
    if (end == std::string::npos) break;
    const std::string block = pem.substr(at, end + sizeof kEnd - 1 - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                              &size, nullptr, nullptr))
      break;
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                              &size, nullptr, nullptr))
      break;
    PCCERT_CONTEXT added = nullptr;
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size, CERT_STORE_ADD_ALWAYS,
                                          first ? nullptr : &added))
      break;
    if (!first) first = added;
  }
  return first;
}

// "trusted", or why a client would refuse the server of this chain.
inline std::string CheckServerChain(const std::string& pem, const std::string& name) {
  HCERTSTORE handshake = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (!handshake) return "no memory store: " + SystemText(GetLastError());
  PCCERT_CONTEXT server = LoadChain(pem, handshake);
  if (!server) {
    CertCloseStore(handshake, 0);
    return "no certificate in the server's chain";
  }
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  para.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  para.RequestedUsage.Usage.cUsageIdentifier = 1;
  para.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  std::string why;
  if (!CertGetCertificateChain(nullptr, server, nullptr, handshake, &para, 0, nullptr, &chain)) {
    why = "no chain could be built: " + SystemText(GetLastError());
  } else {
    std::wstring wideName(name.begin(), name.end());
    HTTPSPolicyCallbackData extra{};
    extra.cbSize = sizeof extra;
    extra.dwAuthType = AUTHTYPE_SERVER;
    extra.pwszServerName = const_cast<wchar_t*>(wideName.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &extra;
    CERT_CHAIN_POLICY_STATUS result{};
    result.cbSize = sizeof result;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &result))
      result.dwError = GetLastError();
    if (result.dwError == 0) {
      why = "trusted";
    } else {
      why = "the server's certificate is refused: " + SystemText(result.dwError);
      if (result.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) why += "; it is not for " + name;
      const CERT_SIMPLE_CHAIN* simple = chain->cChain > 0 ? chain->rgpChain[0] : nullptr;
      for (DWORD i = 0; simple && i < simple->cElement; ++i) {
        const CERT_CHAIN_ELEMENT* e = simple->rgpElement[i];
        if (e->TrustStatus.dwErrorStatus != 0)
          why += "; " + NameOf(e->pCertContext) + ": " + Problems(e->TrustStatus.dwErrorStatus);
      }
    }
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(server);
  CertCloseStore(handshake, 0);
  return why;
}

}  // namespace chaincheck
