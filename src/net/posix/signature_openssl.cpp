// The Linux port's signatures and digests, on OpenSSL's libcrypto: the key is
// read with d2i_PUBKEY and the signature checked with EVP_DigestVerify over
// SHA-256; digests alone with EVP_Digest.
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstring>

#include "net/signature.h"

namespace net {

struct TSha256::Impl {
  EVP_MD_CTX* ctx = nullptr;
  ~Impl() { EVP_MD_CTX_free(ctx); }
};

TSha256::TSha256() : impl_(std::make_unique<Impl>()) {
  impl_->ctx = EVP_MD_CTX_new();
  if (!impl_->ctx || EVP_DigestInit_ex(impl_->ctx, EVP_sha256(), nullptr) != 1) {
    ERR_clear_error();
    throw ESignatureError("SHA-256 is not available.");
  }
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
  if (EVP_DigestUpdate(impl_->ctx, data, size) != 1) throw ESignatureError("SHA-256 failed.");
}

std::string TSha256::Finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(impl_->ctx, digest, &length) != 1) throw ESignatureError("SHA-256 failed.");
  return std::string(reinterpret_cast<const char*>(digest), length);
}

struct TSignatureVerifier::Impl {
  EVP_PKEY* key = nullptr;
  EVP_MD_CTX* ctx = nullptr;
  ~Impl() {
    EVP_MD_CTX_free(ctx);
    EVP_PKEY_free(key);
    // A refused key or signature leaves entries on the thread's error queue,
    // where a later TLS call on the same thread would take them for its own.
    ERR_clear_error();
  }
};

TSignatureVerifier::TSignatureVerifier(const std::string& keyDer) : impl_(std::make_unique<Impl>()) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(keyDer.data());
  impl_->key = d2i_PUBKEY(nullptr, &p, static_cast<long>(keyDer.size()));
  // Bytes after the key would mean the text is something else that merely begins like one.
  if (!impl_->key || p != reinterpret_cast<const unsigned char*>(keyDer.data()) + keyDer.size())
    throw ESignatureError("The package key is not a DER public key (SubjectPublicKeyInfo).");
  switch (EVP_PKEY_get_base_id(impl_->key)) {
    case EVP_PKEY_RSA: {
      const int bits = EVP_PKEY_get_bits(impl_->key);
      if (bits < 2048 || bits > 4096)
        throw ESignatureError("The package key is an RSA key of " + std::to_string(bits) +
                              " bits; RSA keys of 2048 to 4096 bits are accepted.");
      break;
    }
    case EVP_PKEY_EC: {
      char group[64] = "";
      size_t length = 0;
      if (!EVP_PKEY_get_group_name(impl_->key, group, sizeof group, &length) || std::strcmp(group, "prime256v1") != 0)
        throw ESignatureError("The package key is an EC key on a curve other than P-256.");
      // Only the named curve with the uncompressed point (RFC 5480), as openssl
      // pkey -pubout writes it: the form the Windows build can read, in 91 bytes
      // whose 27th is the point's 0x04.
      if (keyDer.size() != 91 || keyDer[26] != 0x04)
        throw ESignatureError("The package key's EC point is not in the uncompressed form.");
      break;
    }
    default: throw ESignatureError("The package key is neither RSA nor ECDSA P-256.");
  }
  impl_->ctx = EVP_MD_CTX_new();
  // PKCS#1 v1.5 is RSA's default padding here.
  if (!impl_->ctx || EVP_DigestVerifyInit(impl_->ctx, nullptr, EVP_sha256(), nullptr, impl_->key) != 1)
    throw ESignatureError("The package key cannot be used for SHA-256 signatures.");
}

TSignatureVerifier::~TSignatureVerifier() = default;

void TSignatureVerifier::Update(const void* data, size_t size) {
  if (EVP_DigestVerifyUpdate(impl_->ctx, data, size) != 1) throw ESignatureError("SHA-256 failed.");
}

bool TSignatureVerifier::Verify(const std::string& signature) {
  const bool ok = EVP_DigestVerifyFinal(impl_->ctx, reinterpret_cast<const unsigned char*>(signature.data()),
                                        signature.size()) == 1;
  ERR_clear_error();
  return ok;
}

}  // namespace net
