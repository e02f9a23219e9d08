#include "archive/zip_directory.h"

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/crc32.h"
#include "archive/directory_reader.h"
#include "archive/unzip_errors.h"
#include "archive/zip_format.h"
#include "base/codepage.h"
#include "platform/file_stream.h"
#include "platform/files.h"

namespace archive {

namespace {

// The end record lies within its own size and the longest comment of the end of
// the file, unless more was appended after it; beyond that span the file is
// searched back in steps of this size. Each signature found is checked (a few
// reads); a file crafted to hold millions of them ends the search after this many.
constexpr int64_t kEndSearchSpan = zip::kEndRecordSize + 0xFFFF;
constexpr int64_t kEndSearchStep = 65536;
constexpr int kMaxEndCandidates = 4096;

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

}  // namespace

// ---------------------------------------------------------------- shared with the walk

bool BeginsWithLocalHeader(TArchiveReader& reader) {
  if (reader.Has32At(0, zip::kLocalHeaderSignature)) return true;
  return reader.Has32At(0, zip::kSpanMarker) && reader.Has32At(4, zip::kLocalHeaderSignature);
}

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

void TLocalRecord::Describe(TZipEntry& entry, uint16_t flags, uint64_t compressed, uint64_t uncompressed,
                            uint32_t crc) const {
  entry.HeaderOffset = Pos;
  entry.DataOffset = DataPos();
  entry.CompressedSize = compressed;
  entry.UncompressedSize = uncompressed;
  entry.Crc = crc;
  entry.Flags = flags;
  entry.Method = Header.Method;
  entry.Time = Header.Time;
  entry.Date = Header.Date;
}

bool TDirectoryReader::NotAnArchive(const std::string& why) {
  visitor_.Error(archiveName_, why, kErrNotZip);
  return false;
}

bool TDirectoryReader::Damaged(const std::string& why) {
  visitor_.Error(archiveName_, why, kErrBadDirectory);
  return false;
}

bool TDirectoryReader::NameFits(std::size_t size) {
  nameBytes_ += size;
  return nameBytes_ <= kMaxNameBytes || Damaged("names of more than 256 MB");
}

bool TDirectoryReader::UseUnicodePath(const std::vector<uint8_t>& extra, std::string& name, uint16_t& flags) {
  std::string unicode;
  if (!UnicodePath(extra, name, unicode)) return true;
  if (!NameFits(unicode.size())) return false;
  name = std::move(unicode);
  flags |= zip::kFlagUtf8;
  return true;
}

TLocalRead TDirectoryReader::ReadLocalHeader(int64_t pos) {
  uint8_t raw[zip::kLocalHeaderSize];
  if (reader_.ReadAt(pos, raw, sizeof raw) != sizeof raw || zip::Get32(raw) != zip::kLocalHeaderSignature)
    return TLocalRead::NoHeader;
  local_.Pos = pos;
  local_.Header = zip::TLocalHeader::Parse(raw);
  local_.Name.assign(local_.Header.NameLength, '\0');
  if (reader_.ReadAt(pos + zip::kLocalHeaderSize, local_.Name.data(), local_.Name.size()) != local_.Name.size())
    return TLocalRead::NameCut;
  local_.Extra.resize(local_.Header.ExtraLength);
  local_.Extra.resize(
      reader_.ReadAt(pos + zip::kLocalHeaderSize + local_.Header.NameLength, local_.Extra.data(), local_.Extra.size()));
  return TLocalRead::Ok;
}

// ---------------------------------------------------------------- the directory

bool TDirectoryReader::Read() {
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
    case TPlaceProblem::Zip64Missing: return Damaged("no ZIP64 end of central directory record where its locator says");
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

// One central record, whole and inside the directory.
struct TDirectoryReader::TCentralRecord {
  zip::TCentralHeader Header{};
  std::string StoredName;
  std::vector<uint8_t> Extra;
  uint64_t Uncompressed = 0, Compressed = 0, Offset = 0;  // the ZIP64 field's where the header has markers
  int64_t Next = 0;                                       // the record after it
};

// The records from start to end, every one of them whole and inside; false
// (reported) when one is not, or when there are not as many as the end record
// says, so that nothing of a damaged directory is extracted.
bool TDirectoryReader::ReadCentralDirectory(int64_t start, int64_t end, int64_t adjustment, uint64_t declared,
                                            bool zip64) {
  uint64_t records = 0;
  TCentralRecord record;
  for (int64_t pos = start; pos < end; pos = record.Next) {
    const TCentralRead read = ReadCentralRecord(pos, end, records, record);
    if (read == TCentralRead::Damaged) return false;
    if (read == TCentralRead::End) break;
    if (!AddCentralEntry(record, adjustment)) return false;
  }
  // Without ZIP64 the count has 16 bits; some writers let it wrap past 65535.
  if (zip64 ? records != declared : (records & 0xFFFF) != declared)
    return Damaged(std::to_string(records) + " entries in the central directory, " + std::to_string(declared) +
                   " in the end record");
  return true;
}

TDirectoryReader::TCentralRead TDirectoryReader::ReadCentralRecord(int64_t pos, int64_t end, uint64_t& records,
                                                                   TCentralRecord& record) {
  auto damaged = [this](const std::string& why) {
    Damaged(why);
    return TCentralRead::Damaged;
  };
  uint8_t raw[zip::kCentralHeaderSize];
  if (end - pos < static_cast<int64_t>(zip::kCentralHeaderSize) || reader_.ReadAt(pos, raw, sizeof raw) != sizeof raw)
    return damaged("a record runs past the end of the central directory");
  const zip::TCentralHeader& central = record.Header = zip::TCentralHeader::Parse(raw);
  // A digital signature may close the directory; a directory size that counts
  // the end records too is a writer's slip, not damage.
  if (central.Signature == zip::kDigitalSignature || central.Signature == zip::kEndRecordSignature ||
      central.Signature == zip::kZip64EndRecordSignature)
    return TCentralRead::End;
  if (central.Signature != zip::kCentralHeaderSignature)
    return damaged("no central directory record where one should begin");
  if (++records > kMaxEntries) return damaged("more than " + std::to_string(kMaxEntries) + " entries");
  const int64_t variable = int64_t{central.NameLength} + central.ExtraLength + central.CommentLength;
  if (end - pos - static_cast<int64_t>(zip::kCentralHeaderSize) < variable)
    return damaged("a record runs past the end of the central directory");
  // The whole name, however long: a name cut short would be a different path.
  record.StoredName.assign(central.NameLength, '\0');
  record.Extra.resize(central.ExtraLength);
  if (reader_.ReadAt(pos + zip::kCentralHeaderSize, record.StoredName.data(), record.StoredName.size()) !=
          record.StoredName.size() ||
      reader_.ReadAt(pos + zip::kCentralHeaderSize + central.NameLength, record.Extra.data(), record.Extra.size()) !=
          record.Extra.size())
    return damaged("the central directory is cut short");
  if (!ExtraFieldsFit(record.Extra)) return damaged("an extra field runs past its record");
  if (!NameFits(record.StoredName.size())) return TCentralRead::Damaged;
  record.Next = pos + static_cast<int64_t>(zip::kCentralHeaderSize) + variable;
  record.Uncompressed = central.UncompressedSize;
  record.Compressed = central.CompressedSize;
  record.Offset = central.LocalHeaderOffset;
  if (!CentralZip64Values(record.Extra, record.Uncompressed, record.Compressed, record.Offset))
    return damaged("a record's ZIP64 extra field is missing");
  return TCentralRead::Record;
}

// The entry of a central record, when the visitor selects it, with its local
// header read; false (reported) when the names grow past their limit.
bool TDirectoryReader::AddCentralEntry(const TCentralRecord& record, int64_t adjustment) {
  TZipEntry entry;
  entry.Flags = record.Header.Flags;
  entry.Host = record.Header.VersionMadeBy >> 8;
  std::string name = record.StoredName;
  if (!UseUnicodePath(record.Extra, name, entry.Flags)) return false;
  if (!visitor_.Select(entry, name)) return true;

  // Far beyond any file: kept away from the arithmetic below.
  const uint64_t offset = std::min(record.Offset, static_cast<uint64_t>(reader_.Size()));
  const TLocalRead read = ReadLocalHeader(static_cast<int64_t>(offset) + adjustment);
  if (read == TLocalRead::NoHeader) {
    visitor_.Error(entry.Name, "", kErrBadHeader);
    return true;
  }
  if (!NameFits(local_.Header.NameLength)) return false;
  if (read == TLocalRead::NameCut) {
    visitor_.Error(entry.Name, "", kErrBadHeader);
    return true;
  }
  std::string localName = local_.Name;
  uint16_t localFlags = local_.Header.Flags;
  // Writers may put the Unicode Path field in the directory alone.
  const bool sameAsCentral = localName == record.StoredName;
  if (!UseUnicodePath(local_.Extra, localName, localFlags)) return false;
  if (sameAsCentral && localName == record.StoredName && name != record.StoredName) {
    localName = name;
    localFlags |= zip::kFlagUtf8;
  }
  // A local header followed by a data descriptor holds no CRC; the directory does.
  const uint32_t crc = (local_.Header.Crc == 0 && record.Compressed != 0) ? record.Header.Crc : local_.Header.Crc;
  local_.Describe(entry, localFlags, record.Compressed, record.Uncompressed, crc);
  entry.ExternalAttributes = record.Header.ExternalAttributes;
  visitor_.Add(std::move(entry), localName);
  return true;
}

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
