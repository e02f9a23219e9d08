#include "archive/unzip.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "archive/crc32.h"
#include "archive/decoder.h"
#include "archive/oem_charset.h"
#include "archive/wildcard.h"
#include "archive/zip_crypto.h"
#include "archive/zip_format.h"
#include "base/text.h"
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

uint32_t DosStamp(uint16_t date, uint16_t time) { return (static_cast<uint32_t>(date) << 16) | time; }

platform::LocalTime DosToLocalTime(uint32_t stamp) {
  uint16_t date = static_cast<uint16_t>(stamp >> 16);
  uint16_t time = static_cast<uint16_t>(stamp);
  platform::LocalTime t;
  t.Year = 1980 + (date >> 9);
  t.Month = (date >> 5) & 0x0F;
  t.Day = date & 0x1F;
  t.Hour = time >> 11;
  t.Minute = (time >> 5) & 0x3F;
  t.Second = (time & 0x1F) * 2;
  return t;
}

std::string SlashesToBackslashes(std::string s) {
  std::replace(s.begin(), s.end(), '/', '\\');
  return s;
}

// Percentage rounded half up, 0 for an empty whole, never above 100.
uint8_t Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return 0;
  if (part >= whole) return 100;
  // part < whole <= 2^32 * 65535 keeps 200 * part well inside 64 bits.
  return static_cast<uint8_t>((200 * part + whole) / (2 * whole));
}

// Drive and root that a stored name may carry: "C:\dir\x" and "C:x" lose their
// drive, "\dir\x" its leading backslash.
std::string StripDrive(const std::string& name) {
  if (name.find(':') != std::string::npos) {
    std::size_t firstSlash = name.find('\\');
    return name.substr(firstSlash == 2 ? 3 : std::min<std::size_t>(2, name.size()));
  }
  if (!name.empty() && name[0] == '\\') return name.substr(1);
  return name;
}

// The file part after the last "\" or ":"; the folder part up to and including it.
std::string FilePart(const std::string& name) {
  std::size_t cut = name.find_last_of("\\:");
  return cut == std::string::npos ? name : name.substr(cut + 1);
}
std::string FolderPart(const std::string& name) {
  std::size_t cut = name.find_last_of("\\:");
  return cut == std::string::npos ? std::string() : name.substr(0, cut + 1);
}

// Joins with one "\" unless the first part already ends with one.
std::string JoinPath(const std::string& first, const std::string& second) {
  if (first.empty()) return second;
  if (first.back() == '\\') return first + second;
  return first + "\\" + second;
}

// Segments Windows would resolve to a parent folder ("..", and ". ." or "... "
// once it drops trailing dots and blanks) or to a device instead of a file.
bool IsUnsafeSegment(const std::string& segment) {
  if (segment.find("..") != std::string::npos && segment.find_first_not_of(". ") == std::string::npos) return true;
  std::string base = segment.substr(0, segment.find('.'));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  base = text::UpperCase(base);
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices)
    if (base == device) return true;
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0) && base[3] >= '1' &&
      base[3] <= '9')
    return true;
  return false;
}

}  // namespace

std::string UnZipErrorText(int code) {
  switch (code) {
    case E_BADHEADER: return "Bad file header";
    case E_UNSAFENAME: return "Unsafe file name";
    case E_WRITE: return "Error writing to file";
    case E_CLOSE: return "Error closing file";
    case E_CRCERROR: return "File fails CRC check";
    case E_NOTACCESSIBLE: return "is not accessible";
    case E_FILENOTFOUND: return "File not found";
    case E_OPEN: return "Error opening file";
    case E_REQUIREDEVENT: return "Required event not assigned";
    case E_UNSUPPORTED: return "Unsupported compression method";
    case E_BADPASSWORD: return "Invalid password";
    default: return "Error " + text::IntToStr(code);
  }
}

// ---------------------------------------------------------------- archive reading

