// lu-release KEY.pem PACKAGE PRODUCT VERSION [EXPIRES]
// Writes the signed release statement of PACKAGE to standard output, for the
// vendor to serve beside it as PACKAGE.sig: the product, the version, the
// package's size and SHA-256, the optional last day it is good for (YYYY-MM-DD,
// UTC), and the signature of all of it by the private key KEY.pem (RSA of 2048
// to 4096 bits or ECDSA P-256, as openssl genpkey writes it). The statement is
// checked as the updater will check it before it is written. Exit status 0 when
// written; 1 with the reason otherwise, 2 for wrong usage. Linux port only
// (libcrypto).
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstdio>
#include <string>

#include "base/exception.h"
#include "net/base64.h"
#include "net/statement.h"
#include "platform/file_stream.h"
#include "platform/files.h"

namespace {

struct TKey {
  EVP_PKEY* p = nullptr;
  ~TKey() { EVP_PKEY_free(p); }
};

struct TSignContext {
  EVP_MD_CTX* p = EVP_MD_CTX_new();
  ~TSignContext() { EVP_MD_CTX_free(p); }
};

// The Base64 public half of key, as PackageKey holds it.
std::string PublicKey(EVP_PKEY* key) {
  unsigned char* der = nullptr;
  const int length = i2d_PUBKEY(key, &der);
  if (length <= 0) throw Exception("cannot derive the public key");
  std::string bytes(reinterpret_cast<const char*>(der), static_cast<size_t>(length));
  OPENSSL_free(der);
  return net::Base64Encode(bytes);
}

std::string Sign(EVP_PKEY* key, const std::string& data) {
  TSignContext ctx;
  size_t length = 0;
  // PKCS#1 v1.5 is RSA's default padding here, as with openssl dgst -sign.
  if (!ctx.p || EVP_DigestSignInit(ctx.p, nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(ctx.p, nullptr, &length, reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
    throw Exception("the key cannot sign");
  std::string signature(length, '\0');
  if (EVP_DigestSign(ctx.p, reinterpret_cast<unsigned char*>(signature.data()), &length,
                     reinterpret_cast<const unsigned char*>(data.data()), data.size()) != 1)
    throw Exception("signing failed");
  signature.resize(length);
  return signature;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: lu-release KEY.pem PACKAGE PRODUCT VERSION [EXPIRES] > PACKAGE.sig\n");
    return 2;
  }
  try {
    net::TReleaseStatement s;
    s.Product = argv[3];
    s.Version = argv[4];
    s.Expires = argc == 6 ? argv[5] : "";
    if (s.Product.empty() || s.Product.find_first_of("\r\n") != std::string::npos)
      throw Exception("PRODUCT must be one line of text (the program's ApplicationName)");
    if (!net::IsVersion(s.Version)) throw Exception("VERSION must be numbers separated by dots, as 5.4.0");
    int64_t day;
    if (!s.Expires.empty() && !net::ParseDate(s.Expires, day)) throw Exception("EXPIRES must be a date, YYYY-MM-DD");
    if (!s.Expires.empty() && day < net::NowUtc() / 86400) throw Exception("EXPIRES " + s.Expires + " is past");

    TKey key;
    if (FILE* f = std::fopen(argv[1], "rb")) {
      key.p = PEM_read_PrivateKey(f, nullptr, nullptr, nullptr);
      std::fclose(f);
    } else {
      throw Exception(std::string("cannot open ") + argv[1]);
    }
    if (!key.p) throw Exception(std::string(argv[1]) + " holds no private key in PEM form");
    const std::string publicKey = PublicKey(key.p);
    net::CheckPublicKey(publicKey);  // a kind and size the updater accepts

    platform::TFileStream package(argv[2], platform::TFileMode::OpenRead);
    net::TSha256 hash;
    std::string buffer(1 << 16, '\0');
    for (int64_t got; (got = package.Read(buffer.data(), static_cast<int64_t>(buffer.size()))) > 0; s.Size += got)
      hash.Update(buffer.data(), static_cast<size_t>(got));
    s.Sha256 = net::TSha256::Hex(hash.Finish());

    const std::string body = net::StatementBody(s);
    const std::string statement = body + "signature: " + net::Base64Encode(Sign(key.p, body)) + "\n";
    net::VerifyStatement(statement, {publicKey}, s.Product);
    std::fwrite(statement.data(), 1, statement.size(), stdout);
    if (std::fflush(stdout) != 0) throw Exception("cannot write the statement");
  } catch (const Exception& e) {
    ERR_clear_error();
    std::fprintf(stderr, "lu-release: %s\n", e.Message.c_str());
    return 1;
  }
  return 0;
}
