// The ZIP records the extractor reads, laid out as in PKWARE's APPNOTE (4.3.7
// local file header, 4.3.9 data descriptor, 4.3.12 central directory header,
// 4.3.14 and 4.3.15 ZIP64 end of central directory record and locator, 4.3.16 end
// of central directory record, 4.5.3 ZIP64 extended information extra field, 4.6.9
// Info-ZIP Unicode Path extra field). All fields are little-endian.
#pragma once

#include <cstddef>
#include <cstdint>

namespace archive::zip {

constexpr uint32_t kLocalHeaderSignature = 0x04034B50;     // "PK\3\4"
constexpr uint32_t kCentralHeaderSignature = 0x02014B50;   // "PK\1\2"
constexpr uint32_t kEndRecordSignature = 0x06054B50;       // "PK\5\6"
constexpr uint32_t kZip64EndRecordSignature = 0x06064B50;  // "PK\6\6"
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;    // "PK\6\7"
constexpr uint32_t kDigitalSignature = 0x05054B50;         // "PK\5\5": may close the central directory
// Written before the first local header of a spanned archive, and (optionally)
// before each data descriptor.
constexpr uint32_t kSpanMarker = 0x08074B50;  // "PK\7\8"
constexpr uint32_t kDataDescriptorSignature = kSpanMarker;

constexpr std::size_t kLocalHeaderSize = 30;
constexpr std::size_t kCentralHeaderSize = 46;
constexpr std::size_t kEndRecordSize = 22;
constexpr std::size_t kZip64EndRecordSize = 56;  // without its extensible data
constexpr std::size_t kZip64LocatorSize = 20;
constexpr std::size_t kExtraHeaderSize = 4;  // each extra field: id, then data size
constexpr std::size_t kEncryptionHeaderSize = 12;

// General-purpose bit flags.
constexpr uint16_t kFlagEncrypted = 0x0001;       // traditional PKWARE encryption
constexpr uint16_t kFlagImplode8K = 0x0002;       // method 6: 8 KB window (else 4 KB)
constexpr uint16_t kFlagImplode3Trees = 0x0004;   // method 6: literal tree present
constexpr uint16_t kFlagDataDescriptor = 0x0008;  // CRC and sizes follow the data
constexpr uint16_t kFlagUtf8 = 0x0800;            // name and comment are UTF-8

// A 32-bit size or offset (or a 16-bit count or disk number) with this value is
// kept in the ZIP64 records instead.
constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;
constexpr uint16_t kZip64Marker16 = 0xFFFF;
// The ZIP64 extended information extra field: in a central record the 64-bit
// values of the fields holding the marker, in this order (uncompressed size,
// compressed size, local header offset, disk); in a local header both sizes.
constexpr uint16_t kZip64ExtraId = 0x0001;
// The Info-ZIP Unicode Path extra field: a version byte (1), the CRC-32 of the
// name stored in the same header, then the name in UTF-8 (to the field's end).
constexpr uint16_t kUnicodePathExtraId = 0x7075;
constexpr uint8_t kUnicodePathVersion = 1;

// Compression methods besides the decoded ones: 99 marks AES encryption (WinZip's
// AE-x), whose extra field names the real method.
constexpr uint16_t kMethodAes = 99;

// "Version made by" high byte: the host whose attribute conventions apply.
constexpr uint8_t kHostMsDos = 0;
constexpr uint8_t kHostUnix = 3;
constexpr uint8_t kHostMacOsX = 19;

inline uint16_t Get16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t Get64(const uint8_t* p) { return Get32(p) | (static_cast<uint64_t>(Get32(p + 4)) << 32); }

// Local file header: precedes each entry's (possibly encrypted) data.
struct TLocalHeader {
  uint32_t Signature;         // 0  kLocalHeaderSignature
  uint16_t VersionNeeded;     // 4  minimum version to extract
  uint16_t Flags;             // 6  general-purpose bit flags
  uint16_t Method;            // 8  compression method
  uint16_t Time;              // 10 MS-DOS time: hour<<11 | minute<<5 | second/2
  uint16_t Date;              // 12 MS-DOS date: (year-1980)<<9 | month<<5 | day
  uint32_t Crc;               // 14 CRC-32 of the uncompressed data (0 with a data descriptor)
  uint32_t CompressedSize;    // 18 including a 12-byte encryption header
  uint32_t UncompressedSize;  // 22
  uint16_t NameLength;        // 26
  uint16_t ExtraLength;       // 28 then name, extra field, data

