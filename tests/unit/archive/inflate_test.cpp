#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/cpu_features.h"
#include "archive/crc32.h"
#include "archive/decoder.h"
#include "unit/archive/raw_zip.h"

namespace {

using archive::DecodeResult;
using archive::Inflate;
using Bytes = std::vector<uint8_t>;

using testzip::TChunkedSource;
using testzip::TCollectSink;

struct TDecoded {
  DecodeResult result;
  Bytes bytes;
};

TDecoded Decode(const Bytes& stream, uint64_t size, bool deflate64, std::size_t chunk = SIZE_MAX) {
  TChunkedSource source(stream, chunk);
  TCollectSink sink;
  DecodeResult r = Inflate(source, sink, size, deflate64);
  EXPECT_EQ(sink.emptyWrites, 0);
  EXPECT_LE(sink.maxBlock, archive::kBlockSize);
  return {r, sink.bytes};
}

bool IsPrefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// ---------------------------------------------------------------------------
// A test-only Deflate writer, to build exact streams (RFC 1951): hand-made
// invalid ones and random valid ones with every feature, Deflate64's included.

class TBitWriter {
 public:
  // Values go least significant bit first.
  void Put(uint32_t value, unsigned n) {
    for (unsigned i = 0; i < n; ++i) Bit((value >> i) & 1);
  }
  // Huffman codes go most significant bit first.
  void Code(uint32_t code, unsigned len) {
    for (unsigned i = len; i-- > 0;) Bit((code >> i) & 1);
  }
  void Align() {
    while (bits_ % 8) Bit(0);
  }
  void Byte(uint8_t b) {
    Align();
    bytes_.push_back(b);
    bits_ += 8;
  }
  Bytes Finish() {
    Align();
    return bytes_;
  }

