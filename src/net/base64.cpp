#include "net/base64.h"

#include <cstdint>

namespace net {
namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Digit(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsBlank(unsigned char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string Base64Encode(const std::string& s) {
  std::string out;
  out.reserve((s.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < s.size(); i += 3) {
    const uint32_t v = uint32_t{uint8_t(s[i])} << 16 | uint32_t{uint8_t(s[i + 1])} << 8 | uint8_t(s[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  if (i < s.size()) {
    const bool two = i + 1 < s.size();
    const uint32_t v = uint32_t{uint8_t(s[i])} << 16 | (two ? uint32_t{uint8_t(s[i + 1])} << 8 : 0);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += two ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool Base64Decode(const std::string& text, std::string& out) {
  out.clear();
  uint32_t bits = 0;
  int count = 0;  // digits of the current group of four
  int padding = 0;
  for (unsigned char c : text) {
    if (IsBlank(c)) continue;
    if (c == '=') {
      ++padding;
      continue;
    }
    const int digit = Digit(c);
    // Nothing may follow the padding.
    if (digit < 0 || padding > 0) return false;
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
  // leaves over must be zero.
  if (count == 1 || (padding > 0 && count + padding != 4)) return false;
  if (count == 2) {
    if (bits & 0xF) return false;
    out += static_cast<char>(bits >> 4);
  } else if (count == 3) {
    if (bits & 0x3) return false;
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  return true;
}

}  // namespace net
