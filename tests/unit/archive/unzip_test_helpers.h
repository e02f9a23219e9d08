// Helpers for the extraction tests: a small SHA-256 to compare extracted files
// with the manifests, a tiny ZIP writer for hand-made archives (stored entries,
// optional traditional encryption, any name, flag or attribute), and a recorder
// of the extractor's events.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/unzip.h"
#include "archive/zip_crypto.h"
#include "unit/archive/sha256.h"

namespace unziptest {

// ---------------------------------------------------------------- SHA-256

inline std::string Sha256Hex(const std::string& data) {
  return testzip::Sha256Hex(reinterpret_cast<const uint8_t*>(data.data()), data.size());
}

// ---------------------------------------------------------------- a tiny ZIP writer

struct TEntrySpec {
  std::string Name;  // as stored (use "/" like real archivers)
  std::string Data;  // stored as it is (method 0 unless Method says otherwise)
  uint16_t Method = 0;
  uint16_t Flags = 0;
  uint32_t ExternalAttributes = 0x20;
  uint8_t Host = 0;                 // "version made by" host
  uint16_t Time = 0x6000;           // 12:00:00
  uint16_t Date = 0x5A65;           // 2025-03-05
  std::string Password;             // encrypt with traditional PKWARE encryption
  bool DataDescriptor = false;      // CRC and sizes after the data (bit 3)
  bool BadCrc = false;              // store a wrong CRC
  int64_t DeclaredCrc = -1;         // the CRC to store (default: Data's)
  int64_t DeclaredSize = -1;        // uncompressed size to declare (default: Data's)
  int64_t DeclaredCompressed = -1;  // compressed size to declare in the directory
  std::string LocalName;            // a different name in the local header
  int64_t LocalOffset = -1;         // point the directory at another entry's local header
  bool Zip64 = false;               // sizes and offset in ZIP64 extra fields (and descriptor)
  std::string Extra;                // further extra fields of the central record
  std::string LocalExtra;           // and of the local header
};

struct TArchiveLayout {
  std::string Stub;              // bytes in front of the archive
  bool AdjustOffsets = false;    // offsets count from the file's start (as zip -A)
  bool CentralDirectory = true;  // false: local headers only (a cut-off archive)
  std::string Comment;
  bool Zip64End = false;  // a ZIP64 end record and its locator; the end record holds markers
  // Offsets count this many bytes more, for an archive the caller writes that far
  // into a file (a hole in front of it).
  uint64_t Hole = 0;
};

inline void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
inline void Put32(std::string& s, uint32_t v) {
  Put16(s, v & 0xFFFF);
  Put16(s, v >> 16);
}
inline void Put64(std::string& s, uint64_t v) {
  Put32(s, static_cast<uint32_t>(v));
  Put32(s, static_cast<uint32_t>(v >> 32));
}

inline std::string BuildZip(const std::vector<TEntrySpec>& entries, const TArchiveLayout& layout = {}) {
  constexpr uint32_t kMarker = 0xFFFFFFFF;
  std::string out = layout.Stub;
  const uint64_t base = (layout.AdjustOffsets ? layout.Stub.size() : 0) + layout.Hole;
  std::string central;
  for (const TEntrySpec& e : entries) {
    uint32_t crc =
        e.DeclaredCrc >= 0 ? static_cast<uint32_t>(e.DeclaredCrc) : archive::Crc32(e.Data.data(), e.Data.size());
    if (e.BadCrc) crc ^= 0x5A5A5A5A;
    std::string payload = e.Data;
    uint16_t flags = e.Flags;
    if (!e.Password.empty()) {
      flags |= 1;
      archive::TZipCrypto crypto(e.Password);
      std::string header(12, '\0');
      for (int i = 0; i < 11; ++i) header[i] = static_cast<char>((i * 37 + 11) & 0xFF);
      header[11] = static_cast<char>(e.DataDescriptor ? (e.Time >> 8) : (crc >> 24));
      payload = header + payload;
      crypto.Encrypt(reinterpret_cast<uint8_t*>(payload.data()), payload.size());
    }
    if (e.DataDescriptor) flags |= 8;
    uint64_t size = e.DeclaredSize >= 0 ? static_cast<uint64_t>(e.DeclaredSize) : e.Data.size();
    uint64_t csize = payload.size();
    uint64_t centralCsize = e.DeclaredCompressed >= 0 ? static_cast<uint64_t>(e.DeclaredCompressed) : csize;
    const std::string& localName = e.LocalName.empty() ? e.Name : e.LocalName;
    uint64_t offset = out.size() - layout.Stub.size();
    if (e.LocalOffset < 0) {
      std::string extra;
      if (e.Zip64) {
        Put16(extra, 1);
        Put16(extra, 16);
        Put64(extra, e.DataDescriptor ? 0 : size);
        Put64(extra, e.DataDescriptor ? 0 : csize);
      }
      Put32(out, 0x04034B50);
      Put16(out, e.Zip64 ? 45 : 20);
      Put16(out, flags);
      Put16(out, e.Method);
      Put16(out, e.Time);
      Put16(out, e.Date);
      Put32(out, e.DataDescriptor ? 0 : crc);
      Put32(out, e.Zip64 ? kMarker : e.DataDescriptor ? 0 : static_cast<uint32_t>(csize));
      Put32(out, e.Zip64 ? kMarker : e.DataDescriptor ? 0 : static_cast<uint32_t>(size));
      extra += e.LocalExtra;
      Put16(out, static_cast<uint32_t>(localName.size()));
      Put16(out, static_cast<uint32_t>(extra.size()));
      out += localName;
      out += extra;
      out += payload;
      if (e.DataDescriptor) {
        Put32(out, 0x08074B50);
        Put32(out, crc);
        if (e.Zip64) {
          Put64(out, csize);
          Put64(out, size);
        } else {
          Put32(out, static_cast<uint32_t>(csize));
          Put32(out, static_cast<uint32_t>(size));
        }
      }
    } else {
      offset = static_cast<uint64_t>(e.LocalOffset);
    }
    offset += base;
    // The ZIP64 field holds what does not fit, or everything when asked to.
    const bool wideSize = e.Zip64 || size >= kMarker, wideCsize = e.Zip64 || centralCsize >= kMarker,
               wideOffset = e.Zip64 || offset >= kMarker;
    std::string extra;
    if (wideSize || wideCsize || wideOffset) {
      std::string values;
      if (wideSize) Put64(values, size);
      if (wideCsize) Put64(values, centralCsize);
      if (wideOffset) Put64(values, offset);
      Put16(extra, 1);
      Put16(extra, static_cast<uint32_t>(values.size()));
      extra += values;
    }
    extra += e.Extra;
    Put32(central, 0x02014B50);
    Put16(central, (static_cast<uint32_t>(e.Host) << 8) | 20);
    Put16(central, 20);
    Put16(central, flags);
    Put16(central, e.Method);
    Put16(central, e.Time);
    Put16(central, e.Date);
    Put32(central, crc);
    Put32(central, wideCsize ? kMarker : static_cast<uint32_t>(centralCsize));
    Put32(central, wideSize ? kMarker : static_cast<uint32_t>(size));
    Put16(central, static_cast<uint32_t>(e.Name.size()));
    Put16(central, static_cast<uint32_t>(extra.size()));
    Put16(central, 0);
    Put16(central, 0);
    Put16(central, 0);
    Put32(central, e.ExternalAttributes);
    Put32(central, wideOffset ? kMarker : static_cast<uint32_t>(offset));
    central += e.Name;
    central += extra;
  }
  if (!layout.CentralDirectory) return out;
  const uint64_t cdOffset = out.size() - layout.Stub.size() + base;
  out += central;
  const bool zip64 = layout.Zip64End || cdOffset >= kMarker;
  if (zip64) {
    const uint64_t recordOffset = out.size() - layout.Stub.size() + base;
    Put32(out, 0x06064B50);
    Put64(out, 44);
    Put16(out, 45);
    Put16(out, 45);
    Put32(out, 0);
    Put32(out, 0);
    Put64(out, entries.size());
    Put64(out, entries.size());
    Put64(out, central.size());
    Put64(out, cdOffset);
    Put32(out, 0x07064B50);
    Put32(out, 0);
    Put64(out, recordOffset);
    Put32(out, 1);
  }
  Put32(out, 0x06054B50);
  Put16(out, 0);
  Put16(out, 0);
  Put16(out, zip64 ? 0xFFFF : static_cast<uint32_t>(entries.size()));
  Put16(out, zip64 ? 0xFFFF : static_cast<uint32_t>(entries.size()));
  Put32(out, zip64 ? kMarker : static_cast<uint32_t>(central.size()));
  Put32(out, zip64 ? kMarker : static_cast<uint32_t>(cdOffset));
  Put16(out, static_cast<uint32_t>(layout.Comment.size()));
  out += layout.Comment;
  return out;
}

// An Info-ZIP Unicode Path extra field (0x7075) naming utf8, for the stored name
// whose CRC-32 it holds.
inline std::string UnicodePathField(const std::string& crcOf, const std::string& utf8) {
  std::string field;
  Put16(field, 0x7075);
  Put16(field, static_cast<uint32_t>(5 + utf8.size()));
  field += '\x01';
  Put32(field, archive::Crc32(crcOf.data(), crcOf.size()));
  return field + utf8;
}

// ---------------------------------------------------------------- event recorder

struct TErrorEvent {
  std::string FileName, ExtendedMsg, VolumeID;
  int Code;
};

// Attaches to every event of a TUnZip and keeps what it saw, in order.
struct TRecorder {
  std::vector<std::string> Events;  // "activate", "begin <name>", "end <name> 1", "error <code>", ...
  std::vector<std::string> Begun;
  std::vector<int> BeginCounts;  // the Count each OnBegin saw
  std::vector<std::pair<std::string, bool>> Ended;
  std::vector<TErrorEvent> Errors;
  std::vector<std::pair<int, int>> Progress;

