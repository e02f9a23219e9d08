#include <set>

#include "base/assert.h"
#include "base/text.h"
#include "engine/journal.h"
#include "engine/journal_format.h"
#include "engine/steps.h"
#include "install/record.h"
#include "install/save_settings.h"
#include "platform/files.h"
#include "platform/system.h"
#include "settings/file_xml.h"
#include "settings/live_update.h"
#include "settings/string_param.h"

namespace engine {

namespace {

// Intents reach the disk in batches: one flush for up to this many files.
constexpr size_t kBatch = 256;

// One file of the package on its way, as the journal was told.
struct TPlanned {
  size_t Index = 0;  // in ExtractedFiles
  std::string Source;
  std::string Destination;
  std::string Backup;                // "" when no original is there
  platform::TFileLook Original;      // the file found there
  std::vector<std::string> Folders;  // to make first, parents first
  bool Duplicate = false;            // a second entry of the same name, placed by the first
};

// The first line of a text: the copy error's own words, without its advice to
// close programs where none is the cause.
std::string FirstLine(const std::string& text) { return text.substr(0, text.find_first_of("\r\n")); }

// Plans files end - 1 down to begin of the list and notes their intents. Folders
// below the installation folder that exist, or that earlier intents make, are in
// known; destinations of this pass in planned (both upper-cased).
std::vector<TPlanned> PlanBatch(const TStepContext& run, TUpdateJournal& journal, size_t begin, size_t end, size_t cut,
                                std::set<std::string>& known, std::set<std::string>& planned, std::string& fault) {
  const TLiveUpdate& s = run.Settings;
  std::vector<TPlanned> batch;
  for (size_t n = end; n-- > begin;) {
    TPlanned p;
    p.Index = n;
    p.Source = run.ExtractedFiles[n];
    const std::string relative = text::CopyFrom(p.Source, static_cast<int64_t>(cut) + 2);
    p.Destination = s.InstallFolder + "\\" + relative;
    if (journal::UpdaterOwnName(relative.substr(0, relative.find('\\')))) {
      fault = relative + ": a name the updater keeps for itself in the folder";
      break;
    }
    if (!planned.insert(text::AnsiUpperCase(p.Destination)).second) {
      p.Duplicate = true;
      batch.push_back(std::move(p));
      continue;
    }
    for (std::string folder = text::ExtractFileDir(p.Destination);
         folder.size() > s.InstallFolder.size() && !known.count(text::AnsiUpperCase(folder));
         folder = text::ExtractFileDir(folder)) {
      known.insert(text::AnsiUpperCase(folder));
      if (platform::DirectoryExists(folder)) break;
      p.Folders.insert(p.Folders.begin(), folder);
    }
    for (const std::string& folder : p.Folders) journal.NoteFolder(folder);
    p.Original = platform::LookAtFile(p.Destination);
    if (p.Original.Exists)
      p.Backup = journal.NoteReplace(p.Destination);
    else
      journal.NoteAdd(p.Destination);
    batch.push_back(std::move(p));
  }
  return batch;
}

// The update's journal, begun before the first change; false once the failure is
// reported.
bool BeginUpdate(TStepContext& run) {
  const TLiveUpdate& s = run.Settings;
  TFileXML& t = run.Texts();
  try {
    if (!platform::ForceDirectories(s.InstallFolder))
      throw EInOutError(platform::LastErrorText(s.InstallFolder), static_cast<int>(platform::LastError()));
    const install::TProductNames& names = run.Defaults.Names;
    run.Journal = TUpdateJournal::Begin(
        {s.InstallFolder, run.RunFolder, names, install::ValuesChangedByUpdate(s, names), run.FlushFileByFile});
    return true;
  } catch (const ERecoveryError& e) {
    run.Fail(RecoveryReport(t, e.Recovery), RecoveryStatus(e.Recovery));
  } catch (const Exception& e) {
    run.Fail(FirstLine(t.S_CopyError) + "\r\n" + e.Message, kExitCannotWrite);
  }
  return false;
}

// One pass over the files still listed, last to first, in batches: the placed
// ones leave the list for placed, the held ones go to failed, and any other
// cause stops the pass in fault.
void PlacePass(TStepContext& run, TStringParam& placed, std::vector<std::string>& failed, std::string& fault,
               std::set<std::string>& known) {
  TUpdateJournal& journal = *run.Journal;
  const size_t cut = (run.RunFolder + "\\" + run.ExtractFolderName).size();
  std::set<std::string> planned;
  for (size_t end = run.ExtractedFiles.size(); end > 0 && fault.empty();) {
    const size_t begin = end > kBatch ? end - kBatch : 0;
    const std::vector<TPlanned> batch = PlanBatch(run, journal, begin, end, cut, known, planned, fault);
    if (!fault.empty()) break;
    journal.Flush();
    // What other programs hold, asked once for the batch rather than of each file.
    const platform::THeldFiles held(journal.File());
    for (const TPlanned& p : batch) {
      run.Pass();
      LU_ASSERT(journal.Flushed());
      if (p.Duplicate) {
        run.ExtractedFiles.erase(run.ExtractedFiles.begin() + static_cast<std::ptrdiff_t>(p.Index));
        continue;
      }
      for (const std::string& folder : p.Folders)
        if (!platform::CreateDir(folder) && !platform::DirectoryExists(folder)) fault = platform::LastErrorText(folder);
      if (!fault.empty()) break;
      const TPlacement placement =
          PlaceFile(p.Source, p.Destination, p.Backup, journal.NewCopyPath(), run.Defaults.FileReplaceTimeout,
                    !held.MayBeHeld(p.Original), &run.Cancel, run.FlushFileByFile);
      if (placement == TPlacement::Failed) {
        fault = platform::LastErrorText(p.Destination);
        break;
      }
      if (placement == TPlacement::Held) {
        failed.push_back(p.Destination);
        continue;
      }
      placed.Add(p.Destination);
      run.ExtractedFiles.erase(run.ExtractedFiles.begin() + static_cast<std::ptrdiff_t>(p.Index));
      run.Progress.SetPosition(static_cast<int32_t>(p.Index) + 1);
    }
    end = begin;
  }
}

}  // namespace

bool CopyFiles(TStepContext& run) {
  TFileXML& t = run.Texts();
  TLiveUpdate& s = run.Settings;
  install::TStepProgress& progress = run.Progress;
  progress.StepOverall();
  progress.SetCaption(t.S_Copy);
  progress.SetPosition(0);
  progress.SetMax(static_cast<int32_t>(run.ExtractedFiles.size()));
  if (!BeginUpdate(run)) return false;

  TStringParam placed("", ";");
  std::vector<std::string> failed;
  std::string fault;  // what ended the step at once
  std::set<std::string> known{text::AnsiUpperCase(s.InstallFolder)};
  try {
    bool retry = false;
    do {
      failed.clear();
      PlacePass(run, placed, failed, fault, known);
      retry = fault.empty() && !failed.empty() && run.AskRetry(failed);
    } while (retry && !run.ExtractedFiles.empty());
    if (fault.empty() && failed.empty()) install::RecordInstalledFiles(s, placed.GetTextStr());
  } catch (...) {
    // A question that could not be asked is no answer, and files the record does
    // not know of could never be uninstalled: nothing of the step stays.
    RollBackUpdate(run);
    throw;
  }

  // A step that does not complete leaves no mix of old and new files behind.
  if (!fault.empty() || !failed.empty()) {
    const std::string unrestored = RollBackUpdate(run);
    std::string text = fault.empty() ? t.S_CopyError : FirstLine(t.S_CopyError) + "\r\n" + fault;
    if (!unrestored.empty()) text += "\r\n" + unrestored;
    run.Fail(text, fault.empty() ? kExitFilesInUse : kExitCannotWrite);
    return false;
  }
  return true;
}

TPlacement PlaceFile(const std::string& source, const std::string& destination, const std::string& backup,
                     const std::string& copy, uint32_t timeoutMs, bool unheld, const TCancelToken* cancel,
                     bool flushCopy) {
  // Backups have names of their own, and the source is the run's, in its private
  // folder: nobody else holds it.
  constexpr uint32_t kFree = platform::rkSourceFree | platform::rkDestinationFree;
  if (!backup.empty() && !(unheld && platform::RenameFile(destination, backup, kFree))) {
    // The original is moved aside, not deleted, so that it can be put back. Only a
    // file another program holds may come free by waiting.
    const uint32_t start = platform::TickCount();
    while (!platform::RenameFile(destination, backup)) {
      if (!platform::HeldByAnother(platform::LastError())) return TPlacement::Failed;
      if (platform::TickCount() - start >= timeoutMs) return TPlacement::Held;
      if (cancel)
        cancel->Wait(100);
      else
        platform::SleepMs(100);
    }
  }
  if (platform::RenameFile(source, destination, kFree)) return TPlacement::Placed;
  if (!platform::OtherVolume(platform::LastError())) return TPlacement::Failed;
  // From another volume the file is copied whole beside the installation first,
  // then renamed into place: no name ever holds a part of it.
  if (platform::CopyFileTo(source, copy, true) && (!flushCopy || platform::FlushFile(copy)) &&
      platform::RenameFile(copy, destination))
    return TPlacement::Placed;
  return TPlacement::Failed;
}

bool CommitUpdate(TStepContext& run) {
  if (!run.Journal) return true;
  try {
    run.Journal->Commit();
  } catch (const EInOutError& e) {
    // Not on the disk is not done: the old version comes back, as for any write
    // that fails.
    const std::string unrestored = RollBackUpdate(run);
    std::string text = run.Texts().S_WriteError + "\r\n" + e.Message;
    if (!unrestored.empty()) text += "\r\n" + unrestored;
    run.Fail(text, kExitCannotWrite);
    return false;
  }
  run.Journal.reset();
  return true;
}

std::string RollBackUpdate(TStepContext& run) {
  if (!run.Journal || run.Journal->Ended()) return std::string();
  const std::string unrestored = run.Journal->RollBack();
  if (unrestored.empty()) run.Journal.reset();
  return unrestored;
}

}  // namespace engine
