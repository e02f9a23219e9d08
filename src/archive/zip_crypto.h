// Traditional PKWARE encryption ("ZipCrypto", APPNOTE section 6.1): three 32-bit
// keys stirred by the password and by every plain byte. It is weak and only
// kept so that archives protected with it can be read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace archive {

class TZipCrypto {
 public:
  // Keys initialised with the password.
  explicit TZipCrypto(const std::string& password);

  // Decrypts the 12-byte header that precedes the data and tells whether its last
  // byte equals checkByte (the high byte of the CRC-32, or of the MS-DOS time for
  // an entry with a data descriptor). One wrong password in 256 passes this test;
  // the CRC check of the data catches those.
  bool CheckHeader(const uint8_t header[12], uint8_t checkByte);

  void Decrypt(uint8_t* data, std::size_t count);
  void Encrypt(uint8_t* data, std::size_t count);

 private:
  uint8_t KeyStreamByte() const;
  void UpdateKeys(uint8_t plain);

  uint32_t key0_ = 0x12345678u;
  uint32_t key1_ = 0x23456789u;
  uint32_t key2_ = 0x34567890u;
};

}  // namespace archive
