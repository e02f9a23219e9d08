// Raw Deflate (RFC 1951) and Deflate64 (PKWARE's APPNOTE, method 9) in one
// inflater: Deflate64 only changes three parameters, the window (64 KB), length
// code 285 (base 3 with 16 extra bits instead of the fixed 258) and distance codes
// 30 and 31 (32769 and 49153, 14 extra bits each).
//
// Decoding is table driven. Each Huffman code gets a primary table indexed by the
// next few input bits; longer codes continue in subtables. While plenty of input is
// buffered and the output has room, a tight loop keeps the bit buffer in registers
// and decodes with no further bounds checks; near either end a careful
// symbol-at-a-time path with full checks takes over.
//
// Output goes into one buffer: the window (the last 32 or 64 KB, which matches may
// reach back into) followed by room for new output. When that room is used up it
// is written to the sink and the window slides to the front. Memory is that buffer,
// the tables and the input buffer, whatever the input.
#include <algorithm>
#include <cstring>
#include <memory>

#include "archive/bit_reader.h"
#include "archive/cpu_features.h"
#include "archive/decoder.h"

namespace archive {

namespace {

// Decode table entry, 32 bits:
//   bits 0-5   bits to consume: the code length plus the extra bits that follow it
//              (lengths and distances); for a subtable link, the primary bits; in
//              a subtable, lengths count beyond the primary bits
//   bits 8-11  the code length alone, so that the extra bits are the consumed
//              bits shifted down by it; for a subtable link, its index bits
//   bits 6, 7, 12, 13: flags below
//   bits 16-31 value: literal byte, length or distance base, or subtable offset
// A whole length or distance thus comes from one lookup, one mask and one shift.
constexpr uint32_t kSubtable = 1u << 6;
constexpr uint32_t kEndOfBlock = 1u << 7;
constexpr uint32_t kLiteral = 1u << 12;
constexpr uint32_t kInvalid = 1u << 13;

// A base entry: what BuildTable completes with the code length.
constexpr uint32_t Entry(uint32_t value, unsigned extra, uint32_t flags = 0) { return value << 16 | extra | flags; }
inline unsigned TotalBits(uint32_t e) { return e & 63; }
inline unsigned CodeBits(uint32_t e) { return (e >> 8) & 15; }
inline uint32_t Value(uint32_t e) { return e >> 16; }
// The value of a length or distance entry, given the bits it consumes. The shift
// may take bits 12 and 13 along (flags that such an entry never has): x86 masks a
// shift count to 6 bits anyway, so the mask costs nothing there.
inline uint32_t Decoded(uint32_t e, uint64_t bits) {
  return Value(e) + static_cast<uint32_t>((bits & ((uint64_t{1} << TotalBits(e)) - 1)) >> ((e >> 8) & 63));
}
#if defined(__x86_64__)
// The same with BMI2's bzhi, which reads only the low byte of its count: bits 6
// and 7 (flags) are clear in a length or distance entry. Written out because
// compilers do not find bzhi in the expression above; only the loop built for
// processors with BMI2 calls it.
inline uint32_t DecodedBmi2(uint32_t e, uint64_t bits) {
  uint64_t low;
  asm("bzhi %2, %1, %0" : "=r"(low) : "r"(bits), "r"(uint64_t{e}));
  return Value(e) + static_cast<uint32_t>(low >> ((e >> 8) & 63));
}
#endif

// Primary table sizes: 11 bits resolve nearly every literal/length code at once.
constexpr unsigned kLitBits = 11;
constexpr unsigned kDistBits = 8;
constexpr unsigned kPreBits = 7;  // code length codes are at most 7 bits: no subtables
// Table capacities. The codes are complete (the single-code case aside, which needs
// no subtable), so a subtable of s index bits holds at least s + 1 symbols: at most
// 2^s / (s + 1) entries per symbol, s <= 15 - primary bits.
constexpr unsigned kLitCapacity = (1u << kLitBits) + 288 * 16 / 5 + 1;
constexpr unsigned kDistCapacity = (1u << kDistBits) + 32 * 128 / 8;
constexpr unsigned kPreCapacity = 1u << kPreBits;

constexpr unsigned kMaxLitSymbols = 288;  // 286 usable; 286, 287 only in the fixed code
constexpr unsigned kMaxDistSymbols = 32;  // 30 in Deflate; 30 and 31 are Deflate64's
constexpr unsigned kMaxCodeLength = 15;

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
// Order in which the code length code lengths are sent (RFC 1951, 3.2.7).
constexpr uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// Room for new output after the window. Larger than the longest match (65538 in
// Deflate64) so that one slide always makes room for any match.
constexpr std::size_t kOutputRoom = 4 * kBlockSize;
// Slack after the buffer: the fast loop copies matches in blocks of 8 or 16 bytes,
// the first 32 bytes without a test, and may write up to 32 bytes past a match's
// end.
constexpr std::size_t kSlack = 64;
// The fast loop runs while this much input is buffered (it refills three times per
// symbol at most, each taking up to 7 bytes and reading 8) ...
constexpr std::size_t kFastInput = 32;
// ... and while this much output room is left (three literals per round).
constexpr std::size_t kFastOutput = 8;

// Copies a match to end in blocks of n bytes; each block reads only bytes already
// written, as dst - src >= n. Most matches are short: the first 32 bytes go
// without a test (the buffer's slack takes what lies past end).
template <std::size_t n>
[[gnu::always_inline]] inline void CopyBlocks(uint8_t* dst, const uint8_t* src, const uint8_t* end) {
  for (std::size_t k = 0; k < 32; k += n) std::memcpy(dst + k, src + k, n);
  for (dst += 32, src += 32; dst < end; dst += n, src += n) std::memcpy(dst, src, n);
}

// A base entry with its code length: the length is consumed before the extra bits.
constexpr uint32_t Complete(uint32_t base, unsigned len) { return base + len + (len << 8); }

// The bit-reversed code after this one of length len: Deflate sends codes most
// significant bit first into an LSB-first stream, so tables are indexed by the
// reversed code, incremented here in reversed form (one added at bit len-1,
// carried downwards).
inline unsigned NextCode(unsigned code, unsigned len) {
  unsigned bit = 1u << (len - 1);
  while (code & bit) bit >>= 1;
  return bit ? (code & (bit - 1)) | bit : 0;
}

// The codes longer than primaryBits, in subtables after the primary table, one per
// primary entry they share. sorted from i and code go on from the primary codes.
// False when the subtables would not fit (cannot happen for a complete code).
bool FillSubtables(uint32_t* table, unsigned primaryBits, unsigned capacity, const unsigned* count, unsigned maxLen,
                   const uint16_t* sorted, unsigned i, unsigned code, const uint32_t* base) {
  const unsigned primarySize = 1u << primaryBits;
  unsigned next = primarySize;       // where the next subtable goes
  unsigned subPrefix = primarySize;  // primary index of the current subtable (none yet)
  unsigned subStart = 0, subBits = 0;
  unsigned remaining[kMaxCodeLength + 1];
  std::memcpy(remaining, count, sizeof remaining);
  for (unsigned len = primaryBits + 1; len <= maxLen; ++len) {
    for (unsigned k = 0; k < count[len]; ++k, ++i) {
      unsigned prefix = code & (primarySize - 1);
      if (prefix != subPrefix) {
        // A new subtable: as many index bits as it takes for the codes that share
        // this prefix to fill it.
        subBits = len - primaryBits;
        int room = 1 << subBits;
        while (subBits + primaryBits < maxLen) {
          room -= static_cast<int>(remaining[subBits + primaryBits]);
          if (room <= 0) break;
          ++subBits;
          room <<= 1;
        }
        if (capacity - next < (1u << subBits)) return false;
        subPrefix = prefix;
        subStart = next;
        next += 1u << subBits;
        table[prefix] = Entry(subStart, primaryBits, kSubtable) | subBits << 8;
      }
      uint32_t entry = Complete(base[sorted[i]], len - primaryBits);
      for (unsigned at = code >> primaryBits; at < (1u << subBits); at += 1u << (len - primaryBits))
        table[subStart + at] = entry;
      --remaining[len];
      code = NextCode(code, len);
    }
  }
  return true;
}

// Builds a decode table from code lengths (RFC 1951, 3.2.2: canonical codes,
// shorter first, ties by symbol order). base[sym] is the entry for the symbol without
// its length. Rejects over-subscribed codes and incomplete ones, except that with
// allowSingle a code with a single 1-bit code (or none at all) passes, as zlib lets
// it: the unused half then decodes as invalid.
bool BuildTable(const uint8_t* lens, unsigned n, const uint32_t* base, unsigned primaryBits, uint32_t* table,
                unsigned capacity, bool allowSingle) {
  unsigned count[kMaxCodeLength + 1] = {};
  for (unsigned s = 0; s < n; ++s) ++count[lens[s]];
  count[0] = 0;
  int left = 1;
  unsigned used = 0, maxLen = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - static_cast<int>(count[len]);
    if (left < 0) return false;  // over-subscribed
    used += count[len];
    if (count[len]) maxLen = len;
  }
  const unsigned primarySize = 1u << primaryBits;
  if (left > 0) {
    if (!allowSingle || used > 1 || (used == 1 && count[1] != 1)) return false;  // incomplete
    // No code, or one 1-bit code ("0") whose other half stays invalid.
    unsigned sym = 0;
    while (used == 1 && lens[sym] == 0) ++sym;
    for (unsigned i = 0; i < primarySize; ++i) table[i] = (used == 1 && i % 2 == 0) ? Complete(base[sym], 1) : kInvalid;
    return true;
  }

