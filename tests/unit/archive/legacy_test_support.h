// Shared pieces of the Shrink, Reduce and Implode decoder tests: an LSB-first bit
// writer for hand-built streams, and the reference members of the test archives
// decoded, cut and damaged.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "archive/crc32.h"
#include "archive/decoder.h"
#include "unit/archive/raw_zip.h"
#include "unit/archive/sha256.h"

namespace testzip {

// Packs values least significant bit first, as all three legacy methods do.
class TBitWriter {
 public:
  TBitWriter& Put(uint32_t value, unsigned bits) {
    for (unsigned i = 0; i < bits; ++i) PutBit((value >> i) & 1);
    return *this;
  }
  // A code sent top bit first (the Shannon-Fano codes of Implode).
  TBitWriter& PutCode(uint32_t code, unsigned bits) {
    for (unsigned i = bits; i-- > 0;) PutBit((code >> i) & 1);
    return *this;
  }
  TBitWriter& PutBit(unsigned bit) {
    if (count_ % 8 == 0) bytes_.push_back(0);
    bytes_.back() = static_cast<uint8_t>(bytes_.back() | bit << (count_ % 8));
    ++count_;
    return *this;
  }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::size_t count_ = 0;
};

inline std::vector<uint8_t> Bytes(const std::string& text) { return std::vector<uint8_t>(text.begin(), text.end()); }

// The reference members of one method that must extract, from the archives made
// here or from the shared set.
inline std::vector<TTestMember> GoldenMembers(int method, const std::string& dir) {
  std::vector<TTestMember> members;
  for (TTestMember& m : TestMembers(dir, {"ok"}))
    if (m.entry.method == method) members.push_back(std::move(m));
  return members;
}

using TDecodeFn =
    std::function<archive::DecodeResult(archive::TByteSource&, archive::TByteSink&, uint64_t size, unsigned flags)>;

// Decodes every reference member of one method in a test folder and compares it
// with the manifest: result, size, CRC-32, SHA-256, and blocks no larger than the
// contract allows.
inline void ExpectGoldenDecodes(int method, const TDecodeFn& decode, std::size_t minMembers, const std::string& dir) {
  std::vector<TTestMember> members = GoldenMembers(method, dir);
  ASSERT_GE(members.size(), minMembers) << "manifest missing or incomplete: " << dir;
  for (const TTestMember& m : members) {
    SCOPED_TRACE(m.row.archive + " / " + m.row.entry);
    testzip::TMemorySource source(m.compressed.data(), m.compressed.size());
    TCollectSink sink;
    ASSERT_EQ(decode(source, sink, m.entry.size, m.entry.flags), archive::DecodeResult::Ok);
    EXPECT_EQ(sink.bytes.size(), m.row.size);
    EXPECT_EQ(sink.crc, m.entry.crc);
    EXPECT_LE(sink.maxBlock, archive::kBlockSize);
    EXPECT_EQ(sink.emptyWrites, 0);
    EXPECT_EQ(Sha256Hex(sink.bytes.data(), sink.bytes.size()), m.row.sha256);
  }
}

// The same over the shared set; the test reports itself skipped without it.
inline void ExpectSharedGoldenDecodes(int method, const TDecodeFn& decode, std::size_t minMembers) {
  if (!SharedZipPresent()) GTEST_SKIP() << "no shared test set at " << SharedZipDir();
  ExpectGoldenDecodes(method, decode, minMembers, SharedZipDir());
}

// The smallest reference member made here of a method (by compressed size) with
// flags matching `flags` under `flagMask`, and its decoded bytes.
inline bool SmallGolden(int method, unsigned flagMask, unsigned flags, const TDecodeFn& decode,
                        std::vector<uint8_t>& compressed, std::vector<uint8_t>& plain, unsigned& entryFlags) {
  const TTestMember* best = nullptr;
  std::vector<TTestMember> members = GoldenMembers(method, LocalZipDir());
  for (const TTestMember& m : members) {
    if ((m.entry.flags & flagMask) != flags || m.compressed.empty()) continue;
    if (best == nullptr || m.compressed.size() < best->compressed.size()) best = &m;
  }
  if (best == nullptr) return false;
  compressed = best->compressed;
  testzip::TMemorySource source(compressed.data(), compressed.size());
  TCollectSink sink;
  if (decode(source, sink, best->entry.size, best->entry.flags) != archive::DecodeResult::Ok) return false;
  plain = sink.bytes;
  entryFlags = best->entry.flags;
  return true;
}

inline bool IsPrefix(const std::vector<uint8_t>& part, const std::vector<uint8_t>& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

// Every cut of a valid stream must fail as a data error, having written only a
// correct beginning of the output.
inline void ExpectCleanTruncations(const std::vector<uint8_t>& compressed, const std::vector<uint8_t>& plain,
                                   unsigned flags, const TDecodeFn& decode) {
  for (std::size_t cut = 0; cut < compressed.size(); ++cut) {
    testzip::TMemorySource source(compressed.data(), cut);
    TCollectSink sink;
    archive::DecodeResult r = decode(source, sink, plain.size(), flags);
    ASSERT_EQ(r, archive::DecodeResult::DataError) << "cut at " << cut;
    ASSERT_TRUE(IsPrefix(sink.bytes, plain)) << "cut at " << cut;
  }
}

// Declared sizes that disagree with the stream: a smaller one stops exactly
// there, a larger one ends in a data error after the real bytes.
inline void ExpectDeclaredSizeHonoured(const std::vector<uint8_t>& compressed, const std::vector<uint8_t>& plain,
                                       unsigned flags, const TDecodeFn& decode) {
  for (uint64_t size : {uint64_t{0}, uint64_t{1}, uint64_t{plain.size() / 2}, uint64_t{plain.size() - 1}}) {
    testzip::TMemorySource source(compressed.data(), compressed.size());
    TCollectSink sink;
    EXPECT_EQ(decode(source, sink, size, flags), archive::DecodeResult::Ok) << size;
    EXPECT_EQ(sink.bytes, std::vector<uint8_t>(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size)));
  }
  testzip::TMemorySource source(compressed.data(), compressed.size());
  TCollectSink sink;
  EXPECT_EQ(decode(source, sink, plain.size() + 100000, flags), archive::DecodeResult::DataError);
  EXPECT_GE(sink.bytes.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), sink.bytes.begin()));
}

