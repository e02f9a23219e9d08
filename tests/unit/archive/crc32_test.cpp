#include "archive/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "archive/cpu_features.h"
#include "raw_zip.h"

namespace {

using archive::Crc32;
using archive::Crc32Update;

// Bit-at-a-time CRC-32, straight from the definition, to check the table-driven one.
uint32_t BitwiseCrc32(const uint8_t* p, std::size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
  }
  return ~c;
}

TEST(Crc32, KnownValues) {
  EXPECT_EQ(Crc32(nullptr, 0), 0u);
  EXPECT_EQ(Crc32Update(0x12345678u, nullptr, 0), 0x12345678u);
  EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);  // the usual check value
  EXPECT_EQ(Crc32("a", 1), 0xE8B7BE43u);
  const char* fox = "The quick brown fox jumps over the lazy dog";
  EXPECT_EQ(Crc32(fox, std::strlen(fox)), 0x414FA339u);
}

TEST(Crc32, MatchesBitwiseAtEveryAlignmentAndLength) {
  std::mt19937 rng(12345);
  std::vector<uint8_t> data(4096 + 16);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  for (std::size_t offset = 0; offset < 8; ++offset)
    for (std::size_t n = 0; n <= 80; ++n)
      ASSERT_EQ(Crc32(data.data() + offset, n), BitwiseCrc32(data.data() + offset, n)) << offset << " " << n;
  EXPECT_EQ(Crc32(data.data() + 3, 4096), BitwiseCrc32(data.data() + 3, 4096));
}

TEST(Crc32, PiecewiseEqualsWhole) {
  std::mt19937 rng(777);
  std::vector<uint8_t> data(1000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const uint32_t whole = Crc32(data.data(), data.size());
  for (std::size_t split = 0; split <= data.size(); ++split) {
    uint32_t c = Crc32Update(0, data.data(), split);
    ASSERT_EQ(Crc32Update(c, data.data() + split, data.size() - split), whole) << split;
  }
  // Random piece sizes, as a decoder's blocks arrive.
  uint32_t c = 0;
  for (std::size_t at = 0; at < data.size();) {
    std::size_t n = std::min<std::size_t>(rng() % 37, data.size() - at);
    c = Crc32Update(c, data.data() + at, n);
    at += n;
  }
  EXPECT_EQ(c, whole);
}

// The table path and the carry-less multiplication paths against each other and
// the definition: random lengths (across the foldings' 16, 32 and 128-byte
// steps), alignments and CRCs so far.
TEST(Crc32, TableAndClmulPathsAgree) {
  std::mt19937 rng(3202);
  std::vector<uint8_t> data(70000);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  const bool clmul = archive::CpuFeatures().clmul, wide = archive::CpuFeatures().wideClmul;
  for (int round = 0; round < 400; ++round) {
    std::size_t offset = rng() % 16;
    std::size_t n = round < 200 ? rng() % 700 : rng() % (data.size() - 16);
    uint32_t so_far = round % 3 == 0 ? 0 : static_cast<uint32_t>(rng());
    const uint8_t* p = data.data() + offset;
    uint32_t byTable = archive::Crc32UpdateByTable(so_far, p, n);
    if (so_far == 0) {
      ASSERT_EQ(byTable, BitwiseCrc32(p, n)) << offset << " " << n;
    }
    if (clmul) {
      ASSERT_EQ(archive::Crc32UpdateByClmul(so_far, p, n), byTable) << offset << " " << n << " " << so_far;
    }
    if (wide) {
      ASSERT_EQ(archive::Crc32UpdateByWideClmul(so_far, p, n), byTable) << offset << " " << n << " " << so_far;
    }
  }
  if (!wide)
    GTEST_SKIP() << "this processor lacks " << (clmul ? "VPCLMULQDQ with AVX2" : "PCLMULQDQ")
                 << ": not every path was checked";
}

void ExpectStoredMembersMatch(const std::string& dir, int minMembers) {
  int checked = 0;
  for (const auto& m : testzip::TestMembers(dir, {"ok", "crc_error"})) {
    if (m.entry.method != 0) continue;
    ASSERT_EQ(m.compressed.size(), m.row.size) << m.row.archive << " " << m.row.entry;
    EXPECT_EQ(Crc32(m.compressed.data(), m.compressed.size()) == m.entry.crc, m.row.expect == "ok")
        << m.row.archive << " " << m.row.entry;
    ++checked;
  }
  EXPECT_GE(checked, minMembers) << dir;
}

TEST(Crc32, StoredEntriesOfTestArchivesMatchTheManifest) { ExpectStoredMembersMatch(testzip::LocalZipDir(), 8); }

TEST(Crc32, StoredEntriesOfSharedTestArchivesMatchTheManifest) {
  if (!testzip::SharedZipPresent()) GTEST_SKIP() << "no shared test set at " << testzip::SharedZipDir();
  ExpectStoredMembersMatch(testzip::SharedZipDir(), 8);
}

}  // namespace
