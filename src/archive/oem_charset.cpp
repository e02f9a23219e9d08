#include "archive/oem_charset.h"

#include "archive/zip_format.h"

namespace archive {

namespace {

// ISO-8859-1 for code page 437's upper half; '_' where there is none (box
// drawing, Greek letters, mathematical signs).
// clang-format off
constexpr unsigned char kCp437High[128] = {
    // 0x80
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    // 0x90
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, '_', '_',
    // 0xA0
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, '_', 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    // 0xB0
    '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_',
    // 0xC0
    '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_',
    // 0xD0
    '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_', '_',
    // 0xE0
    '_', 0xDF, '_', '_', '_', '_', 0xB5, '_', '_', '_', '_', '_', '_', '_', '_', '_',
    // 0xF0
    '_', 0xB1, '_', '_', '_', '_', 0xF7, '_', 0xB0, 0xB7, 0xB7, '_', '_', 0xB2, '_', 0xA0,
};
// clang-format on

}  // namespace

std::string OemToAnsi(const std::string& name) {
  std::string out = name;
  for (char& c : out) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x80) c = static_cast<char>(kCp437High[b - 0x80]);
  }
  return out;
}

bool Utf8ToAnsi(const std::string& name, std::string& out) {
  std::string result;
  result.reserve(name.size());
  std::size_t i = 0;
  while (i < name.size()) {
    unsigned char b = static_cast<unsigned char>(name[i]);
    if (b < 0x80) {
      result += static_cast<char>(b);
      ++i;
      continue;
    }
    int extra;
    uint32_t cp;
    if ((b & 0xE0) == 0xC0) {
      extra = 1;
      cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2;
      cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3;
      cp = b & 0x07;
    } else {
      return false;
    }
    if (name.size() - i - 1 < static_cast<std::size_t>(extra)) return false;
    for (int k = 1; k <= extra; ++k) {
      unsigned char cont = static_cast<unsigned char>(name[i + k]);
      if ((cont & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cont & 0x3F);
    }
    // Overlong forms and surrogates are not UTF-8.
    static constexpr uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    result += cp <= 0xFF ? static_cast<char>(cp) : '_';
    i += 1 + extra;
  }
  out = std::move(result);
  return true;
}

std::string EntryNameToAnsi(const std::string& name, uint16_t flags, int host) {
  std::string converted;
  if (flags & zip::kFlagUtf8) return Utf8ToAnsi(name, converted) ? converted : name;
  if (host == zip::kHostUnix) return Utf8ToAnsi(name, converted) ? converted : name;
  return OemToAnsi(name);
}

}  // namespace archive
