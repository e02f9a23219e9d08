#include "net/signature.h"

#include <cstdint>
#include <vector>

#include "net/http_client.h"
#include "platform/files.h"

namespace net {
namespace {

int Base64Digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Keeps a hostile server from making the program hold more than a signature.
class TLimitedStream : public TMemoryStream {
 public:
  void Write(const void* buffer, int64_t count) override {
    if (count > static_cast<int64_t>(kMaxSignatureSize) - Position())
      throw ESignatureError("The signature file is larger than " + std::to_string(kMaxSignatureSize) + " bytes.");
    TMemoryStream::Write(buffer, count);
  }
};

}  // namespace

std::string DecodeBase64(const std::string& text) {
  const ESignatureError bad("The package key is not valid Base64.");
  std::string out;
  uint32_t bits = 0;
  int count = 0;  // digits of the current group of four
  int padding = 0;
  for (unsigned char c : text) {
    if (IsBlank(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int digit = Base64Digit(c);
    // Nothing may follow the padding.
    if (digit < 0 || padding > 0) throw bad;
    bits = bits << 6 | static_cast<uint32_t>(digit);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  // A last group of two or three digits, padded to four or not; the bits it
  // leaves over must be zero, so that one text has one meaning.
  if (count == 1 || (padding > 0 && count + padding != 4)) throw bad;
  if (count == 2) {
    if (bits & 0xF) throw bad;
    out += static_cast<char>(bits >> 4);
  } else if (count == 3) {
    if (bits & 0x3) throw bad;
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  return out;
}

void CheckPublicKey(const std::string& base64Key) { TSignatureVerifier verifier(DecodeBase64(base64Key)); }

void VerifyFileSignature(const std::string& path, const std::string& signature, const std::string& base64Key) {
  TSignatureVerifier verifier(DecodeBase64(base64Key));
  platform::TFileStream file(path, platform::TFileMode::OpenRead);
  std::vector<char> buffer(1 << 16);
  for (;;) {
    const int64_t got = file.Read(buffer.data(), static_cast<int64_t>(buffer.size()));
    if (got <= 0) break;
    verifier.Update(buffer.data(), static_cast<size_t>(got));
  }
  if (!verifier.Verify(signature))
    throw ESignatureError("The package does not match its signature (another file, or another key).");
}

std::string FetchSignature(THTTPClient& client, const std::string& url) {
  TLimitedStream body;
  client.Get(url, body);
  // The client returns normally when the server closes early; a cut signature
  // would only fail later with a less telling message.
  if (client.Response.HasContentLength() && static_cast<int64_t>(body.Data().size()) < client.Response.ContentLength)
    throw ESignatureError("The signature file " + url + " arrived incomplete.");
  if (body.Data().empty()) throw ESignatureError("The signature file " + url + " is empty.");
  return body.Data();
}

}  // namespace net
