// Methods 2 to 5 (Reduce): the reference archives of every factor, and
// hand-built streams for follower sets, DLE escapes and each factor's split of
// length and distance.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "archive/decoder.h"
#include "legacy_test_support.h"

using archive::DecodeResult;
using testzip::TBitWriter;
using testzip::TCollectSink;

namespace {

constexpr unsigned kDle = 144;

testzip::TDecodeFn Unreducer(int factor) {
  return [factor](archive::TByteSource& source, archive::TByteSink& sink, uint64_t size, unsigned) {
    return archive::Unreduce(source, sink, size, factor);
  };
}

// Follower sets as stored: from byte 255 down to 0, a 6-bit count and 8-bit bytes.
// Bytes not named get an empty set, so what follows them is sent as 8 raw bits.
TBitWriter WithSets(const std::vector<std::pair<unsigned, std::string>>& sets) {
  TBitWriter w;
  for (int x = 255; x >= 0; --x) {
    const std::string* followers = nullptr;
    for (const auto& s : sets)
      if (s.first == static_cast<unsigned>(x)) followers = &s.second;
    w.Put(followers ? static_cast<unsigned>(followers->size()) : 0, 6);
    if (followers)
      for (char c : *followers) w.Put(static_cast<uint8_t>(c), 8);
  }
  return w;
}

// A stream of raw bytes after empty follower sets.
std::vector<uint8_t> Raw(const std::vector<unsigned>& bytes) {
  TBitWriter w = WithSets({});
  for (unsigned b : bytes) w.Put(b, 8);
  return w.Bytes();
}

struct TRun {
  DecodeResult result;
  std::string text;
};

TRun Decode(const std::vector<uint8_t>& stream, uint64_t size, int factor) {
  testzip::TMemorySource source(stream.data(), stream.size());
  TCollectSink sink;
  DecodeResult r = archive::Unreduce(source, sink, size, factor);
  EXPECT_LE(sink.maxBlock, archive::kBlockSize);
  return {r, std::string(sink.bytes.begin(), sink.bytes.end())};
}

}  // namespace

TEST(Unreduce, ReferenceArchives) {
  for (int factor = 1; factor <= 4; ++factor) {
    SCOPED_TRACE(factor);
    testzip::ExpectGoldenDecodes(factor + 1, Unreducer(factor), 2, testzip::LocalZipDir());
  }
}

TEST(Unreduce, SharedReferenceArchives) {
  for (int factor = 1; factor <= 4; ++factor) {
    SCOPED_TRACE(factor);
    testzip::ExpectSharedGoldenDecodes(factor + 1, Unreducer(factor), 6);
  }
}

TEST(Unreduce, RobustAgainstBadInputAndSinks) {
  for (int factor = 1; factor <= 4; ++factor) {
    SCOPED_TRACE(factor);
    std::vector<uint8_t> compressed, plain;
    unsigned flags = 0;
    ASSERT_TRUE(testzip::SmallGolden(factor + 1, 0, 0, Unreducer(factor), compressed, plain, flags));

    testzip::ExpectRobustDecoding(compressed, plain, flags, Unreducer(factor));

    // Wrong factors read the same bits differently; they must still end cleanly.
    for (int other = 1; other <= 4; ++other) {
      testzip::TMemorySource source(compressed.data(), compressed.size());
      TCollectSink any;
      archive::Unreduce(source, any, plain.size(), other);
      EXPECT_LE(any.bytes.size(), plain.size());
    }
  }
}

TEST(Unreduce, HandBuiltStreams) {
  using S = std::string;
  struct TCase {
    const char* what;
    int factor;
    std::vector<unsigned> bytes;  // after empty follower sets
    S expected;
  };
  const TCase cases[] = {
      {"plain bytes", 1, {'h', 'e', 'y'}, "hey"},
      {"DLE 0 is a literal DLE",
       2,
       {'a', kDle, 0, 'b'},
       S("a\x90"
         "b")},
      // Factor 1: the low 7 bits of V are length - 3, its top bit distance bit 8.
      {"match, factor 1", 1, {'a', 'b', 'c', kDle, 2, 2}, "abcabcab"},
      // V = 0 would be the literal DLE: the shortest near match needs V = 1.
      {"match, factor 2", 2, {'a', 'b', kDle, 1, 1}, "ababab"},
      {"match, factor 3", 3, {'a', 'b', kDle, 2, 1}, "abababa"},
      {"match, factor 4", 4, {'x', 'y', kDle, 0x0D, 1}, "xyxyxyxyxyxyxyxyxy"},
      // Length bits all set: a whole byte more of length follows.
      {"long match, factor 2", 2, {'z', kDle, 63, 10, 0}, S(77, 'z')},
      {"long match, factor 4", 4, {'z', kDle, 15, 255, 0}, S(274, 'z')},
      // Before the first byte the window reads as zeros, as the original tools'.
      {"distance before the start", 1, {'A', kDle, 1, 9}, S("A") + S(4, '\0')},
      {"farthest distance, factor 4", 4, {'A', kDle, 0xF0, 255}, S("A") + S(3, '\0')},
      {"distance bit 8, factor 1", 1, {'A', kDle, 0x80, 0}, S("A") + S(3, '\0')},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TRun run = Decode(Raw(c.bytes), c.expected.size(), c.factor);
    EXPECT_EQ(run.result, DecodeResult::Ok);
    EXPECT_EQ(run.text, c.expected);
  }
}

