// add-root-cert add CA.der REPORT [CHAIN.pem NAME]
//   puts a DER certificate into the current user's root store, so that tests
//   under Wine can trust a test authority in their own prefix and nowhere else.
//   Given a server's chain (PEM, the server's own certificate first) and the name
//   a client asks it for, it then checks that chain as the https client does: the
//   default chain engine, the rest of the chain as the server's own
//   intermediates, the SSL policy for NAME. It writes "trusted" to REPORT, or one
//   line that says why not.
// add-root-cert remove CA.der
//   takes the certificate out again.
// Exit status 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string ReadFile(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

std::string Hex(DWORD code) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
  return text;
}

std::string SystemText(DWORD code) {
  char buffer[512] = "";
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                           sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  return text.empty() ? Hex(code) : text + " (" + Hex(code) + ")";
}

std::string NameOf(PCCERT_CONTEXT cert) {
  char buffer[256] = "";
  CertGetNameStringA(cert, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, buffer, sizeof buffer);
  return buffer;
}

// What the chain engine found wrong with one certificate of a chain.
std::string Problems(DWORD status) {
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

// Every certificate of a PEM file into a memory store; the first one's context.
PCCERT_CONTEXT LoadChain(const std::string& pem, HCERTSTORE store) {
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
std::string CheckChain(const char* chainFile, const char* name) {
  HCERTSTORE handshake = CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr);
  if (!handshake) return "no memory store: " + SystemText(GetLastError());
  PCCERT_CONTEXT server = LoadChain(ReadFile(chainFile), handshake);
  if (!server) {
    CertCloseStore(handshake, 0);
    return std::string("no certificate could be read from ") + chainFile;
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
    std::wstring wideName(name, name + std::strlen(name));
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
      if (result.dwError == static_cast<DWORD>(CERT_E_CN_NO_MATCH)) why += std::string("; it is not for ") + name;
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

// Puts der into the registry part of the current user's root store, or takes it
// out; "" on success, else why not. That part, not the whole store a program
// sees, which also holds certificates from elsewhere that cannot be deleted.
std::string ChangeRootStore(bool add, const std::vector<BYTE>& der) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
  if (!store) return "the root store cannot be opened: " + SystemText(GetLastError());
  std::string why;
  if (add) {
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
      why = "the certificate cannot be added: " + SystemText(GetLastError());
  } else {
    // Compared byte for byte: the same certificate, not one like it. Deleting
    // frees the context the walk stands on, so the walk starts over; not finding
    // it is no failure.
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c && why.empty();) {
      if (c->cbCertEncoded == der.size() && std::memcmp(c->pbCertEncoded, der.data(), der.size()) == 0) {
        if (!CertDeleteCertificateFromStore(c))
          why = "the certificate cannot be removed: " + SystemText(GetLastError());
        c = CertEnumCertificatesInStore(store, nullptr);
      } else {
        c = CertEnumCertificatesInStore(store, c);
      }
    }
  }
  // Closing writes the store to the registry, where any chain engine made from
  // now on reads it.
  CertCloseStore(store, 0);
  return why;
}

}  // namespace

int main(int argc, char** argv) {
  const bool add = argc >= 4 && argc != 5 && argc <= 6 && std::strcmp(argv[1], "add") == 0;
  const bool remove = argc == 3 && std::strcmp(argv[1], "remove") == 0;
  if (!add && !remove) {
    std::fprintf(stderr, "usage: add-root-cert add CA.der REPORT [CHAIN.pem NAME] | remove CA.der\n");
    return 2;
  }
  const std::string text = ReadFile(argv[2]);
  std::string why = text.empty() ? std::string("cannot read ") + argv[2]
                                 : ChangeRootStore(add, std::vector<BYTE>(text.begin(), text.end()));
  if (add) {
    if (why.empty()) why = argc == 6 ? CheckChain(argv[4], argv[5]) : "trusted";
    if (FILE* report = std::fopen(argv[3], "w")) {
      std::fprintf(report, "%s\n", why.c_str());
      std::fclose(report);
    }
    if (why == "trusted") why.clear();
  }
  if (!why.empty()) std::fprintf(stderr, "add-root-cert: %s\n", why.c_str());
  return why.empty() ? 0 : 1;
}