  // Symbols sorted by code length, then by value: the canonical order.
  unsigned offset[kMaxCodeLength + 2] = {};
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) offset[len + 1] = offset[len] + count[len];
  uint16_t sorted[kMaxLitSymbols];
  for (unsigned s = 0; s < n; ++s)
    if (lens[s]) sorted[offset[lens[s]]++] = static_cast<uint16_t>(s);

  // The codes in canonical order. A code of length len fills every entry whose low
  // len bits match it: the primary table grows by doubling (copying itself) from
  // 2^(len-1) to 2^len entries before the codes of length len are written once
  // each, so the copies replicate the shorter codes.
  unsigned code = 0;
  unsigned i = 0;
  unsigned size = 1;
  for (unsigned len = 1; len <= primaryBits; ++len) {
    std::memcpy(table + size, table, size * sizeof *table);
    size *= 2;
    for (unsigned k = 0; k < count[len]; ++k, ++i) {
      table[code] = Complete(base[sorted[i]], len);
      code = NextCode(code, len);
    }
  }
  return FillSubtables(table, primaryBits, capacity, count, maxLen, sorted, i, code, base);
}

enum class Step { Continue, EndOfBlock, Done, DataError, WriteError, Match };

class TInflater {
 public:
  TInflater(TByteSource& source, TByteSink& sink, uint64_t size, bool deflate64)
      : fastLoop_(ChooseFastLoop(deflate64)),
        in_(source),
        sink_(sink, size),
        remaining_(size),
        deflate64_(deflate64),
        window_(deflate64 ? 65536 : 32768),
        capacity_(window_ + kOutputRoom),
        buffer_(new uint8_t[capacity_ + kSlack]) {
    for (unsigned s = 0; s < 256; ++s) litBase_[s] = Entry(s, 0, kLiteral);
    litBase_[256] = kEndOfBlock;
    for (unsigned s = 257; s < 286; ++s) litBase_[s] = Entry(kLengthBase[s - 257], kLengthExtra[s - 257]);
    if (deflate64) litBase_[285] = Entry(3, 16);
    litBase_[286] = litBase_[287] = kInvalid;
    for (unsigned s = 0; s < kMaxDistSymbols; ++s) distBase_[s] = Entry(kDistBase[s], kDistExtra[s]);
    if (!deflate64) distBase_[30] = distBase_[31] = kInvalid;
    for (unsigned s = 0; s < 19; ++s) preBase_[s] = Entry(s, 0);
  }

