// A tiny ZIP reader for the decoder tests: it reads a whole archive into memory,
// walks the central directory and hands out each entry's raw compressed bytes, so
// a decoder can be tested on real archives without the extraction component.
// Record layouts from PKWARE's APPNOTE, sections 4.3.7, 4.3.12 and 4.3.16.
// Test use only: no ZIP64, no encryption, archives of a few megabytes. Also finds
// the test archives and the members their manifests list.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "unit/archive/archive_support.h"

namespace testzip {

struct TRawEntry {
  std::string name;             // as stored, '/' separators
  uint16_t method = 0;          // compression method
  uint16_t flags = 0;           // general-purpose bit flags
  uint32_t crc = 0;             // CRC-32 from the central directory
  uint32_t compressedSize = 0;  // from the central directory
  uint32_t size = 0;            // uncompressed size from the central directory
  uint32_t externalAttributes = 0;
  uint64_t dataOffset = 0;  // of the compressed bytes, in the archive file
};

class TRawZip {
 public:
  // Loads and indexes the archive; Ok() tells whether that worked, Error() why not.
  explicit TRawZip(const std::string& path) {
    if (!ReadWholeFile(path, data_)) {
      error_ = "cannot read " + path;
      return;
    }
    Index();
  }

  bool Ok() const { return error_.empty(); }
  const std::string& Error() const { return error_; }
  const std::vector<TRawEntry>& Entries() const { return entries_; }

  // The entry named exactly so, or nullptr.
  const TRawEntry* Find(const std::string& name) const {
    for (const TRawEntry& e : entries_)
      if (e.name == name) return &e;
    return nullptr;
  }

  // The entry's compressed bytes (empty if they would run past the file's end).
  std::vector<uint8_t> Compressed(const TRawEntry& e) const {
    if (e.dataOffset > data_.size() || data_.size() - e.dataOffset < e.compressedSize) return {};
    auto begin = data_.begin() + static_cast<std::ptrdiff_t>(e.dataOffset);
    return std::vector<uint8_t>(begin, begin + e.compressedSize);
  }

 private:
  uint16_t U16(std::size_t at) const { return static_cast<uint16_t>(data_[at] | data_[at + 1] << 8); }
  uint32_t U32(std::size_t at) const { return U16(at) | static_cast<uint32_t>(U16(at + 2)) << 16; }
  bool Has(std::size_t at, std::size_t n) const { return at <= data_.size() && data_.size() - at >= n; }

  void Index() {
    // End of central directory record (22 bytes + comment), searched backwards:
    //   0 signature 0x06054b50, 4 disk, 6 directory disk, 8 entries on disk,
    //  10 entries, 12 directory size, 16 directory offset, 20 comment length.
    if (data_.size() < 22) {
      error_ = "too short for an end record";
      return;
    }
    std::size_t end = data_.size() - 22;
    for (;;) {
      if (U32(end) == 0x06054b50) break;
      if (end == 0 || data_.size() - end > 22 + 65535) {
        error_ = "no end record";
        return;
      }
      --end;
    }
    uint16_t count = U16(end + 10);
    uint32_t dirSize = U32(end + 12);
    uint32_t dirOffset = U32(end + 16);
    if (count == 0) return;
    // An archive with a program stub in front whose offsets were not adjusted: the
    // directory then sits right before the end record, not at its stated offset.
    uint64_t shift = 0;
    if (!Has(dirOffset, 4) || U32(dirOffset) != 0x02014b50) {
      if (dirSize > end || U32(end - dirSize) != 0x02014b50) {
        error_ = "no central directory";
        return;
      }
      shift = end - dirSize - dirOffset;
    }
    std::size_t at = static_cast<std::size_t>(dirOffset + shift);
    for (uint16_t i = 0; i < count; ++i) {
      // Central directory header (46 bytes + name + extra + comment):
      //   0 signature 0x02014b50, 4 version made by, 6 version needed, 8 flags,
      //  10 method, 12 time, 14 date, 16 crc, 20 compressed size, 24 size,
      //  28 name length, 30 extra length, 32 comment length, 34 disk,
      //  36 internal attributes, 38 external attributes, 42 local header offset.
      if (!Has(at, 46) || U32(at) != 0x02014b50) {
        error_ = "bad central header";
        return;
      }
      TRawEntry e;
      e.flags = U16(at + 8);
      e.method = U16(at + 10);
      e.crc = U32(at + 16);
      e.compressedSize = U32(at + 20);
      e.size = U32(at + 24);
      std::size_t nameLen = U16(at + 28), extraLen = U16(at + 30), commentLen = U16(at + 32);
      e.externalAttributes = U32(at + 38);
      uint64_t local = U32(at + 42) + shift;
      if (!Has(at + 46, nameLen)) {
        error_ = "central header name past the end";
        return;
      }
      e.name.assign(reinterpret_cast<const char*>(&data_[at + 46]), nameLen);
      // Local file header (30 bytes + name + extra): 0 signature 0x04034b50, ...,
      //  26 name length, 28 extra length (may differ from the central one).
      if (!Has(static_cast<std::size_t>(local), 30) || U32(static_cast<std::size_t>(local)) != 0x04034b50) {
        error_ = "bad local header for " + e.name;
        return;
      }
      std::size_t l = static_cast<std::size_t>(local);
      e.dataOffset = local + 30 + U16(l + 26) + U16(l + 28);
      entries_.push_back(e);
      at += 46 + nameLen + extraLen + commentLen;
    }
  }

  std::vector<uint8_t> data_;
  std::vector<TRawEntry> entries_;
  std::string error_;
};

// The archives made for this project (tests/data/zip) and the shared test set, as
// host paths ending in "/". A clone of the project alone has only the first.
inline std::string LocalZipDir() { return std::string(LU_SOURCE_DIR) + "/tests/data/zip/"; }
inline std::string SharedZipDir() { return std::string(LU_SHARED_DIR) + "/testdata/zip/"; }
inline bool SharedZipPresent() {
  std::vector<uint8_t> manifest;
  return ReadWholeFile(SharedZipDir() + "manifest.tsv", manifest);
}

// An archive of a test folder, each read once per test program.
inline const TRawZip& CachedZip(const std::string& dir, const std::string& archive) {
  static std::map<std::string, std::unique_ptr<TRawZip>> zips;
  auto& zip = zips[dir + archive];
  if (!zip) zip = std::make_unique<TRawZip>(dir + archive);
  return *zip;
}

// A file member of a test folder's manifest with its directory fields (method,
// flags, CRC) and compressed bytes as the raw reader finds them.
struct TTestMember {
  TManifestRow row;
  TRawEntry entry;
  std::vector<uint8_t> compressed;
};

// Every file member of the folder's manifest whose archive the raw reader can
// index (not the cut-off or ZIP64 ones) and whose expectation is one of expects.
inline std::vector<TTestMember> TestMembers(const std::string& dir, const std::vector<std::string>& expects) {
  std::vector<TTestMember> members;
  for (const TManifestRow& row : ReadManifest(dir + "manifest.tsv")) {
    if (row.type != "file" || std::find(expects.begin(), expects.end(), row.expect) == expects.end()) continue;
    const TRawZip& zip = CachedZip(dir, row.archive);
    const TRawEntry* e = zip.Ok() ? zip.Find(row.entry) : nullptr;
    if (e == nullptr || (e->flags & 1)) continue;  // encrypted members are the extractor's business
    members.push_back({row, *e, zip.Compressed(*e)});
  }
  return members;
}

}  // namespace testzip