 private:
  void Bit(unsigned b) {
    if (bits_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() |= static_cast<uint8_t>(b << (bits_ % 8));
    ++bits_;
  }
  Bytes bytes_;
  std::size_t bits_ = 0;
};

// Canonical codes for a set of lengths (RFC 1951, 3.2.2).
std::vector<uint32_t> CanonicalCodes(const std::vector<uint8_t>& lens) {
  unsigned count[16] = {}, next[16] = {};
  for (uint8_t l : lens) ++count[l];
  count[0] = 0;
  for (unsigned len = 1, code = 0; len < 16; ++len) {
    code = (code + count[len - 1]) << 1;
    next[len] = code;
  }
  std::vector<uint32_t> codes(lens.size());
  for (std::size_t s = 0; s < lens.size(); ++s)
    if (lens[s]) codes[s] = next[lens[s]]++;
  return codes;
}

struct THuffman {
  std::vector<uint8_t> lens;
  std::vector<uint32_t> codes;
  void Write(TBitWriter& w, unsigned sym) const {
    EXPECT_NE(lens.at(sym), 0) << "symbol " << sym << " has no code";
    w.Code(codes[sym], lens[sym]);
  }
};

THuffman MakeHuffman(std::vector<uint8_t> lens) {
  THuffman h;
  h.codes = CanonicalCodes(lens);
  h.lens = std::move(lens);
  return h;
}

THuffman FixedLitLen() {
  std::vector<uint8_t> lens(288, 8);
  std::fill(lens.begin() + 144, lens.begin() + 256, 9);
  std::fill(lens.begin() + 256, lens.begin() + 280, 7);
  return MakeHuffman(lens);
}
THuffman FixedDist() { return MakeHuffman(std::vector<uint8_t>(32, 5)); }

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint32_t kDistBase[32] = {1,    2,    3,    4,    5,    7,     9,     13,    17,    25,   33,
                                    49,   65,   97,   129,  193,  257,   385,   513,   769,   1025, 1537,
                                    2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577, 32769, 49153};
constexpr uint8_t kDistExtra[32] = {0, 0, 0, 0, 1, 1, 2,  2,  3,  3,  4,  4,  5,  5,  6,  6,
                                    7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13, 14, 14};
constexpr uint8_t kPrecodeOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// One LZ77 step: a literal (distance 0) or a match.
struct TOp {
  uint32_t value;        // literal byte or match length
  uint32_t distance;     // 0 for a literal
  bool long285 = false;  // Deflate64: send the length with code 285 (3 + 16 bits)
};

struct TLengthCode {
  unsigned sym, extraBits;
  uint32_t extra;
};
TLengthCode LengthCode(uint32_t length, bool deflate64, bool long285) {
  if (deflate64 && (long285 || length > 257)) return {285, 16, length - 3};
  if (!deflate64 && length == 258) return {285, 0, 0};
  unsigned i = 27;
  while (kLengthBase[i] > length) --i;
  return {257 + i, kLengthExtra[i], length - kLengthBase[i]};
}
unsigned DistanceCode(uint32_t distance) {
  unsigned i = 31;
  while (kDistBase[i] > distance) --i;
  return i;
}

void WriteOps(TBitWriter& w, const std::vector<TOp>& ops, const THuffman& lit, const THuffman& dist, bool deflate64) {
  for (const TOp& op : ops) {
    if (op.distance == 0) {
      lit.Write(w, op.value);
      continue;
    }
    TLengthCode lc = LengthCode(op.value, deflate64, op.long285);
    lit.Write(w, lc.sym);
    w.Put(lc.extra, lc.extraBits);
    unsigned d = DistanceCode(op.distance);
    dist.Write(w, d);
    w.Put(op.distance - kDistBase[d], kDistExtra[d]);
  }
  lit.Write(w, 256);
}

// Random complete prefix code lengths for k symbols, none longer than maxLen:
// start from one leaf and split random leaves (often the deepest, to get long codes).
std::vector<uint8_t> RandomCompleteLengths(std::mt19937& rng, unsigned k, unsigned maxLen) {
  std::vector<uint8_t> depths{0};
  while (depths.size() < k) {
    std::size_t pick = rng() % depths.size();
    if (rng() % 2) pick = std::max_element(depths.begin(), depths.end()) - depths.begin();
    if (depths[pick] >= maxLen) {
      pick = std::min_element(depths.begin(), depths.end()) - depths.begin();
    }
    uint8_t d = static_cast<uint8_t>(depths[pick] + 1);
    depths[pick] = d;
    depths.push_back(d);
  }
  std::shuffle(depths.begin(), depths.end(), rng);
  return depths;
}

// A code over exactly the symbols marked used: complete for two or more, the
// lone 1-bit code for one, no code for none.
std::vector<uint8_t> RandomCodeFor(std::mt19937& rng, const std::vector<bool>& used, unsigned maxLen) {
  std::vector<unsigned> symbols;
  for (unsigned s = 0; s < used.size(); ++s)
    if (used[s]) symbols.push_back(s);
  std::vector<uint8_t> lens(used.size(), 0);
  if (symbols.size() == 1) {
    lens[symbols[0]] = 1;
  } else if (symbols.size() > 1) {
    std::vector<uint8_t> l = RandomCompleteLengths(rng, static_cast<unsigned>(symbols.size()), maxLen);
    for (std::size_t i = 0; i < symbols.size(); ++i) lens[symbols[i]] = l[i];
  }
  return lens;
}

// Dynamic block header (RFC 1951, 3.2.7) with run-length coded lengths, then the ops.
void WriteDynamicBlock(TBitWriter& w, std::mt19937& rng, const std::vector<TOp>& ops, bool deflate64) {
  std::vector<bool> litUsed(286, false), distUsed(deflate64 ? 32 : 30, false);
  litUsed[256] = true;
  for (const TOp& op : ops) {
    if (op.distance == 0) {
      litUsed[op.value] = true;
    } else {
      litUsed[LengthCode(op.value, deflate64, op.long285).sym] = true;
      distUsed[DistanceCode(op.distance)] = true;
    }
  }
  // Now and then code symbols that are not used as well.
  if (rng() % 3 == 0)
    for (unsigned s = 0; s < litUsed.size(); ++s) litUsed[s] = litUsed[s] || rng() % 4 == 0;
  THuffman lit = MakeHuffman(RandomCodeFor(rng, litUsed, 15));
  THuffman dist = MakeHuffman(RandomCodeFor(rng, distUsed, 15));
  unsigned nlit = 286, ndist = static_cast<unsigned>(dist.lens.size());
  while (nlit > 257 && lit.lens[nlit - 1] == 0) --nlit;
  while (ndist > 1 && dist.lens[ndist - 1] == 0) --ndist;

  std::vector<uint8_t> seq(lit.lens.begin(), lit.lens.begin() + nlit);
  seq.insert(seq.end(), dist.lens.begin(), dist.lens.begin() + ndist);
  struct TRun {
    unsigned sym, extra, extraBits;
  };
  std::vector<TRun> runs;
  for (std::size_t i = 0; i < seq.size();) {
    std::size_t j = i;
    while (j < seq.size() && seq[j] == seq[i]) ++j;
    std::size_t n = j - i;
    if (seq[i] == 0 && n >= 11 && rng() % 4) {
      n = std::min<std::size_t>(n, 11 + rng() % 128);
      runs.push_back({18, static_cast<unsigned>(n - 11), 7});
    } else if (seq[i] == 0 && n >= 3 && rng() % 4) {
      n = std::min<std::size_t>(n, 3 + rng() % 8);
      runs.push_back({17, static_cast<unsigned>(n - 3), 3});
    } else if (i > 0 && seq[i - 1] == seq[i] && n >= 3 && rng() % 4) {
      n = std::min<std::size_t>(n, 3 + rng() % 4);
      runs.push_back({16, static_cast<unsigned>(n - 3), 2});
    } else {
      n = 1;
      runs.push_back({seq[i], 0, 0});
    }
    i += n;
  }
  std::vector<bool> preUsed(19, false);
  for (const TRun& r : runs) preUsed[r.sym] = true;
  while (std::count(preUsed.begin(), preUsed.end(), true) < 2) preUsed[rng() % 19] = true;
  THuffman pre = MakeHuffman(RandomCodeFor(rng, preUsed, 7));
  unsigned npre = 19;
  while (npre > 4 && pre.lens[kPrecodeOrder[npre - 1]] == 0) --npre;

  w.Put(2, 2);           // BTYPE: dynamic
  w.Put(nlit - 257, 5);  // HLIT
  w.Put(ndist - 1, 5);   // HDIST
  w.Put(npre - 4, 4);    // HCLEN
  for (unsigned i = 0; i < npre; ++i) w.Put(pre.lens[kPrecodeOrder[i]], 3);
  for (const TRun& r : runs) {
    pre.Write(w, r.sym);
    w.Put(r.extra, r.extraBits);
  }
  WriteOps(w, ops, lit, dist, deflate64);
}

// Random ops that continue `out` (and append their output to it).
std::vector<TOp> RandomOps(std::mt19937& rng, Bytes& out, std::size_t produce, bool deflate64) {
  const uint32_t window = deflate64 ? 65536 : 32768;
  const uint32_t maxLength = deflate64 ? 65538 : 258;
  std::vector<TOp> ops;
  const std::size_t goal = out.size() + produce;
  const unsigned alphabet = 1 + rng() % 256;
  while (out.size() < goal) {
    if (out.empty() || rng() % 3 == 0) {
      uint8_t b = static_cast<uint8_t>(rng() % alphabet);
      ops.push_back({b, 0});
      out.push_back(b);
      continue;
    }
    uint32_t have = static_cast<uint32_t>(std::min<std::size_t>(out.size(), window));
    uint32_t distance;
    switch (rng() % 6) {
      case 0: distance = 1 + rng() % std::min<uint32_t>(have, 8); break;  // overlapping
      case 1: distance = have; break;                                     // as far as allowed
      case 2: distance = have - rng() % std::min<uint32_t>(have, 300); break;
      default: distance = 1 + rng() % have;
    }
    uint32_t length;
    switch (rng() % 8) {
      case 0: length = maxLength; break;
      case 1: length = 3 + rng() % (maxLength - 2); break;
      case 2: length = 200 + rng() % 59; break;
      default: length = 3 + rng() % 30;
    }
    TOp op{length, distance};
    op.long285 = deflate64 && rng() % 10 == 0;
    ops.push_back(op);
    for (uint32_t k = 0; k < length; ++k) out.push_back(out[out.size() - distance]);
  }
  return ops;
}

// A random multi-block stream of every block type; `out` receives what it decodes to.
// Blocks produce up to blockSize bytes, now and then twenty times as many.
Bytes RandomStream(std::mt19937& rng, Bytes& out, bool deflate64, std::size_t approxSize,
                   std::size_t blockSize = 5000) {
  TBitWriter w;
  static const THuffman fixedLit = FixedLitLen(), fixedDist = FixedDist();
  bool last = false;
  while (!last) {
    last = out.size() >= approxSize;
    w.Put(last ? 1 : 0, 1);  // BFINAL
    std::size_t produce = 1 + rng() % (rng() % 4 == 0 ? 20 * blockSize : blockSize);
    switch (rng() % 5) {
      case 0: {  // stored
        w.Put(0, 2);
        uint16_t len = static_cast<uint16_t>(std::min<std::size_t>(produce, 65535));
        if (rng() % 8 == 0) len = 0;
        w.Align();
        w.Put(len, 16);            // LEN
        w.Put(~len & 0xffff, 16);  // NLEN
        for (unsigned i = 0; i < len; ++i) {
          uint8_t b = static_cast<uint8_t>(rng());
          w.Byte(b);
          out.push_back(b);
        }
        break;
      }
      case 1: {  // fixed codes
        w.Put(1, 2);
        std::vector<TOp> ops = RandomOps(rng, out, produce, deflate64);
        WriteOps(w, ops, fixedLit, fixedDist, deflate64);
        break;
      }
      default: {  // dynamic codes, sometimes a nearly empty block
        std::vector<TOp> ops = RandomOps(rng, out, rng() % 10 == 0 ? 1 : produce, deflate64);
        WriteDynamicBlock(w, rng, ops, deflate64);
      }
    }
  }
  return w.Finish();
}

// ---------------------------------------------------------------------------
// Random streams of every shape.

TEST(Inflate, RandomStreamsRoundTrip) {
  for (bool deflate64 : {false, true}) {
    std::mt19937 rng(deflate64 ? 6464 : 1951);
    for (int round = 0; round < 25; ++round) {
      Bytes expected;
      Bytes stream = RandomStream(rng, expected, deflate64, rng() % 2 ? 5000 : 400000);
      SCOPED_TRACE(testing::Message() << "deflate64 " << deflate64 << " round " << round << " size "
                                      << expected.size());
      TDecoded whole = Decode(stream, expected.size(), deflate64);
      ASSERT_EQ(whole.result, DecodeResult::Ok);
      ASSERT_TRUE(whole.bytes == expected);
      // Input arriving in odd pieces.
      TDecoded pieces = Decode(stream, expected.size(), deflate64, 1 + rng() % 700);
      ASSERT_EQ(pieces.result, DecodeResult::Ok);
      ASSERT_TRUE(pieces.bytes == expected);
      // A declared size below the stream's output stops there, anywhere.
      std::size_t cut = rng() % expected.size();
      TDecoded shorter = Decode(stream, cut, deflate64);
      ASSERT_EQ(shorter.result, DecodeResult::Ok);
      ASSERT_EQ(shorter.bytes.size(), cut);
      ASSERT_TRUE(IsPrefix(shorter.bytes, expected));
      // A declared size beyond it: the stream ends too early.
      TDecoded longer = Decode(stream, expected.size() + 1, deflate64);
      ASSERT_EQ(longer.result, DecodeResult::DataError);
      ASSERT_TRUE(longer.bytes == expected);
    }
  }
}

TEST(Inflate, ByteByByteInput) {
  std::mt19937 rng(42);
  for (bool deflate64 : {false, true}) {
    Bytes expected;
    Bytes stream = RandomStream(rng, expected, deflate64, 70000);
    TDecoded d = Decode(stream, expected.size(), deflate64, 1);
    ASSERT_EQ(d.result, DecodeResult::Ok);
    ASSERT_GE(expected.size(), 70000u);
    EXPECT_TRUE(d.bytes == expected);
  }
}

// ---------------------------------------------------------------------------
// Hand-built streams.

// BFINAL and BTYPE of a block header.
void Header(TBitWriter& w, bool last, unsigned type) {
  w.Put(last ? 1 : 0, 1);  // BFINAL
  w.Put(type, 2);          // BTYPE: 0 stored, 1 fixed, 2 dynamic, 3 reserved
}

TEST(Inflate, ReservedBlockTypeIsAnError) {
  TBitWriter w;
  Header(w, true, 3);  // BTYPE 3: reserved
  for (bool deflate64 : {false, true}) EXPECT_EQ(Decode(w.Finish(), 10, deflate64).result, DecodeResult::DataError);
  // The same after a good block: what was decoded stays.
  TBitWriter w2;
  Header(w2, false, 0);
  w2.Align();
  w2.Put(2, 16);       // LEN
  w2.Put(0xfffd, 16);  // NLEN
  w2.Byte('o');
  w2.Byte('k');
  Header(w2, true, 3);  // reserved
  TDecoded d = Decode(w2.Finish(), 10, false);
  EXPECT_EQ(d.result, DecodeResult::DataError);
  EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "ok");
}

TEST(Inflate, StoredBlocks) {
  auto stored = [](uint16_t len, uint16_t nlen, const std::string& data) {
    TBitWriter w;
    Header(w, true, 0);
    w.Align();        // stored data starts on a byte boundary
    w.Put(len, 16);   // LEN
    w.Put(nlen, 16);  // NLEN, one's complement of LEN
    for (char c : data) w.Byte(static_cast<uint8_t>(c));
    return w.Finish();
  };
  TDecoded good = Decode(stored(5, 0xfffa, "hello"), 5, false);
  EXPECT_EQ(good.result, DecodeResult::Ok);
  EXPECT_EQ(std::string(good.bytes.begin(), good.bytes.end()), "hello");
  EXPECT_EQ(Decode(stored(5, 0x0000, "hello"), 5, false).result, DecodeResult::DataError);  // NLEN != ~LEN
  EXPECT_EQ(Decode(stored(5, 0xfffb, "hello"), 5, true).result, DecodeResult::DataError);   // off by one
  EXPECT_EQ(Decode(stored(6, 0xfff9, "hello"), 6, false).result, DecodeResult::DataError);  // data ends early
  // An empty stored block, then the declared size is not reached.
  EXPECT_EQ(Decode(stored(0, 0xffff, ""), 1, false).result, DecodeResult::DataError);
}

// Fixed-code helpers: literal, match (length, distance) and end of block.
struct TFixedWriter {
  TBitWriter w;
  THuffman lit = FixedLitLen(), dist = FixedDist();
  bool deflate64;
  explicit TFixedWriter(bool d64, bool last = true) : deflate64(d64) { Header(w, last, 1); }
  void Literal(uint8_t b) { lit.Write(w, b); }
  void Match(uint32_t length, uint32_t distance) {
    TLengthCode lc = LengthCode(length, deflate64, false);
    lit.Write(w, lc.sym);
    w.Put(lc.extra, lc.extraBits);
    unsigned d = DistanceCode(distance);
    dist.Write(w, d);
    w.Put(distance - kDistBase[d], kDistExtra[d]);
  }
  Bytes End() {
    lit.Write(w, 256);
    return w.Finish();
  }
};

TEST(Inflate, DistanceBeforeTheStartIsAnError) {
  for (bool deflate64 : {false, true}) {
    // Careful path (short stream): one byte of output, then a distance of 2.
    TFixedWriter a(deflate64);
    a.Literal('x');
    a.Match(3, 2);
    EXPECT_EQ(Decode(a.End(), 4, deflate64).result, DecodeResult::DataError);
    // Exactly back to the start is fine.
    TFixedWriter b(deflate64);
    b.Literal('x');
    b.Literal('y');
    b.Match(5, 2);
    TDecoded ok = Decode(b.End(), 7, deflate64);
    EXPECT_EQ(ok.result, DecodeResult::Ok);
    EXPECT_EQ(std::string(ok.bytes.begin(), ok.bytes.end()), "xyxyxyx");
    // Fast path (plenty of input): 300 literals, then 301 back.
    for (uint32_t distance : {300u, 301u}) {
      TFixedWriter c(deflate64);
      for (int i = 0; i < 300; ++i) c.Literal(static_cast<uint8_t>(i * 7));
      c.Match(10, distance);
      for (int i = 0; i < 100; ++i) c.Literal('z');
      TDecoded d = Decode(c.End(), 410, deflate64);
      EXPECT_EQ(d.result, distance == 300 ? DecodeResult::Ok : DecodeResult::DataError) << distance;
      EXPECT_GE(d.bytes.size(), 300u);
    }
  }
}

TEST(Inflate, DistanceCodes30And31OnlyInDeflate64) {
  std::mt19937 rng(3031);
  for (unsigned code : {30u, 31u}) {
    // 50000 stored bytes of history, then a fixed block whose match uses the code.
    Bytes history(50000);
    for (auto& b : history) b = static_cast<uint8_t>(rng());
    auto build = [&] {
      TBitWriter w;
      Header(w, false, 0);
      w.Align();
      w.Put(50000, 16);             // LEN
      w.Put(~50000u & 0xffff, 16);  // NLEN
      for (uint8_t b : history) w.Byte(b);
      Header(w, true, 1);
      THuffman lit = FixedLitLen(), dist = FixedDist();
      lit.Write(w, 257);    // length 3
      dist.Write(w, code);  // distance code 30 or 31 ...
      w.Put(5, 14);         // ... with 14 extra bits: base + 5
      lit.Write(w, 256);
      return w.Finish();
    };
    uint32_t distance = kDistBase[code] + 5;
    TDecoded d64 = Decode(build(), 50003, true);
    ASSERT_EQ(d64.result, DecodeResult::Ok) << code;
    Bytes expected = history;
    for (int k = 0; k < 3; ++k) expected.push_back(expected[expected.size() - distance]);
    EXPECT_TRUE(d64.bytes == expected);
    TDecoded d = Decode(build(), 50003, false);
    EXPECT_EQ(d.result, DecodeResult::DataError) << code;
    EXPECT_TRUE(d.bytes == history);
  }
  // A dynamic header declaring 31 or 32 distance codes: Deflate only has 30.
  for (unsigned ndist : {31u, 32u}) {
    TBitWriter w;
    Header(w, true, 2);
    w.Put(0, 5);          // HLIT: 257
    w.Put(ndist - 1, 5);  // HDIST
    w.Put(0, 4);          // HCLEN: 4 (the rest of the header does not matter)
    w.Put(0, 32);
    EXPECT_EQ(Decode(w.Finish(), 10, false).result, DecodeResult::DataError) << ndist;
  }
}

TEST(Inflate, LengthCode285InBothModes) {
  // Deflate: code 285 is length 258, no extra bits.
  TBitWriter a;
  THuffman lit = FixedLitLen(), dist = FixedDist();
  Header(a, true, 1);
  lit.Write(a, 'q');
  lit.Write(a, 285);  // length 258
  dist.Write(a, 0);   // distance 1
  lit.Write(a, 256);
  TDecoded d = Decode(a.Finish(), 259, false);
  EXPECT_EQ(d.result, DecodeResult::Ok);
  EXPECT_TRUE(d.bytes == Bytes(259, 'q'));

  // Deflate64: code 285 is 3 plus 16 extra bits, up to 65538.
  for (uint32_t extra : {0u, 255u, 1000u, 65535u}) {
    TBitWriter b;
    Header(b, true, 1);
    lit.Write(b, 'q');
    lit.Write(b, 'r');
    lit.Write(b, 285);  // length ...
    b.Put(extra, 16);   // ... 3 + extra
    dist.Write(b, 1);   // distance 2
    lit.Write(b, 256);
    Bytes expected{'q', 'r'};
    for (uint32_t k = 0; k < 3 + extra; ++k) expected.push_back(expected[expected.size() - 2]);
    TDecoded e = Decode(b.Finish(), expected.size(), true);
    EXPECT_EQ(e.result, DecodeResult::Ok) << extra;
    EXPECT_TRUE(e.bytes == expected) << extra;
  }
}

TEST(Inflate, LengthCodes286And287AreInvalid) {
  for (bool deflate64 : {false, true})
    for (unsigned sym : {286u, 287u}) {
      TBitWriter w;
      THuffman lit = FixedLitLen(), dist = FixedDist();
      Header(w, true, 1);
      lit.Write(w, 'a');
      lit.Write(w, sym);  // only exists to complete the fixed code
      dist.Write(w, 0);
      lit.Write(w, 256);
      EXPECT_EQ(Decode(w.Finish(), 10, deflate64).result, DecodeResult::DataError) << sym;
    }
}

// A dynamic block from explicit lengths, each length sent as itself.
Bytes DynamicBlock(const std::vector<uint8_t>& preLens, const std::vector<uint8_t>& litLens,
                   const std::vector<uint8_t>& distLens, const std::vector<TOp>& ops = {}) {
  TBitWriter w;
  Header(w, true, 2);
  w.Put(static_cast<uint32_t>(litLens.size() - 257), 5);  // HLIT
  w.Put(static_cast<uint32_t>(distLens.size() - 1), 5);   // HDIST
  w.Put(19 - 4, 4);                                       // HCLEN: all 19
  for (unsigned i = 0; i < 19; ++i) w.Put(preLens[kPrecodeOrder[i]], 3);
  THuffman pre = MakeHuffman(preLens);
  for (uint8_t l : litLens) pre.Write(w, l);
  for (uint8_t l : distLens) pre.Write(w, l);
  THuffman lit = MakeHuffman(litLens), dist = MakeHuffman(distLens);
  for (const TOp& op : ops) {
    if (op.distance == 0) {
      lit.Write(w, op.value);
    } else {
      TLengthCode lc = LengthCode(op.value, false, false);
      lit.Write(w, lc.sym);
      w.Put(lc.extra, lc.extraBits);
      dist.Write(w, DistanceCode(op.distance));
    }
  }
  if (litLens[256]) lit.Write(w, 256);
  w.Put(0, 16);  // padding, so that the end of input is not what stops a decoder
  return w.Finish();
}

// Code length code lengths giving 4 bits to each of the 16 lengths 0..15: complete.
std::vector<uint8_t> FlatPrecode() {
  std::vector<uint8_t> pre(19, 4);
  pre[16] = pre[17] = pre[18] = 0;
  return pre;
}

// 'a' and 'b' and end-of-block in a complete code (2, 2, 1 bits), nothing else.
std::vector<uint8_t> SmallLitLens() {
  std::vector<uint8_t> lit(257, 0);
  lit['a'] = 2;
  lit['b'] = 2;
  lit[256] = 1;
  return lit;
}

TEST(Inflate, CodeLengthChecks) {
  const std::vector<TOp> ab{{'a', 0}, {'b', 0}};
  auto decode = [](const Bytes& s) { return Decode(s, 2, false); };
  // A sane block first, so that the failures below are about the one field changed.
  TDecoded good = decode(DynamicBlock(FlatPrecode(), SmallLitLens(), {1}, ab));
  ASSERT_EQ(good.result, DecodeResult::Ok);
  EXPECT_EQ(std::string(good.bytes.begin(), good.bytes.end()), "ab");

  // Code length code: over-subscribed (19 codes of 3 bits), incomplete (one 4-bit
  // code missing), a single code (also incomplete).
  {
    std::vector<uint8_t> over(19, 3);
    TBitWriter w;
    Header(w, true, 2);
    w.Put(0, 5), w.Put(0, 5), w.Put(15, 4);  // HLIT 257, HDIST 1, HCLEN 19
    for (int i = 0; i < 19; ++i) w.Put(3, 3);
    w.Put(0, 32);
    EXPECT_EQ(decode(w.Finish()).result, DecodeResult::DataError) << "over-subscribed code length code";
    std::vector<uint8_t> incomplete = FlatPrecode();
    incomplete[15] = 0;  // lengths 0..14 used, 15 never needed
    EXPECT_EQ(decode(DynamicBlock(incomplete, SmallLitLens(), {1}, ab)).result, DecodeResult::DataError)
        << "incomplete code length code";
  }
  // Literal/length code over-subscribed: a third 2-bit code.
  {
    std::vector<uint8_t> lit = SmallLitLens();
    lit['c'] = 2;
    EXPECT_EQ(decode(DynamicBlock(FlatPrecode(), lit, {1}, ab)).result, DecodeResult::DataError);
  }
  // Literal/length code incomplete: 'b' gone, its 2-bit space unused.
  {
    std::vector<uint8_t> lit = SmallLitLens();
    lit['b'] = 0;
    EXPECT_EQ(decode(DynamicBlock(FlatPrecode(), lit, {1}, {{'a', 0}})).result, DecodeResult::DataError);
  }
  // Literal/length code of end-of-block alone, one bit: allowed (an empty block).
  {
    std::vector<uint8_t> lit(257, 0);
    lit[256] = 1;
    EXPECT_EQ(Decode(DynamicBlock(FlatPrecode(), lit, {0}), 1, false).result, DecodeResult::DataError)
        << "valid but empty: the declared byte never comes";
    TDecoded empty = Decode(DynamicBlock(FlatPrecode(), lit, {0}), 0, false);
    EXPECT_EQ(empty.result, DecodeResult::Ok);
  }
  // No end-of-block code.
  {
    std::vector<uint8_t> lit = SmallLitLens();
    lit[256] = 0;
    lit['c'] = 1;
    EXPECT_EQ(decode(DynamicBlock(FlatPrecode(), lit, {1}, ab)).result, DecodeResult::DataError);
  }
  // Distance code: none at all (literals only) and a single 1-bit code pass; two
  // 2-bit codes (incomplete) and three 1-bit codes (over-subscribed) do not.
  EXPECT_EQ(decode(DynamicBlock(FlatPrecode(), SmallLitLens(), {0}, ab)).result, DecodeResult::Ok);
  EXPECT_EQ(decode(DynamicBlock(FlatPrecode(), SmallLitLens(), {0, 0, 0, 1}, ab)).result, DecodeResult::Ok);
  EXPECT_EQ(decode(DynamicBlock(FlatPrecode(), SmallLitLens(), {2, 2}, ab)).result, DecodeResult::DataError);
  EXPECT_EQ(decode(DynamicBlock(FlatPrecode(), SmallLitLens(), {1, 1, 1}, ab)).result, DecodeResult::DataError);
  // With the single distance code, its unused half is invalid: a match using the
  // missing code fails. Lengths: 'a' 2, 257 (length 3) 2, end 1; distance code 0: 1 bit.
  {
    std::vector<uint8_t> lit(258, 0);
    lit['a'] = 2;
    lit[257] = 2;
    lit[256] = 1;
    Bytes s = DynamicBlock(FlatPrecode(), lit, {1}, {{'a', 0}, {3, 1}});
    TDecoded d = Decode(s, 4, false);
    EXPECT_EQ(d.result, DecodeResult::Ok);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "aaaa");
    // Now flip the distance code's bit to 1, the half without a code. The match's
    // bits: length code (2 bits), then the distance bit.
    TBitWriter w;
    Header(w, true, 2);
    w.Put(1, 5), w.Put(0, 5), w.Put(15, 4);  // HLIT 258, HDIST 1, HCLEN 19
    std::vector<uint8_t> pre = FlatPrecode();
    for (unsigned i = 0; i < 19; ++i) w.Put(pre[kPrecodeOrder[i]], 3);
    THuffman p = MakeHuffman(pre), l = MakeHuffman(lit);
    for (uint8_t x : lit) p.Write(w, x);
    p.Write(w, 1);
    l.Write(w, 'a');
    l.Write(w, 257);
    w.Code(1, 1);  // distance: the unused code
    l.Write(w, 256);
    EXPECT_EQ(Decode(w.Finish(), 4, false).result, DecodeResult::DataError);
  }
}