  static TLocalHeader Parse(const uint8_t* p) {
    return {Get32(p),      Get16(p + 4),  Get16(p + 6),  Get16(p + 8),  Get16(p + 10), Get16(p + 12),
            Get32(p + 14), Get32(p + 18), Get32(p + 22), Get16(p + 26), Get16(p + 28)};
  }
};

// Central directory header: one per entry, all together near the end.
struct TCentralHeader {
  uint32_t Signature;           // 0  kCentralHeaderSignature
  uint16_t VersionMadeBy;       // 4  high byte: host system, low byte: version
  uint16_t VersionNeeded;       // 6
  uint16_t Flags;               // 8
  uint16_t Method;              // 10
  uint16_t Time;                // 12
  uint16_t Date;                // 14
  uint32_t Crc;                 // 16 always valid here, data descriptor or not
  uint32_t CompressedSize;      // 20
  uint32_t UncompressedSize;    // 24
  uint16_t NameLength;          // 28
  uint16_t ExtraLength;         // 30
  uint16_t CommentLength;       // 32 then name, extra field, comment
  uint16_t DiskNumberStart;     // 34
  uint16_t InternalAttributes;  // 36 bit 0: text file
  uint32_t ExternalAttributes;  // 38 MS-DOS attributes in the low byte; Unix mode in the
                                //    high 16 bits when the host is Unix
  uint32_t LocalHeaderOffset;   // 42 from the start of the archive's first disk

  static TCentralHeader Parse(const uint8_t* p) {
    return {Get32(p),      Get16(p + 4),  Get16(p + 6),  Get16(p + 8),  Get16(p + 10), Get16(p + 12),
            Get16(p + 14), Get32(p + 16), Get32(p + 20), Get32(p + 24), Get16(p + 28), Get16(p + 30),
            Get16(p + 32), Get16(p + 34), Get16(p + 36), Get32(p + 38), Get32(p + 42)};
  }
};

// End of central directory record: the last record, followed only by the comment.
struct TEndRecord {
  uint32_t Signature;        // 0  kEndRecordSignature
  uint16_t DiskNumber;       // 4  this disk
  uint16_t DirectoryDisk;    // 6  disk where the central directory starts
  uint16_t EntriesOnDisk;    // 8
  uint16_t TotalEntries;     // 10
  uint32_t DirectorySize;    // 12 bytes
  uint32_t DirectoryOffset;  // 16 from the start of the first disk
  uint16_t CommentLength;    // 20 then the archive comment

  static TEndRecord Parse(const uint8_t* p) {
    return {Get32(p),      Get16(p + 4),  Get16(p + 6),  Get16(p + 8),
            Get16(p + 10), Get32(p + 12), Get32(p + 16), Get16(p + 20)};
  }
};

// ZIP64 end of central directory record: written before the locator when a count,
// size or offset does not fit the end record.
struct TZip64EndRecord {
  uint32_t Signature;        // 0  kZip64EndRecordSignature
  uint64_t RecordSize;       // 4  bytes after this field (44 without extensible data)
  uint16_t VersionMadeBy;    // 12
  uint16_t VersionNeeded;    // 14
  uint32_t DiskNumber;       // 16
  uint32_t DirectoryDisk;    // 20
  uint64_t EntriesOnDisk;    // 24
  uint64_t TotalEntries;     // 32
  uint64_t DirectorySize;    // 40
  uint64_t DirectoryOffset;  // 48 then the extensible data

  static TZip64EndRecord Parse(const uint8_t* p) {
    return {Get32(p),      Get64(p + 4),  Get16(p + 12), Get16(p + 14), Get32(p + 16),
            Get32(p + 20), Get64(p + 24), Get64(p + 32), Get64(p + 40), Get64(p + 48)};
  }
};

// ZIP64 end of central directory locator: right before the end record.
struct TZip64Locator {
  uint32_t Signature;     // 0  kZip64LocatorSignature
  uint32_t RecordDisk;    // 4  disk holding the ZIP64 end record
  uint64_t RecordOffset;  // 8  of the ZIP64 end record
  uint32_t TotalDisks;    // 16

  static TZip64Locator Parse(const uint8_t* p) { return {Get32(p), Get32(p + 4), Get64(p + 8), Get32(p + 16)}; }
};

}  // namespace archive::zip
