// Method 6 (Implode): the reference archives of all four variants, and
// hand-built streams for the tree format, the match rules and invalid trees.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/decoder.h"
#include "legacy_test_support.h"

using archive::DecodeResult;
using testzip::TBitWriter;
using testzip::TCollectSink;

namespace {

constexpr unsigned kWindow8k = 2, kThreeTrees = 4;  // general-purpose flag bits

const testzip::TDecodeFn kExplode = [](archive::TByteSource& source, archive::TByteSink& sink, uint64_t size,
                                       unsigned flags) {
  return archive::Explode(source, sink, size, (flags & kWindow8k) != 0, (flags & kThreeTrees) != 0);
};

// A tree in its stored form where all `values` codes have the same length:
// (bytes - 1), then bytes of (repeat - 1) << 4 | (length - 1), 16 values each.
void FlatTree(TBitWriter& w, unsigned values, unsigned length) {
  w.Put(values / 16 - 1, 8);
  for (unsigned i = 0; i < values / 16; ++i) w.Put(15u << 4 | (length - 1), 8);
}

// In a flat tree of n-bit codes, value v has the code 2^n - 1 - v (the APPNOTE
// hands out codes from the last value up), sent top bit first.
void FlatCode(TBitWriter& w, unsigned value, unsigned bits) { w.PutCode((1u << bits) - 1 - value, bits); }

// Streams over flat trees: literals of 8 bits, lengths and distances of 6.
class TImplodeWriter {
 public:
  TImplodeWriter(bool window8k, bool threeTrees) : window8k_(window8k), threeTrees_(threeTrees) {
    if (threeTrees) FlatTree(w_, 256, 8);
    FlatTree(w_, 64, 6);  // lengths
    FlatTree(w_, 64, 6);  // distances
  }
  TImplodeWriter& Literal(uint8_t byte) {
    w_.PutBit(1);
    if (threeTrees_)
      FlatCode(w_, byte, 8);
    else
      w_.Put(byte, 8);
    return *this;
  }
  TImplodeWriter& Match(unsigned distance, unsigned length) {
    unsigned lowBits = window8k_ ? 7 : 6;
    unsigned d = distance - 1, l = length - (threeTrees_ ? 3 : 2);
    w_.PutBit(0);
    w_.Put(d & ((1u << lowBits) - 1), lowBits);
    FlatCode(w_, d >> lowBits, 6);
    FlatCode(w_, l < 63 ? l : 63, 6);
    if (l >= 63) w_.Put(l - 63, 8);
    return *this;
  }
  TBitWriter& Bits() { return w_; }
  const std::vector<uint8_t>& Bytes() const { return w_.Bytes(); }

 private:
  TBitWriter w_;
  bool window8k_, threeTrees_;
};

struct TRun {
  DecodeResult result;
  std::string text;
};

TRun Decode(const std::vector<uint8_t>& stream, uint64_t size, bool window8k, bool threeTrees) {
  testzip::TMemorySource source(stream.data(), stream.size());
  TCollectSink sink;
  DecodeResult r = archive::Explode(source, sink, size, window8k, threeTrees);
  EXPECT_LE(sink.maxBlock, archive::kBlockSize);
  return {r, std::string(sink.bytes.begin(), sink.bytes.end())};
}

}  // namespace

TEST(Explode, ReferenceArchives) { testzip::ExpectGoldenDecodes(6, kExplode, 4 * 2, testzip::LocalZipDir()); }

TEST(Explode, SharedReferenceArchives) { testzip::ExpectSharedGoldenDecodes(6, kExplode, 4 * 6 + 1 + 4); }

TEST(Explode, RobustAgainstBadInputAndSinks) {
  for (unsigned variant : {0u, kWindow8k, kThreeTrees, kWindow8k | kThreeTrees}) {
    SCOPED_TRACE(variant);
    std::vector<uint8_t> compressed, plain;
    unsigned flags = 0;
    ASSERT_TRUE(testzip::SmallGolden(6, kWindow8k | kThreeTrees, variant, kExplode, compressed, plain, flags));

    testzip::ExpectRobustDecoding(compressed, plain, flags, kExplode);
  }
}