// The sink's refusal ends decoding at once with a write error.
inline void ExpectWriteErrorStops(const std::vector<uint8_t>& compressed, uint64_t size, unsigned flags,
                                  const TDecodeFn& decode) {
  for (int refuseAt : {1, 2}) {
    testzip::TMemorySource source(compressed.data(), compressed.size());
    TCollectSink sink(refuseAt);
    EXPECT_EQ(decode(source, sink, size, flags), archive::DecodeResult::WriteError) << refuseAt;
    EXPECT_TRUE(sink.refused);
    EXPECT_EQ(sink.writesAfterRefusal, 0);
  }
}

// A valid stream with bytes changed here and there (fixed seed) must end with
// some result, never a crash, a hang or more than the declared size.
inline void ExpectCorruptionHandled(const std::vector<uint8_t>& compressed, uint64_t size, unsigned flags,
                                    const TDecodeFn& decode) {
  uint32_t seed = 99;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  for (int round = 0; round < 200; ++round) {
    std::vector<uint8_t> damaged = compressed;
    for (int i = 0; i < 1 + round % 3; ++i) damaged[next() % damaged.size()] ^= static_cast<uint8_t>(1 + next() % 255);
    testzip::TMemorySource source(damaged.data(), damaged.size());
    TCollectSink sink;
    archive::DecodeResult r = decode(source, sink, size, flags);
    EXPECT_NE(r, archive::DecodeResult::WriteError);
    EXPECT_LE(sink.bytes.size(), size);
  }
}

// Fixed-seed random bytes must never crash, hang or overshoot the declared size.
inline void ExpectGarbageHandled(unsigned flags, const TDecodeFn& decode) {
  uint32_t seed = 12345;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  for (int round = 0; round < 300; ++round) {
    std::vector<uint8_t> data(static_cast<std::size_t>(round * 7 % 1500));
    for (uint8_t& b : data) b = next();
    testzip::TMemorySource source(data.data(), data.size());
    TCollectSink sink;
    const uint64_t size = 20000;
    archive::DecodeResult r = decode(source, sink, size, flags);
    EXPECT_NE(r, archive::DecodeResult::WriteError);
    EXPECT_LE(sink.bytes.size(), size);
    if (r == archive::DecodeResult::Ok) {
      EXPECT_EQ(sink.bytes.size(), size);
    }
  }
}

// Everything a decoder must take from one valid stream: the same bytes one at a
// time decode the same, and every cut, a wrong declared size, a refusing sink,
// damage and garbage end cleanly.
inline void ExpectRobustDecoding(const std::vector<uint8_t>& compressed, const std::vector<uint8_t>& plain,
                                 unsigned flags, const TDecodeFn& decode) {
  testzip::TChunkedSource dribble(compressed, 1);
  TCollectSink sink;
  EXPECT_EQ(decode(dribble, sink, plain.size(), flags), archive::DecodeResult::Ok);
  EXPECT_EQ(sink.bytes, plain);
  ExpectCleanTruncations(compressed, plain, flags, decode);
  ExpectDeclaredSizeHonoured(compressed, plain, flags, decode);
  ExpectWriteErrorStops(compressed, plain.size(), flags, decode);
  ExpectCorruptionHandled(compressed, plain.size(), flags, decode);
  ExpectGarbageHandled(flags, decode);
}

}  // namespace testzip