TEST(Inflate, CodeLengthRepeats) {
  // Header fields up to the code lengths, with a code length code where 0..15
  // have 5 bits, 16 and 17 have 3 and 18 has 2: 16/32 + 2/8 + 1/4 = 1, complete.
  std::vector<uint8_t> pre(19, 5);
  pre[16] = pre[17] = 3;
  pre[18] = 2;
  THuffman p = MakeHuffman(pre);
  auto start = [&](TBitWriter& w, unsigned nlit, unsigned ndist) {
    Header(w, true, 2);
    w.Put(nlit - 257, 5);  // HLIT
    w.Put(ndist - 1, 5);   // HDIST
    w.Put(15, 4);          // HCLEN: 19
    for (unsigned i = 0; i < 19; ++i) w.Put(pre[kPrecodeOrder[i]], 3);
  };
  // Repeat (16) as the very first length: nothing to repeat.
  {
    TBitWriter w;
    start(w, 257, 1);
    p.Write(w, 16);
    w.Put(0, 2);
    w.Put(0, 32);
    EXPECT_EQ(Decode(w.Finish(), 1, false).result, DecodeResult::DataError);
  }
  // Zeros (18, 138 of them) running past the 258 lengths declared.
  {
    TBitWriter w;
    start(w, 257, 1);
    p.Write(w, 18);
    w.Put(127, 7);  // 138 zeros
    p.Write(w, 18);
    w.Put(127, 7);  // 276 > 258
    w.Put(0, 32);
    EXPECT_EQ(Decode(w.Finish(), 1, false).result, DecodeResult::DataError);
  }
  // HLIT of 287 and 288 (only 286 literal/length codes exist).
  for (unsigned nlit : {287u, 288u}) {
    TBitWriter w;
    start(w, nlit, 1);
    w.Put(0, 32);
    EXPECT_EQ(Decode(w.Finish(), 1, false).result, DecodeResult::DataError) << nlit;
    EXPECT_EQ(Decode(w.Finish(), 1, true).result, DecodeResult::DataError) << nlit;
  }
  // A run of zeros from the literal/length lengths into the distance lengths is
  // allowed. 258 literal/length lengths, 3 distance lengths: 'a' and 'b' 2 bits,
  // end-of-block 1 bit, the rest zeros; the last run covers 257 and all distances.
  {
    TBitWriter w;
    start(w, 258, 3);
    for (int i = 0; i < 97; ++i) p.Write(w, 0);  // 0..96
    p.Write(w, 2);                               // 'a' (97)
    p.Write(w, 2);                               // 'b' (98)
    p.Write(w, 18);
    w.Put(138 - 11, 7);  // zeros 99..236
    p.Write(w, 18);
    w.Put(19 - 11, 7);  // zeros 237..255
    p.Write(w, 1);      // 256: end of block
    p.Write(w, 17);
    w.Put(4 - 3, 3);  // 4 zeros: 257 and the three distance lengths
    std::vector<uint8_t> litLens(258, 0);
    litLens['a'] = litLens['b'] = 2;
    litLens[256] = 1;
    THuffman l = MakeHuffman(litLens);
    l.Write(w, 'b');
    l.Write(w, 'a');
    l.Write(w, 256);
    TDecoded d = Decode(w.Finish(), 2, false);
    EXPECT_EQ(d.result, DecodeResult::Ok);
    EXPECT_EQ(std::string(d.bytes.begin(), d.bytes.end()), "ba");
  }
}