  DecodeResult Run() {
    Step step = Step::Continue;
    bool last = false;
    while (remaining_ > 0 && !last) {
      last = in_.Bits(1) != 0;
      unsigned type = in_.Bits(2);
      if (in_.Overrun()) return Finish(Step::DataError);
      if (type == 0) {
        step = StoredBlock();
      } else if (type == 1) {
        step = FixedTables() ? HuffmanBlock() : Step::DataError;
      } else if (type == 2) {
        step = DynamicTables() ? HuffmanBlock() : Step::DataError;
      } else {
        step = Step::DataError;  // block type 3 is reserved
      }
      if (step == Step::Done) break;
      if (step != Step::EndOfBlock && step != Step::Continue) return Finish(step);
    }
    // The stream must not end before the declared size.
    return Finish(remaining_ == 0 ? Step::Done : Step::DataError);
  }

 private:
  // Writes out what is pending; the first failure decides the result. After a
  // refused write nothing more is offered: the sink's refusal is final.
  DecodeResult Finish(Step step) {
    if (step == Step::WriteError || !Flush()) return DecodeResult::WriteError;
    return step == Step::Done ? DecodeResult::Ok : DecodeResult::DataError;
  }

  bool Flush() {
    LU_ASSERT(flushed_ <= pos_ && pos_ <= capacity_);
    while (flushed_ < pos_) {
      std::size_t n = std::min(pos_ - flushed_, kBlockSize);
      if (!sink_.Write(buffer_.get() + flushed_, n)) return false;
      flushed_ += n;
    }
    return true;
  }

