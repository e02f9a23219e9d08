// What the archive tests, the hostile-input tests and the fuzz targets share,
// without the test framework: a source that hands out its bytes in pieces, a sink
// that keeps and measures what it is given (and refuses when told), whole-file
// reads, the manifests of the test archives, and tree removal.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/decoder.h"
#include "support/tree.h"

namespace testzip {

using testsupport::RemoveTree;

// Hands out at most `chunk` bytes per Read (1 feeds a decoder byte by byte), so
// refills at every offset of a decoder's bit reader get exercised.
class TChunkedSource : public archive::TByteSource {
 public:
  TChunkedSource(const uint8_t* data, std::size_t size, std::size_t chunk) : data_(data), size_(size), chunk_(chunk) {}
  TChunkedSource(const std::vector<uint8_t>& data, std::size_t chunk)
      : TChunkedSource(data.data(), data.size(), chunk) {}
  std::size_t Read(uint8_t* buffer, std::size_t count) override {
    std::size_t n = std::min({count, chunk_, size_ - pos_});
    if (n > 0) std::memcpy(buffer, data_ + pos_, n);
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// The whole block at once, as an in-memory package hands it out.
class TMemorySource : public TChunkedSource {
 public:
  TMemorySource(const void* data, std::size_t size)
      : TChunkedSource(static_cast<const uint8_t*>(data), size, SIZE_MAX) {}
};

// Keeps what it is given (unless told not to) with its CRC-32 and the shape of
// the writes. Refuses every write from the refuseAtWrite-th on (1-based, 0 never)
// and every write that would take it past refuseAfterBytes; writes that still
// arrive after a refusal are counted.
class TCollectSink : public archive::TByteSink {
 public:
  explicit TCollectSink(int refuseAtWrite = 0, uint64_t refuseAfterBytes = UINT64_MAX, bool keep = true)
      : refuseAtWrite_(refuseAtWrite), refuseAfterBytes_(refuseAfterBytes), keep_(keep) {}
  bool Write(const uint8_t* data, std::size_t count) override {
    ++writes;
    if (refused) ++writesAfterRefusal;
    if ((refuseAtWrite_ != 0 && writes >= refuseAtWrite_) ||
        count > refuseAfterBytes_ - std::min(total, refuseAfterBytes_)) {
      refused = true;
      return false;
    }
    maxBlock = std::max(maxBlock, count);
    if (count == 0) ++emptyWrites;
    crc = archive::Crc32Update(crc, data, count);
    total += count;
    if (keep_) bytes.insert(bytes.end(), data, data + count);
    return true;
  }

  std::vector<uint8_t> bytes;
  uint32_t crc = 0;  // of the bytes, block by block as an extractor computes it
  uint64_t total = 0;
  std::size_t maxBlock = 0;
  int writes = 0, emptyWrites = 0, writesAfterRefusal = 0;
  bool refused = false;

 private:
  int refuseAtWrite_;
  uint64_t refuseAfterBytes_;
  bool keep_;
};

// Reads a file whole. Under Wine the host path "/work/..." is reached as
// "Z:/work/..." (Wine maps Z: to the root), so when the host path cannot be opened
// and starts with '/', the Z: form is tried too. False if neither opens.
inline bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in && !path.empty() && path[0] == '/') in.open("Z:" + path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// One member row of a test archive manifest: the shared set's manifest.tsv and
// tests/data/zip/manifest.tsv (tab separated, a header line naming the columns;
// a column a manifest lacks reads as empty or 0).
struct TManifestRow {
  std::string archive;  // file name relative to the manifest's folder
  std::string entry;    // name as stored, UTF-8
  std::string type;     // "file" or "dir"
  int method = -1;
  uint64_t size = 0;
  uint64_t compressedSize = 0;
  uint32_t crc = 0;
  std::string sha256;
  // "ok", "crc_error", "data_or_crc_error", "unsupported_method", "name_error"
  std::string expect;
  std::string password;  // "" for none
};

// Reads a manifest by its column names; empty if it cannot be read.
inline std::vector<TManifestRow> ReadManifest(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (!ReadWholeFile(path, bytes)) return {};
  std::string text(bytes.begin(), bytes.end());
  auto split = [](const std::string& line) {
    std::vector<std::string> fields(1);
    for (char c : line) {
      if (c == '\t')
        fields.emplace_back();
      else if (c != '\r')
        fields.back() += c;
    }
    return fields;
  };
  std::vector<TManifestRow> rows;
  std::vector<std::string> header;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::vector<std::string> f = split(text.substr(at, end - at));
    at = end + 1;
    if (header.empty()) {
      header = f;
      continue;
    }
    if (f.size() != header.size()) continue;
    auto col = [&](const char* name) -> const std::string& {
      for (std::size_t i = 0; i < header.size(); ++i)
        if (header[i] == name) return f[i];
      static const std::string none;
      return none;
    };
    TManifestRow r;
    r.archive = col("archive");
    r.entry = col("entry");
    r.type = col("type");
    if (!col("method").empty()) r.method = std::atoi(col("method").c_str());
    r.size = std::strtoull(col("size").c_str(), nullptr, 10);
    r.compressedSize = std::strtoull(col("compressed_size").c_str(), nullptr, 10);
    r.crc = static_cast<uint32_t>(std::strtoul(col("crc32").c_str(), nullptr, 16));
    r.sha256 = col("sha256");
    r.expect = col("expect");
    r.password = col("password") == "-" ? std::string() : col("password");
    rows.push_back(r);
  }
  return rows;
}

}  // namespace testzip