TEST(Unreduce, FarMatchesReadTheRightBytes) {
  // 5000 distinct-ish bytes, then a match 4096 back (factor 4's farthest) and one
  // 512 back (factor 1's farthest).
  std::vector<unsigned> bytes;
  std::string text;
  for (unsigned i = 0; i < 5000; ++i) {
    unsigned b = (i * 7 + i / 251) % 256;
    if (b == kDle) b = 1;
    bytes.push_back(b);
    text += static_cast<char>(b);
  }
  std::vector<unsigned> far4 = bytes;
  for (unsigned b : {kDle, 0xF1u, 255u}) far4.push_back(b);  // length 4, distance 4096
  TRun run4 = Decode(Raw(far4), text.size() + 4, 4);
  EXPECT_EQ(run4.result, DecodeResult::Ok);
  EXPECT_EQ(run4.text, text + text.substr(text.size() - 4096, 4));

  std::vector<unsigned> far1 = bytes;
  for (unsigned b : {kDle, 0x81u, 255u}) far1.push_back(b);  // length 4, distance 512
  TRun run1 = Decode(Raw(far1), text.size() + 4, 1);
  EXPECT_EQ(run1.result, DecodeResult::Ok);
  EXPECT_EQ(run1.text, text + text.substr(text.size() - 512, 4));
}

TEST(Unreduce, FollowerSetsChooseBytes) {
  // The set of the previous stream byte (0 at the start) is used: bit 0 then an
  // index, or bit 1 then a raw byte. One follower still takes a 1-bit index;
  // three take two bits.
  TBitWriter w = WithSets({{0, "h"}, {'h', "eio"}, {'i', "!"}});
  w.PutBit(0).Put(0, 1);     // 'h' from the set of 0
  w.PutBit(0).Put(1, 2);     // 'i' from the set of 'h'
  w.PutBit(1).Put('?', 8);   // a raw byte instead of the set of 'i'
  w.Put('x', 8);             // '?' has no set
  w.Put(kDle, 8).Put(0, 8);  // the DLE of 'x''s empty set, then a literal DLE
  TRun run = Decode(w.Bytes(), 5, 1);
  EXPECT_EQ(run.result, DecodeResult::Ok);
  EXPECT_EQ(run.text, "hi?x\x90");
}

TEST(Unreduce, RejectsBadSetsAndFactors) {
  // A count above 32.
  TBitWriter tooMany;
  tooMany.Put(33, 6);
  for (int i = 0; i < 33; ++i) tooMany.Put('a', 8);
  EXPECT_EQ(Decode(tooMany.Bytes(), 10, 1).result, DecodeResult::DataError);

  // An index past the end of a 3-byte set (2 index bits allow 0..3).
  TBitWriter badIndex = WithSets({{0, "abc"}});
  badIndex.PutBit(0).Put(3, 2);
  TRun run = Decode(badIndex.Bytes(), 10, 1);
  EXPECT_EQ(run.result, DecodeResult::DataError);
  EXPECT_EQ(run.text, "");

  // Sets cut short.
  std::vector<uint8_t> sets = Raw({});
  sets.resize(100);
  EXPECT_EQ(Decode(sets, 10, 1).result, DecodeResult::DataError);

  for (int factor : {0, 5, -1}) EXPECT_EQ(Decode(Raw({'a'}), 1, factor).result, DecodeResult::DataError);

  // Nothing declared: nothing read, even from an empty stream.
  EXPECT_EQ(Decode({}, 0, 3).result, DecodeResult::Ok);
}
