#include "archive/crc32.h"

#include "archive/cpu_features.h"

namespace archive {

namespace {

// Slicing-by-16: table k gives the CRC contribution of a byte followed by k zero
// bytes, so sixteen input bytes are folded in with independent lookups (16 KB of
// tables, made at compile time).
struct TCrcTables {
  uint32_t t[16][256];
};

constexpr TCrcTables MakeTables() {
  TCrcTables tables{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    tables.t[0][i] = c;
  }
  for (int k = 1; k < 16; ++k)
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t prev = tables.t[k - 1][i];
      tables.t[k][i] = (prev >> 8) ^ tables.t[0][prev & 0xff];
    }
  return tables;
}

constexpr TCrcTables kTables = MakeTables();

inline uint32_t Load32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

// Below these sizes the tables are about as fast as setting up the folding.
constexpr std::size_t kClmulMinimum = 128;
constexpr std::size_t kWideClmulMinimum = 512;

}  // namespace

uint32_t Crc32UpdateByTable(uint32_t crc, const void* data, std::size_t n) {
  const auto& t = kTables.t;
  const uint8_t* p = static_cast<const uint8_t*>(data);
  crc = ~crc;
  while (n >= 16) {
    uint32_t a = Load32(p) ^ crc, b = Load32(p + 4), c = Load32(p + 8), d = Load32(p + 12);
    crc = t[15][a & 0xff] ^ t[14][(a >> 8) & 0xff] ^ t[13][(a >> 16) & 0xff] ^ t[12][a >> 24] ^  //
          t[11][b & 0xff] ^ t[10][(b >> 8) & 0xff] ^ t[9][(b >> 16) & 0xff] ^ t[8][b >> 24] ^    //
          t[7][c & 0xff] ^ t[6][(c >> 8) & 0xff] ^ t[5][(c >> 16) & 0xff] ^ t[4][c >> 24] ^      //
          t[3][d & 0xff] ^ t[2][(d >> 8) & 0xff] ^ t[1][(d >> 16) & 0xff] ^ t[0][d >> 24];
    p += 16;
    n -= 16;
  }
  while (n-- > 0) crc = (crc >> 8) ^ t[0][(crc ^ *p++) & 0xff];
  return ~crc;
}

uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t n) {
  if (n >= kClmulMinimum) {
    const TCpuFeatures& cpu = CpuFeatures();
    if (cpu.wideClmul && n >= kWideClmulMinimum) return Crc32UpdateByWideClmul(crc, data, n);
    if (cpu.clmul) return Crc32UpdateByClmul(crc, data, n);
  }
  return Crc32UpdateByTable(crc, data, n);
}

}  // namespace archive
