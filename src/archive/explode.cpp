// Method 6, "Imploding" in PKWARE's APPNOTE (section 5.5): LZ77 over a 4 KB or
// 8 KB window with two or three Shannon-Fano trees (literals, lengths, distances).
#include <cstring>

#include "archive/bit_reader.h"
#include "archive/decoder.h"
#include "archive/ring_output.h"

namespace archive {

namespace {

constexpr unsigned kMaxCodeBits = 16;
constexpr unsigned kFastBits = 9;  // codes up to this long decode with one table look-up

// A Shannon-Fano code as the APPNOTE builds it: values sorted by (length, value),
// codes handed out from the last one (longest) upwards in a 16-bit space, so the
// shortest codes are the ones made of 1 bits. The stream holds each code top bit
// first. Decoding works on the inverted bits, where the code becomes canonical
// (shortest lengths lowest, values in ascending order within a length) and each
// length's codes form one contiguous range.
class TShannonFano {
 public:
  // Reads the compressed form: a byte holding (bytes that follow - 1), then
  // bytes of (values with this length - 1) << 4 | (length - 1), lengths given
  // for values 0, 1, ... in order. False unless it describes exactly `symbols`
  // values forming a prefix code.
  bool Read(TBitReader& in, unsigned symbols) {
    uint8_t lengths[256];
    unsigned defined = 0;
    unsigned bytes = in.Bits(8) + 1;
    for (unsigned i = 0; i < bytes; ++i) {
      unsigned b = in.Bits(8);
      unsigned length = (b & 0x0F) + 1, repeat = (b >> 4) + 1;
      if (symbols - defined < repeat) return false;
      std::memset(lengths + defined, static_cast<int>(length), repeat);
      defined += repeat;
    }
    if (in.Overrun() || defined != symbols) return false;
    return Build(lengths, symbols);
  }

  // Decodes one value; -1 for a bit pattern that no code uses.
  int Decode(TBitReader& in) const {
    uint32_t bits = ~in.Peek(kMaxCodeBits) & ((1u << kMaxCodeBits) - 1);
    uint16_t entry = fast_[bits & ((1u << kFastBits) - 1)];
    if (entry != 0) {
      in.Consume(entry >> 8);
      return entry & 0xFF;
    }
    // Longer codes (and unused patterns): walk the lengths one bit at a time.
    uint32_t code = 0;
    for (unsigned length = 1; length <= kMaxCodeBits; ++length) {
      code = (code << 1) | ((bits >> (length - 1)) & 1);
      if (code >= first_[length] && code - first_[length] < count_[length]) {
        in.Consume(length);
        return sorted_[offset_[length] + code - first_[length]];
      }
    }
    return -1;
  }

 private:
  bool Build(const uint8_t* lengths, unsigned symbols) {
    std::memset(count_, 0, sizeof count_);
    for (unsigned s = 0; s < symbols; ++s) ++count_[lengths[s]];
    // Kraft sum in units of 2^-16. More than a whole space means overlapping
    // codes; less leaves patterns unused (the encoder's all-1 codes): they
    // decode to -1.
    uint32_t used = 0;
    for (unsigned l = 1; l <= kMaxCodeBits; ++l) used += count_[l] << (kMaxCodeBits - l);
    if (used > (1u << kMaxCodeBits)) return false;

    // Each length's codes start where the shorter lengths' range ends. In an
    // incomplete code that start can fall inside a code of this length (the
    // APPNOTE's construction then gives overlapping codes): not a prefix code.
    uint32_t start = (1u << kMaxCodeBits) - used;
    unsigned index = 0;
    for (unsigned l = 1; l <= kMaxCodeBits; ++l) {
      if (count_[l] != 0 && (start & ((1u << (kMaxCodeBits - l)) - 1)) != 0) return false;
      first_[l] = start >> (kMaxCodeBits - l);
      offset_[l] = static_cast<uint16_t>(index);
      start += count_[l] << (kMaxCodeBits - l);
      index += count_[l];
    }
    uint16_t next[kMaxCodeBits + 1];
    std::memcpy(next, offset_, sizeof next);
    for (unsigned s = 0; s < symbols; ++s) sorted_[next[lengths[s]]++] = static_cast<uint8_t>(s);

    std::memset(fast_, 0, sizeof fast_);
    for (unsigned l = 1; l <= kFastBits; ++l) {
      for (unsigned i = 0; i < count_[l]; ++i) {
        uint32_t code = first_[l] + i;
        uint32_t reversed = 0;  // the stream's first bit is the code's top bit, read from bit 0
        for (unsigned b = 0; b < l; ++b) reversed |= ((code >> b) & 1) << (l - 1 - b);
        uint16_t entry = static_cast<uint16_t>(l << 8 | sorted_[offset_[l] + i]);
        for (uint32_t fill = reversed; fill < (1u << kFastBits); fill += 1u << l) fast_[fill] = entry;
      }
    }
    return true;
  }

  uint16_t fast_[1u << kFastBits];  // by inverted stream bits: length << 8 | value, 0 = not a short code
  uint32_t count_[kMaxCodeBits + 1];
  uint32_t first_[kMaxCodeBits + 1];   // first inverted code of each length
  uint16_t offset_[kMaxCodeBits + 1];  // its value's position in sorted_
  uint8_t sorted_[256];                // values by (length, value)
};

}  // namespace

DecodeResult Explode(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize, bool window8k, bool threeTrees) {
  if (uncompressedSize == 0) return DecodeResult::Ok;  // nothing to produce, nothing to read
  TBitReader in(source);
  TShannonFano literals, lengths, distances;
  if (threeTrees && !literals.Read(in, 256)) return DecodeResult::DataError;
  if (!lengths.Read(in, 64) || !distances.Read(in, 64)) return DecodeResult::DataError;

  const unsigned lowDistanceBits = window8k ? 7 : 6;
  // The farthest match (a 6-bit code above 7 low bits) stays inside the ring.
  static_assert(((63u << 7) | 127u) + 1 <= TRingOutput::kRingSize);
  const unsigned minMatch = threeTrees ? 3 : 2;
  TRingOutput out(sink, uncompressedSize);
  while (!out.Done()) {
    if (in.Bits(1) != 0) {
      int literal = threeTrees ? literals.Decode(in) : static_cast<int>(in.Bits(8));
      if (literal < 0 || in.Overrun()) break;
      out.Put(static_cast<uint8_t>(literal));
    } else {
      unsigned low = in.Bits(lowDistanceBits);
      int high = distances.Decode(in);
      if (high < 0) break;
      int length = lengths.Decode(in);
      if (length < 0) break;
      if (length == 63) length += static_cast<int>(in.Bits(8));
      if (in.Overrun()) break;
      unsigned distance = (static_cast<unsigned>(high) << lowDistanceBits | low) + 1;
      out.Copy(distance, static_cast<unsigned>(length) + minMatch);
    }
    if (out.Failed()) return DecodeResult::WriteError;
  }
  return FinishOutput(out);
}

}  // namespace archive
