#include "archive/zip_directory.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/crc32.h"
#include "archive/unzip_errors.h"
#include "archive/zip_format.h"
#include "base/codepage.h"
#include "platform/file_stream.h"
#include "platform/files.h"

namespace archive {

namespace {

// The size of the blocks searched for a first local header when the directory is
// lost.
constexpr int64_t kLocalSearchBlock = 32768;
constexpr int kLocalSearchBlocks = 4;
// The end record lies within its own size and the longest comment of the end of
// the file, unless more was appended after it; beyond that span the file is
// searched back in steps of this size. Each signature found is checked (a few
// reads); a file crafted to hold millions of them ends the search after this many.
constexpr int64_t kEndSearchSpan = zip::kEndRecordSize + 0xFFFF;
constexpr int64_t kEndSearchStep = 65536;
constexpr int kMaxEndCandidates = 4096;
// The most entries one archive may have, and the most bytes all their names may
// take: what is kept of each entry (about a hundred bytes and its name) must stay
// within memory, whatever a directory claims.
constexpr uint64_t kMaxEntries = 1000000;
constexpr uint64_t kMaxNameBytes = uint64_t{256} << 20;

bool BeginsWithLocalHeader(TArchiveReader& reader) {
  if (reader.Has32At(0, zip::kLocalHeaderSignature)) return true;
  return reader.Has32At(0, zip::kSpanMarker) && reader.Has32At(4, zip::kLocalHeaderSignature);
}

// The first local header signature within the first four search blocks, or -1.
int64_t FindFirstLocalHeader(TArchiveReader& reader) {
  int64_t block = std::max<int64_t>(std::min<int64_t>(reader.Size() - 1, kLocalSearchBlock), 0);
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

// The UTF-8 name of a Unicode Path extra field that belongs to the stored name (its
// CRC-32 matches): a tool that renamed the entry may have left a field that names
// the old one. False when there is none that counts.
bool UnicodePath(const std::vector<uint8_t>& extra, const std::string& storedName, std::string& unicode) {
  const uint8_t* data = nullptr;
  std::size_t length = 0;
  if (!FindExtraField(extra, zip::kUnicodePathExtraId, data, length) || length < 5 ||
      data[0] != zip::kUnicodePathVersion || zip::Get32(data + 1) != Crc32(storedName.data(), storedName.size()))
    return false;
  unicode.assign(reinterpret_cast<const char*>(data + 5), length - 5);
  std::u32string valid;
  return codepage::Utf8ToUnicode(unicode, valid);
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

// Where an end record puts the central directory, once that checks out.
struct TDirectoryPlace {
  int64_t Start = 0, End = 0;
  int64_t Adjustment = 0;  // added to every local header offset
  uint64_t Total = 0;      // entries the end record (or the ZIP64 one) declares
  bool Zip64 = false;
  bool Empty = false;  // no entries, no directory
};
enum class TPlaceProblem { None, CommentPastEnd, Zip64Missing, NoDirectory };

// The ZIP64 end record that a locator right before the end record points to, or
// that sits right before the locator when data in front of the archive is not
// counted: its count, size and offset replace the end record's, and it ends the
// directory. False when a locator points nowhere.
bool ReadZip64EndRecord(TArchiveReader& reader, int64_t endPos, uint64_t& total, uint64_t& size, uint64_t& offset,
                        int64_t& directoryEnd, bool& zip64) {
  const int64_t locatorPos = endPos - static_cast<int64_t>(zip::kZip64LocatorSize);
  uint8_t raw[zip::kZip64EndRecordSize];
  if (locatorPos < 0 || reader.ReadAt(locatorPos, raw, zip::kZip64LocatorSize) != zip::kZip64LocatorSize) return true;
  const zip::TZip64Locator locator = zip::TZip64Locator::Parse(raw);
  if (locator.Signature != zip::kZip64LocatorSignature) return true;
  int64_t recordPos = -1;
  if (locator.RecordOffset < static_cast<uint64_t>(locatorPos) &&
      reader.Has32At(static_cast<int64_t>(locator.RecordOffset), zip::kZip64EndRecordSignature))
    recordPos = static_cast<int64_t>(locator.RecordOffset);
  else if (reader.Has32At(locatorPos - static_cast<int64_t>(zip::kZip64EndRecordSize), zip::kZip64EndRecordSignature))
    recordPos = locatorPos - static_cast<int64_t>(zip::kZip64EndRecordSize);
  if (recordPos < 0 || reader.ReadAt(recordPos, raw, sizeof raw) != sizeof raw) return false;
  const zip::TZip64EndRecord record = zip::TZip64EndRecord::Parse(raw);
  total = record.TotalEntries;
  size = record.DirectorySize;
  offset = record.DirectoryOffset;
  directoryEnd = recordPos;
  zip64 = true;
  return true;
}

// Whether the end record at endPos checks out: its comment inside the file, and
// a central record where it says the directory begins, or (data in front of the
// archive that its offsets do not count, a program stub) where the directory ends
// at the (ZIP64) end record. A file that begins with a local header has nothing
// in front of its entries: an end record that only fits with such data belongs
// to something the archive holds (a stored archive, say), as does an empty one.
TPlaceProblem LocateDirectory(TArchiveReader& reader, int64_t endPos, const zip::TEndRecord& end, bool entriesAtStart,
                              TDirectoryPlace& place) {
  if (end.CommentLength > reader.Size() - endPos - static_cast<int64_t>(zip::kEndRecordSize))
    return TPlaceProblem::CommentPastEnd;
  uint64_t total = end.TotalEntries, size = end.DirectorySize, offset = end.DirectoryOffset;
  int64_t directoryEnd = endPos;
  bool zip64 = false;
  if (!ReadZip64EndRecord(reader, endPos, total, size, offset, directoryEnd, zip64)) return TPlaceProblem::Zip64Missing;
  place = TDirectoryPlace{};
  place.Total = total;
  place.Zip64 = zip64;
  if (total == 0 && size == 0) {
    place.Empty = true;
    return entriesAtStart ? TPlaceProblem::NoDirectory : TPlaceProblem::None;
  }
  auto holdsCentralHeader = [&](uint64_t pos) {
    return pos < static_cast<uint64_t>(reader.Size()) &&
           reader.Has32At(static_cast<int64_t>(pos), zip::kCentralHeaderSignature);
  };
  if (size > static_cast<uint64_t>(directoryEnd)) return TPlaceProblem::NoDirectory;
  const int64_t actual = directoryEnd - static_cast<int64_t>(size);
  if (holdsCentralHeader(offset) && offset <= static_cast<uint64_t>(actual)) {
    place.Start = static_cast<int64_t>(offset);
    place.End = place.Start + static_cast<int64_t>(size);
    return TPlaceProblem::None;
  }
  if (!entriesAtStart && holdsCentralHeader(static_cast<uint64_t>(actual))) {
    place.Start = actual;
    place.End = directoryEnd;
    place.Adjustment = actual - static_cast<int64_t>(offset);
    return TPlaceProblem::None;
  }
  return TPlaceProblem::NoDirectory;
}

// The end record, searched backwards: through the last 65,557 bytes (the record
// and the longest comment) first, then, for an archive with more appended after
// it, further back a block at a time. The last record whose directory checks out
// wins, so that a signature in a comment, in appended data or in an entry's data
// is passed over; when none does, the last record of the end span stands, for
// its problem to be reported. Returns its position, or -1 when there is none.
int64_t FindEndRecord(TArchiveReader& reader, zip::TEndRecord& record, TDirectoryPlace& place, TPlaceProblem& problem) {
  constexpr int64_t kRecord = static_cast<int64_t>(zip::kEndRecordSize);
  const int64_t last = reader.Size() - kRecord;  // the last position a record fits at
  if (last < 0) return -1;
  const int64_t spanStart = std::max<int64_t>(0, reader.Size() - kEndSearchSpan);
  const bool entriesAtStart = BeginsWithLocalHeader(reader);
  std::vector<uint8_t> block(static_cast<std::size_t>(kEndSearchStep + kRecord - 1));
  int64_t fallback = -1;
  int candidates = 0;
  // Positions from..to (inclusive), last first, read a step at a time.
  for (int64_t to = last; to >= 0 && candidates < kMaxEndCandidates; to -= kEndSearchStep) {
    const int64_t from = std::max<int64_t>(0, to - kEndSearchStep + 1);
    const std::size_t want = static_cast<std::size_t>(to - from + kRecord);
    if (reader.ReadAt(from, block.data(), want) != want) break;
    for (int64_t i = to - from; i >= 0 && candidates < kMaxEndCandidates; --i) {
      if (zip::Get32(&block[static_cast<std::size_t>(i)]) != zip::kEndRecordSignature) continue;
      ++candidates;
      const zip::TEndRecord candidate = zip::TEndRecord::Parse(&block[static_cast<std::size_t>(i)]);
      const TPlaceProblem found = LocateDirectory(reader, from + i, candidate, entriesAtStart, place);
      if (found == TPlaceProblem::None || (fallback < 0 && from + i >= spanStart)) {
        record = candidate;
        problem = found;
        if (found == TPlaceProblem::None) return from + i;
        fallback = from + i;
      }
    }
  }
  if (fallback >= 0) problem = LocateDirectory(reader, fallback, record, entriesAtStart, place);
  return fallback;
}

class TDirectoryReader {
 public:
  TDirectoryReader(TArchiveReader& reader, TDirectoryVisitor& visitor, const std::string& archiveName)
      : reader_(reader), visitor_(visitor), archiveName_(archiveName) {}

  bool Read() {
    if (reader_.Size() == 0) return NotAnArchive("the file is empty");
    zip::TEndRecord end;
    TDirectoryPlace place;
    TPlaceProblem problem = TPlaceProblem::None;
    if (FindEndRecord(reader_, end, place, problem) < 0) {
      if (!BeginsWithLocalHeader(reader_)) return NotAnArchive("");
      // Cut short (a download that broke off, say): what the local headers hold is
      // extracted, and the archive still fails as a whole.
      Damaged("no end of central directory record: the archive is cut short");
      return WalkLocalHeaders(0, hsNoEndRecord);
    }
    switch (problem) {
      case TPlaceProblem::CommentPastEnd:
        return Damaged("the archive comment runs past the end of the file: the archive is cut short");
      case TPlaceProblem::Zip64Missing:
        return Damaged("no ZIP64 end of central directory record where its locator says");
      case TPlaceProblem::NoDirectory: {
        const int64_t first = FindFirstLocalHeader(reader_);
        Damaged("no central directory where the end record says");
        return first >= 0 && WalkLocalHeaders(first, hsNoCentralDirectory);
      }
      case TPlaceProblem::None: break;
    }
    if (place.Empty) return false;  // an empty archive
    if (place.Total > kMaxEntries) return Damaged("more than " + std::to_string(kMaxEntries) + " entries");
    return ReadCentralDirectory(place.Start, place.End, place.Adjustment, place.Total, place.Zip64);
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
  // Replaces a stored name by the name of the Unicode Path field that belongs to
  // it, and marks it UTF-8 in flags; false (reported) when that name is more than
  // the names may take.
  bool UseUnicodePath(const std::vector<uint8_t>& extra, std::string& name, uint16_t& flags) {
    std::string unicode;
    if (!UnicodePath(extra, name, unicode)) return true;
    if (!NameFits(unicode.size())) return false;
    name = std::move(unicode);
    flags |= zip::kFlagUtf8;
    return true;
  }

  // The records from start to end, every one of them whole and inside; false
  // (reported) when one is not, or when there are not as many as the end record
  // says, so that nothing of a damaged directory is extracted.
  bool ReadCentralDirectory(int64_t start, int64_t end, int64_t adjustment, uint64_t declared, bool zip64) {
    int64_t pos = start;
    uint64_t records = 0;
    uint8_t raw[zip::kCentralHeaderSize];
    std::vector<uint8_t> extra, localExtra;
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
      std::string name = storedName;
      if (!UseUnicodePath(extra, name, entry.Flags)) return false;
      if (!visitor_.Select(entry, name)) continue;

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
      // What the data offset passes over; what of it the file holds.
      localExtra.resize(local.ExtraLength);
      localExtra.resize(
          reader_.ReadAt(localPos + zip::kLocalHeaderSize + local.NameLength, localExtra.data(), localExtra.size()));
      uint16_t localFlags = local.Flags;
      // Writers may put the Unicode Path field in the directory alone.
      const bool sameAsCentral = localName == storedName;
      if (!UseUnicodePath(localExtra, localName, localFlags)) return false;
      if (sameAsCentral && localName == storedName && name != storedName) {
        localName = name;
        localFlags |= zip::kFlagUtf8;
      }
      entry.HeaderOffset = localPos;
      entry.DataOffset = localPos + static_cast<int64_t>(zip::kLocalHeaderSize) + local.NameLength + local.ExtraLength;
      entry.CompressedSize = compressed;
      entry.UncompressedSize = uncompressed;
      // A local header followed by a data descriptor holds no CRC; the directory does.
      entry.Crc = (local.Crc == 0 && compressed != 0) ? central.Crc : local.Crc;
      entry.ExternalAttributes = central.ExternalAttributes;
      entry.Flags = localFlags;
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
      std::string name(local.NameLength, '\0');
      if (reader_.ReadAt(pos + zip::kLocalHeaderSize, name.data(), name.size()) != name.size()) break;
      extra.resize(local.ExtraLength);
      if (reader_.ReadAt(pos + zip::kLocalHeaderSize + local.NameLength, extra.data(), extra.size()) != extra.size())
        break;
      uint16_t flags = local.Flags;
      if (!UseUnicodePath(extra, name, flags)) return false;
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
            lost.Flags = flags;
            if (visitor_.Select(lost, name))
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
      entry.Flags = flags;
      if (visitor_.Select(entry, name)) {
        entry.HeaderOffset = pos;
        entry.DataOffset = dataPos;
        entry.CompressedSize = compressed;
        entry.UncompressedSize = uncompressed;
        entry.Crc = crc;
        entry.Method = local.Method;
        entry.Time = local.Time;
        entry.Date = local.Date;
        visitor_.Add(std::move(entry), name);
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
    return DetectArcType(file);
  } catch (const Exception&) {
    return atNA;
  }
}

TArcType DetectArcType(TStream& stream) {
  try {
    TArchiveReader reader(stream);
    if (BeginsWithLocalHeader(reader) || reader.Has32At(0, zip::kEndRecordSignature)) return atZip;
    zip::TEndRecord record;
    TDirectoryPlace place;
    TPlaceProblem problem;
    if (FindEndRecord(reader, record, place, problem) < 0) return atNA;
    uint8_t magic[2];
    if (reader.ReadAt(0, magic, 2) == 2 && magic[0] == 'M' && magic[1] == 'Z') return atZipExe;
    return atZip;
  } catch (const Exception&) {
    return atNA;
  }
}

}  // namespace archive
