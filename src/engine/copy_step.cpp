#include "base/text.h"
#include "engine/steps.h"
#include "install/record.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/build_defaults.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/string_param.h"

namespace engine {

namespace {

// What the step changed below the installation folder, so that a step that fails
// leaves the folder as it found it: the files placed, each with the original it
// replaced (kept in the run's backup folder until the step has succeeded), and
// the folders it made.
class TCopyJournal {
 public:
  TCopyJournal(std::string installFolder, std::string backupFolder)
      : installFolder_(std::move(installFolder)), backupFolder_(std::move(backupFolder)) {}

  // Where the original of destination waits while the step runs.
  std::string BackupOf(const std::string& destination) const {
    return backupFolder_ + text::CopyFrom(destination, static_cast<int64_t>(installFolder_.size()) + 1);
  }

  // Creates the folder of path with its missing parents, noting those it made.
  void MakeFolderOf(const std::string& path, std::vector<std::string>* made) {
    std::vector<std::string> missing;
    for (std::string folder = text::ExtractFileDir(path);
         folder.size() >= 3 && folder != text::ExtractFileDir(folder) && !platform::DirectoryExists(folder);
         folder = text::ExtractFileDir(folder))
      missing.push_back(folder);
    platform::ForceDirectories(text::ExtractFileDir(path));
    if (made) made->insert(made->end(), missing.begin(), missing.end());
  }

  void MakeDestinationFolder(const std::string& destination) { MakeFolderOf(destination, &madeFolders_); }
  void MakeBackupFolder(const std::string& backup) { MakeFolderOf(backup, nullptr); }

  void Placed(const std::string& destination, bool replaced) { placed_.push_back({destination, replaced}); }

  // Puts every original back and removes every file and folder the step added,
  // newest first. Returns what could not be restored (empty when all was); the
  // originals of those stay in the backup folder.
  std::string Restore() {
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

  // After success the originals are not needed any more. One still held by a
  // running program stays in the temporary folder.
  void Discard() {
    for (const Entry& e : placed_) {
      if (!e.replaced) continue;
      const std::string backup = BackupOf(e.destination);
      platform::SetAttributesNormal(backup);
      platform::EraseFile(backup);
    }
    placed_.clear();
  }

  const std::string& BackupFolder() const { return backupFolder_; }

 private:
  struct Entry {
    std::string destination;
    bool replaced;  // an original was moved aside for it
  };
  const std::string installFolder_;
  const std::string backupFolder_;
  std::vector<Entry> placed_;
  std::vector<std::string> madeFolders_;
};

}  // namespace

bool CopyFiles(TStepContext& run) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  run.Controls.PBOverall->StepBy(1);
  run.Controls.LabelPending->SetCaption(t.S_Copy);
  run.Controls.PBPending->SetPosition(0);
  run.Controls.PBPending->SetMax(static_cast<int32_t>(s.ExtractedFiles.size()));

  const std::string extractFolder = s.TempFolder + "\\" + s.ExtractFolderName;
  TCopyJournal journal(s.InstallFolder, extractFolder + ".replaced");
  TStringParam placed("", ";");
  std::vector<std::string> failed;
  const size_t cut = extractFolder.size();
  bool retry = false;
  do {
    failed.clear();
    for (size_t n = s.ExtractedFiles.size(); n-- > 0;) {
      run.Pass();
      const std::string source = s.ExtractedFiles[n];
      const std::string destination = s.InstallFolder + text::CopyFrom(source, static_cast<int64_t>(cut) + 1);
      platform::ForceDirectories(s.InstallFolder);
      // The package's sub-folders must exist below the installation folder too.
      journal.MakeDestinationFolder(destination);
      const std::string backup = journal.BackupOf(destination);
      const bool replacing = platform::FileExists(destination);
      if (replacing) journal.MakeBackupFolder(backup);
      if (ReplaceFile(source, destination, backup)) {
        journal.Placed(destination, replacing);
        placed.Add(destination);
        s.ExtractedFiles.erase(s.ExtractedFiles.begin() + static_cast<std::ptrdiff_t>(n));
        run.Controls.PBPending->SetPosition(static_cast<int32_t>(n) + 1);
      } else {
        failed.push_back(destination);
      }
    }
    retry = !failed.empty() && run.AskRetry(failed);
  } while (retry && !s.ExtractedFiles.empty());

  // A step that does not complete leaves no mix of old and new files behind.
  if (!failed.empty()) {
    const std::string unrestored = journal.Restore();
    RemoveFolders(journal.BackupFolder(), false);
    run.Report(unrestored.empty() ? t.S_CopyError : t.S_CopyError + "\r\n" + unrestored, mtWarning);
    return false;
  }
  try {
    install::RecordInstalledFiles(s, placed.GetTextStr());
  } catch (const Exception&) {
    // Files the record does not know of could never be uninstalled.
    journal.Restore();
    RemoveFolders(journal.BackupFolder(), false);
    throw;
  }
  journal.Discard();
  RemoveFolders(journal.BackupFolder(), false);
  return true;
}

bool ReplaceFile(const std::string& source, const std::string& destination, const std::string& backup) {
  if (platform::FileExists(destination)) {
    // The original is moved aside rather than deleted, so that it can be put back.
    const uint32_t start = platform::TickCount();
    while (!platform::MoveFileTo(destination, backup)) {
      if (platform::TickCount() - start >= defaults::FileReplaceTimeout) return false;
      platform::SleepMs(100);
    }
    if (platform::MoveFileTo(source, destination) || platform::CopyFileTo(source, destination, true)) return true;
    platform::MoveFileTo(backup, destination);  // nothing took its place: the original goes back at once
    return false;
  }
  if (platform::MoveFileTo(source, destination)) return true;
  return platform::CopyFileTo(source, destination, false);
}

}  // namespace engine