TEST(Inflate, OutputStopsAtTheDeclaredSize) {
  // A bomb: a few bytes that would expand without end (many blocks of 258-byte
  // matches). The decoder stops at the declared size and says Ok.
  TBitWriter w;
  THuffman lit = FixedLitLen(), dist = FixedDist();
  Header(w, false, 1);
  lit.Write(w, 'A');
  for (int i = 0; i < 4000; ++i) {
    lit.Write(w, 285);
    dist.Write(w, 0);
  }
  lit.Write(w, 256);
  Bytes stream = w.Finish();  // about 7 KB for about 1 MB (and never a final block)
  for (std::size_t size : {std::size_t{1}, std::size_t{258}, std::size_t{100000}, std::size_t{1000000}}) {
    TDecoded d = Decode(stream, size, false);
    EXPECT_EQ(d.result, DecodeResult::Ok) << size;
    EXPECT_TRUE(d.bytes == Bytes(size, 'A')) << size;
  }
  // Past what it holds, the stream ends without a final block.
  EXPECT_EQ(Decode(stream, 2000000, false).result, DecodeResult::DataError);
  // Zero declared bytes: nothing is read or written.
  EXPECT_EQ(Decode(Bytes{}, 0, false).result, DecodeResult::Ok);
}

TEST(Inflate, SinkRefusalIsAWriteError) {
  std::mt19937 rng(99);
  Bytes expected;
  Bytes stream = RandomStream(rng, expected, false, 200000);
  for (std::size_t refuseAfter : {std::size_t{0}, std::size_t{40000}, expected.size() - 1}) {
    TChunkedSource source(stream, SIZE_MAX);
    TCollectSink sink(0, refuseAfter);
    EXPECT_EQ(Inflate(source, sink, expected.size(), false), DecodeResult::WriteError) << refuseAfter;
    EXPECT_EQ(sink.writesAfterRefusal, 0) << refuseAfter;  // the refused block is not offered again
    EXPECT_LE(sink.bytes.size(), refuseAfter);
    EXPECT_TRUE(IsPrefix(sink.bytes, expected));
  }
}

