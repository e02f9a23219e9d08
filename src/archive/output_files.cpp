#include "archive/output_files.h"

#include "archive/unzip_errors.h"
#include "archive/zip_directory.h"
#include "archive/zip_format.h"
#include "base/text.h"
#include "platform/files.h"

namespace archive {

void TOutputFiles::Begin(bool ownFolder) {
  ownFolder_ = ownFolder;
  madeNames_.clear();
  lastFolder_.clear();
}

void TOutputFiles::CreateFolders(const std::string& folder) {
  if (folder == lastFolder_) return;
  for (std::size_t i = 0; i <= folder.size(); ++i) {
    if (i < folder.size() && folder[i] != '\\') continue;
    if (i == 0 || folder[i - 1] == '\\' || folder[i - 1] == ':') continue;
    std::string level = folder.substr(0, i);
    if (!platform::DirectoryExists(level)) platform::CreateDir(level);
  }
  lastFolder_ = folder;
}

// Most files are new: made without asking anything first. Only when that fails is
// a read-only file looked for, and replaced unless it is a system file.
std::unique_ptr<platform::TFileStream> TOutputFiles::Create(const std::string& target, TOutputFailure& failure) {
  // In a folder of its own, a name this extraction has not made yet in any
  // spelling is new to the folder.
  const bool fresh = ownFolder_ && madeNames_.insert(text::AnsiUpperCase(target)).second;
  for (bool retried = false;; retried = true) {
    try {
      return std::make_unique<platform::TFileStream>(
          target, fresh && !retried ? platform::TFileMode::CreateInOwnFolder : platform::TFileMode::CreateExclusive);
    } catch (const Exception& e) {
      const uint32_t existing = retried ? platform::faInvalid : platform::GetAttributes(target);
      if (existing == platform::faInvalid || !(existing & platform::faReadOnly)) {
        failure = {kErrOpen, SystemMessage(e, target)};
        return nullptr;
      }
      if (existing & (platform::faSysFile | platform::faDirectory)) {
        failure = {kErrWrite, ""};
        return nullptr;
      }
      platform::SetAttributes(target, existing & ~platform::faReadOnly);
    }
  }
}

uint32_t DosStamp(uint16_t date, uint16_t time) { return (static_cast<uint32_t>(date) << 16) | time; }

platform::TLocalTime DosToLocalTime(uint32_t stamp) {
  uint16_t date = static_cast<uint16_t>(stamp >> 16);
  uint16_t time = static_cast<uint16_t>(stamp);
  platform::TLocalTime t;
  t.Year = 1980 + (date >> 9);
  t.Month = (date >> 5) & 0x0F;
  t.Day = date & 0x1F;
  t.Hour = time >> 11;
  t.Minute = (time >> 5) & 0x3F;
  t.Second = (time & 0x1F) * 2;
  return t;
}

// Both through the open file, after its last write: no second open.
void DateAndAttributes(platform::TFileStream& out, const platform::TLocalTime& time, const TZipEntry& entry,
                       bool restoreAttributes) {
  out.SetLastWriteTime(time);
  if (!restoreAttributes) return;
  const uint32_t dosAttributes = entry.ExternalAttributes & 0xFF;
  // Unix permissions only from Unix hosts; the platform keeps what is safe of them.
  const uint32_t unixMode = entry.Host == zip::kHostUnix ? (entry.ExternalAttributes >> 16) & 07777 : 0;
  if (dosAttributes == platform::faArchive && unixMode == 0) return;
  out.SetAttributesAtClose(
      dosAttributes & (platform::faReadOnly | platform::faHidden | platform::faSysFile | platform::faArchive),
      unixMode);
}

std::string SystemMessage(const Exception& e, const std::string& path) {
  for (const char* verb : {"Cannot open file \"", "Cannot create file \""}) {
    const std::string prefix = verb + path + "\". ";
    if (e.Message.compare(0, prefix.size(), prefix) == 0) return e.Message.substr(prefix.size());
  }
  return e.Message;
}

}  // namespace archive