  void Attach(archive::TUnZip& z, bool withOnEnd = true) {
    z.OnActivate = [this](archive::TUnZip*) { Events.push_back("activate"); };
    z.OnDeactivate = [this](archive::TUnZip*) { Events.push_back("deactivate"); };
    z.OnBegin = [this](archive::TUnZip*, const std::string& name, int count, bool& extract) {
      EXPECT_TRUE(extract);
      BeginCounts.push_back(count);
      Events.push_back("begin " + name);
      Begun.push_back(name);
    };
    if (withOnEnd)
      z.OnEnd = [this](archive::TUnZip*, const std::string& name, bool pass) {
        Events.push_back("end " + name + (pass ? " 1" : " 0"));
        Ended.emplace_back(name, pass);
      };
    z.OnError = [this](archive::TUnZip*, const std::string& name, const std::string& extended,
                       const std::string& volume, int code) {
      Events.push_back("error " + std::to_string(code));
      Errors.push_back({name, extended, volume, code});
    };
    z.OnProgress = [this](archive::TUnZip*, uint8_t byFile, uint8_t byArchive) {
      Progress.emplace_back(byFile, byArchive);
    };
    z.OnElapsedTime = [this](archive::TUnZip*, float seconds) {
      EXPECT_GE(seconds, 0.0f);
      Events.push_back("elapsed");
    };
  }

  std::vector<int> ErrorCodes() const {
    std::vector<int> codes;
    for (const TErrorEvent& e : Errors) codes.push_back(e.Code);
    return codes;
  }
  int ErrorCount(int code) const {
    int n = 0;
    for (const TErrorEvent& e : Errors) n += e.Code == code;
    return n;
  }
};

}  // namespace unziptest
