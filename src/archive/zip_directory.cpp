#include "archive/zip_directory.h"

#include <algorithm>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/unzip_errors.h"
#include "archive/zip_format.h"
#include "platform/platform.h"

namespace archive {

namespace {

// How much of the archive's end is searched for the end record, and the size of
// the blocks searched for a first local header when the directory is lost.
constexpr int64_t kTailBlock = 32768;
constexpr int kLocalSearchBlocks = 4;
// Without ZIP64 an archive holds at most 65535 entries; a directory or a run of
// local headers claiming more is bogus and would only cost memory.
constexpr std::size_t kMaxEntries = 65535;

// The end record, searched backwards from 22 bytes before the end of the last
// min(size - 1, 32 KB) bytes. Returns its position or -1.
int64_t FindEndRecord(TArchiveReader& reader, zip::TEndRecord& record) {
  int64_t block = std::min<int64_t>(reader.Size() - 1, kTailBlock);
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

class TDirectoryReader {
 public:
  TDirectoryReader(TArchiveReader& reader, TDirectoryVisitor& visitor, const std::string& archiveName)
      : reader_(reader), visitor_(visitor), archiveName_(archiveName) {}

  bool Read() {
    zip::TEndRecord end;
    int64_t endPos = FindEndRecord(reader_, end);
    if (endPos < 0) {
      if (!BeginsWithLocalHeader(reader_)) return false;  // not a ZIP archive: nothing to select
      WalkLocalHeaders(0, hsNoEndRecord);
      return true;
    }
    if (end.TotalEntries == 0 && end.DirectorySize == 0) return false;  // an empty archive

    uint8_t header[zip::kCentralHeaderSize];
    auto holdsCentralHeader = [&](int64_t pos) {
      return reader_.ReadAt(pos, header, sizeof header) == sizeof header &&
             zip::Get32(header) == zip::kCentralHeaderSignature;
    };
    if (holdsCentralHeader(end.DirectoryOffset)) {
      ReadCentralDirectory(end.DirectoryOffset, 0);
      return true;
    }
    // Data in front of the archive (a program stub) that its offsets do not count:
    // the directory ends where the end record begins.
    int64_t actual = endPos - static_cast<int64_t>(end.DirectorySize);
    if (actual >= 0 && holdsCentralHeader(actual)) {
      ReadCentralDirectory(actual, actual - static_cast<int64_t>(end.DirectoryOffset));
      return true;
    }
    int64_t first = FindFirstLocalHeader(reader_);
    if (first < 0) return false;
    WalkLocalHeaders(first, hsNoCentralDirectory);
    return true;
  }

 private:
  void ReadCentralDirectory(int64_t start, int64_t adjustment) {
    int64_t pos = start;
    std::size_t records = 0;
    uint8_t raw[zip::kCentralHeaderSize];
    while (reader_.ReadAt(pos, raw, sizeof raw) == sizeof raw) {
      zip::TCentralHeader central = zip::TCentralHeader::Parse(raw);
      if (central.Signature != zip::kCentralHeaderSignature) break;
      if (++records > kMaxEntries) {
        visitor_.Error(archiveName_, "more than 65535 entries", E_BADHEADER);
        break;
      }
      // The whole name, however long: a name cut short would be a different path.
      std::string storedName(central.NameLength, '\0');
      if (reader_.ReadAt(pos + zip::kCentralHeaderSize, storedName.data(), storedName.size()) != storedName.size())
        break;
      pos += static_cast<int64_t>(zip::kCentralHeaderSize) + central.NameLength + central.ExtraLength +
             central.CommentLength;

      TZipEntry entry;
      entry.Flags = central.Flags;
      entry.Host = central.VersionMadeBy >> 8;
      if (!visitor_.Select(entry, storedName)) continue;

      int64_t localPos = static_cast<int64_t>(central.LocalHeaderOffset) + adjustment;
      uint8_t localRaw[zip::kLocalHeaderSize];
      if (reader_.ReadAt(localPos, localRaw, sizeof localRaw) != sizeof localRaw ||
          zip::Get32(localRaw) != zip::kLocalHeaderSignature) {
        visitor_.Error(entry.Name, "", E_BADHEADER);
        continue;
      }
      zip::TLocalHeader local = zip::TLocalHeader::Parse(localRaw);
      std::string localName(local.NameLength, '\0');
      if (reader_.ReadAt(localPos + zip::kLocalHeaderSize, localName.data(), localName.size()) != localName.size()) {
        visitor_.Error(entry.Name, "", E_BADHEADER);
        continue;
      }
      entry.HeaderOffset = localPos;
      entry.DataOffset = localPos + static_cast<int64_t>(zip::kLocalHeaderSize) + local.NameLength + local.ExtraLength;
      entry.CompressedSize = central.CompressedSize;
      entry.UncompressedSize = central.UncompressedSize;
      // A local header followed by a data descriptor holds no CRC; the directory does.
      entry.Crc = (local.Crc == 0 && central.CompressedSize != 0) ? central.Crc : local.Crc;
      entry.ExternalAttributes = central.ExternalAttributes;
      entry.Flags = local.Flags;
      entry.Method = local.Method;
      entry.Time = local.Time;
      entry.Date = local.Date;
      visitor_.Add(std::move(entry), localName);
    }
  }

  void WalkLocalHeaders(int64_t start, TZipHeaderState state) {
    if (!visitor_.WalkLocalHeaders(state)) return;
    int64_t pos = start;
    if (reader_.Has32At(pos, zip::kSpanMarker)) pos += 4;
    std::size_t records = 0;
    uint8_t raw[zip::kLocalHeaderSize];
    while (reader_.ReadAt(pos, raw, sizeof raw) == sizeof raw) {
      zip::TLocalHeader local = zip::TLocalHeader::Parse(raw);
      if (local.Signature != zip::kLocalHeaderSignature) break;
      if (++records > kMaxEntries) {
        visitor_.Error(archiveName_, "more than 65535 entries", E_BADHEADER);
        break;
      }
      std::string storedName(local.NameLength, '\0');
      if (reader_.ReadAt(pos + zip::kLocalHeaderSize, storedName.data(), storedName.size()) != storedName.size()) break;
      int64_t dataPos = pos + static_cast<int64_t>(zip::kLocalHeaderSize) + local.NameLength + local.ExtraLength;
      int64_t next = dataPos + local.CompressedSize;
      // A data descriptor after the data: 16 bytes with its optional signature, 12 without.
      if (local.Flags & zip::kFlagDataDescriptor) {
        if (reader_.Has32At(next, zip::kSpanMarker))
          next += 16;
        else if (!reader_.Has32At(next, zip::kLocalHeaderSignature) &&
                 reader_.Has32At(next + 12, zip::kLocalHeaderSignature))
          next += 12;
      }

      TZipEntry entry;
      entry.Flags = local.Flags;
      if (visitor_.Select(entry, storedName)) {
        entry.HeaderOffset = pos;
        entry.DataOffset = dataPos;
        entry.CompressedSize = local.CompressedSize;
        entry.UncompressedSize = local.UncompressedSize;
        entry.Crc = local.Crc;
        // Local headers carry no attributes; an empty entry named like a folder is one.
        const char last = storedName.empty() ? '\0' : storedName.back();
        if ((last == '/' || last == '\\') && local.UncompressedSize == 0)
          entry.ExternalAttributes = platform::faDirectory;
        entry.Method = local.Method;
        entry.Time = local.Time;
        entry.Date = local.Date;
        visitor_.Add(std::move(entry), storedName);
      }
      pos = next;
    }
  }

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
    platform::TFileStream file(path, platform::FileMode::OpenRead);
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
