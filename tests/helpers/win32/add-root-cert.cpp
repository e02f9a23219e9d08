// add-root-cert add CA.der REPORT [CHAIN.pem NAME]
//   puts a DER certificate into the current user's root store, so that tests
//   under Wine can trust a test authority in their own prefix and nowhere else;
//   given a server's chain (PEM, the server's own certificate first) and the name
//   a client asks it for, it then checks that chain as the https client does
//   (chain_check.h). It writes "trusted" to REPORT, or one line that says why not.
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

#include "chain_check.h"

namespace {

std::string ReadFile(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

// Puts der into the registry part of the current user's root store, or takes it
// out; "" on success, else why not. That part, not the whole store a program
// sees, which also holds certificates from elsewhere that cannot be deleted.
std::string ChangeRootStore(bool add, const std::vector<BYTE>& der) {
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
  if (!store) return "the root store cannot be opened: " + chaincheck::SystemText(GetLastError());
  std::string why;
  if (add) {
    if (!CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
      why = "the certificate cannot be added: " + chaincheck::SystemText(GetLastError());
  } else {
    // Compared byte for byte: the same certificate, not one like it. Deleting
    // frees the context the walk stands on, so the walk starts over; not finding
    // it is no failure.
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c && why.empty();) {
      if (c->cbCertEncoded == der.size() && std::memcmp(c->pbCertEncoded, der.data(), der.size()) == 0) {
        if (!CertDeleteCertificateFromStore(c))
          why = "the certificate cannot be removed: " + chaincheck::SystemText(GetLastError());
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
    if (why.empty()) why = argc == 6 ? chaincheck::CheckServerChain(ReadFile(argv[4]), argv[5]) : "trusted";
    if (FILE* report = std::fopen(argv[3], "w")) {
      std::fprintf(report, "%s\n", why.c_str());
      std::fclose(report);
    }
    if (why == "trusted") why.clear();
  }
  if (!why.empty()) std::fprintf(stderr, "add-root-cert: %s\n", why.c_str());
  return why.empty() ? 0 : 1;
}
