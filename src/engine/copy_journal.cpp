#include "engine/copy_journal.h"

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
  std::vector<std::string> missing;
  for (std::string folder = text::ExtractFileDir(path);
       folder.size() >= 3 && folder != text::ExtractFileDir(folder) && !platform::DirectoryExists(folder);
       folder = text::ExtractFileDir(folder))
    missing.push_back(folder);
  platform::ForceDirectories(text::ExtractFileDir(path));
  if (made) made->insert(made->end(), missing.begin(), missing.end());
}

void TCopyJournal::MakeDestinationFolder(const std::string& destination) { MakeFolderOf(destination, &madeFolders_); }

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
  for (const std::string& folder : madeFolders_) platform::RemoveDir(folder);  // deepest first
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
