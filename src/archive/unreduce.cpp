// Methods 2 to 5, "Reducing" in PKWARE's APPNOTE (section 5.4): a byte stream
// coded with per-context follower sets, run through a small state machine that
// turns DLE (144) escapes into back references.
#include <cstring>

#include "archive/bit_reader.h"
#include "archive/decoder.h"
#include "archive/ring_output.h"

namespace archive {

namespace {

constexpr unsigned kDle = 144;
constexpr unsigned kMaxFollowers = 32;

// Bits needed to index a follower set of n entries: the width of n - 1, but at
// least one bit (n = 1 still spends a bit per index, as the encoders write it).
unsigned IndexBits(unsigned n) {
  unsigned bits = 1;
  while ((1u << bits) < n) ++bits;
  return bits;
}

}  // namespace

DecodeResult Unreduce(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize, int factor) {
  if (factor < 1 || factor > 4) return DecodeResult::DataError;
  if (uncompressedSize == 0) return DecodeResult::Ok;  // nothing to produce, nothing to read
  TBitReader in(source);

  // Follower sets, stored from byte 255 down to byte 0: a 6-bit count, then that
  // many 8-bit followers.
  struct TFollowers {
    uint8_t count;
    uint8_t bits;
    uint8_t bytes[kMaxFollowers];
  };
  static_assert(sizeof(TFollowers) == 2 + kMaxFollowers);
  TFollowers sets[256];
  for (int x = 255; x >= 0; --x) {
    TFollowers& set = sets[x];
    set.count = static_cast<uint8_t>(in.Bits(6));
    if (set.count > kMaxFollowers) return DecodeResult::DataError;
    set.bits = static_cast<uint8_t>(IndexBits(set.count));
    for (unsigned i = 0; i < set.count; ++i) set.bytes[i] = static_cast<uint8_t>(in.Bits(8));
  }
  if (in.Overrun()) return DecodeResult::DataError;

  // The factor selects how a length byte splits into length and distance bits.
  const unsigned lengthMask = 0x7Fu >> (factor - 1);  // 127, 63, 31, 15
  const unsigned distanceShift = 8 - factor;          // upper bits of the first byte
  // The farthest match (factor 4: four bits of the length byte and a whole byte)
  // stays inside the ring, which is the window.
  static_assert((((0xFFu >> 4) << 8) | 0xFFu) + 1 <= TRingOutput::kRingSize);

  TRingOutput out(sink, uncompressedSize);
  unsigned last = 0;  // the previous byte of the coded stream selects the follower set
  unsigned state = 0, v = 0, length = 0;
  while (!out.Done()) {
    const TFollowers& set = sets[last];
    unsigned c;
    if (set.count == 0 || in.Bits(1) != 0) {
      c = in.Bits(8);
    } else {
      unsigned index = in.Bits(set.bits);
      // An index past the set's end cannot come from an encoder.
      if (index >= set.count) return DecodeResult::DataError;
      c = set.bytes[index];
    }
    if (in.Overrun()) break;
    last = c;

    switch (state) {
      case 0:  // plain bytes until an escape
        if (c == kDle)
          state = 1;
        else
          out.Put(static_cast<uint8_t>(c));
        break;
      case 1:  // after DLE: 0 is a literal DLE, anything else starts a match
        if (c == 0) {
          out.Put(static_cast<uint8_t>(kDle));
          state = 0;
        } else {
          v = c;
          length = c & lengthMask;
          state = length == lengthMask ? 2 : 3;
        }
        break;
      case 2:  // the length continues in a whole byte
        length += c;
        state = 3;
        break;
      default: {  // distance low byte; the match is length + 3 bytes, distance + 1 back
        unsigned distance = ((v >> distanceShift) << 8) + c + 1;
        out.Copy(distance, length + 3);
        state = 0;
        break;
      }
    }
    if (out.Failed()) return DecodeResult::WriteError;
  }
  return FinishOutput(out);
}

}  // namespace archive
