#include "archive/zip_directory.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/unzip_errors.h"
#include "archive/zip_format.h"
#include "platform/files.h"

namespace archive {

namespace {

// How much of the archive's end is searched for the end record, and the size of
// the blocks searched for a first local header when the directory is lost.
constexpr int64_t kTailBlock = 32768;
constexpr int kLocalSearchBlocks = 4;
// The most entries one archive may have, and the most bytes all their names may
// take: what is kept of each entry (about a hundred bytes and its name) must stay
// within memory, whatever a directory claims.
constexpr uint64_t kMaxEntries = 1000000;
constexpr uint64_t kMaxNameBytes = uint64_t{256} << 20;

// The end record, searched backwards from 22 bytes before the end of the last
// min(size, 32 KB) bytes (all of them: an empty archive is its end record alone).
// Returns its position or -1.
int64_t FindEndRecord(TArchiveReader& reader, zip::TEndRecord& record) {
  int64_t block = std::min<int64_t>(reader.Size(), kTailBlock);
  if (block < static_cast<int64_t>(zip::kEndRecordSize)) return -1;
  std::vector<uint8_t> tail(static_cast<std::size_t>(block));
  int64_t base = reader.Size() - block;
  std::size_t got = reader.ReadAt(base, tail.data(), tail.size());
  if (got < tail.size()) return -1;
  for (int64_t i = block - static_cast<int64_t>(zip::kEndRecordSize); i >= 0; --i) {
    if (zip::Get32(tail.data() + i) == zip::kEndRecordSignature) {
      record = zip::TEndRecord::Parse(tail.data() + i);
      return base + i;
    }
  }
  return -1;
}

bool BeginsWithLocalHeader(TArchiveReader& reader) {
  if (reader.Has32At(0, zip::kLocalHeaderSignature)) return true;
  return reader.Has32At(0, zip::kSpanMarker) && reader.Has32At(4, zip::kLocalHeaderSignature);
}

// The first local header signature within the first four tail-sized blocks, or -1.
int64_t FindFirstLocalHeader(TArchiveReader& reader) {
  int64_t block = std::max<int64_t>(std::min<int64_t>(reader.Size() - 1, kTailBlock), 0);
  int64_t span = std::min<int64_t>(reader.Size(), block * kLocalSearchBlocks);
  std::vector<uint8_t> head(static_cast<std::size_t>(std::max<int64_t>(span, 0)));
  std::size_t got = reader.ReadAt(0, head.data(), head.size());
  for (std::size_t i = 0; i + 4 <= got; ++i)
    if (zip::Get32(head.data() + i) == zip::kLocalHeaderSignature) return static_cast<int64_t>(i);
  return -1;
}

// The data of the first extra field with this id; false when there is none or the
// area breaks off before it.
bool FindExtraField(const std::vector<uint8_t>& extra, uint16_t id, const uint8_t*& data, std::size_t& length) {
  std::size_t pos = 0;
  while (extra.size() - pos >= zip::kExtraHeaderSize) {
    const uint16_t fieldId = zip::Get16(&extra[pos]);
    const std::size_t size = zip::Get16(&extra[pos + 2]);
    if (size > extra.size() - pos - zip::kExtraHeaderSize) return false;
    if (fieldId == id) {
      data = extra.data() + pos + zip::kExtraHeaderSize;
      length = size;
      return true;
    }
    pos += zip::kExtraHeaderSize + size;
  }
  return false;
}

// A central record's values that hold the ZIP64 marker, replaced in the APPNOTE's
// order (uncompressed size, compressed size, local header offset) by the 64-bit
// values of its ZIP64 extra field. False when a value is not there.
bool CentralZip64Values(const std::vector<uint8_t>& extra, uint64_t& uncompressed, uint64_t& compressed,
                        uint64_t& offset) {
  uint64_t* const values[] = {&uncompressed, &compressed, &offset};
  if (std::none_of(std::begin(values), std::end(values), [](uint64_t* v) { return *v == zip::kZip64Marker32; }))
    return true;
  const uint8_t* data = nullptr;
  std::size_t length = 0;
  if (!FindExtraField(extra, zip::kZip64ExtraId, data, length)) return false;
  std::size_t at = 0;
  for (uint64_t* v : values) {
    if (*v != zip::kZip64Marker32) continue;
    if (length - at < 8) return false;
    *v = zip::Get64(data + at);
    at += 8;
  }
  return true;
}

// A local header's sizes from its ZIP64 extra field, which holds both whenever one
// of them holds the marker. False when they are not there; wide tells whether the
// field is there at all (a data descriptor then has 64-bit sizes).
bool LocalZip64Values(const std::vector<uint8_t>& extra, uint64_t& uncompressed, uint64_t& compressed, bool& wide) {
  const uint8_t* data = nullptr;
  std::size_t length = 0;
  wide = FindExtraField(extra, zip::kZip64ExtraId, data, length);
  if (uncompressed != zip::kZip64Marker32 && compressed != zip::kZip64Marker32) return true;
  if (!wide || length < 16) return false;
  uncompressed = zip::Get64(data);
  compressed = zip::Get64(data + 8);
  return true;
}

// Well formed: a chain of extra fields (id, size, data) that fills the area,
// bar up to three bytes of padding too short to start another.
bool ExtraFieldsFit(const std::vector<uint8_t>& extra) {
  std::size_t pos = 0;
  while (extra.size() - pos >= zip::kExtraHeaderSize) {
    const std::size_t size = zip::Get16(&extra[pos + 2]);
    if (size > extra.size() - pos - zip::kExtraHeaderSize) return false;
    pos += zip::kExtraHeaderSize + size;
  }
  return true;
}

class TDirectoryReader {
 public:
  TDirectoryReader(TArchiveReader& reader, TDirectoryVisitor& visitor, const std::string& archiveName)
      : reader_(reader), visitor_(visitor), archiveName_(archiveName) {}