// Reads the archive by position through one 32 KB buffer, so the many small
// header reads cost no system call each and large data reads go straight
// through. A read error counts as the end of the file.
class TArchiveReader {
 public:
  explicit TArchiveReader(platform::TFileStream& file) : file_(file), buffer_(kBlockSize) {
    try {
      size_ = file_.Seek(0, TSeekOrigin::soEnd);
    } catch (const Exception&) {
      size_ = 0;
    }
  }

  int64_t Size() const { return size_; }

  // Up to count bytes at pos; fewer at the end of the file (none before its start).
  std::size_t ReadAt(int64_t pos, void* out, std::size_t count) {
    if (pos < 0 || pos >= size_ || count == 0) return 0;
    count = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - pos));
    if (pos >= bufferPos_ && pos - bufferPos_ + static_cast<int64_t>(count) <= static_cast<int64_t>(bufferLen_)) {
      std::memcpy(out, buffer_.data() + (pos - bufferPos_), count);
      return count;
    }
    if (count >= buffer_.size()) return Direct(pos, out, count);
    bufferPos_ = pos;
    bufferLen_ = Direct(pos, buffer_.data(), buffer_.size());
    std::size_t n = std::min(count, bufferLen_);
    std::memcpy(out, buffer_.data(), n);
    return n;
  }

  bool Has32At(int64_t pos, uint32_t signature) {
    uint8_t b[4];
    return ReadAt(pos, b, 4) == 4 && zip::Get32(b) == signature;
  }

 private:
  std::size_t Direct(int64_t pos, void* out, std::size_t count) {
    try {
      file_.Seek(pos, TSeekOrigin::soBeginning);
      std::size_t done = 0;
      while (done < count) {
        int64_t got = file_.Read(static_cast<uint8_t*>(out) + done, static_cast<int64_t>(count - done));
        if (got <= 0) break;
        done += static_cast<std::size_t>(got);
      }
      return done;
    } catch (const Exception&) {
      return 0;
    }
  }

  platform::TFileStream& file_;
  std::vector<uint8_t> buffer_;
  int64_t bufferPos_ = 0;
  std::size_t bufferLen_ = 0;
  int64_t size_ = 0;
};

namespace {

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

// An entry's compressed bytes: never more than the entry declares, never past the
// end of the archive, decrypted on the way when a key is given.
class TEntrySource : public TByteSource {
 public:
  TEntrySource(TArchiveReader& reader, int64_t pos, uint64_t size, TZipCrypto* crypto)
      : reader_(reader), pos_(pos), left_(size), crypto_(crypto) {}

  std::size_t Read(uint8_t* buffer, std::size_t count) override {
    std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(count, left_));
    if (want == 0) return 0;
    std::size_t got = reader_.ReadAt(pos_, buffer, want);
    if (got == 0) {
      left_ = 0;
      return 0;
    }
    pos_ += static_cast<int64_t>(got);
    left_ -= got;
    if (crypto_) crypto_->Decrypt(buffer, got);
    return got;
  }

 private:
  TArchiveReader& reader_;
  int64_t pos_;
  uint64_t left_;
  TZipCrypto* crypto_;
};

}  // namespace

// Decoded blocks to the output file, with the CRC-32 of what was written and the
// progress events.
class TEntrySink : public TByteSink {
 public:
  TEntrySink(TUnZip& owner, platform::TFileStream& file, uint64_t entrySize, bool stored)
      : owner_(owner), file_(file), entrySize_(entrySize), stored_(stored) {}

  bool Write(const uint8_t* data, std::size_t count) override {
    if (count == 0) return true;
    try {
      file_.Write(data, static_cast<int64_t>(count));
    } catch (const Exception&) {
      return false;
    }
    crc_ = Crc32Update(crc_, data, count);
    done_ += count;
    owner_.BlockDone(count, done_, entrySize_, stored_);
    return true;
  }

  uint32_t Crc() const { return crc_; }
  uint64_t Done() const { return done_; }

 private:
  TUnZip& owner_;
  platform::TFileStream& file_;
  uint64_t entrySize_;
  bool stored_;
  uint32_t crc_ = 0;
  uint64_t done_ = 0;
};

// ---------------------------------------------------------------- properties

TUnZip::TUnZip() = default;
TUnZip::~TUnZip() = default;

