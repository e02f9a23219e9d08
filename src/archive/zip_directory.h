// An archive's table of contents: the end record (and the ZIP64 one), the central
// directory with each entry's local header, and, when the directory is lost, the
// walk over the local headers from the start of the file (PKWARE's APPNOTE,
// sections 4.3.6 to 4.3.16 and 4.5.3).
// Nothing here decodes or writes; the entries found go to a visitor, which selects
// them and checks their names.
#pragma once

#include <cstdint>
#include <string>

class TStream;

namespace archive {

class TArchiveReader;

enum TArcType { atNA, atZip, atZipExe };
// Why the entries are read from the local headers instead of the central directory.
enum TZipHeaderState { hsNoEndRecord, hsNoCentralDirectory };

// One entry, as read from the central directory and its local header.
struct TZipEntry {
  std::string Name;             // as the program shows it: set by the visitor
  int64_t HeaderOffset = 0;     // the local header
  int64_t DataOffset = 0;       // first byte after the local header, name and extra field
  uint64_t CompressedSize = 0;  // including a 12-byte encryption header
  uint64_t UncompressedSize = 0;
  uint32_t Crc = 0;
  uint32_t ExternalAttributes = 0;
  uint16_t Flags = 0;  // general-purpose flags; bit 11 also for a name from the Unicode Path field
  uint16_t Method = 0;
  uint16_t Time = 0;
  uint16_t Date = 0;
  int Host = -1;  // "version made by" host, -1 when read from a local header only
};

// What the directory reader hands on, and what it asks.
class TDirectoryVisitor {
 public:
  virtual ~TDirectoryVisitor() = default;
  // Whether the entry is wanted, from its name as stored in its central record (or,
  // in a walk, its local header) and the entry's Flags and Host. Sets Name for the
  // errors to come.
  virtual bool Select(TZipEntry& entry, const std::string& storedName) = 0;
  // A selected entry with its local header read (offsets, sizes, method) and the
  // name stored there.
  virtual void Add(TZipEntry&& entry, const std::string& localName) = 0;
  // Asked once before the local headers are walked; false leaves the archive unread.
  virtual bool WalkLocalHeaders(TZipHeaderState state) = 0;
  // A problem with one entry (fileName its Name) or with the archive.
  virtual void Error(const std::string& fileName, const std::string& extendedMsg, int code) = 0;
};

// Finds the entries of the archive and hands each selected one to the visitor, in
// the order the archive lists them. False when there is nothing to extract: no
// archive at all, or one without entries.
bool ReadZipDirectory(TArchiveReader& reader, TDirectoryVisitor& visitor, const std::string& archiveName);

// The type of the file at path, from its contents: atNA when it is no archive.
TArcType DetectArcType(const std::string& path);
// The same for an archive already open.
TArcType DetectArcType(TStream& stream);

}  // namespace archive
