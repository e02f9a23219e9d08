#include "engine/copy_journal.h"

#include <algorithm>

#include "base/assert.h"
#include "base/text.h"
#include "platform/files.h"
#include "platform/system.h"

namespace engine {

TCopyJournal::TCopyJournal(std::string installFolder, std::string backupFolder)
    : installFolder_(std::move(installFolder)), backupFolder_(std::move(backupFolder)) {}

std::string TCopyJournal::BackupOf(const std::string& destination) const {
  return backupFolder_ + text::CopyFrom(destination, static_cast<int64_t>(installFolder_.size()) + 1);
}

void TCopyJournal::MakeFolderOf(const std::string& path, std::vector<std::string>* made) {
  std::vector<std::string> missing;  // deepest first
  for (std::string folder = text::ExtractFileDir(path);
       folder.size() >= 3 && folder != text::ExtractFileDir(folder) && !platform::DirectoryExists(folder);
       folder = text::ExtractFileDir(folder))
    missing.push_back(folder);
  platform::ForceDirectories(text::ExtractFileDir(path));
  if (made) made->insert(made->end(), missing.rbegin(), missing.rend());
}

bool TCopyJournal::NothingNotedBelow(const std::string& folder) const {
  const std::string prefix = folder + "\\";
  return std::none_of(madeFolders_.begin(), madeFolders_.end(),
                      [&](const std::string& f) { return text::AnsiSameText(f.substr(0, prefix.size()), prefix); });
}

void TCopyJournal::MakeDestinationFolder(const std::string& destination) {
  std::vector<std::string> made;
  MakeFolderOf(destination, &made);
  for (const std::string& folder : made) {
    LU_ASSERT(NothingNotedBelow(folder));
    madeFolders_.push_back(folder);
  }
}

void TCopyJournal::MakeBackupFolder(const std::string& backup) { MakeFolderOf(backup, nullptr); }

void TCopyJournal::Placed(const std::string& destination, bool replaced) { placed_.push_back({destination, replaced}); }

std::string TCopyJournal::Restore() {
  std::string failures;
  for (auto it = placed_.rbegin(); it != placed_.rend(); ++it) {
    const std::string& destination = it->destination;
    const std::string backup = BackupOf(destination);
    platform::SetAttributesNormal(destination);
    bool ok = platform::EraseFile(destination) || !platform::FileExists(destination);
    if (ok && it->replaced) ok = platform::MoveFileTo(backup, destination);
    if (!ok && failures.empty())
      failures = destination + ": " + platform::SysErrorMessage(platform::LastError()) +
                 (it->replaced ? " (the original is kept as " + backup + ")" : "");
  }
  for (auto it = madeFolders_.rbegin(); it != madeFolders_.rend(); ++it) platform::RemoveDir(*it);
  placed_.clear();
  madeFolders_.clear();
  return failures;
}

void TCopyJournal::Discard() {
  for (const Entry& e : placed_) {
    if (!e.replaced) continue;
    const std::string backup = BackupOf(e.destination);
    platform::SetAttributesNormal(backup);
    platform::EraseFile(backup);
  }
  placed_.clear();
}

}  // namespace engine
