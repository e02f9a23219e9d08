// The entries of an archive whose central directory is lost or cannot be used
// (cut short, or damaged where the end record points), found by walking the local
// headers from the first one: each is followed by its data, and, when the writer
// could not seek back, by a data descriptor that alone knows the sizes
// (PKWARE's APPNOTE, sections 4.3.7 and 4.3.9).
#include <algorithm>
#include <string>
#include <vector>

#include "archive/archive_reader.h"
#include "archive/directory_reader.h"
#include "archive/unzip_errors.h"
#include "archive/zip_format.h"

namespace archive {

namespace {

// The size of the blocks searched: for a first local header (four of them at the
// most) when the directory is lost, and for a data descriptor after an entry's data.
constexpr std::size_t kSearchBlock = 32768;
constexpr int kLocalSearchBlocks = 4;

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

}  // namespace

int64_t FindFirstLocalHeader(TArchiveReader& reader) {
  int64_t block = std::max<int64_t>(std::min<int64_t>(reader.Size() - 1, int64_t{kSearchBlock}), 0);
  int64_t span = std::min<int64_t>(reader.Size(), block * kLocalSearchBlocks);
  std::vector<uint8_t> head(static_cast<std::size_t>(std::max<int64_t>(span, 0)));
  std::size_t got = reader.ReadAt(0, head.data(), head.size());
  for (std::size_t i = 0; i + 4 <= got; ++i)
    if (zip::Get32(head.data() + i) == zip::kLocalHeaderSignature) return static_cast<int64_t>(i);
  return -1;
}

// Every entry whose local header follows the one before; true when the walk was
// made (what it found is to be extracted).
bool TDirectoryReader::WalkLocalHeaders(int64_t start, TZipHeaderState state) {
  if (!visitor_.WalkLocalHeaders(state)) return false;
  int64_t pos = start;
  if (reader_.Has32At(pos, zip::kSpanMarker)) pos += 4;
  uint64_t records = 0;
  for (;;) {
    const TLocalRead read = ReadLocalHeader(pos);
    if (read == TLocalRead::NoHeader) break;
    if (++records > kMaxEntries) return Damaged("more than " + std::to_string(kMaxEntries) + " entries");
    if (!NameFits(local_.Header.NameLength)) return false;
    if (read == TLocalRead::NameCut || local_.Extra.size() != local_.Header.ExtraLength) break;
    const TWalkStep step = WalkEntry(pos);
    if (step == TWalkStep::Void) return false;
    if (step == TWalkStep::Stop) break;
  }
  return true;
}

// The entry of the local header just read, handed on when the visitor selects it;
// pos moves on to where the next header should begin.
TDirectoryReader::TWalkStep TDirectoryReader::WalkEntry(int64_t& pos) {
  std::string name = local_.Name;
  uint16_t flags = local_.Header.Flags;
  if (!UseUnicodePath(local_.Extra, name, flags)) return TWalkStep::Void;
  uint64_t uncompressed = local_.Header.UncompressedSize, compressed = local_.Header.CompressedSize;
  uint32_t crc = local_.Header.Crc;
  bool wide = false;
  if (!LocalZip64Values(local_.Extra, uncompressed, compressed, wide)) return TWalkStep::Stop;
  const int64_t dataPos = local_.DataPos();
  // Far beyond any file: kept away from the arithmetic below.
  compressed = std::min<uint64_t>(compressed, static_cast<uint64_t>(reader_.Size()));
  int64_t next = dataPos + static_cast<int64_t>(compressed);
  if ((flags & zip::kFlagDataDescriptor) &&
      !SizesAfterData(dataPos, wide, name, flags, crc, compressed, uncompressed, next))
    return TWalkStep::Stop;

  TZipEntry entry;
  entry.Flags = flags;
  if (visitor_.Select(entry, name)) {
    local_.Describe(entry, flags, compressed, uncompressed, crc);
    visitor_.Add(std::move(entry), name);
  }
  pos = next;
  return TWalkStep::Next;
}

// An entry with a data descriptor: next passes over the descriptor, and when the
// local header holds no sizes the descriptor's replace them. False (the entry
// reported when selected) when the descriptor that alone knows them is missing.
bool TDirectoryReader::SizesAfterData(int64_t dataPos, bool wide, const std::string& name, uint16_t flags,
                                      uint32_t& crc, uint64_t& compressed, uint64_t& uncompressed, int64_t& next) {
  if (compressed == 0 && uncompressed == 0 && crc == 0) {
    // Written by a tool that could not seek back (to a pipe): only the
    // descriptor after the data knows the sizes. Without it the entry is lost.
    if (FindDataDescriptor(dataPos, wide, crc, compressed, uncompressed, next)) return true;
    TZipEntry lost;
    lost.Flags = flags;
    if (visitor_.Select(lost, name))
      visitor_.Error(lost.Name, "its data descriptor is missing: the archive is cut short", kErrBadHeader);
    return false;
  }
  // CRC and both sizes, 4 bytes each (8 for the sizes after a ZIP64 extra
  // field), after an optional signature.
  const int64_t bare = wide ? 20 : 12;
  if (reader_.Has32At(next, zip::kDataDescriptorSignature))
    next += bare + 4;
  else if (!reader_.Has32At(next, zip::kLocalHeaderSignature) &&
           reader_.Has32At(next + bare, zip::kLocalHeaderSignature))
    next += bare;
  return true;
}

// The data descriptor of an entry whose sizes are not in its local header: the
// first signature after the data whose compressed size is the distance from the
// data to it (64-bit sizes after a ZIP64 extra field). False when the archive
// ends first.
bool TDirectoryReader::FindDataDescriptor(int64_t dataPos, bool wide, uint32_t& crc, uint64_t& compressed,
                                          uint64_t& uncompressed, int64_t& next) {
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

}  // namespace archive