  // Makes room for n (<= kOutputRoom) more bytes: writes out the buffer and keeps
  // only the window.
  bool MakeRoom(std::size_t n) {
    LU_ASSERT(n <= kOutputRoom);
    if (capacity_ - pos_ >= n) return true;
    if (!Flush()) return false;
    std::size_t keep = std::min(pos_, window_);
    std::memmove(buffer_.get(), buffer_.get() + pos_ - keep, keep);
    pos_ = flushed_ = keep;
    return true;
  }

  Step StoredBlock() {
    // RFC 1951, 3.2.4: byte aligned LEN, then NLEN = ~LEN, then LEN bytes.
    in_.AlignToByte();
    uint32_t len = in_.Bits(16);
    uint32_t nlen = in_.Bits(16);
    if (in_.Overrun() || len != (~nlen & 0xffff)) return Step::DataError;
    while (len > 0) {
      std::size_t want =
          static_cast<std::size_t>(std::min<uint64_t>(std::min<std::size_t>(len, kBlockSize), remaining_));
      if (!MakeRoom(want)) return Step::WriteError;
      std::size_t got = in_.ReadAlignedBytes(buffer_.get() + pos_, want);
      pos_ += got;
      remaining_ -= got;
      len -= static_cast<uint32_t>(got);
      if (got < want) return Step::DataError;
      if (remaining_ == 0) return Step::Done;
    }
    return Step::EndOfBlock;
  }

  bool FixedTables() {
    // RFC 1951, 3.2.6.
    if (fixedLoaded_) return true;
    uint8_t lens[kMaxLitSymbols + kMaxDistSymbols];
    std::memset(lens, 8, 144);
    std::memset(lens + 144, 9, 112);
    std::memset(lens + 256, 7, 24);
    std::memset(lens + 280, 8, 8);
    std::memset(lens + kMaxLitSymbols, 5, kMaxDistSymbols);
    if (!BuildTable(lens, kMaxLitSymbols, litBase_, kLitBits, litTable_, kLitCapacity, false) ||
        !BuildTable(lens + kMaxLitSymbols, kMaxDistSymbols, distBase_, kDistBits, distTable_, kDistCapacity, false))
      return false;
    fixedLoaded_ = true;
    return true;
  }

  bool DynamicTables() {
    // RFC 1951, 3.2.7: HLIT (5 bits) + 257 literal/length codes, HDIST (5 bits) + 1
    // distance codes, HCLEN (4 bits) + 4 code length code lengths of 3 bits each.
    fixedLoaded_ = false;
    unsigned nlit = in_.Bits(5) + 257;
    unsigned ndist = in_.Bits(5) + 1;
    unsigned npre = in_.Bits(4) + 4;
    if (nlit > 286 || ndist > (deflate64_ ? 32u : 30u)) return false;
    uint8_t preLens[19] = {};
    for (unsigned i = 0; i < npre; ++i) preLens[kPrecodeOrder[i]] = static_cast<uint8_t>(in_.Bits(3));
    if (in_.Overrun()) return false;
    if (!BuildTable(preLens, 19, preBase_, kPreBits, preTable_, kPreCapacity, false)) return false;

    // Literal/length and distance code lengths form one sequence; repeats may run
    // from one into the other.
    uint8_t lens[kMaxLitSymbols + kMaxDistSymbols];
    unsigned total = nlit + ndist;
    for (unsigned i = 0; i < total;) {
      uint32_t e = preTable_[in_.Peek(kPreBits)];
      in_.Consume(TotalBits(e));
      unsigned sym = Value(e);
      unsigned repeat = 1;
      uint8_t len = 0;
      if (sym < 16) {
        len = static_cast<uint8_t>(sym);
      } else if (sym == 16) {  // previous length 3-6 times (2 extra bits)
        if (i == 0) return false;
        len = lens[i - 1];
        repeat = 3 + in_.Bits(2);
      } else if (sym == 17) {  // 3-10 zeros (3 extra bits)
        repeat = 3 + in_.Bits(3);
      } else {  // 18: 11-138 zeros (7 extra bits)
        repeat = 11 + in_.Bits(7);
      }
      if (in_.Overrun() || total - i < repeat) return false;
      std::memset(lens + i, len, repeat);
      i += repeat;
    }
    if (lens[256] == 0) return false;  // no end-of-block code: the block could never end
    return BuildTable(lens, nlit, litBase_, kLitBits, litTable_, kLitCapacity, true) &&
           BuildTable(lens + nlit, ndist, distBase_, kDistBits, distTable_, kDistCapacity, true);
  }