TEST(Explode, MatchRulesOfEachVariant) {
  using S = std::string;
  for (bool window8k : {false, true}) {
    for (bool threeTrees : {false, true}) {
      SCOPED_TRACE(S(window8k ? "8K" : "4K") + (threeTrees ? " 3 trees" : " 2 trees"));
      unsigned minMatch = threeTrees ? 3 : 2;
      unsigned window = window8k ? 8192 : 4096;

      TImplodeWriter plain(window8k, threeTrees);
      plain.Literal('a').Literal('b').Match(2, minMatch).Match(1, 4);
      S expected = S("ab") + S("abab").substr(0, minMatch) + S(4, minMatch == 2 ? 'b' : 'a');
      TRun run = Decode(plain.Bytes(), expected.size(), window8k, threeTrees);
      EXPECT_EQ(run.result, DecodeResult::Ok);
      EXPECT_EQ(run.text, expected);

      // Length code 63 takes a byte more; the longest match is 63 + 255 + minimum.
      TImplodeWriter longest(window8k, threeTrees);
      longest.Literal('z').Match(1, 63 + 255 + minMatch).Match(1, 63 + minMatch);
      run = Decode(longest.Bytes(), 1 + 63 + 255 + minMatch + 63 + minMatch, window8k, threeTrees);
      EXPECT_EQ(run.result, DecodeResult::Ok);
      EXPECT_EQ(run.text, S(1 + 63 + 255 + minMatch + 63 + minMatch, 'z'));

      // The farthest distance of the window, before and after the start of output:
      // before it the window reads as zeros, as the original tools' did.
      TImplodeWriter far(window8k, threeTrees);
      far.Literal('Q').Match(window, minMatch);
      S text = "Q" + S(minMatch, '\0');
      for (unsigned i = 0; text.size() < window + 10; ++i) {
        uint8_t b = static_cast<uint8_t>('A' + i * 7 % 26);
        far.Literal(b);
        text += static_cast<char>(b);
      }
      far.Match(window, 5);
      text += text.substr(text.size() - window, 5);
      run = Decode(far.Bytes(), text.size(), window8k, threeTrees);
      EXPECT_EQ(run.result, DecodeResult::Ok);
      EXPECT_EQ(run.text, text);

      // A match running past the declared size is cut there.
      TImplodeWriter over(window8k, threeTrees);
      over.Literal('r').Match(1, 50);
      run = Decode(over.Bytes(), 10, window8k, threeTrees);
      EXPECT_EQ(run.result, DecodeResult::Ok);
      EXPECT_EQ(run.text, S(10, 'r'));
    }
  }
}

TEST(Explode, RejectsInvalidTrees) {
  struct TCase {
    const char* what;
    std::vector<uint8_t> lengthTree;  // stored form; a flat distance tree follows
  };
  const TCase cases[] = {
      // 64 codes of 5 bits need twice the code space there is.
      {"oversubscribed", {3, 0xF4, 0xF4, 0xF4, 0xF4}},
      {"two 1-bit codes and more", {4, 0x10, 0xF5, 0xF5, 0xF5, 0xD5}},
      // 63 codes of 6 bits and one of 7: the APPNOTE's construction would give
      // the 7-bit code and a 6-bit one the same first six bits.
      {"incomplete and overlapping", {4, 0xF5, 0xF5, 0xF5, 0xE5, 0x06}},
      {"too few values", {0, 0xF5}},
      {"too many values", {4, 0xF5, 0xF5, 0xF5, 0xF5, 0x05}},
      {"cut short", {5, 0xF5, 0xF5}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TBitWriter w;
    for (uint8_t b : c.lengthTree) w.Put(b, 8);
    if (c.lengthTree.size() > 3) FlatTree(w, 64, 6);
    w.PutBit(1).Put('a', 8);
    EXPECT_EQ(Decode(w.Bytes(), 1, false, false).result, DecodeResult::DataError);
  }

  // A literal tree that is fine but for the wrong number of values.
  TBitWriter shortLiterals;
  FlatTree(shortLiterals, 64, 6);
  FlatTree(shortLiterals, 64, 6);
  FlatTree(shortLiterals, 64, 6);
  EXPECT_EQ(Decode(shortLiterals.Bytes(), 1, false, true).result, DecodeResult::DataError);
}

TEST(Explode, IncompleteTreeRejectsUnusedCodes) {
  // 62 codes of 6 bits and two of 7 leave 1/64 of the code space unused: the
  // code 111111 (the APPNOTE hands codes out from 0 upwards, longest first).
  auto stream = [](unsigned lengthCode, unsigned bits, bool extraByte) {
    TBitWriter w;
    for (uint8_t b : {4, 0xF5, 0xF5, 0xF5, 0xD5, 0x16}) w.Put(b, 8);
    FlatTree(w, 64, 6);
    w.PutBit(1).Put('a', 8);
    w.PutBit(0).Put(0, 6);  // distance 1: low bits, then the distance code
    FlatCode(w, 0, 6);
    w.PutCode(lengthCode, bits);
    if (extraByte) w.Put(0, 8);
    return w.Bytes();
  };
  // Value 63 is 0000000 (length 63 + an extra byte), value 0 is 111110.
  TRun run = Decode(stream(0, 7, true), 1 + 63 + 2, false, false);
  EXPECT_EQ(run.result, DecodeResult::Ok);
  EXPECT_EQ(run.text, std::string(66, 'a'));
  run = Decode(stream(0x3E, 6, false), 1 + 2, false, false);
  EXPECT_EQ(run.result, DecodeResult::Ok);
  EXPECT_EQ(run.text, "aaa");
  run = Decode(stream(0x3F, 6, false), 10, false, false);
  EXPECT_EQ(run.result, DecodeResult::DataError);
  EXPECT_EQ(run.text, "a");
}