  bool Read() {
    if (reader_.Size() == 0) return NotAnArchive("the file is empty");
    zip::TEndRecord end;
    int64_t endPos = FindEndRecord(reader_, end);
    if (endPos < 0) {
      if (!BeginsWithLocalHeader(reader_)) return NotAnArchive("");
      // Cut short (a download that broke off, say): what the local headers hold is
      // extracted, and the archive still fails as a whole.
      Damaged("no end of central directory record: the archive is cut short");
      return WalkLocalHeaders(0, hsNoEndRecord);
    }
    if (end.CommentLength > reader_.Size() - endPos - static_cast<int64_t>(zip::kEndRecordSize))
      return Damaged("the archive comment runs past the end of the file: the archive is cut short");
    uint64_t total = end.TotalEntries, size = end.DirectorySize, offset = end.DirectoryOffset;
    int64_t directoryEnd = endPos;
    bool zip64 = false;
    if (!ReadZip64EndRecord(endPos, total, size, offset, directoryEnd, zip64)) return false;
    if (total == 0 && size == 0) return false;  // an empty archive
    if (total > kMaxEntries) return Damaged("more than " + std::to_string(kMaxEntries) + " entries");

    uint8_t header[zip::kCentralHeaderSize];
    auto holdsCentralHeader = [&](uint64_t pos) {
      return pos < static_cast<uint64_t>(reader_.Size()) &&
             reader_.ReadAt(static_cast<int64_t>(pos), header, sizeof header) == sizeof header &&
             zip::Get32(header) == zip::kCentralHeaderSignature;
    };
    // Where the end record says, or (data in front of the archive that its offsets
    // do not count, a program stub) where the (ZIP64) end record shows it ends.
    if (size <= static_cast<uint64_t>(directoryEnd)) {
      const int64_t actual = directoryEnd - static_cast<int64_t>(size);
      if (holdsCentralHeader(offset) && offset <= static_cast<uint64_t>(actual))
        return ReadCentralDirectory(static_cast<int64_t>(offset), static_cast<int64_t>(offset + size), 0, total, zip64);
      if (holdsCentralHeader(static_cast<uint64_t>(actual)))
        return ReadCentralDirectory(actual, directoryEnd, actual - static_cast<int64_t>(offset), total, zip64);
    }
    int64_t first = FindFirstLocalHeader(reader_);
    if (first < 0) return Damaged("no central directory where the end record says");
    Damaged("no central directory where the end record says");
    return WalkLocalHeaders(first, hsNoCentralDirectory);
  }

