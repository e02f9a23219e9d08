// Shared pieces of the Shrink, Reduce and Implode decoder tests: sinks and sources
// that record or misbehave, an LSB-first bit writer for hand-built streams, and
// the reference archives' manifest.
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
#include "raw_zip.h"
#include "sha256.h"

namespace testzip {

// Keeps what it is given; refuses every write from the refuseAt-th on (1-based,
// 0 = never) and counts writes that still arrive after a refusal.
class TCollectSink : public archive::TByteSink {
 public:
  explicit TCollectSink(int refuseAt = 0) : refuseAt_(refuseAt) {}
  bool Write(const uint8_t* data, std::size_t count) override {
    ++writes;
    if (refused) ++writesAfterRefusal;
    if (refuseAt_ != 0 && writes >= refuseAt_) {
      refused = true;
      return false;
    }
    if (count > maxBlock) maxBlock = count;
    if (count == 0) ++emptyWrites;
    crc = archive::Crc32Update(crc, data, count);
    bytes.insert(bytes.end(), data, data + count);
    return true;
  }

  std::vector<uint8_t> bytes;
  uint32_t crc = 0;  // of the bytes, block by block as an extractor computes it
  std::size_t maxBlock = 0;
  int writes = 0, emptyWrites = 0, writesAfterRefusal = 0;
  bool refused = false;

 private:
  int refuseAt_;
};

// Hands out at most `step` bytes per read, to show that decoders do not depend on
// how their input arrives.
class TDribbleSource : public archive::TByteSource {
 public:
  TDribbleSource(const std::vector<uint8_t>& data, std::size_t step) : data_(data), step_(step) {}
  std::size_t Read(uint8_t* buffer, std::size_t count) override {
    std::size_t n = data_.size() - pos_;
    if (n > count) n = count;
    if (n > step_) n = step_;
    for (std::size_t i = 0; i < n; ++i) buffer[i] = data_[pos_ + i];
    pos_ += n;
    return n;
  }

 private:
  const std::vector<uint8_t>& data_;
  std::size_t step_;
  std::size_t pos_ = 0;
};

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

inline std::string TestDataPath(const std::string& name) {
  return std::string(LU_SHARED_DIR) + "/testdata/zip/" + name;
}

// One member of the reference archives as the manifest describes it.
struct TGoldenRow {
  std::string archive, entry;
  int method = 0;
  unsigned flags = 0;
  uint64_t size = 0;
  uint32_t crc = 0;
  std::string sha256;
};

// The manifest's file members with the given method that must extract.
inline std::vector<TGoldenRow> GoldenRows(int method) {
  std::vector<uint8_t> raw;
  std::vector<TGoldenRow> rows;
  if (!ReadWholeFile(TestDataPath("manifest.tsv"), raw)) return rows;
  std::istringstream lines(std::string(raw.begin(), raw.end()));
  std::string line;
  std::getline(lines, line);  // header
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::vector<std::string> f;
    std::istringstream fields(line);
    for (std::string field; std::getline(fields, field, '\t');) f.push_back(field);
    // archive entry type method method_name gp_flags size compressed_size crc32 sha256 dos_mtime expect ...
    if (f.size() < 12 || f[2] != "file" || f[11] != "ok" || std::atoi(f[3].c_str()) != method) continue;
    TGoldenRow row;
    row.archive = f[0];
    row.entry = f[1];
    row.method = method;
    row.flags = static_cast<unsigned>(std::strtoul(f[5].c_str(), nullptr, 16));
    row.size = std::strtoull(f[6].c_str(), nullptr, 10);
    row.crc = static_cast<uint32_t>(std::strtoul(f[8].c_str(), nullptr, 16));
    row.sha256 = f[9];
    rows.push_back(row);
  }
  return rows;
}

// The archives, each read once per test program.
inline const TRawZip& CachedZip(const std::string& archive) {
  static std::map<std::string, std::unique_ptr<TRawZip>> zips;
  auto& zip = zips[archive];
  if (!zip) zip = std::make_unique<TRawZip>(TestDataPath(archive));
  return *zip;
}

