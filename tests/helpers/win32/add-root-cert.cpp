// add-root-cert add|remove FILE: puts a DER certificate into the current user's
// root store, or takes it out again, so that tests under Wine can trust a test
// authority in their own prefix and nowhere else. Exit status 0 on success.
#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "add") != 0 && std::strcmp(argv[1], "remove") != 0)) {
    std::fprintf(stderr, "usage: add-root-cert add|remove FILE.der\n");
    return 2;
  }
  std::ifstream f(argv[2], std::ios::binary);
  std::vector<BYTE> der((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
  if (der.empty()) {
    std::fprintf(stderr, "add-root-cert: cannot read %s\n", argv[2]);
    return 1;
  }
  // The registry part of the store itself: what a program sees as the root store
  // also holds certificates from elsewhere, which cannot be deleted from it.
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
  if (!store) {
    std::fprintf(stderr, "add-root-cert: the root store cannot be opened (%lu)\n", GetLastError());
    return 1;
  }
  BOOL ok;
  if (std::strcmp(argv[1], "add") == 0) {
    ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  } else {
    // Compared byte for byte: the same certificate, not one like it. Deleting
    // frees the context the walk stands on, so the walk starts over; not finding
    // it is no failure.
    ok = TRUE;
    for (PCCERT_CONTEXT c = CertEnumCertificatesInStore(store, nullptr); c && ok;) {
      if (c->cbCertEncoded == der.size() && std::memcmp(c->pbCertEncoded, der.data(), der.size()) == 0) {
        ok = CertDeleteCertificateFromStore(c);
        c = CertEnumCertificatesInStore(store, nullptr);
      } else {
        c = CertEnumCertificatesInStore(store, c);
      }
    }
  }
  if (!ok) std::fprintf(stderr, "add-root-cert: %s failed (%lu)\n", argv[1], GetLastError());
  CertCloseStore(store, 0);
  return ok ? 0 : 1;
}