void TUnZip::SetArchiveFile(const std::string& name) {
  std::string path = SlashesToBackslashes(name);
  if (path.empty() || !platform::FileExists(path)) {
    archiveFile_.clear();
    arcType_ = atNA;
    return;
  }
  archiveFile_ = path;
  arcType_ = DetectArcType(path);
}

void TUnZip::SetExtractDir(const std::string& folder) {
  std::string dir = SlashesToBackslashes(folder);
  if (dir.empty()) dir = archiveFile_.empty() ? std::string() : FolderPart(archiveFile_);
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  extractDir_ = dir;
}

void TUnZip::SetZipCmntBufSize(int size) { zipCmntBufSize_ = std::clamp(size, 2000, 32767); }

// ---------------------------------------------------------------- extraction

void TUnZip::Error(const std::string& fileName, const std::string& extendedMsg, int code) {
  if (OnError) OnError(this, fileName, extendedMsg, "0", code);
}

int TUnZip::Extract() {
  count_ = 0;
  entries_.clear();
  spans_.clear();
  totalSize_ = totalCompressed_ = remaining_ = 0;
  newestDate_ = 0;
  passwordFailed_ = false;
  lastFolder_.clear();
  const std::string startArchive = archiveFile_;
  const uint32_t startTicks = platform::TickCount();
  try {
    if (archiveFile_.empty()) {
      Error(archiveFile_, "", E_FILENOTFOUND);
      return 0;
    }
    if (!platform::DriveAccessible(archiveFile_)) {
      std::string drive = archiveFile_.size() >= 2 && archiveFile_[1] == ':' ? archiveFile_.substr(0, 2) : "";
      Error(archiveFile_, drive, E_NOTACCESSIBLE);
      return 0;
    }
    if (OnActivate) OnActivate(this);
  } catch (...) {
    return count_;
  }
  try {
    Run();
  } catch (...) {
    // A failure no step expected (memory, a handler that threw): what was
    // extracted so far stands.
  }
  entries_.clear();
  entries_.shrink_to_fit();
  spans_.clear();
  try {
    if (OnDeactivate) OnDeactivate(this);
    if (OnElapsedTime) OnElapsedTime(this, static_cast<float>(platform::TickCount() - startTicks) / 1000.0f);
  } catch (...) {
  }
  archiveFile_ = startArchive;
  return count_;
}

void TUnZip::Run() {
  std::unique_ptr<platform::TFileStream> file;
  try {
    file = std::make_unique<platform::TFileStream>(archiveFile_, platform::FileMode::OpenRead);
  } catch (const Exception& e) {
    Error(archiveFile_, e.Message, E_OPEN);
    return;
  }
  TArchiveReader reader(*file);
  if (!ReadDirectory(reader)) return;
  remaining_ = totalSize_;
  for (const TZipEntry& entry : entries_) ExtractEntry(reader, entry);
}

bool TUnZip::ReadDirectory(TArchiveReader& reader) {
  zip::TEndRecord end;
  int64_t endPos = FindEndRecord(reader, end);
  if (endPos < 0) {
    if (!BeginsWithLocalHeader(reader)) return false;  // not a ZIP archive: nothing to select
    WalkLocalHeaders(reader, 0, hsNoEndRecord);
    return true;
  }
  if (end.TotalEntries == 0 && end.DirectorySize == 0) return false;  // an empty archive

  uint8_t header[zip::kCentralHeaderSize];
  auto holdsCentralHeader = [&](int64_t pos) {
    return reader.ReadAt(pos, header, sizeof header) == sizeof header &&
           zip::Get32(header) == zip::kCentralHeaderSignature;
  };
  if (holdsCentralHeader(end.DirectoryOffset)) {
    ReadCentralDirectory(reader, end.DirectoryOffset, 0);
    return true;
  }
  // Data in front of the archive (a program stub) that its offsets do not count:
  // the directory ends where the end record begins.
  int64_t actual = endPos - static_cast<int64_t>(end.DirectorySize);
  if (actual >= 0 && holdsCentralHeader(actual)) {
    ReadCentralDirectory(reader, actual, actual - static_cast<int64_t>(end.DirectoryOffset));
    return true;
  }
  int64_t first = FindFirstLocalHeader(reader);
  if (first < 0) return false;
  WalkLocalHeaders(reader, first, hsNoCentralDirectory);
  return true;
}

