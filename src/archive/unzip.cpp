#include "archive/unzip.h"

#include <algorithm>
#include <exception>
#include <iterator>

#include "archive/archive_reader.h"
#include "archive/decoder.h"
#include "archive/entry_data.h"
#include "archive/entry_names.h"
#include "archive/file_spec.h"
#include "archive/output_files.h"
#include "archive/zip_crypto.h"
#include "archive/zip_format.h"
#include "base/log.h"
#include "base/text.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/system.h"

namespace archive {

namespace {

// Percentage rounded half up, 0 for an empty whole, never above 100.
uint8_t Percent(uint64_t part, uint64_t whole) {
  if (whole == 0) return 0;
  if (part >= whole) return 100;
  // 200 * part must stay inside 64 bits: ZIP64 sizes are scaled down first.
  while (whole >= (uint64_t{1} << 56)) {
    part >>= 1;
    whole >>= 1;
  }
  return static_cast<uint8_t>((200 * part + whole) / (2 * whole));
}

uint64_t SaturatingAdd(uint64_t a, uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// Inside a catch block: what is being handled, as a text.
std::string CaughtText() noexcept {
  try {
    throw;
  } catch (const Exception& e) {
    return e.Message;
  } catch (const std::exception& e) {
    return e.what();
  } catch (...) {
    return "an exception of no known type";
  }
}

void LogUnexpected(const char* what, const std::string& text) noexcept {
  try {
    logging::Log(std::string("Extraction: ") + what + text);
  } catch (...) {  // no memory even for the line: nothing more can be said
  }
}

}  // namespace

// ---------------------------------------------------------------- properties

TUnZip::TUnZip() = default;
TUnZip::~TUnZip() = default;

void TUnZip::SetArchiveFile(const std::string& name) {
  archiveStream_ = nullptr;
  std::string path = SlashesToBackslashes(name);
  if (path.empty() || !platform::FileExists(path)) {
    archiveFile_.clear();
    arcType_ = atNA;
    return;
  }
  archiveFile_ = path;
  arcType_ = DetectArcType(path);
}

void TUnZip::SetArchiveStream(TStream& stream, const std::string& name) {
  archiveStream_ = &stream;
  archiveFile_ = SlashesToBackslashes(name);
  arcType_ = DetectArcType(stream);
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
  if (localErrorText_.empty() && IsLocalError(code)) localErrorText_ = UnZipErrorLine(code, fileName, extendedMsg);
  if (OnError) OnError(this, fileName, extendedMsg, "0", code);
}

// A failure no step expected (memory, a handler that threw) ends the extraction
// where it is. It is logged and reported, so that what was extracted so far never
// passes for the whole archive; a handler that throws again is only logged.
void TUnZip::ReportUnexpected() noexcept {
  const std::string what = CaughtText();
  LogUnexpected("stopped by an unexpected error: ", what);
  try {
    Error(archiveFile_, what, kErrUnexpected);
  } catch (...) {
    LogUnexpected("the error handler failed too: ", CaughtText());
  }
}

int TUnZip::Extract() {
  count_ = 0;
  localErrorText_.clear();
  entries_.clear();
  spans_.clear();
  totalSize_ = totalCompressed_ = remaining_ = 0;
  newestDate_ = 0;
  passwordFailed_ = false;
  output_.Begin(OwnFolder);
  const std::string startArchive = archiveFile_;
  const uint32_t startTicks = platform::TickCount();
  try {
    if (archiveFile_.empty() && !archiveStream_) {
      Error(archiveFile_, "", kErrFileNotFound);
      return 0;
    }
    if (!archiveStream_ && !platform::DriveAccessible(archiveFile_)) {
      std::string drive = archiveFile_.size() >= 2 && archiveFile_[1] == ':' ? archiveFile_.substr(0, 2) : "";
      Error(archiveFile_, drive, kErrNotAccessible);
      return 0;
    }
    if (OnActivate) OnActivate(this);
  } catch (...) {
    ReportUnexpected();
    return count_;
  }
  try {
    Run();
  } catch (...) {
    ReportUnexpected();
  }
  entries_.clear();
  entries_.shrink_to_fit();
  spans_.clear();
  try {
    if (OnDeactivate) OnDeactivate(this);
    if (OnElapsedTime) OnElapsedTime(this, static_cast<float>(platform::TickCount() - startTicks) / 1000.0f);
  } catch (...) {
    ReportUnexpected();
  }
  archiveFile_ = startArchive;
  return count_;
}

void TUnZip::Run() {
  std::unique_ptr<platform::TFileStream> file;
  if (!archiveStream_) {
    try {
      file = std::make_unique<platform::TFileStream>(archiveFile_, platform::TFileMode::OpenRead);
    } catch (const Exception& e) {
      Error(archiveFile_, SystemMessage(e, archiveFile_), kErrOpen);
      return;
    }
  }
  TArchiveReader reader(archiveStream_ ? *archiveStream_ : *file);
  if (!ReadZipDirectory(reader, *this, archiveFile_)) return;  // what was found of a damaged directory is void
  remaining_ = totalSize_;
  for (const TZipEntry& entry : entries_) ExtractEntry(reader, entry);
}

bool TUnZip::Select(TZipEntry& entry, const std::string& storedName) {
  const bool named = EntryName(storedName, entry.Flags, entry.Host, TranslateOemChar, entry.Name);
  if (!FileSpecSelects(entry.Name, FileSpec, RecurseDirs)) return false;
  if (!named) Error(entry.Name, "", kErrNameCodePage);
  return named;
}

bool TUnZip::WalkLocalHeaders(TZipHeaderState state) {
  if (!OnCorruptZipHeader) return true;
  bool cancel = true;
  OnCorruptZipHeader(this, state, cancel);
  return !cancel;
}

void TUnZip::Add(TZipEntry&& entry, const std::string& localName) {
  if (!EntryName(localName, entry.Flags, entry.Host, TranslateOemChar, entry.Name)) {
    Error(entry.Name, "", kErrNameCodePage);
    return;
  }
  if (!IsSafeName(entry.Name, UseStoredDirs)) {
    Error(entry.Name, entry.Name, kErrUnsafeName);
    return;
  }
  // Every archive byte belongs to one entry at most. Directory records that share
  // or overlap another entry's header and data would decode the same bytes again
  // and again (the shape of a compression bomb), so only the first is kept.
  const int64_t spanEnd =
      entry.DataOffset + static_cast<int64_t>(std::min<uint64_t>(entry.CompressedSize, INT64_MAX - entry.DataOffset));
  auto next = spans_.upper_bound(entry.HeaderOffset);
  bool overlaps = next != spans_.end() && next->first < spanEnd;
  if (next != spans_.begin() && std::prev(next)->second > entry.HeaderOffset) overlaps = true;
  if (overlaps) {
    Error(entry.Name, "overlaps another entry", kErrBadHeader);
    return;
  }
  spans_.emplace(entry.HeaderOffset, spanEnd);
  totalSize_ = SaturatingAdd(totalSize_, entry.UncompressedSize);
  uint64_t compressed = entry.CompressedSize;
  if (entry.Flags & zip::kFlagEncrypted) compressed -= std::min<uint64_t>(compressed, zip::kEncryptionHeaderSize);
  totalCompressed_ = SaturatingAdd(totalCompressed_, compressed);
  newestDate_ = std::max(newestDate_, DosStamp(entry.Date, entry.Time));
  entries_.push_back(std::move(entry));
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
  // With nobody to ask, each entry that stays shut is named: encrypted, or not
  // opened by the passwords given.
  if (!OnGetPassword) {
    Error(entry.Name, "", Passwords.empty() ? kErrEncrypted : kErrBadPassword);
    return false;
  }
  // Once nobody could answer, later entries are not asked about again.
  if (passwordFailed_) return false;
  for (int attempt = 0; attempt < PasswordAttempts; ++attempt) {
    std::string password;
    bool tryAgain = true;
    OnGetPassword(this, entry.Name, password, tryAgain);
    if (!tryAgain) break;
    if (opens(password)) return true;
    Error(entry.Name, "", kErrBadPassword);
  }
  return false;
}

// ---------------------------------------------------------------- one entry

std::string TUnZip::TargetFolder() const {
  if (!extractDir_.empty()) return extractDir_;
  std::string dir = archiveFile_.empty() ? std::string() : FolderPart(archiveFile_);
  if (dir.empty()) dir = platform::GetCurrentDir();
  if (!dir.empty() && dir.back() != '\\') dir += '\\';
  return dir;
}

void TUnZip::ExtractEntry(TArchiveReader& reader, const TZipEntry& entry) {
  std::string target = OutputPath(TargetFolder(), entry.Name, UseStoredDirs);
  // Writers that set no MS-DOS folder attribute (jar, libarchive, Node's) still
  // end a folder's name with a separator and give it no data.
  if ((entry.ExternalAttributes & platform::faDirectory) ||
      (!entry.Name.empty() && entry.Name.back() == '\\' && entry.UncompressedSize == 0)) {
    if (CreateStoredDirs) output_.CreateFolders(target);
    if (OnEnd) OnEnd(this, target, true);
    return;
  }
  if (!Accepted(target)) return SkipEntry(entry);
  ++count_;
  std::unique_ptr<TZipCrypto> crypto;
  if (!Readable(reader, entry, target, crypto)) return;
  WriteEntry(reader, entry, target, crypto.get());
}

bool TUnZip::Accepted(std::string& target) {
  bool extract = true;
  if (OnBegin) OnBegin(this, target, count_, extract);
  if (!extract) return false;
  if (!ConfirmOverwrites) return OverwriteMode != omSkip;
  while (platform::GetAttributes(target) != platform::faInvalid) {
    if (!OnFileExists) {
      Error(target, "OnFileExists", kErrRequiredEvent);
      return false;
    }
    std::string newName = target;
    TOverwriteMode mode = OverwriteMode;
    OnFileExists(this, target, newName, mode);
    if (mode == omSkip) return false;
    if (newName.empty() || newName == target) break;
    target = newName;
  }
  return true;
}

// What this program cannot read leaves no file behind, and is not counted: an
// unknown method, AES, or traditional encryption no password opens.
bool TUnZip::Readable(TArchiveReader& reader, const TZipEntry& entry, const std::string& target,
                      std::unique_ptr<TZipCrypto>& crypto) {
  if (entry.Method == zip::kMethodAes) {
    Error(entry.Name, "AES", kErrEncrypted);
    return Refuse(entry, entry.Name);
  }
  if (!Decodable(entry.Method)) {
    Error(target, "method " + text::IntToStr(entry.Method), kErrUnsupported);
    return Refuse(entry, target);
  }
  if ((entry.Flags & zip::kFlagEncrypted) && !UnlockEntry(reader, entry, crypto)) {
    passwordFailed_ = true;
    return Refuse(entry, entry.Name);
  }
  return true;
}

bool TUnZip::Refuse(const TZipEntry& entry, const std::string& shownName) {
  --count_;
  SkipEntry(entry);
  if (OnEnd) OnEnd(this, shownName, false);
  return false;
}

void TUnZip::WriteEntry(TArchiveReader& reader, const TZipEntry& entry, const std::string& target, TZipCrypto* crypto) {
  output_.CreateFolders(FolderPart(target));
  TOutputFailure refused;
  std::unique_ptr<platform::TFileStream> out = output_.Create(target, refused);
  if (!out) {
    Error(target, refused.Message, refused.Code);
    // A read-only system file in the way is skipped, and not counted.
    if (refused.Code == kErrWrite) {
      --count_;
      return SkipEntry(entry);
    }
    SkipEntry(entry);
    if (OnEnd) OnEnd(this, target, false);
    return;
  }
  const uint64_t header = crypto ? zip::kEncryptionHeaderSize : 0;
  TEntrySource source(reader, entry.DataOffset + static_cast<int64_t>(header), entry.CompressedSize - header, crypto);
  TEntrySink sink(*this, *out, entry.UncompressedSize, entry.Method == 0);
  const DecodeResult result = DecodeEntry(entry, source, sink);
  if (result == DecodeResult::WriteError) Error(target, sink.Failure(), kErrWrite);
  // Before the attributes: a read-only file is still one this handle may flush.
  if (FlushFiles && result != DecodeResult::WriteError && !out->Flush())
    Error(target, platform::SysErrorMessage(platform::LastError()), kErrWrite);
  DateAndAttributes(*out, EntryTime(entry), entry, RestoreFileAttr);
  if (!out->Close()) Error(target, platform::SysErrorMessage(platform::LastError()), kErrClose);
  out.reset();

  const std::string failure = CheckFailure(entry, result, sink);
  if (OnEnd)
    OnEnd(this, target, failure.empty());
  else if (!failure.empty() && result != DecodeResult::WriteError)
    Error(target, failure, kErrCrc);
}

platform::TLocalTime TUnZip::EntryTime(const TZipEntry& entry) const {
  switch (DateAttribute) {
    case daSysDate: return platform::Now();
    case daMaxFileDate: return DosToLocalTime(newestDate_);
    case daFileDate: break;
  }
  return DosToLocalTime(DosStamp(entry.Date, entry.Time));
}

}  // namespace archive