 private:
  bool NotAnArchive(const std::string& why) {
    visitor_.Error(archiveName_, why, kErrNotZip);
    return false;
  }
  bool Damaged(const std::string& why) {
    visitor_.Error(archiveName_, why, kErrBadDirectory);
    return false;
  }
  // Counts a name's bytes against kMaxNameBytes; false (reported) past it.
  bool NameFits(std::size_t size) {
    nameBytes_ += size;
    return nameBytes_ <= kMaxNameBytes || Damaged("names of more than 256 MB");
  }

  // The ZIP64 end record that a locator right before the end record points to, or
  // that sits right before the locator when data in front of the archive is not
  // counted: its count, size and offset replace the end record's. False (reported)
  // when a locator points nowhere.
  bool ReadZip64EndRecord(int64_t endPos, uint64_t& total, uint64_t& size, uint64_t& offset, int64_t& directoryEnd,
                          bool& zip64) {
    const int64_t locatorPos = endPos - static_cast<int64_t>(zip::kZip64LocatorSize);
    uint8_t raw[zip::kZip64EndRecordSize];
    if (locatorPos < 0 || reader_.ReadAt(locatorPos, raw, zip::kZip64LocatorSize) != zip::kZip64LocatorSize)
      return true;
    const zip::TZip64Locator locator = zip::TZip64Locator::Parse(raw);
    if (locator.Signature != zip::kZip64LocatorSignature) return true;
    int64_t recordPos = -1;
    if (locator.RecordOffset < static_cast<uint64_t>(locatorPos) &&
        reader_.Has32At(static_cast<int64_t>(locator.RecordOffset), zip::kZip64EndRecordSignature))
      recordPos = static_cast<int64_t>(locator.RecordOffset);
    else if (reader_.Has32At(locatorPos - static_cast<int64_t>(zip::kZip64EndRecordSize),
                             zip::kZip64EndRecordSignature))
      recordPos = locatorPos - static_cast<int64_t>(zip::kZip64EndRecordSize);
    if (recordPos < 0 || reader_.ReadAt(recordPos, raw, sizeof raw) != sizeof raw)
      return Damaged("no ZIP64 end of central directory record where its locator says");
    const zip::TZip64EndRecord record = zip::TZip64EndRecord::Parse(raw);
    total = record.TotalEntries;
    size = record.DirectorySize;
    offset = record.DirectoryOffset;
    directoryEnd = recordPos;
    zip64 = true;
    return true;
  }