// The compressed bytes and directory fields of one golden member; empty name on failure.
inline TRawEntry GoldenEntry(const TGoldenRow& row, std::vector<uint8_t>& compressed) {
  const TRawZip& zip = CachedZip(row.archive);
  const TRawEntry* e = zip.Ok() ? zip.Find(row.entry) : nullptr;
  if (e == nullptr) return {};
  compressed = zip.Compressed(*e);
  return *e;
}

using TDecodeFn =
    std::function<archive::DecodeResult(archive::TByteSource&, archive::TByteSink&, uint64_t size, unsigned flags)>;

// Decodes every reference member of one method and compares it with the manifest:
// result, size, CRC-32, SHA-256, and blocks no larger than the contract allows.
inline void ExpectGoldenDecodes(int method, const TDecodeFn& decode, std::size_t minMembers) {
  std::vector<TGoldenRow> rows = GoldenRows(method);
  ASSERT_GE(rows.size(), minMembers) << "manifest missing or incomplete";
  for (const TGoldenRow& row : rows) {
    SCOPED_TRACE(row.archive + " / " + row.entry);
    std::vector<uint8_t> compressed;
    TRawEntry e = GoldenEntry(row, compressed);
    ASSERT_EQ(e.name, row.entry);
    ASSERT_EQ(e.crc, row.crc);
    archive::TMemorySource source(compressed.data(), compressed.size());
    TCollectSink sink;
    ASSERT_EQ(decode(source, sink, e.size, e.flags), archive::DecodeResult::Ok);
    EXPECT_EQ(sink.bytes.size(), row.size);
    EXPECT_EQ(sink.crc, row.crc);
    EXPECT_LE(sink.maxBlock, archive::kBlockSize);
    EXPECT_EQ(sink.emptyWrites, 0);
    EXPECT_EQ(Sha256Hex(sink.bytes.data(), sink.bytes.size()), row.sha256);
  }
}

// The smallest reference member of a method (by compressed size) with flags
// matching `flags` under `flagMask`, and its decoded bytes.
inline bool SmallGolden(int method, unsigned flagMask, unsigned flags, const TDecodeFn& decode,
                        std::vector<uint8_t>& compressed, std::vector<uint8_t>& plain, unsigned& entryFlags) {
  std::vector<TGoldenRow> rows = GoldenRows(method);
  const TGoldenRow* best = nullptr;
  std::size_t bestSize = 0;
  for (const TGoldenRow& row : rows) {
    std::vector<uint8_t> c;
    GoldenEntry(row, c);
    if ((row.flags & flagMask) != flags || c.empty() || (best != nullptr && c.size() >= bestSize)) continue;
    best = &row;
    bestSize = c.size();
  }
  if (best == nullptr) return false;
  TRawEntry e = GoldenEntry(*best, compressed);
  archive::TMemorySource source(compressed.data(), compressed.size());
  TCollectSink sink;
  if (decode(source, sink, e.size, e.flags) != archive::DecodeResult::Ok) return false;
  plain = sink.bytes;
  entryFlags = e.flags;
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
    archive::TMemorySource source(compressed.data(), cut);
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
    archive::TMemorySource source(compressed.data(), compressed.size());
    TCollectSink sink;
    EXPECT_EQ(decode(source, sink, size, flags), archive::DecodeResult::Ok) << size;
    EXPECT_EQ(sink.bytes, std::vector<uint8_t>(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(size)));
  }
  archive::TMemorySource source(compressed.data(), compressed.size());
  TCollectSink sink;
  EXPECT_EQ(decode(source, sink, plain.size() + 100000, flags), archive::DecodeResult::DataError);
  EXPECT_GE(sink.bytes.size(), plain.size());
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), sink.bytes.begin()));
}

// The sink's refusal ends decoding at once with a write error.
inline void ExpectWriteErrorStops(const std::vector<uint8_t>& compressed, uint64_t size, unsigned flags,
                                  const TDecodeFn& decode) {
  for (int refuseAt : {1, 2}) {
    archive::TMemorySource source(compressed.data(), compressed.size());
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
    archive::TMemorySource source(damaged.data(), damaged.size());
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
    archive::TMemorySource source(data.data(), data.size());
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

}  // namespace testzip