void TUnZip::ReadCentralDirectory(TArchiveReader& reader, int64_t start, int64_t adjustment) {
  int64_t pos = start;
  std::size_t records = 0;
  uint8_t raw[zip::kCentralHeaderSize];
  while (reader.ReadAt(pos, raw, sizeof raw) == sizeof raw) {
    zip::TCentralHeader central = zip::TCentralHeader::Parse(raw);
    if (central.Signature != zip::kCentralHeaderSignature) break;
    if (++records > kMaxEntries) {
      Error(archiveFile_, "more than 65535 entries", E_BADHEADER);
      break;
    }
    // The whole name, however long: a name cut short would be a different path.
    std::string storedName(central.NameLength, '\0');
    if (reader.ReadAt(pos + zip::kCentralHeaderSize, storedName.data(), storedName.size()) != storedName.size()) break;
    pos += static_cast<int64_t>(zip::kCentralHeaderSize) + central.NameLength + central.ExtraLength +
           central.CommentLength;

    const int host = central.VersionMadeBy >> 8;
    std::string name = TranslateOemChar ? EntryNameToAnsi(storedName, central.Flags, host) : storedName;
    name = SlashesToBackslashes(name);
    if (!FileSpecSelects(name, FileSpec, RecurseDirs)) continue;

    int64_t localPos = static_cast<int64_t>(central.LocalHeaderOffset) + adjustment;
    uint8_t localRaw[zip::kLocalHeaderSize];
    if (reader.ReadAt(localPos, localRaw, sizeof localRaw) != sizeof localRaw ||
        zip::Get32(localRaw) != zip::kLocalHeaderSignature) {
      Error(name, "", E_BADHEADER);
      continue;
    }
    zip::TLocalHeader local = zip::TLocalHeader::Parse(localRaw);
    std::string localName(local.NameLength, '\0');
    if (reader.ReadAt(localPos + zip::kLocalHeaderSize, localName.data(), localName.size()) != localName.size()) {
      Error(name, "", E_BADHEADER);
      continue;
    }
    TZipEntry entry;
    entry.Name = SlashesToBackslashes(TranslateOemChar ? EntryNameToAnsi(localName, local.Flags, host) : localName);
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
    entry.Host = host;
    AddEntry(std::move(entry));
  }
}

void TUnZip::WalkLocalHeaders(TArchiveReader& reader, int64_t start, TZipHeaderState state) {
  if (OnCorruptZipHeader) {
    bool cancel = true;
    OnCorruptZipHeader(this, state, cancel);
    if (cancel) return;
  }
  int64_t pos = start;
  if (reader.Has32At(pos, zip::kSpanMarker)) pos += 4;
  std::size_t records = 0;
  uint8_t raw[zip::kLocalHeaderSize];
  while (reader.ReadAt(pos, raw, sizeof raw) == sizeof raw) {
    zip::TLocalHeader local = zip::TLocalHeader::Parse(raw);
    if (local.Signature != zip::kLocalHeaderSignature) break;
    if (++records > kMaxEntries) {
      Error(archiveFile_, "more than 65535 entries", E_BADHEADER);
      break;
    }
    std::string storedName(local.NameLength, '\0');
    if (reader.ReadAt(pos + zip::kLocalHeaderSize, storedName.data(), storedName.size()) != storedName.size()) break;
    int64_t dataPos = pos + static_cast<int64_t>(zip::kLocalHeaderSize) + local.NameLength + local.ExtraLength;
    int64_t next = dataPos + local.CompressedSize;
    // A data descriptor after the data: 16 bytes with its optional signature, 12 without.
    if (local.Flags & zip::kFlagDataDescriptor) {
      if (reader.Has32At(next, zip::kSpanMarker))
        next += 16;
      else if (!reader.Has32At(next, zip::kLocalHeaderSignature) &&
               reader.Has32At(next + 12, zip::kLocalHeaderSignature))
        next += 12;
    }

    std::string name =
        SlashesToBackslashes(TranslateOemChar ? EntryNameToAnsi(storedName, local.Flags, -1) : storedName);
    if (FileSpecSelects(name, FileSpec, RecurseDirs)) {
      TZipEntry entry;
      entry.Name = std::move(name);
      entry.HeaderOffset = pos;
      entry.DataOffset = dataPos;
      entry.CompressedSize = local.CompressedSize;
      entry.UncompressedSize = local.UncompressedSize;
      entry.Crc = local.Crc;
      // Local headers carry no attributes; an empty entry named like a folder is one.
      if (!entry.Name.empty() && entry.Name.back() == '\\' && local.UncompressedSize == 0)
        entry.ExternalAttributes = platform::faDirectory;
      entry.Flags = local.Flags;
      entry.Method = local.Method;
      entry.Time = local.Time;
      entry.Date = local.Date;
      AddEntry(std::move(entry));
    }
    pos = next;
  }
}