  Step HuffmanBlock() {
    for (;;) {
      if (capacity_ - pos_ < kBlockSize && !MakeRoom(kOutputRoom)) return Step::WriteError;
      if (in_.Buffered() < kFastInput) in_.Prefetch(kBlockSize);
      if (in_.Buffered() >= kFastInput) {
        Step step = fastLoop_(*this);
        if (step == Step::Match) step = CopyMatch(matchLength_, matchDistance_);
        if (step != Step::Continue) return step;
        if (remaining_ == 0) return Step::Done;
      }
      Step step = SlowSymbol();
      if (step != Step::Continue) return step;
    }
  }

  // Decodes one code and its extra bits with the reader's own checks: value is
  // the entry's value plus the extra bits. False past the end of input.
  bool Decode(const uint32_t* table, unsigned primaryBits, uint32_t& e, uint32_t& value) {
    e = table[in_.Peek(primaryBits)];
    if (e & kSubtable) {
      in_.Consume(primaryBits);
      e = table[Value(e) + in_.Peek(CodeBits(e))];
    }
    value = Decoded(e, in_.Peek(TotalBits(e)));
    in_.Consume(TotalBits(e));
    return !in_.Overrun();
  }

  // One symbol, every bound checked: near the end of the input or of the output.
  Step SlowSymbol() {
    uint32_t e, length, distance;
    if (!Decode(litTable_, kLitBits, e, length)) return Step::DataError;
    if (e & kLiteral) {
      if (!MakeRoom(1)) return Step::WriteError;
      buffer_[pos_++] = static_cast<uint8_t>(Value(e));
      return --remaining_ == 0 ? Step::Done : Step::Continue;
    }
    if (e & kEndOfBlock) return Step::EndOfBlock;
    if (e & kInvalid) return Step::DataError;
    if (!Decode(distTable_, kDistBits, e, distance) || (e & kInvalid)) return Step::DataError;
    return CopyMatch(length, distance);
  }

  Step CopyMatch(uint32_t length, uint32_t distance) {
    // The buffer always holds min(output so far, window) bytes before pos_, and
    // no distance exceeds the window.
    if (distance > pos_) return Step::DataError;
    if (length > remaining_) length = static_cast<uint32_t>(remaining_);
    if (!MakeRoom(length)) return Step::WriteError;
    LU_ASSERT(capacity_ - pos_ >= length && length <= remaining_);
    uint8_t* out = buffer_.get() + pos_;
    const uint8_t* src = out - distance;
    for (uint32_t k = 0; k < length; ++k) out[k] = src[k];  // overlapping: byte by byte
    pos_ += length;
    remaining_ -= length;
    return remaining_ == 0 ? Step::Done : Step::Continue;
  }