// ---------------------------------------------------------------------------
// Streams made by independent tools: every Deflate and Deflate64 member of the
// test archives, checked against the manifests' sizes and the CRCs.

void ExpectTestArchivesDecode(const std::string& dir, std::size_t minMembers, bool withDamage) {
  int deflate64 = 0, corrupt = 0, checked = 0;
  for (const auto& m : testzip::TestMembers(dir, {"ok", "crc_error", "data_or_crc_error"})) {
    if (m.entry.method != 8 && m.entry.method != 9) continue;
    SCOPED_TRACE(m.row.archive + " " + m.row.entry);
    ++checked;
    bool d64 = m.entry.method == 9;
    deflate64 += d64;
    TDecoded d = Decode(m.compressed, m.entry.size, d64);
    uint32_t crc = archive::Crc32(d.bytes.data(), d.bytes.size());
    if (m.row.expect == "ok") {
      EXPECT_EQ(d.result, DecodeResult::Ok);
      EXPECT_EQ(d.bytes.size(), m.row.size);
      EXPECT_EQ(crc, m.entry.crc);
      if (m.row.size < 300000) {  // input a byte at a time, for the smaller ones
        TDecoded slow = Decode(m.compressed, m.entry.size, d64, 1);
        EXPECT_EQ(slow.result, DecodeResult::Ok);
        EXPECT_TRUE(slow.bytes == d.bytes);
      }
    } else {
      ++corrupt;
      EXPECT_TRUE(d.result == DecodeResult::DataError || crc != m.entry.crc) << "damage not noticed";
    }
  }
  EXPECT_GE(checked, static_cast<int>(minMembers)) << "test archives missing under " << dir;
  EXPECT_GT(deflate64, 0);
  if (withDamage) {
    EXPECT_GT(corrupt, 0);
  }
}

