// The reader behind ReadZipDirectory, shared by its two halves: the end record and
// the central directory (zip_directory.cpp), and the walk over the local headers
// that stands in for a directory that is lost (local_header_walk.cpp). Internal
// to the archive library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "archive/zip_directory.h"
#include "archive/zip_format.h"

namespace archive {

class TArchiveReader;

// The most entries one archive may have, and the most bytes all their names may
// take: what is kept of each entry (about a hundred bytes and its name) must stay
// within memory, whatever a directory claims.
constexpr uint64_t kMaxEntries = 1000000;
constexpr uint64_t kMaxNameBytes = uint64_t{256} << 20;

// Whether the file begins with a local header (after a span marker, perhaps).
bool BeginsWithLocalHeader(TArchiveReader& reader);

// The first local header signature within the first four search blocks, or -1.
int64_t FindFirstLocalHeader(TArchiveReader& reader);

// The data of the first extra field with this id; false when there is none or the
// area breaks off before it.
bool FindExtraField(const std::vector<uint8_t>& extra, uint16_t id, const uint8_t*& data, std::size_t& length);

// A local header as the file holds it: the fixed part, the name and what the file
// holds of the extra field.
struct TLocalRecord {
  int64_t Pos = 0;
  zip::TLocalHeader Header{};
  std::string Name;
  std::vector<uint8_t> Extra;  // shorter than Header.ExtraLength where the file ends first

  // The first byte after the header, name and extra field.
  int64_t DataPos() const {
    return Pos + static_cast<int64_t>(zip::kLocalHeaderSize) + Header.NameLength + Header.ExtraLength;
  }
  // Fills what the entry takes from its local header: where header and data lie,
  // flags, method and date; sizes and CRC are the caller's (from the directory,
  // the header or a data descriptor).
  void Describe(TZipEntry& entry, uint16_t flags, uint64_t compressed, uint64_t uncompressed, uint32_t crc) const;
};

enum class TLocalRead { Ok, NoHeader, NameCut };

class TDirectoryReader {
 public:
  TDirectoryReader(TArchiveReader& reader, TDirectoryVisitor& visitor, const std::string& archiveName)
      : reader_(reader), visitor_(visitor), archiveName_(archiveName) {}

  // ReadZipDirectory's answer.
  bool Read();

 private:
  struct TCentralRecord;
  enum class TCentralRead { Record, End, Damaged };
  enum class TWalkStep { Next, Stop, Void };

  bool NotAnArchive(const std::string& why);
  bool Damaged(const std::string& why);
  // Counts a name's bytes against kMaxNameBytes; false (reported) past it.
  bool NameFits(std::size_t size);
  // Replaces a stored name by the name of the Unicode Path field that belongs to
  // it, and marks it UTF-8 in flags; false (reported) when that name is more than
  // the names may take.
  bool UseUnicodePath(const std::vector<uint8_t>& extra, std::string& name, uint16_t& flags);
  // The local header at pos into local_: NoHeader when there is none, NameCut when
  // the file ends inside its name.
  TLocalRead ReadLocalHeader(int64_t pos);

  // The central directory.
  bool ReadCentralDirectory(int64_t start, int64_t end, int64_t adjustment, uint64_t declared, bool zip64);
  TCentralRead ReadCentralRecord(int64_t pos, int64_t end, uint64_t& records, TCentralRecord& record);
  bool AddCentralEntry(const TCentralRecord& record, int64_t adjustment);

  // The walk over the local headers.
  bool WalkLocalHeaders(int64_t start, TZipHeaderState state);
  TWalkStep WalkEntry(int64_t& pos);
  bool SizesAfterData(int64_t dataPos, bool wide, const std::string& name, uint16_t flags, uint32_t& crc,
                      uint64_t& compressed, uint64_t& uncompressed, int64_t& next);
  bool FindDataDescriptor(int64_t dataPos, bool wide, uint32_t& crc, uint64_t& compressed, uint64_t& uncompressed,
                          int64_t& next);

  uint64_t nameBytes_ = 0;
  TLocalRecord local_;  // the local header read last, its buffers kept from entry to entry
  TArchiveReader& reader_;
  TDirectoryVisitor& visitor_;
  const std::string& archiveName_;
};

}  // namespace archive
