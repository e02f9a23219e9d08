// Method 1 (Shrink): the reference archives, and hand-built code streams for the
// LZW corner cases (KwKwK, code widths, partial clearing, a full table).
#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "archive/decoder.h"
#include "legacy_test_support.h"

using archive::DecodeResult;
using testzip::TBitWriter;
using testzip::TCollectSink;

namespace {

const testzip::TDecodeFn kUnshrink = [](archive::TByteSource& source, archive::TByteSink& sink, uint64_t size,
                                        unsigned) { return archive::Unshrink(source, sink, size); };

// Packs codes at the current width, starting at 9 bits; the pair 256, 1 widens
// the codes after it by one bit.
std::vector<uint8_t> Codes(const std::vector<unsigned>& codes) {
  TBitWriter w;
  unsigned bits = 9;
  bool afterEscape = false;
  for (unsigned code : codes) {
    w.Put(code, bits);
    if (afterEscape && code == 1) ++bits;
    afterEscape = !afterEscape && code == 256;
  }
  return w.Bytes();
}

struct TRun {
  DecodeResult result;
  std::string text;
};

TRun Decode(const std::vector<uint8_t>& stream, uint64_t size) {
  testzip::TMemorySource source(stream.data(), stream.size());
  TCollectSink sink;
  DecodeResult r = archive::Unshrink(source, sink, size);
  return {r, std::string(sink.bytes.begin(), sink.bytes.end())};
}

// Decodes with the declared size set to the expected text's length.
TRun Decode(const std::vector<unsigned>& codes, const std::string& expected) {
  return Decode(Codes(codes), expected.size());
}

}  // namespace

TEST(Unshrink, ReferenceArchives) { testzip::ExpectGoldenDecodes(1, kUnshrink, 2, testzip::LocalZipDir()); }

TEST(Unshrink, SharedReferenceArchives) { testzip::ExpectSharedGoldenDecodes(1, kUnshrink, 8); }

TEST(Unshrink, RobustAgainstBadInputAndSinks) {
  std::vector<uint8_t> compressed, plain;
  unsigned flags = 0;
  ASSERT_TRUE(testzip::SmallGolden(1, 0, 0, kUnshrink, compressed, plain, flags));
  testzip::ExpectRobustDecoding(compressed, plain, flags, kUnshrink);
}

TEST(Unshrink, EmptyEntryReadsNothing) {
  TRun run = Decode(std::vector<uint8_t>{}, 0);
  EXPECT_EQ(run.result, DecodeResult::Ok);
  EXPECT_EQ(run.text, "");
}

TEST(Unshrink, HandBuiltStreams) {
  const unsigned a = 'a', b = 'b', x = 'x';
  struct TCase {
    const char* what;
    std::vector<unsigned> codes;
    std::string expected;  // output up to the end or the error
    DecodeResult result;
  };
  const TCase cases[] = {
      // 257 is not known yet when it arrives: it is the entry being made, a + a.
      {"KwKwK", {a, 257, 258}, "aaaaaa", DecodeResult::Ok},
      {"literals", {'h', 'i', '!'}, "hi!", DecodeResult::Ok},
      // Each 256, 1 widens the following codes; 13 bits is the limit.
      {"widths 9 to 13", {a, 256, 1, b, 256, 1, 256, 1, 256, 1, 'c', 257, 258}, "abcabbc", DecodeResult::Ok},
      {"width past 13", {a, 256, 1, 256, 1, 256, 1, 256, 1, 256, 1, b}, "a", DecodeResult::DataError},
      {"control 0", {a, 256, 0, b}, "a", DecodeResult::DataError},
      {"control 3", {a, 256, 3, b}, "a", DecodeResult::DataError},
      {"first code not a literal", {257}, "", DecodeResult::DataError},
      {"control before the first code", {256, 1, a, b}, "ab", DecodeResult::Ok},
      {"code not made yet", {a, b, 300}, "ab", DecodeResult::DataError},
      {"13-bit code not made yet", {a, 256, 1, 256, 1, 256, 1, 256, 1, b, 8191}, "ab", DecodeResult::DataError},
      // After a, b, 257, 258 the table holds 257 = ab, 258 = ba, 259 = ab+b. A
      // partial clear frees the leaves 258 and 259 and keeps 257 (prefix of 259).
      // The next code makes 258 from the freed previous code 258 (it is its own
      // prefix now, unusable); 259 = x+a, 260 = ab+x come after.
      {"partial clear keeps prefixes, reuses lowest",
       {a, b, 257, 258, 256, 2, x, 257, 259, 260},
       "ababbaxabxaabx",
       DecodeResult::Ok},
      {"code freed by a partial clear", {a, b, 257, 258, 256, 2, 259}, "ababba", DecodeResult::DataError},
      {"code that is its own prefix", {a, b, 257, 258, 256, 2, x, 258}, "ababbax", DecodeResult::DataError},
      {"partial clear as the first code", {256, 2, a, 257}, "aaa", DecodeResult::Ok},
      {"repeated partial clears", {a, 256, 2, 256, 2, b, 257, 256, 2, a}, "ababa", DecodeResult::Ok},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TRun run = Decode(c.codes, c.result == DecodeResult::Ok ? c.expected : c.expected + "more");
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.text, c.expected);
  }
}

TEST(Unshrink, FullTableStopsGrowingAndClearsAgain) {
  // At 13 bits, 7936 literals fill codes 257..8191 with pairs of neighbours.
  std::vector<unsigned> codes = {256, 1, 256, 1, 256, 1, 256, 1};
  std::string expected;
  auto literal = [](unsigned i) { return static_cast<unsigned>('A' + i % 53); };
  for (unsigned i = 0; i < 7937; ++i) {
    codes.push_back(literal(i));
    expected += static_cast<char>(literal(i));
  }
  // The last entry is literal 7934 + literal 7935; the literal after that made none.
  codes.push_back(8191);
  expected += static_cast<char>(literal(7934));
  expected += static_cast<char>(literal(7935));
  // A full table has no code left for the KwKwK case.
  TRun full = Decode(codes, expected);
  EXPECT_EQ(full.result, DecodeResult::Ok);
  EXPECT_EQ(full.text, expected);

  // Every entry is a leaf, so a partial clear frees them all: the next new
  // entries are 257 (from the freed 8191) and 258 = z + y.
  std::vector<unsigned> cleared = codes;
  for (unsigned code : {256u, 2u, unsigned{'z'}, unsigned{'y'}, 258u}) cleared.push_back(code);
  TRun again = Decode(cleared, expected + "zyzy");
  EXPECT_EQ(again.result, DecodeResult::Ok);
  EXPECT_EQ(again.text, expected + "zyzy");

  std::vector<unsigned> stale = codes;
  stale.push_back(8192 - 1);  // still there
  stale.push_back(256);
  stale.push_back(2);
  stale.push_back(4000);  // freed
  TRun bad = Decode(stale, expected + "xxxx");
  EXPECT_EQ(bad.result, DecodeResult::DataError);
}