void TUnZip::AddEntry(TZipEntry&& entry) {
  if (!IsSafeName(entry.Name)) {
    Error(entry.Name, entry.Name, E_UNSAFENAME);
    return;
  }
  // Every archive byte belongs to one entry at most. Directory records that share
  // or overlap another entry's header and data would decode the same bytes again
  // and again (the shape of a compression bomb), so only the first is kept.
  const int64_t spanEnd = entry.DataOffset + static_cast<int64_t>(entry.CompressedSize);
  auto next = spans_.upper_bound(entry.HeaderOffset);
  bool overlaps = next != spans_.end() && next->first < spanEnd;
  if (next != spans_.begin() && std::prev(next)->second > entry.HeaderOffset) overlaps = true;
  if (overlaps) {
    Error(entry.Name, "overlaps another entry", E_BADHEADER);
    return;
  }
  spans_.emplace(entry.HeaderOffset, spanEnd);
  totalSize_ += entry.UncompressedSize;
  uint64_t compressed = entry.CompressedSize;
  if (entry.Flags & zip::kFlagEncrypted) compressed -= std::min<uint64_t>(compressed, zip::kEncryptionHeaderSize);
  totalCompressed_ += compressed;
  newestDate_ = std::max(newestDate_, DosStamp(entry.Date, entry.Time));
  entries_.push_back(std::move(entry));
}

// ---------------------------------------------------------------- output paths

std::string TUnZip::TargetFolder() const {
  if (!extractDir_.empty()) return extractDir_;
  std::string dir = archiveFile_.empty() ? std::string() : FolderPart(archiveFile_);
  if (dir.empty()) dir = platform::GetCurrentDir();
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  return dir;
}

std::string TUnZip::OutputPath(const std::string& storedName) const {
  std::string folder = TargetFolder();
  // A relative target stays relative to the current folder; it is not made
  // relative to the drive's root.
  if (UseStoredDirs) folder = JoinPath(folder, FolderPart(StripDrive(storedName)));
  return JoinPath(folder, FilePart(storedName));
}

// What remains of a stored name below the target folder must stay below it: no
// drive or root left after the drive is stripped, no parent-folder segment, no
// device name, no NUL.
bool TUnZip::IsSafeName(const std::string& storedName) const {
  // The system would end the name at a NUL: the file written would not be the
  // one announced.
  if (storedName.find('\0') != std::string::npos) return false;
  std::string relative = UseStoredDirs ? StripDrive(storedName) : FilePart(storedName);
  if (relative.find(':') != std::string::npos) return false;
  if (!relative.empty() && relative[0] == '\\') return false;
  std::size_t begin = 0;
  while (begin <= relative.size()) {
    std::size_t end = relative.find('\\', begin);
    if (end == std::string::npos) end = relative.size();
    if (IsUnsafeSegment(relative.substr(begin, end - begin))) return false;
    begin = end + 1;
  }
  return true;
}

