// CRC-32 as ZIP uses it (ISO-HDLC / IEEE 802.3: reflected polynomial 0xEDB88320,
// initial value and final XOR 0xFFFFFFFF), the same value zlib's crc32() gives.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive {

// Extends a finished CRC-32 with n more bytes and returns the finished CRC-32 of
// the whole. Start with 0 (the CRC-32 of no bytes); data may be null when n is 0.
// Crc32Update(Crc32Update(0, a, n), b, m) equals the CRC-32 of a followed by b.
// Uses carry-less multiplication where the processor has it (CpuFeatures()).
uint32_t Crc32Update(uint32_t crc, const void* data, std::size_t n);

// The CRC-32 of one block: Crc32Update(0, data, n).
inline uint32_t Crc32(const void* data, std::size_t n) { return Crc32Update(0, data, n); }

// The ways Crc32Update computes, with its contract, for tests and benchmarks:
// lookup tables on any processor; carry-less multiplication on 128-bit registers,
// which only a processor with CpuFeatures().clmul may run; and on 256-bit ones,
// only with CpuFeatures().wideClmul.
uint32_t Crc32UpdateByTable(uint32_t crc, const void* data, std::size_t n);
uint32_t Crc32UpdateByClmul(uint32_t crc, const void* data, std::size_t n);
uint32_t Crc32UpdateByWideClmul(uint32_t crc, const void* data, std::size_t n);

}  // namespace archive
