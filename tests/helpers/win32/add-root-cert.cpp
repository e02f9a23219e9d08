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
  HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, "Root");
  if (!store) {
    std::fprintf(stderr, "add-root-cert: the root store cannot be opened (%lu)\n", GetLastError());
    return 1;
  }
  BOOL ok;
  if (std::strcmp(argv[1], "add") == 0) {
    ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                          CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
  } else {
    PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
    PCCERT_CONTEXT found =
        wanted ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr) : nullptr;
    // Deleting frees the found context; not finding it is no failure.
    ok = found ? CertDeleteCertificateFromStore(found) : wanted != nullptr;
    if (wanted) CertFreeCertificateContext(wanted);
  }
  if (!ok) std::fprintf(stderr, "add-root-cert: %s failed (%lu)\n", argv[1], GetLastError());
  CertCloseStore(store, 0);
  return ok ? 0 : 1;
}
