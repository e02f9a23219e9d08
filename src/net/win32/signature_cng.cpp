// The Windows signatures and digests, on the system's own cryptography: crypt32
// reads the key (CryptDecodeObjectEx), CNG (bcrypt) hashes and verifies.
//
// Both DLLs are looked up when a check is made, not imported: the program must
// still start where CNG does not exist (before Windows Vista) and no key is
// configured.
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "net/signature.h"

namespace net {
namespace {

constexpr char kRsaOid[] = "1.2.840.113549.1.1.1";  // rsaEncryption, RFC 8017
constexpr char kEcOid[] = "1.2.840.10045.2.1";      // id-ecPublicKey, RFC 5480
// The parameters of a P-256 key: the DER OBJECT IDENTIFIER 1.2.840.10045.3.1.7.
constexpr uint8_t kP256Parameters[] = {0x06, 0x08, 0x2A, 0x86, 0x48, 0xCE, 0x3D, 0x03, 0x01, 0x07};
constexpr size_t kP256Size = 32;

bool Ok(NTSTATUS status) { return status >= 0; }

// The entry points, found once per process.
struct TApi {
  decltype(&::CryptDecodeObjectEx) DecodeObjectEx = nullptr;
  decltype(&::BCryptOpenAlgorithmProvider) OpenAlgorithmProvider = nullptr;
  decltype(&::BCryptCloseAlgorithmProvider) CloseAlgorithmProvider = nullptr;
  decltype(&::BCryptCreateHash) CreateHash = nullptr;
  decltype(&::BCryptHashData) HashData = nullptr;
  decltype(&::BCryptFinishHash) FinishHash = nullptr;
  decltype(&::BCryptDestroyHash) DestroyHash = nullptr;
  decltype(&::BCryptImportKeyPair) ImportKeyPair = nullptr;
  decltype(&::BCryptDestroyKey) DestroyKey = nullptr;
  decltype(&::BCryptVerifySignature) VerifySignature = nullptr;
  bool Complete = false;
};

template <typename F>
bool Find(HMODULE module, const char* name, F& out) {
  out = module ? reinterpret_cast<F>(reinterpret_cast<void*>(::GetProcAddress(module, name))) : nullptr;
  return out != nullptr;
}

const TApi& Api() {
  static const TApi api = [] {
    TApi a;
    HMODULE crypt32 = ::LoadLibraryA("crypt32.dll");
    HMODULE bcrypt = ::LoadLibraryA("bcrypt.dll");
    a.Complete = Find(crypt32, "CryptDecodeObjectEx", a.DecodeObjectEx) &&
                 Find(bcrypt, "BCryptOpenAlgorithmProvider", a.OpenAlgorithmProvider) &&
                 Find(bcrypt, "BCryptCloseAlgorithmProvider", a.CloseAlgorithmProvider) &&
                 Find(bcrypt, "BCryptCreateHash", a.CreateHash) && Find(bcrypt, "BCryptHashData", a.HashData) &&
                 Find(bcrypt, "BCryptFinishHash", a.FinishHash) && Find(bcrypt, "BCryptDestroyHash", a.DestroyHash) &&
                 Find(bcrypt, "BCryptImportKeyPair", a.ImportKeyPair) &&
                 Find(bcrypt, "BCryptDestroyKey", a.DestroyKey) &&
                 Find(bcrypt, "BCryptVerifySignature", a.VerifySignature);
    return a;
  }();
  if (!api.Complete)
    throw ESignatureError(
        "This system has no CNG cryptography (Windows Vista or later); the package's signature "
        "cannot be checked.");
  return api;
}

// Memory that CryptDecodeObjectEx allocated for us.
struct TLocal {
  void* p = nullptr;
  ~TLocal() {
    if (p) ::LocalFree(p);
  }
};

// Decodes one structure, or returns false.
bool Decode(LPCSTR type, const BYTE* data, DWORD size, TLocal& out) {
  DWORD outSize = 0;
  return Api().DecodeObjectEx(X509_ASN_ENCODING, type, data, size, CRYPT_DECODE_ALLOC_FLAG, nullptr, &out.p,
                              &outSize) != FALSE;
}

// The length of the DER element at the start of der (tag, length and contents),
// or 0 when its header cannot be read.
size_t DerElementSize(const std::string& der) {
  if (der.size() < 2) return 0;
  const uint8_t first = static_cast<uint8_t>(der[1]);
  if (first < 0x80) return 2 + size_t{first};
  const size_t count = first & 0x7F;
  if (count == 0 || count > 2 || der.size() < 2 + count) return 0;
  size_t length = 0;
  for (size_t i = 0; i < count; ++i) length = length << 8 | static_cast<uint8_t>(der[2 + i]);
  return 2 + count + length;
}

// One DER INTEGER of an ECDSA signature into a 32-byte big-endian field. Only
// the canonical encoding counts (RFC 3279; X.690 for DER): positive, no
// leading zero byte that is not needed.
bool ReadInteger(const uint8_t*& p, const uint8_t* end, uint8_t* field) {
  if (end - p < 2 || p[0] != 0x02) return false;
  size_t length = p[1];
  p += 2;
  if (length == 0 || length > kP256Size + 1 || static_cast<size_t>(end - p) < length) return false;
  if (p[0] & 0x80) return false;
  if (p[0] == 0 && length > 1 && !(p[1] & 0x80)) return false;
  const uint8_t* digits = p;
  p += length;
  if (digits[0] == 0 && length > 1) {
    ++digits;
    --length;
  }
  if (length > kP256Size) return false;
  std::memset(field, 0, kP256Size - length);
  std::memcpy(field + kP256Size - length, digits, length);
  return true;
}

// CNG takes an ECDSA signature as r and s side by side; OpenSSL writes the
// DER SEQUENCE of the two. Empty when the DER is not canonical.
std::vector<uint8_t> RawEcdsaSignature(const std::string& der) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(der.data());
  const uint8_t* end = p + der.size();
  // The SEQUENCE is at most 70 bytes, so its length is in the short form.
  if (der.size() < 2 || p[0] != 0x30 || p[1] >= 0x80 || size_t{p[1]} + 2 != der.size()) return {};
  p += 2;
  std::vector<uint8_t> raw(2 * kP256Size);
  if (!ReadInteger(p, end, raw.data()) || !ReadInteger(p, end, raw.data() + kP256Size) || p != end) return {};
  return raw;
}

}  // namespace

