#include "archive/zip_crypto.h"

#include <array>

#include "archive/crc32.h"

namespace archive {

namespace {

// The keys are stirred with the bare CRC-32 step (no pre- or post-inversion);
// its table comes from the finished CRC-32: raw(k, b) = ~Crc32Update(~k, b).
const std::array<uint32_t, 256>& RawCrcTable() {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint8_t b = static_cast<uint8_t>(i);
      t[i] = ~Crc32Update(~0u, &b, 1);
    }
    return t;
  }();
  return table;
}

inline uint32_t RawCrcStep(uint32_t key, uint8_t b) { return RawCrcTable()[(key ^ b) & 0xFF] ^ (key >> 8); }

}  // namespace

TZipCrypto::TZipCrypto(const std::string& password) {
  for (char c : password) UpdateKeys(static_cast<uint8_t>(c));
}

uint8_t TZipCrypto::KeyStreamByte() const {
  uint32_t temp = (key2_ | 2) & 0xFFFF;
  return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

void TZipCrypto::UpdateKeys(uint8_t plain) {
  key0_ = RawCrcStep(key0_, plain);
  key1_ = (key1_ + (key0_ & 0xFF)) * 134775813u + 1;
  key2_ = RawCrcStep(key2_, static_cast<uint8_t>(key1_ >> 24));
}

bool TZipCrypto::CheckHeader(const uint8_t header[12], uint8_t checkByte) {
  uint8_t plain[12];
  for (int i = 0; i < 12; ++i) plain[i] = header[i];
  Decrypt(plain, 12);
  return plain[11] == checkByte;
}

void TZipCrypto::Decrypt(uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    uint8_t plain = static_cast<uint8_t>(data[i] ^ KeyStreamByte());
    UpdateKeys(plain);
    data[i] = plain;
  }
}

void TZipCrypto::Encrypt(uint8_t* data, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    uint8_t cipher = static_cast<uint8_t>(data[i] ^ KeyStreamByte());
    UpdateKeys(data[i]);
    data[i] = cipher;
  }
}

}  // namespace archive