// One level at a time, from the top; doubled backslashes and the drive are
// passed over. Failures show when the file is created.
void TUnZip::CreateFolders(const std::string& folder) {
  if (folder == lastFolder_) return;
  for (std::size_t i = 0; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '\\') continue;
    if (i == 0 || folder[i - 1] == '\\' || folder[i - 1] == ':') continue;
    std::string level = folder.substr(0, i);
    if (!platform::DirectoryExists(level)) platform::CreateDir(level);
  }
  lastFolder_ = folder;
}

// ---------------------------------------------------------------- one entry

void TUnZip::SkipEntry(const TZipEntry& entry) { remaining_ -= std::min<uint64_t>(remaining_, entry.UncompressedSize); }

void TUnZip::BlockDone(uint64_t blockSize, uint64_t entryDone, uint64_t entrySize, bool stored) {
  remaining_ -= std::min<uint64_t>(remaining_, blockSize);
  if (!OnProgress) return;
  // While a stored entry is copied the archive's share is measured against the
  // compressed total, as its blocks are read and written one for one.
  uint64_t whole = stored ? totalCompressed_ : totalSize_;
  OnProgress(this, Percent(entryDone, entrySize), Percent(totalSize_ - remaining_, whole));
}

bool TUnZip::UnlockEntry(TArchiveReader& reader, const TZipEntry& entry, std::unique_ptr<TZipCrypto>& crypto) {
  uint8_t header[zip::kEncryptionHeaderSize];
  if (entry.CompressedSize < sizeof header || reader.ReadAt(entry.DataOffset, header, sizeof header) != sizeof header)
    return false;
  const uint8_t check = (entry.Flags & zip::kFlagDataDescriptor) ? static_cast<uint8_t>(entry.Time >> 8)
                                                                 : static_cast<uint8_t>(entry.Crc >> 24);
  auto opens = [&](const std::string& password) {
    auto candidate = std::make_unique<TZipCrypto>(password);
    if (!candidate->CheckHeader(header, check)) return false;
    crypto = std::move(candidate);
    password_ = password;
    return true;
  };
  if (!password_.empty() && opens(password_)) return true;
  for (const std::string& password : Passwords)
    if (opens(password)) return true;
  // Once nobody could answer, later entries are not asked about again.
  if (passwordFailed_) return false;
  if (!OnGetPassword) {
    Error(entry.Name, "OnGetPassword", E_REQUIREDEVENT);
    return false;
  }
  for (int attempt = 0; attempt < PasswordAttempts; ++attempt) {
    std::string password;
    bool tryAgain = true;
    OnGetPassword(this, entry.Name, password, tryAgain);
    if (!tryAgain) break;
    if (opens(password)) return true;
    Error(entry.Name, "", E_BADPASSWORD);
  }
  return false;
}

