// Package signatures: a detached signature over a file, checked against the
// publisher's public key with the platform's own cryptography (CNG on Windows,
// OpenSSL's libcrypto on the Linux port); nothing of the cryptography is ours.
//
// The key is the Base64 of a DER SubjectPublicKeyInfo, as
//   openssl pkey -in key.pem -pubout -outform DER | base64 -w0
// prints it. Accepted: RSA of 2048 to 4096 bits with PKCS#1 v1.5 and SHA-256, and
// ECDSA on P-256 with SHA-256. The signature is the file that
//   openssl dgst -sha256 -sign key.pem -out FILE.sig FILE
// writes (for ECDSA the DER SEQUENCE of r and s, RFC 3279).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "base/exception.h"

namespace net {

class THTTPClient;

// A key that cannot be used, a signature that does not verify, a signature file
// that cannot be had. Message says which, for the user's report.
class ESignatureError : public Exception {
 public:
  using Exception::Exception;
};

// A signature file larger than this is refused unread (an RSA-4096 signature
// has 512 bytes).
constexpr size_t kMaxSignatureSize = 16384;

// RFC 4648 Base64 to bytes; white space (a key wrapped by base64 without -w0)
// is skipped. Raises ESignatureError on any other character or a bad ending.
std::string DecodeBase64(const std::string& text);

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

// Raises ESignatureError unless base64Key is a key the program accepts.
void CheckPublicKey(const std::string& base64Key);

// Returns when signature is a valid signature of the file at path (a path text of
// the platform layer) by base64Key. Raises ESignatureError otherwise, or the file
// stream's errors (EFOpenError, EStreamError) when the file cannot be read. The
// file is read in pieces: memory stays small whatever its size.
void VerifyFileSignature(const std::string& path, const std::string& signature, const std::string& base64Key);

// GETs url with client into memory, refusing more than kMaxSignatureSize bytes
// and a body shorter than announced (ESignatureError); the client's own errors
// (an error answer, a connection that fails) pass through.
std::string FetchSignature(THTTPClient& client, const std::string& url);

}  // namespace net