  // The hot loop. Runs while at least kFastInput bytes are buffered and kFastOutput
  // bytes of output room are left, so inside it neither needs checking per bit or
  // per literal; a match longer than the room left is handed to CopyMatch.
  //
  // Bit budget: a refill leaves at least 56 bits. A literal entry takes at most
  // kLitBits of them (longer literals go through a subtable), a length with its
  // extra bits at most 15 + 5 (15 + 16 in Deflate64), a distance 15 + 14. Up to
  // three literals and one entry of any kind fit between refills; a refill comes
  // between a length and its distance and another after the distance. The lookup
  // after a refill takes its index from the bits before it, of which at least 14
  // remain after two literals and a length (the distance table needs 8), 23 after
  // three literals and 27 after a distance (the literal table needs 11). Only
  // Deflate64's long lengths after two literals leave fewer: there the literal
  // path refills once more.
  template <bool kBmi2, bool kDeflate64>
  [[gnu::always_inline]] inline Step FastLoop() {
    TBitReader::TState state = in_.Save();
    uint64_t bits = state.bits;
    unsigned count = state.count;
    const uint8_t* in = state.next;
    const uint8_t* const inEnd = in + in_.Buffered() - kFastInput;
    uint8_t* const start = buffer_.get();
    uint8_t* out = start + pos_;
    uint8_t* const outBegin = out;
    uint8_t* const outEnd = start + pos_ + static_cast<std::size_t>(std::min<uint64_t>(capacity_ - pos_, remaining_));
    const uint32_t* const lit = litTable_;
    const uint32_t* const dist = distTable_;
    constexpr uint64_t litMask = (1u << kLitBits) - 1;
    constexpr uint64_t distMask = (1u << kDistBits) - 1;
    Step step = Step::Continue;

    // Only the low 6 bits of count are kept up to date: consuming subtracts a whole
    // entry, whose higher bits then run into count's higher bits unseen (saving
    // a mask per symbol); every use of count masks it.
    auto refill = [&]() __attribute__((always_inline)) {
      bits |= TBitReader::Load64(in) << (count & 63);
      in += (~count & 63) >> 3;
      count |= 56;
    };
    auto consume = [&](uint32_t e) __attribute__((always_inline)) {
      bits >>= e & 63;
      count -= e;
    };
    auto decoded = [&](uint32_t e, uint64_t from) __attribute__((always_inline)) {
#if defined(__x86_64__)
      if constexpr (kBmi2) return DecodedBmi2(e, from);
#endif
      return Decoded(e, from);
    };

    // Each entry is consumed as soon as it is loaded, before its kind is known;
    // saved keeps the bits it was read from, for the extra bits of a length or
    // distance. The next lookup thus waits for nothing but the load.
    uint64_t saved;
    auto next = [&](const uint32_t* table, uint64_t index) __attribute__((always_inline)) {
      uint32_t e = table[index];
      saved = bits;
      consume(e);
      return e;
    };
    // A refill leaves the low bits as they were. Where enough of them remain for
    // the next table index, the lookup takes them from before the refill and so
    // need not wait for it.
    auto refillThenNext = [&](const uint32_t* table, uint64_t mask) __attribute__((always_inline)) {
      uint64_t before = bits;
      refill();
      return next(table, before & mask);
    };
    refill();
    uint32_t e = next(lit, bits & litMask);
    for (;;) {
      if (in >= inEnd || outEnd - out <= static_cast<std::ptrdiff_t>(kFastOutput)) {
        bits = saved;  // e stays for the careful path
        count += e;
        break;
      }
      if (e & kLiteral) {
        *out++ = static_cast<uint8_t>(Value(e));
        e = next(lit, bits & litMask);
        if (e & kLiteral) {
          *out++ = static_cast<uint8_t>(Value(e));
          e = next(lit, bits & litMask);
          if (e & kLiteral) {
            *out++ = static_cast<uint8_t>(Value(e));
            e = refillThenNext(lit, litMask);
            continue;
          }
        }
        // Deflate64's longest lengths leave too few bits for the lookup below.
        if constexpr (kDeflate64) refill();
      }
      if (e & (kSubtable | kEndOfBlock | kInvalid)) {
        if (e & kSubtable) {
          e = next(lit, Value(e) + (bits & ((1u << CodeBits(e)) - 1)));
          if (e & kLiteral) {
            *out++ = static_cast<uint8_t>(Value(e));
            e = refillThenNext(lit, litMask);
            continue;
          }
        }
        if (e & (kEndOfBlock | kInvalid)) {
          step = (e & kEndOfBlock) ? Step::EndOfBlock : Step::DataError;
          break;
        }
      }
      uint32_t length = decoded(e, saved);
      e = refillThenNext(dist, distMask);
      if (e & (kSubtable | kInvalid)) {
        if (e & kSubtable) e = next(dist, Value(e) + (bits & ((1u << CodeBits(e)) - 1)));
        if (e & kInvalid) {
          step = Step::DataError;
          break;
        }
      }
      uint32_t distance = decoded(e, saved);
      if (distance > static_cast<std::size_t>(out - start)) {
        step = Step::DataError;
        break;
      }
      if (length > static_cast<std::size_t>(outEnd - out)) {
        matchLength_ = length;
        matchDistance_ = distance;
        step = Step::Match;
        break;
      }
      // The next entry is looked up before the copy, so that its load overlaps it.
      e = refillThenNext(lit, litMask);
      uint8_t* dst = out;
      const uint8_t* src = out - distance;
      out += length;
      if (distance < 8) {
        if (distance == 1) {
          uint64_t run = 0x0101010101010101ull * *src;
          do {
            std::memcpy(dst, &run, 8);
            dst += 8;
          } while (dst < out);
          continue;
        }
        // Until the pattern spans a word, each copy doubles what lies between src
        // and dst; that stays a whole number of periods, so words can follow.
        do {
          std::memcpy(dst, src, 8);
          dst += dst - src;
        } while (dst - src < 8);
        if (dst >= out) continue;
      }
      // From a distance of 32 no load of the first 32 bytes overlaps a store
      // among them, so these go in 16-byte blocks without a test. Nearer, a load
      // that overlaps a store still in flight waits for it, so only the 8-byte
      // words the match needs are copied.
      if (dst - src >= 32) {
        CopyBlocks<16>(dst, src, out);
      } else {
        do {
          std::memcpy(dst, src, 8);
          dst += 8;
          src += 8;
        } while (dst < out);
      }
    }

    // Neither past the room nor past the declared size.
    LU_ASSERT(out <= outEnd);
    in_.Restore(TBitReader::TState{bits, count & 63, in});
    pos_ = static_cast<std::size_t>(out - start);
    remaining_ -= static_cast<std::size_t>(out - outBegin);
    return step;
  }

