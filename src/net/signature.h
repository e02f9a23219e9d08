// Signatures and digests on the platform's own cryptography (CNG on Windows,
// OpenSSL's libcrypto on the Linux port); nothing of the cryptography is ours.
//
// A key is the Base64 of a DER SubjectPublicKeyInfo, as
//   openssl pkey -in key.pem -pubout -outform DER | base64 -w0
// prints it. Accepted: RSA of 2048 to 4096 bits with PKCS#1 v1.5 and SHA-256, and
// ECDSA on P-256 with SHA-256. A signature is what
//   openssl dgst -sha256 -sign key.pem FILE
// writes (for ECDSA the DER SEQUENCE of r and s, RFC 3279). What is signed is a
// release statement (statement.h).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/exception.h"

namespace net {

// A key that cannot be used, a statement or signature that does not verify or
// cannot be had, a package that is not the one its statement describes. Message
// says which, for the user's report.
class ESignatureError : public Exception {
 public:
  using Exception::Exception;
};

// SHA-256 over data fed in pieces (FIPS 180-4). Raises ESignatureError when the
// system offers none (Windows before Vista).
class TSha256 {
 public:
  TSha256();
  ~TSha256();
  TSha256(const TSha256&) = delete;
  TSha256& operator=(const TSha256&) = delete;

  void Update(const void* data, size_t size);
  // The 32 bytes of the digest. Call once.
  std::string Finish();
  // Lower-case hexadecimal, as sha256sum prints digests.
  static std::string Hex(const std::string& bytes);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The platform's half: one accepted key, a SHA-256 over data fed in pieces, one
// check at the end.
class TSignatureVerifier {
 public:
  // keyDer: a DER SubjectPublicKeyInfo. Raises ESignatureError when it cannot be
  // read or is not of a kind and size accepted.
  explicit TSignatureVerifier(const std::string& keyDer);
  ~TSignatureVerifier();
  TSignatureVerifier(const TSignatureVerifier&) = delete;
  TSignatureVerifier& operator=(const TSignatureVerifier&) = delete;

  void Update(const void* data, size_t size);
  // True when signature is a valid signature of everything fed. Call once.
  bool Verify(const std::string& signature);

  struct Impl;

 private:
  std::unique_ptr<Impl> impl_;
};

// The DER of a Base64 key; raises ESignatureError when the text is not Base64.
std::string PublicKeyDer(const std::string& base64Key);
// Raises ESignatureError unless base64Key is a key the program accepts.
void CheckPublicKey(const std::string& base64Key);
// Whether signature is base64Key's signature of data. Raises ESignatureError
// when the key cannot be used.
bool VerifySignature(const std::string& data, const std::string& signature, const std::string& base64Key);

}  // namespace net