void TUnZip::ExtractEntry(TArchiveReader& reader, const TZipEntry& entry) {
  std::string target = OutputPath(entry.Name);

  if (entry.ExternalAttributes & platform::faDirectory) {
    if (CreateStoredDirs) CreateFolders(target);
    if (OnEnd) OnEnd(this, target, true);
    return;
  }

  bool extract = true;
  if (OnBegin) OnBegin(this, target, count_, extract);
  if (!extract) return SkipEntry(entry);

  if (!ConfirmOverwrites) {
    if (OverwriteMode == omSkip) return SkipEntry(entry);
  } else {
    while (platform::GetAttributes(target) != platform::faInvalid) {
      if (!OnFileExists) {
        Error(target, "OnFileExists", E_REQUIREDEVENT);
        return SkipEntry(entry);
      }
      std::string newName = target;
      TOverwriteMode mode = OverwriteMode;
      OnFileExists(this, target, newName, mode);
      if (mode == omSkip) return SkipEntry(entry);
      if (newName.empty() || newName == target) break;
      target = newName;
    }
  }
  uint32_t existing = platform::GetAttributes(target);
  if (existing != platform::faInvalid && (existing & platform::faReadOnly)) {
    if (existing & (platform::faSysFile | platform::faDirectory)) {
      Error(target, "", E_WRITE);
      return SkipEntry(entry);
    }
    platform::SetAttributes(target, existing & ~platform::faReadOnly);
  }
  ++count_;

  std::unique_ptr<TZipCrypto> crypto;
  uint64_t dataSize = entry.CompressedSize;
  int64_t dataPos = entry.DataOffset;
  if (entry.Flags & zip::kFlagEncrypted) {
    if (!UnlockEntry(reader, entry, crypto)) {
      passwordFailed_ = true;
      --count_;
      SkipEntry(entry);
      if (OnEnd) OnEnd(this, entry.Name, false);
      return;
    }
    dataPos += zip::kEncryptionHeaderSize;
    dataSize -= zip::kEncryptionHeaderSize;
  }

  CreateFolders(FolderPart(target));
  std::unique_ptr<platform::TFileStream> out;
  try {
    out = std::make_unique<platform::TFileStream>(target, platform::FileMode::CreateExclusive);
  } catch (const Exception& e) {
    Error(target, e.Message, E_OPEN);
    SkipEntry(entry);
    if (OnEnd) OnEnd(this, target, false);
    return;
  }

  TEntrySource source(reader, dataPos, dataSize, crypto.get());
  TEntrySink sink(*this, *out, entry.UncompressedSize, entry.Method == 0);
  bool supported = true;
  DecodeResult result = DecodeResult::DataError;
  switch (entry.Method) {
    case 0: result = CopyStored(source, sink, entry.UncompressedSize); break;
    case 1: result = Unshrink(source, sink, entry.UncompressedSize); break;
    case 2:
    case 3:
    case 4:
    case 5: result = Unreduce(source, sink, entry.UncompressedSize, entry.Method - 1); break;
    case 6:
      result = Explode(source, sink, entry.UncompressedSize, (entry.Flags & zip::kFlagImplode8K) != 0,
                       (entry.Flags & zip::kFlagImplode3Trees) != 0);
      break;
    case 8: result = Inflate(source, sink, entry.UncompressedSize, false); break;
    case 9: result = Inflate(source, sink, entry.UncompressedSize, true); break;
    default:
      supported = false;
      Error(target, "method " + text::IntToStr(entry.Method), E_UNSUPPORTED);
      break;
  }
  if (supported && result == DecodeResult::WriteError)
    Error(target, platform::SysErrorMessage(platform::LastError()), E_WRITE);
  if (!out->Close()) Error(target, "", E_CLOSE);
  out.reset();
  FinishFile(target, entry);

  // The stored CRC may be kept finished or complemented; a short or corrupt
  // stream fails whatever its CRC says.
  const uint32_t crc = sink.Crc();
  const bool pass = supported && result == DecodeResult::Ok && sink.Done() == entry.UncompressedSize &&
                    (entry.Crc == crc || entry.Crc == ~crc);
  if (OnEnd)
    OnEnd(this, target, pass);
  else if (!pass && supported && result != DecodeResult::WriteError)
    Error(target, "", E_CRCERROR);
}

// Date and attributes go on after the file is closed: a date set on an open
// file would be replaced by the close, and the file is open exclusively.
void TUnZip::FinishFile(const std::string& target, const TZipEntry& entry) {
  platform::LocalTime when;
  switch (DateAttribute) {
    case daFileDate: when = DosToLocalTime(DosStamp(entry.Date, entry.Time)); break;
    case daSysDate: when = platform::Now(); break;
    case daMaxFileDate: when = DosToLocalTime(newestDate_); break;
  }
  platform::SetLastWriteTime(target, when);

  if (!RestoreFileAttr) return;
  const uint32_t dosAttributes = entry.ExternalAttributes & 0xFF;
  // Unix permissions only from Unix hosts, without set-id or sticky bits, and
  // always readable by the owner so the file can be copied on.
  uint32_t unixMode = 0;
  if (entry.Host == zip::kHostUnix) {
    unixMode = (entry.ExternalAttributes >> 16) & 0777;
    if (unixMode != 0) unixMode |= 0400;
  }
  if (dosAttributes == platform::faArchive && unixMode == 0) return;
  platform::SetAttributes(
      target, dosAttributes & (platform::faReadOnly | platform::faHidden | platform::faSysFile | platform::faArchive),
      unixMode);
}

}  // namespace archive
