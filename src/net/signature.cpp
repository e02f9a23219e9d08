#include "net/signature.h"

#include "net/base64.h"

namespace net {

std::string TSha256::Hex(const std::string& bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

std::string PublicKeyDer(const std::string& base64Key) {
  std::string der;
  if (!Base64Decode(base64Key, der)) throw ESignatureError("The package key is not valid Base64.");
  return der;
}

void CheckPublicKey(const std::string& base64Key) { TSignatureVerifier verifier(PublicKeyDer(base64Key)); }

bool VerifySignature(const std::string& data, const std::string& signature, const std::string& base64Key) {
  TSignatureVerifier verifier(PublicKeyDer(base64Key));
  verifier.Update(data.data(), data.size());
  return verifier.Verify(signature);
}

}  // namespace net