  // The loop is compiled for each parameter set and twice more: where the
  // processor has BMI2, its shifts and masks by a variable count take one
  // instruction each.
  template <bool kDeflate64>
  static Step FastLoopPlain(TInflater& self) {
    return self.FastLoop<false, kDeflate64>();
  }
#if defined(__x86_64__) || defined(__i386__)
  template <bool kDeflate64>
  [[gnu::target("bmi2")]] static Step FastLoopBmi2(TInflater& self) {
    return self.FastLoop<true, kDeflate64>();
  }
  static Step (*ChooseFastLoop(bool deflate64))(TInflater&) {
    if (CpuFeatures().bmi2) return deflate64 ? FastLoopBmi2<true> : FastLoopBmi2<false>;
    return deflate64 ? FastLoopPlain<true> : FastLoopPlain<false>;
  }
#else
  static Step (*ChooseFastLoop(bool deflate64))(TInflater&) {
    return deflate64 ? FastLoopPlain<true> : FastLoopPlain<false>;
  }
#endif

  Step (*const fastLoop_)(TInflater&);
  TBitReader in_;
  TDeclaredSink sink_;
  uint64_t remaining_;  // bytes still to produce
  const bool deflate64_;
  const std::size_t window_;
  const std::size_t capacity_;  // window + room for new output
  std::unique_ptr<uint8_t[]> buffer_;
  std::size_t pos_ = 0;       // end of the output in buffer_
  std::size_t flushed_ = 0;   // end of what the sink has
  bool fixedLoaded_ = false;  // the tables hold the fixed codes
  uint32_t matchLength_ = 0, matchDistance_ = 0;
  uint32_t litBase_[kMaxLitSymbols];
  uint32_t distBase_[kMaxDistSymbols];
  uint32_t preBase_[19];
  // Zeroed once: building a table copies parts of it before all are written.
  uint32_t litTable_[kLitCapacity] = {};
  uint32_t distTable_[kDistCapacity] = {};
  uint32_t preTable_[kPreCapacity] = {};
};

}  // namespace

DecodeResult Inflate(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize, bool deflate64) {
  if (uncompressedSize == 0) return DecodeResult::Ok;
  auto inflater = std::make_unique<TInflater>(source, sink, uncompressedSize, deflate64);
  return inflater->Run();
}

}  // namespace archive