struct TSha256::Impl {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  ~Impl() {
    if (hash) Api().DestroyHash(hash);
    if (algorithm) Api().CloseAlgorithmProvider(algorithm, 0);
  }
};

TSha256::TSha256() : impl_(std::make_unique<Impl>()) {
  const TApi& api = Api();
  if (!Ok(api.OpenAlgorithmProvider(&impl_->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) ||
      !Ok(api.CreateHash(impl_->algorithm, &impl_->hash, nullptr, 0, nullptr, 0, 0)))
    throw ESignatureError("The system offers no SHA-256.");
}

TSha256::~TSha256() = default;

void TSha256::Update(const void* data, size_t size) {
  // BCryptHashData takes its length as a ULONG: big pieces go in parts.
  const auto* p = static_cast<const uint8_t*>(data);
  while (size > 0) {
    const ULONG part = static_cast<ULONG>(size < (1u << 30) ? size : (1u << 30));
    if (!Ok(Api().HashData(impl_->hash, const_cast<PUCHAR>(p), part, 0))) throw ESignatureError("SHA-256 failed.");
    p += part;
    size -= part;
  }
}

std::string TSha256::Finish() {
  UCHAR digest[32];
  if (!Ok(Api().FinishHash(impl_->hash, digest, sizeof digest, 0))) throw ESignatureError("SHA-256 failed.");
  return std::string(reinterpret_cast<const char*>(digest), sizeof digest);
}

struct TSignatureVerifier::Impl {
  bool rsa = false;
  BCRYPT_ALG_HANDLE keyAlgorithm = nullptr;
  BCRYPT_KEY_HANDLE key = nullptr;
  std::unique_ptr<TSha256> hash;
  ~Impl() {
    hash.reset();
    if (key) Api().DestroyKey(key);
    if (keyAlgorithm) Api().CloseAlgorithmProvider(keyAlgorithm, 0);
  }
};

namespace {

// CNG's BCRYPT_RSAKEY_BLOB for an RSA public key of a certificate's key info.
std::vector<uint8_t> RsaKeyBlob(const CRYPT_BIT_BLOB& bits, const ESignatureError& notAKey) {
  // The modulus and exponent as CryptoAPI gives them: a PUBLICKEYBLOB, the
  // modulus little-endian after the header.
  TLocal rsa;
  if (!Decode(RSA_CSP_PUBLICKEYBLOB, bits.pbData, bits.cbData, rsa)) throw notAKey;
  const auto* header = static_cast<const BLOBHEADER*>(rsa.p);
  const auto* pub = reinterpret_cast<const RSAPUBKEY*>(header + 1);
  const auto* modulus = reinterpret_cast<const uint8_t*>(pub + 1);
  if (pub->bitlen < 2048 || pub->bitlen > 4096)
    throw ESignatureError("The package key is an RSA key of " + std::to_string(pub->bitlen) +
                          " bits; RSA keys of 2048 to 4096 bits are accepted.");
  const size_t modulusSize = pub->bitlen / 8;
  uint8_t exponent[4];
  size_t exponentSize = 0;
  for (int shift = 24; shift >= 0; shift -= 8)
    if (exponentSize > 0 || (pub->pubexp >> shift) & 0xFF)
      exponent[exponentSize++] = static_cast<uint8_t>(pub->pubexp >> shift);
  if (exponentSize == 0) throw notAKey;
  // CNG's BCRYPT_RSAKEY_BLOB: the header, then exponent and modulus big-endian.
  BCRYPT_RSAKEY_BLOB cng{};
  cng.Magic = BCRYPT_RSAPUBLIC_MAGIC;
  cng.BitLength = pub->bitlen;
  cng.cbPublicExp = static_cast<ULONG>(exponentSize);
  cng.cbModulus = static_cast<ULONG>(modulusSize);
  std::vector<uint8_t> blob(sizeof cng + exponentSize + modulusSize);
  std::memcpy(blob.data(), &cng, sizeof cng);
  std::memcpy(blob.data() + sizeof cng, exponent, exponentSize);
  for (size_t i = 0; i < modulusSize; ++i) blob[sizeof cng + exponentSize + i] = modulus[modulusSize - 1 - i];
  return blob;
}

// CNG's BCRYPT_ECCKEY_BLOB for a P-256 public key of a certificate's key info.
std::vector<uint8_t> P256KeyBlob(const CERT_PUBLIC_KEY_INFO& info) {
  const CRYPT_BIT_BLOB& bits = info.PublicKey;
  const CRYPT_OBJID_BLOB& parameters = info.Algorithm.Parameters;
  if (parameters.cbData != sizeof kP256Parameters ||
      std::memcmp(parameters.pbData, kP256Parameters, sizeof kP256Parameters) != 0)
    throw ESignatureError("The package key is an EC key on a curve other than P-256.");
  // The point uncompressed (RFC 5480): 0x04, then X and Y.
  if (bits.cbData != 1 + 2 * kP256Size || bits.pbData[0] != 0x04)
    throw ESignatureError("The package key's EC point is not in the uncompressed form.");
  BCRYPT_ECCKEY_BLOB cng{};
  cng.dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  cng.cbKey = kP256Size;
  std::vector<uint8_t> blob(sizeof cng + 2 * kP256Size);
  std::memcpy(blob.data(), &cng, sizeof cng);
  std::memcpy(blob.data() + sizeof cng, bits.pbData + 1, 2 * kP256Size);
  return blob;
}

}  // namespace

TSignatureVerifier::TSignatureVerifier(const std::string& keyDer) : impl_(std::make_unique<Impl>()) {
  const TApi& api = Api();
  const ESignatureError notAKey("The package key is not a DER public key (SubjectPublicKeyInfo).");
  // The decoder stops at the end of the first element; bytes after it would mean
  // the text is something else that merely begins like a key.
  if (keyDer.empty() || static_cast<uint8_t>(keyDer[0]) != 0x30 || DerElementSize(keyDer) != keyDer.size())
    throw notAKey;
  TLocal decoded;
  if (!Decode(X509_PUBLIC_KEY_INFO, reinterpret_cast<const BYTE*>(keyDer.data()), static_cast<DWORD>(keyDer.size()),
              decoded))
    throw notAKey;
  const CERT_PUBLIC_KEY_INFO& info = *static_cast<const CERT_PUBLIC_KEY_INFO*>(decoded.p);
  const char* oid = info.Algorithm.pszObjId ? info.Algorithm.pszObjId : "";
  const CRYPT_BIT_BLOB& bits = info.PublicKey;

  std::vector<uint8_t> blob;
  LPCWSTR algorithm = nullptr;
  LPCWSTR blobType = nullptr;
  if (std::strcmp(oid, kRsaOid) == 0) {
    blob = RsaKeyBlob(bits, notAKey);
    algorithm = BCRYPT_RSA_ALGORITHM;
    blobType = BCRYPT_RSAPUBLIC_BLOB;
    impl_->rsa = true;
  } else if (std::strcmp(oid, kEcOid) == 0) {
    blob = P256KeyBlob(info);
    algorithm = BCRYPT_ECDSA_P256_ALGORITHM;
    blobType = BCRYPT_ECCPUBLIC_BLOB;
  } else {
    throw ESignatureError("The package key is neither RSA nor ECDSA P-256.");
  }

  if (!Ok(api.OpenAlgorithmProvider(&impl_->keyAlgorithm, algorithm, nullptr, 0)) ||
      !Ok(api.ImportKeyPair(impl_->keyAlgorithm, nullptr, blobType, &impl_->key, blob.data(),
                            static_cast<ULONG>(blob.size()), 0)))
    throw ESignatureError("The system cannot use the package key.");
  impl_->hash = std::make_unique<TSha256>();
}

TSignatureVerifier::~TSignatureVerifier() = default;

void TSignatureVerifier::Update(const void* data, size_t size) { impl_->hash->Update(data, size); }

bool TSignatureVerifier::Verify(const std::string& signature) {
  const TApi& api = Api();
  std::string hashed = impl_->hash->Finish();
  auto* digest = reinterpret_cast<UCHAR*>(hashed.data());
  const ULONG digestSize = static_cast<ULONG>(hashed.size());
  if (impl_->rsa) {
    BCRYPT_PKCS1_PADDING_INFO padding{BCRYPT_SHA256_ALGORITHM};
    std::vector<UCHAR> sig(signature.begin(), signature.end());
    return Ok(api.VerifySignature(impl_->key, &padding, digest, digestSize, sig.data(), static_cast<ULONG>(sig.size()),
                                  BCRYPT_PAD_PKCS1));
  }
  std::vector<uint8_t> raw = RawEcdsaSignature(signature);
  if (raw.empty()) return false;
  return Ok(
      api.VerifySignature(impl_->key, nullptr, digest, digestSize, raw.data(), static_cast<ULONG>(raw.size()), 0));
}

}  // namespace net