  // The records from start to end, every one of them whole and inside; false
  // (reported) when one is not, or when there are not as many as the end record
  // says, so that nothing of a damaged directory is extracted.
  bool ReadCentralDirectory(int64_t start, int64_t end, int64_t adjustment, uint64_t declared, bool zip64) {
    int64_t pos = start;
    uint64_t records = 0;
    uint8_t raw[zip::kCentralHeaderSize];
    std::vector<uint8_t> extra;
    while (pos < end) {
      if (end - pos < static_cast<int64_t>(zip::kCentralHeaderSize) ||
          reader_.ReadAt(pos, raw, sizeof raw) != sizeof raw)
        return Damaged("a record runs past the end of the central directory");
      zip::TCentralHeader central = zip::TCentralHeader::Parse(raw);
      // A digital signature may close the directory; a directory size that counts
      // the end records too is a writer's slip, not damage.
      if (central.Signature == zip::kDigitalSignature || central.Signature == zip::kEndRecordSignature ||
          central.Signature == zip::kZip64EndRecordSignature)
        break;
      if (central.Signature != zip::kCentralHeaderSignature)
        return Damaged("no central directory record where one should begin");
      if (++records > kMaxEntries) return Damaged("more than " + std::to_string(kMaxEntries) + " entries");
      const int64_t variable = int64_t{central.NameLength} + central.ExtraLength + central.CommentLength;
      if (end - pos - static_cast<int64_t>(zip::kCentralHeaderSize) < variable)
        return Damaged("a record runs past the end of the central directory");
      // The whole name, however long: a name cut short would be a different path.
      std::string storedName(central.NameLength, '\0');
      extra.resize(central.ExtraLength);
      if (reader_.ReadAt(pos + zip::kCentralHeaderSize, storedName.data(), storedName.size()) != storedName.size() ||
          reader_.ReadAt(pos + zip::kCentralHeaderSize + central.NameLength, extra.data(), extra.size()) !=
              extra.size())
        return Damaged("the central directory is cut short");
      if (!ExtraFieldsFit(extra)) return Damaged("an extra field runs past its record");
      if (!NameFits(storedName.size())) return false;
      pos += static_cast<int64_t>(zip::kCentralHeaderSize) + variable;

      uint64_t uncompressed = central.UncompressedSize, compressed = central.CompressedSize,
               offset = central.LocalHeaderOffset;
      if (!CentralZip64Values(extra, uncompressed, compressed, offset))
        return Damaged("a record's ZIP64 extra field is missing");

      TZipEntry entry;
      entry.Flags = central.Flags;
      entry.Host = central.VersionMadeBy >> 8;
      if (!visitor_.Select(entry, storedName)) continue;

      // Far beyond any file: kept away from the arithmetic below.
      if (offset > static_cast<uint64_t>(reader_.Size())) offset = static_cast<uint64_t>(reader_.Size());
      int64_t localPos = static_cast<int64_t>(offset) + adjustment;
      uint8_t localRaw[zip::kLocalHeaderSize];
      if (reader_.ReadAt(localPos, localRaw, sizeof localRaw) != sizeof localRaw ||
          zip::Get32(localRaw) != zip::kLocalHeaderSignature) {
        visitor_.Error(entry.Name, "", kErrBadHeader);
        continue;
      }
      zip::TLocalHeader local = zip::TLocalHeader::Parse(localRaw);
      if (!NameFits(local.NameLength)) return false;
      std::string localName(local.NameLength, '\0');
      if (reader_.ReadAt(localPos + zip::kLocalHeaderSize, localName.data(), localName.size()) != localName.size()) {
        visitor_.Error(entry.Name, "", kErrBadHeader);
        continue;
      }
      entry.HeaderOffset = localPos;
      entry.DataOffset = localPos + static_cast<int64_t>(zip::kLocalHeaderSize) + local.NameLength + local.ExtraLength;
      entry.CompressedSize = compressed;
      entry.UncompressedSize = uncompressed;
      // A local header followed by a data descriptor holds no CRC; the directory does.
      entry.Crc = (local.Crc == 0 && compressed != 0) ? central.Crc : local.Crc;
      entry.ExternalAttributes = central.ExternalAttributes;
      entry.Flags = local.Flags;
      entry.Method = local.Method;
      entry.Time = local.Time;
      entry.Date = local.Date;
      visitor_.Add(std::move(entry), localName);
    }
    // Without ZIP64 the count has 16 bits; some writers let it wrap past 65535.
    if (zip64 ? records != declared : (records & 0xFFFF) != declared)
      return Damaged(std::to_string(records) + " entries in the central directory, " + std::to_string(declared) +
                     " in the end record");
    return true;
  }

  // The data descriptor of an entry whose sizes are not in its local header: the
  // first signature after the data whose compressed size is the distance from the
  // data to it (64-bit sizes after a ZIP64 extra field). False when the archive
  // ends first.
  bool FindDataDescriptor(int64_t dataPos, bool wide, uint32_t& crc, uint64_t& compressed, uint64_t& uncompressed,
                          int64_t& next) {
    uint8_t block[kSearchBlock + 24];
    for (int64_t at = dataPos; at < reader_.Size(); at += kSearchBlock) {
      const std::size_t got = reader_.ReadAt(at, block, sizeof block);
      for (std::size_t i = 0; i + 4 <= got && i < kSearchBlock; ++i) {
        if (zip::Get32(block + i) != zip::kDataDescriptorSignature) continue;
        const uint64_t distance = static_cast<uint64_t>(at + static_cast<int64_t>(i) - dataPos);
        const std::size_t size = wide ? 24 : 16;
        if (got - i < size) continue;
        const uint64_t stated = wide ? zip::Get64(block + i + 8) : zip::Get32(block + i + 8);
        if (stated != distance) continue;
        crc = zip::Get32(block + i + 4);
        compressed = stated;
        uncompressed = wide ? zip::Get64(block + i + 16) : zip::Get32(block + i + 12);
        next = at + static_cast<int64_t>(i + size);
        return true;
      }
    }
    return false;
  }

