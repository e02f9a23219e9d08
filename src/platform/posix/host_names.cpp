// Names between the program's code page (1252) and the host's UTF-8.
#include "base/codepage.h"
#include "platform/posix/posix_internal.h"

namespace platform::posix {

namespace {

const char kHex[] = "0123456789ABCDEF";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The bytes a read name may escape: "?" and "\" (Windows allows neither in a name)
// and every byte above ASCII that is no part of a character 1252 has. Other texts
// keep "?" and "\" as they are.
bool Escapable(unsigned char byte) { return byte == '?' || byte == '\\' || byte >= 0x80; }
bool EscapableInText(unsigned char byte) { return byte >= 0x80; }

// Bytes a lead byte announces for one UTF-8 character; 0 for a byte that leads none.
size_t SequenceLength(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  return 0;
}

bool IsPlain(const std::string& s, bool (*escapable)(unsigned char) = Escapable) {
  for (unsigned char c : s)
    if (escapable(c)) return false;
  return true;
}

}  // namespace

std::string HostText(const std::string& ansi) {
  if (IsPlain(ansi)) return ansi;
  std::string out;
  out.reserve(ansi.size() + ansi.size() / 2);
  for (size_t i = 0; i < ansi.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(ansi[i]);
    if (c == '?' && i + 2 < ansi.size() && HexValue(ansi[i + 1]) >= 0 && HexValue(ansi[i + 2]) >= 0) {
      const int byte = HexValue(ansi[i + 1]) * 16 + HexValue(ansi[i + 2]);
      if (Escapable(static_cast<unsigned char>(byte))) {
        out += static_cast<char>(byte);
        i += 2;
        continue;
      }
    }
    if (c < 0x80)
      out += static_cast<char>(c);
    else
      out += codepage::Cp1252ToUtf8(std::string(1, static_cast<char>(c)));
  }
  return out;
}

std::string AnsiText(const std::string& host, bool name) {
  bool (*escapable)(unsigned char) = name ? Escapable : EscapableInText;
  if (IsPlain(host, escapable)) return host;
  std::string out;
  out.reserve(host.size() + 8);
  for (size_t i = 0; i < host.size();) {
    const unsigned char c = static_cast<unsigned char>(host[i]);
    if (!escapable(c)) {
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    const size_t length = SequenceLength(c);
    if (length != 0 && host.size() - i >= length) {
      std::string byte;
      if (codepage::Utf8ToCp1252(host.substr(i, length), byte) && byte.size() == 1) {
        out += byte;
        i += length;
        continue;
      }
    }
    out += '?';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
    ++i;
  }
  return out;
}

}  // namespace platform::posix