TEST(Inflate, TestArchives) { ExpectTestArchivesDecode(testzip::LocalZipDir(), 10, false); }

TEST(Inflate, SharedTestArchives) {
  if (!testzip::SharedZipPresent()) GTEST_SKIP() << "no shared test set at " << testzip::SharedZipDir();
  ExpectTestArchivesDecode(testzip::SharedZipDir(), 20, true);
}

TEST(Inflate, DamagedStreamsStayWithinBounds) {
  // Random damage to valid streams: whatever the decoder makes of it, it stops
  // with a result, never writes more than declared, and (under the sanitizers)
  // never reads or writes outside its memory.
  std::mt19937 rng(404);
  for (int round = 0; round < 300; ++round) {
    bool deflate64 = round % 2;
    Bytes expected;
    Bytes stream = RandomStream(rng, expected, deflate64, 3000, 2000);
    for (int k = 0, flips = 1 + rng() % 4; k < flips; ++k)
      stream[rng() % stream.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    std::size_t declared = rng() % 2 ? expected.size() : expected.size() * 4;
    TDecoded d = Decode(stream, declared, deflate64, rng() % 2 ? SIZE_MAX : 1 + rng() % 100);
    ASSERT_TRUE(d.result == DecodeResult::Ok || d.result == DecodeResult::DataError);
    ASSERT_LE(d.bytes.size(), declared);
    if (d.result == DecodeResult::Ok) {
      ASSERT_EQ(d.bytes.size(), declared);
    }
  }
}

// The hot loop is built twice, the second for processors with BMI2; both must
// make the same of every stream, damaged ones included.
TEST(Inflate, LoopWithoutBmi2DecodesAlike) {
  std::mt19937 rng(2013);
  const archive::TCpuFeatures detected = archive::CpuFeatures();
  for (int round = 0; round < 40; ++round) {
    bool deflate64 = round % 2;
    Bytes expected;
    Bytes stream = RandomStream(rng, expected, deflate64, round < 20 ? 100000 : 3000, 2000);
    if (round >= 20) stream[rng() % stream.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
    TDecoded fast = Decode(stream, expected.size(), deflate64);
    archive::CpuFeatures().bmi2 = false;
    TDecoded plain = Decode(stream, expected.size(), deflate64);
    archive::CpuFeatures() = detected;
    ASSERT_EQ(plain.result, fast.result) << round;
    ASSERT_TRUE(plain.bytes == fast.bytes) << round;
    if (round < 20) {
      ASSERT_TRUE(plain.bytes == expected) << round;
    }
  }
  if (!detected.bmi2) GTEST_SKIP() << "no BMI2 here: both runs took the baseline loop";
}

// Decodes every cut of a valid stream: each must fail cleanly with a prefix of the
// output, except a cut of only the final end-of-block code, after which the output
// is complete; and with one byte more declared, every cut must fail.
void CheckTruncations(const Bytes& stream, const Bytes& expected, bool deflate64) {
  for (std::size_t n = 0; n < stream.size(); ++n) {
    Bytes cut(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(n));
    TDecoded d = Decode(cut, expected.size(), deflate64, n % 2 ? 1 : SIZE_MAX);
    ASSERT_TRUE(IsPrefix(d.bytes, expected)) << n;
    if (d.result == DecodeResult::Ok) {
      ASSERT_GE(n + 2, stream.size()) << n;
      ASSERT_TRUE(d.bytes == expected);
    } else {
      ASSERT_EQ(d.result, DecodeResult::DataError) << n;
    }
    ASSERT_EQ(Decode(cut, expected.size() + 1, deflate64).result, DecodeResult::DataError) << n;
  }
}

TEST(Inflate, EveryTruncationFailsCleanly) {
  // A small member per tool and method ...
  std::vector<std::string> seen;
  std::vector<testzip::TTestMember> members = testzip::TestMembers(testzip::LocalZipDir(), {"ok"});
  if (testzip::SharedZipPresent()) {
    std::vector<testzip::TTestMember> shared = testzip::TestMembers(testzip::SharedZipDir(), {"ok"});
    members.insert(members.end(), shared.begin(), shared.end());
  }
  for (const auto& m : members) {
    const auto& row = m.row;
    if ((m.entry.method != 8 && m.entry.method != 9) || row.size > 20000 || m.compressed.size() < 100 ||
        m.compressed.size() > 2500)
      continue;
    std::string kind = row.archive.substr(0, row.archive.find('.')) + std::to_string(m.entry.method);
    if (std::find(seen.begin(), seen.end(), kind) != seen.end()) continue;
    seen.push_back(kind);
    SCOPED_TRACE(row.archive + " " + row.entry);
    bool d64 = m.entry.method == 9;
    TDecoded full = Decode(m.compressed, m.entry.size, d64);
    ASSERT_EQ(full.result, DecodeResult::Ok);
    CheckTruncations(m.compressed, full.bytes, d64);
  }
  EXPECT_GE(seen.size(), 4u);
  // ... and random streams of several blocks of every type.
  std::mt19937 rng(5);
  for (bool deflate64 : {false, true})
    for (int round = 0; round < 3; ++round) {
      Bytes expected;
      Bytes stream = RandomStream(rng, expected, deflate64, 1500, 300);
      SCOPED_TRACE(testing::Message() << "random, deflate64 " << deflate64 << " round " << round << " stream "
                                      << stream.size() << " output " << expected.size());
      CheckTruncations(stream, expected, deflate64);
    }
}

}  // namespace