  // Every entry whose local header follows the one before; true when the walk was
  // made (what it found is to be extracted).
  bool WalkLocalHeaders(int64_t start, TZipHeaderState state) {
    if (!visitor_.WalkLocalHeaders(state)) return false;
    int64_t pos = start;
    if (reader_.Has32At(pos, zip::kSpanMarker)) pos += 4;
    uint64_t records = 0;
    uint8_t raw[zip::kLocalHeaderSize];
    std::vector<uint8_t> extra;
    while (reader_.ReadAt(pos, raw, sizeof raw) == sizeof raw) {
      zip::TLocalHeader local = zip::TLocalHeader::Parse(raw);
      if (local.Signature != zip::kLocalHeaderSignature) break;
      if (++records > kMaxEntries) return Damaged("more than " + std::to_string(kMaxEntries) + " entries");
      if (!NameFits(local.NameLength)) return false;
      std::string storedName(local.NameLength, '\0');
      if (reader_.ReadAt(pos + zip::kLocalHeaderSize, storedName.data(), storedName.size()) != storedName.size()) break;
      extra.resize(local.ExtraLength);
      if (reader_.ReadAt(pos + zip::kLocalHeaderSize + local.NameLength, extra.data(), extra.size()) != extra.size())
        break;
      uint64_t uncompressed = local.UncompressedSize, compressed = local.CompressedSize;
      uint32_t crc = local.Crc;
      bool wide = false;
      if (!LocalZip64Values(extra, uncompressed, compressed, wide)) break;
      int64_t dataPos = pos + static_cast<int64_t>(zip::kLocalHeaderSize) + local.NameLength + local.ExtraLength;
      // Far beyond any file: kept away from the arithmetic below.
      compressed = std::min<uint64_t>(compressed, static_cast<uint64_t>(reader_.Size()));
      int64_t next = dataPos + static_cast<int64_t>(compressed);
      if (local.Flags & zip::kFlagDataDescriptor) {
        if (compressed == 0 && uncompressed == 0 && crc == 0) {
          // Written by a tool that could not seek back (to a pipe): only the
          // descriptor after the data knows the sizes. Without it the entry is lost.
          if (!FindDataDescriptor(dataPos, wide, crc, compressed, uncompressed, next)) {
            TZipEntry lost;
            lost.Flags = local.Flags;
            if (visitor_.Select(lost, storedName))
              visitor_.Error(lost.Name, "its data descriptor is missing: the archive is cut short", kErrBadHeader);
            break;
          }
        } else {
          // CRC and both sizes, 4 bytes each (8 for the sizes after a ZIP64 extra
          // field), after an optional signature.
          const int64_t bare = wide ? 20 : 12;
          if (reader_.Has32At(next, zip::kDataDescriptorSignature))
            next += bare + 4;
          else if (!reader_.Has32At(next, zip::kLocalHeaderSignature) &&
                   reader_.Has32At(next + bare, zip::kLocalHeaderSignature))
            next += bare;
        }
      }

      TZipEntry entry;
      entry.Flags = local.Flags;
      if (visitor_.Select(entry, storedName)) {
        entry.HeaderOffset = pos;
        entry.DataOffset = dataPos;
        entry.CompressedSize = compressed;
        entry.UncompressedSize = uncompressed;
        entry.Crc = crc;
        entry.Method = local.Method;
        entry.Time = local.Time;
        entry.Date = local.Date;
        visitor_.Add(std::move(entry), storedName);
      }
      pos = next;
    }
    return true;
  }

  static constexpr std::size_t kSearchBlock = 32768;

  uint64_t nameBytes_ = 0;
  TArchiveReader& reader_;
  TDirectoryVisitor& visitor_;
  const std::string& archiveName_;
};

}  // namespace

bool ReadZipDirectory(TArchiveReader& reader, TDirectoryVisitor& visitor, const std::string& archiveName) {
  return TDirectoryReader(reader, visitor, archiveName).Read();
}

TArcType DetectArcType(const std::string& path) {
  try {
    platform::TFileStream file(path, platform::TFileMode::OpenRead);
    TArchiveReader reader(file);
    if (BeginsWithLocalHeader(reader) || reader.Has32At(0, zip::kEndRecordSignature)) return atZip;
    zip::TEndRecord record;
    if (FindEndRecord(reader, record) < 0) return atNA;
    uint8_t magic[2];
    if (reader.ReadAt(0, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z') return atZipExe;
    return atZip;
  } catch (const Exception&) {
    return atNA;
  }
}

}  // namespace archive
