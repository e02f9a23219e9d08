#include "base/text.h"
#include "engine/copy_journal.h"
#include "engine/steps.h"
#include "install/record.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/string_param.h"

namespace engine {

bool CopyFiles(TStepContext& run) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  install::TStepProgress& progress = run.Progress;
  progress.StepOverall();
  progress.SetCaption(t.S_Copy);
  progress.SetPosition(0);
  progress.SetMax(static_cast<int32_t>(s.ExtractedFiles.size()));

  const std::string extractFolder = s.TempFolder + "\\" + s.ExtractFolderName;
  TCopyJournal journal(s.InstallFolder, extractFolder + ".replaced");
  TStringParam placed("", ";");
  std::vector<std::string> failed;
  const size_t cut = extractFolder.size();
  try {
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
        if (ReplaceFile(source, destination, backup, run.Defaults.FileReplaceTimeout)) {
          journal.Placed(destination, replacing);
          placed.Add(destination);
          s.ExtractedFiles.erase(s.ExtractedFiles.begin() + static_cast<std::ptrdiff_t>(n));
          progress.SetPosition(static_cast<int32_t>(n) + 1);
        } else {
          failed.push_back(destination);
        }
      }
      retry = !failed.empty() && run.AskRetry(failed);
    } while (retry && !s.ExtractedFiles.empty());
    if (failed.empty()) install::RecordInstalledFiles(s, placed.GetTextStr());
  } catch (...) {
    // A question that could not be asked is no answer, and files the record does
    // not know of could never be uninstalled: nothing of the step stays.
    journal.Restore();
    RemoveFolders(journal.BackupFolder(), false);
    throw;
  }

  // A step that does not complete leaves no mix of old and new files behind.
  if (!failed.empty()) {
    const std::string unrestored = journal.Restore();
    RemoveFolders(journal.BackupFolder(), false);
    run.Report(unrestored.empty() ? t.S_CopyError : t.S_CopyError + "\r\n" + unrestored, mtWarning);
    return false;
  }
  journal.Discard();
  RemoveFolders(journal.BackupFolder(), false);
  return true;
}

bool ReplaceFile(const std::string& source, const std::string& destination, const std::string& backup,
                 uint32_t timeoutMs) {
  if (platform::FileExists(destination)) {
    // The original is moved aside rather than deleted, so that it can be put back.
    const uint32_t start = platform::TickCount();
    while (!platform::MoveFileTo(destination, backup)) {
      if (platform::TickCount() - start >= timeoutMs) return false;
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
