// Recovery of an update's work folder: what its journal says, read as data and
// checked, undone or completed; what a damaged journal leaves, put back from the
// originals kept under their own names.
#include "engine/journal.h"

#include <algorithm>

#include "base/log.h"
#include "base/text.h"
#include "engine/journal_format.h"
#include "engine/journal_recovery.h"
#include "engine/steps.h"
#include "install/uninstall.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace engine {

namespace journal {

const char* const kJournalFileName = "journal";
const char* const kCopiesFolder = "n";

}  // namespace journal

using namespace journal;

namespace {

const char* const kEndedSuffix = ".ended";
const char* const kFormat1Originals = "o";

// A journal as recovery reads it.
struct TJournal {
  std::vector<TRecord> Records;
  std::string Originals;  // where its originals are, below the work folder: "o" (format 1) or "o-<k>"
  bool Format1 = false;   // originals kept as o\<n>
  bool Missing = false;   // no journal file at all
  std::string Damage;     // "" when it can be trusted
};

void Collect(std::string& failures, const std::string& failure) {
  failures += (failures.empty() ? "" : "\r\n") + failure;
}

std::string Quote(const std::string& path) { return "\"" + path + "\""; }

// Why a header cannot be trusted ("" when it can): the names it gives must be the
// ones an update of this product writes.
std::string HeaderDamage(const TRecord& h, const install::TProductNames& names) {
  const std::string& copy = h[6];
  const std::string runFolder = text::ExtractFileDir(copy);
  if (!IsRunFolderName(text::ExtractFileName(runFolder)) || !text::AnsiSameText(runFolder, h[3]) ||
      text::ExtractFileName(copy).empty())
    return "its recovery copy is not in a run folder of the updater";
  if (h[4] != RecoverValueName(names.ApplicationName)) return "it names another RunOnce value";
  if (h[5] != RecoverCommand(copy, h[2] + "\\" + kJournalFolderName)) return "it names another recovery command";
  return std::string();
}

// Why a registry record cannot be trusted ("" when it can).
std::string ValueDamage(const TRecord& r, const install::TProductNames& names) {
  int64_t root = 0;
  if (!text::TryDigitsToInt64(r[1], root) || root > UINT32_MAX) return "a registry root that is no number";
  if (!install::UpdateMayChange({static_cast<uint32_t>(root), r[2], r[3]}, names))
    return "a registry value no update changes (" + r[2] + "\\" + r[3] + ")";
  return std::string();
}

TJournal ReadJournal(const std::string& work, const install::TProductNames& names) {
  TJournal j;
  std::string bytes;
  const std::string path = work + "\\" + kJournalFileName;
  if (!platform::ReadOwnFile(path, journal::kMaxJournalBytes, bytes)) {
    const uint32_t code = platform::LastError();
    j.Missing = code == 2 || code == 3;  // not found, path not found
    if (!j.Missing) j.Damage = "the journal cannot be read: " + platform::SysErrorMessage(code);
    return j;
  }
  journal::TParsed parsed = journal::Parse(bytes);
  j.Records = std::move(parsed.Records);
  j.Damage = parsed.Damage;
  if (!j.Damage.empty()) return j;
  const TRecord& header = j.Records.front();
  j.Format1 = header[1] == "1";
  j.Originals = j.Format1 ? kFormat1Originals : header[7];
  j.Damage = HeaderDamage(header, names);
  for (size_t n = 1; n < j.Records.size() && j.Damage.empty(); ++n) {
    if (j.Records[n][0] != "REG") continue;
    const std::string why = ValueDamage(j.Records[n], names);
    if (!why.empty()) j.Damage = "record " + text::IntToStr(static_cast<int64_t>(n) + 1) + " names " + why;
  }
  return j;
}

// Puts a registry value back as a REG record has it (its numbers checked when it
// was read); a value that is as it was is left alone.
bool RestoreValue(const TRecord& r) {
  int64_t root = 0, type = 0;
  text::TryDigitsToInt64(r[1], root);
  text::TryDigitsToInt64(r[5], type);
  const install::TRegValueName v{static_cast<uint32_t>(root), r[2], r[3]};
  const bool existed = r[4] == "1";
  const platform::TRegValue old{static_cast<uint32_t>(type), r[6]};
  platform::TRegValue now;
  const bool exists = ReadValue(v, now);
  if (exists == existed && (!existed || (now.Type == old.Type && now.Data == old.Data))) return true;
  platform::TRegKey key;
  if (!existed) return !key.Open(v.Root, v.Key, false, false) || key.DeleteValue(v.Name) || !key.HasValue(v.Name);
  return key.Open(v.Root, v.Key, true, false) && key.SetValue(v.Name, old) && key.Flush();
}

// Whether a real folder (not a link to one) is at folder\relative: what an
// update puts or takes there is a file, and a folder of someone's stays.
bool RealFolderAt(const std::string& folder, const std::string& relative) {
  return platform::DirectoryExists(folder + "\\" + relative) && platform::NoLinkBelow(folder, relative + "\\-");
}

// Puts an original back over what took its place (a file, or a link as itself).
void PutBack(const std::string& backup, const std::string& install, const std::string& relative,
             std::string& failures) {
  const std::string path = install + "\\" + relative;
  if (RealFolderAt(install, relative) || !platform::RemoveTree(path) || !platform::RenameFile(backup, path))
    Collect(failures, platform::LastErrorText(path) + " (the original is kept as " + backup + ")");
}

// Undoes the intents, newest first. Returns what could not be put back.
std::string RollBackRecords(const TJournal& j, const std::string& install, const std::string& work) {
  std::string failures;
  for (auto it = j.Records.rbegin(); it != j.Records.rend(); ++it) {
    const TRecord& r = *it;
    if (r[0] == "REG") {
      if (!RestoreValue(r)) Collect(failures, platform::LastErrorText(r[2] + "\\" + r[3]));
      continue;
    }
    if (r[0] != "MOVE" && r[0] != "ADD" && r[0] != "MKDIR") continue;
    const std::string path = install + "\\" + r[1];
    if (!platform::NoLinkBelow(install, r[1])) {
      Collect(failures, path + ": reached through a link, left alone");
      continue;
    }
    if (r[0] == "MOVE") {
      const std::string kept = j.Originals + "\\" + (j.Format1 ? r[2] : r[1]);
      const std::string backup = work + "\\" + kept;
      if (!platform::NoLinkBelow(work, kept)) {
        Collect(failures, backup + ": reached through a link, left alone");
        continue;
      }
      if (platform::FileExists(backup)) PutBack(backup, install, r[1], failures);  // else the original never left
    } else if (r[0] == "ADD") {
      // A folder there is not the file the update added: its placing failed.
      if (!RealFolderAt(install, r[1]) && !platform::RemoveTree(path)) Collect(failures, platform::LastErrorText(path));
    } else {
      platform::RemoveDir(path);  // one that holds what others put there stays
    }
  }
  return failures;
}

bool OriginalsFolder(const std::string& name) {
  return text::AnsiSameText(name, kFormat1Originals) || journal::OriginalsFolderName(name);
}

// Whether a folder below the work folder holds a file, its folders never entered
// through a link.
bool HoldsFiles(const std::string& work, const std::string& relative) {
  for (const std::string& name : platform::ListDir(work + "\\" + relative)) {
    if (name.back() != '\\') return true;
    const std::string below = relative + "\\" + name.substr(0, name.size() - 1);
    if (platform::NoLinkBelow(work, below + "\\-") && HoldsFiles(work, below)) return true;
  }
  return false;
}

// The originals' folders whose update did not end: what a journal in doubt kept.
std::vector<std::string> OriginalsInDoubt(const std::string& work) {
  std::vector<std::string> folders;
  for (const std::string& name : platform::ListDir(work)) {
    if (name.back() != '\\') continue;
    const std::string folder = name.substr(0, name.size() - 1);
    if (OriginalsFolder(folder) && !platform::FileExists(work + "\\" + folder + kEndedSuffix) &&
        platform::NoLinkBelow(work, folder + "\\-") && HoldsFiles(work, folder))
      folders.push_back(folder);
  }
  return folders;
}

// Puts back every original a folder of originals kept under its own relative path.
void PutBackTree(const std::string& install, const std::string& root, const std::string& relative, int& count,
                 std::string& failures) {
  for (const std::string& name : platform::ListDir(relative.empty() ? root : root + "\\" + relative)) {
    const bool folder = name.back() == '\\';
    const std::string below = (relative.empty() ? "" : relative + "\\") + name.substr(0, name.size() - folder);
    if (!journal::RelativeInside(below)) continue;
    if (folder) {
      if (platform::NoLinkBelow(root, below + "\\-")) PutBackTree(install, root, below, count, failures);
      continue;
    }
    const std::string path = install + "\\" + below;
    if (!platform::NoLinkBelow(install, below)) {
      Collect(failures, path + ": reached through a link, left alone");
      continue;
    }
    platform::ForceDirectories(text::ExtractFileDir(path));
    const size_t before = failures.size();
    PutBack(root + "\\" + below, install, below, failures);
    count += failures.size() == before;
  }
}

// A journal that cannot be trusted is kept, and its folder with it: nothing it
// says is done, but the originals it kept under their own names go back where
// they were, so that the installation is the old version whenever they are all
// there.
TRecovery Damaged(const std::string& work, const std::string& why) {
  const std::string install = text::ExtractFileDir(work);
  std::string failures;
  int count = 0;
  for (const std::string& folder : OriginalsInDoubt(work))
    if (folder != kFormat1Originals) PutBackTree(install, work + "\\" + folder, "", count, failures);
  std::string text = work + ": the journal of an interrupted update is damaged (" + why + "); " +
                     text::IntToStr(count) + " original files were put back; the folder is kept";
  if (!failures.empty()) text += "\r\n" + failures;
  logging::Log(text);
  return {TRecovery::Damaged, text};
}

// What an ended update may leave: copies, and originals a running program held,
// which go once nobody holds them; each end mark once its originals are gone.
void RemoveLeftovers(const std::string& work, const platform::THeldFiles* held) {
  for (const std::string& name : platform::ListDir(work)) {
    const bool folder = name.back() == '\\';
    const std::string entry = name.substr(0, name.size() - folder);
    if (folder && (text::AnsiSameText(entry, kCopiesFolder) || text::AnsiSameText(entry, kFormat1Originals)))
      platform::RemoveTree(work + "\\" + entry, held);
    // First records that never got their name, and originals' folders that never
    // got an original.
    if (!folder && text::AnsiSameText(entry, std::string(kJournalFileName) + ".new"))
      platform::EraseFile(work + "\\" + entry);
    if (folder && journal::OriginalsFolderName(entry) && !platform::FileExists(work + "\\" + entry + kEndedSuffix) &&
        !HoldsFiles(work, entry))
      platform::RemoveTree(work + "\\" + entry);
    if (!folder && text::EndsText(kEndedSuffix, entry)) {
      const std::string originals = work + "\\" + entry.substr(0, entry.size() - std::string(kEndedSuffix).size());
      if (platform::RemoveTree(originals, held)) platform::EraseFile(work + "\\" + entry);
    }
  }
}

// The recovery copy, when it is where a run of this user keeps it: in a run
// folder of its own in the temporary folder.
void EraseRecoveryCopy(const std::string& copy) {
  const std::string runFolder = text::ExtractFileDir(copy);
  const std::string temp = text::WithoutTrailingSeparators(platform::TempDir());
  if (text::AnsiSameText(text::ExtractFileDir(runFolder), temp) && platform::OwnFolder(runFolder))
    platform::RemoveTree(copy);
}

// The end of a journal whose installation is whole: the journal becomes the mark
// that its originals are no way back any more (one rename, so that no moment
// leaves originals without a journal that says what they are), then what it kept,
// its RunOnce entry and its recovery copy go. What a running program still holds
// stays, with the mark, for a later run.
void EndJournal(const std::string& work, const TJournal& j, const platform::THeldFiles* held) {
  const std::string journal = work + "\\" + kJournalFileName;
  if (j.Format1)
    platform::EraseFile(journal);
  else if (!platform::RenameFile(journal, work + "\\" + j.Originals + kEndedSuffix))
    return;  // the journal stays whole: the end is tried again at the next chance
  platform::FlushFolder(work);
  RemoveLeftovers(work, held);
  platform::RemoveDir(work);
  const TRecord& header = j.Records.front();
  const std::string& valueName = header[4];
  const std::string& command = header[5];
  platform::TRegKey runOnce;
  platform::TRegValue value;
  if (runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, false, false) &&
      runOnce.GetValue(valueName, value) && value.Data == command)
    runOnce.DeleteValue(valueName);
  EraseRecoveryCopy(header[6]);
}

}  // namespace

namespace journal {

std::string RecoverCommand(const std::string& copy, const std::string& work) {
  return Quote(copy) + " " + kRecoverSwitch + " " + Quote(work);
}

bool ReadValue(const install::TRegValueName& v, platform::TRegValue& value) {
  platform::TRegKey key;
  return key.Open(v.Root, v.Key, false, true) && key.GetValue(v.Name, value);
}

uint32_t HighestOriginals(const std::string& work) {
  uint32_t highest = 0;
  for (std::string name : platform::ListDir(work)) {
    if (!name.empty() && name.back() == '\\') name.pop_back();
    if (text::EndsText(kEndedSuffix, name)) name.resize(name.size() - std::string(kEndedSuffix).size());
    int64_t k = 0;
    if (journal::OriginalsFolderName(name) && text::TryDigitsToInt64(name.substr(2), k))
      highest = std::max(highest, static_cast<uint32_t>(k));
  }
  return highest;
}

TRecovery RecoverHeld(const std::string& work, const install::TProductNames& names, const platform::THeldFiles* held) {
  const std::string install = text::ExtractFileDir(work);
  if (!platform::DirectoryExists(work)) return {};
  if (!platform::NoLinkBelow(install, std::string(kJournalFolderName) + "\\-"))
    return {TRecovery::NotJournal, work + ": a link, not an update's work folder; left alone"};
  const TJournal j = ReadJournal(work, names);
  if (j.Missing) {
    // No journal: an update that never got as far as naming it, or whose end was
    // cut short, unless originals are there that no end ever released.
    if (!OriginalsInDoubt(work).empty()) return Damaged(work, "it is missing");
    RemoveLeftovers(work, held);
    platform::RemoveDir(work);
    return {};
  }
  if (!j.Damage.empty()) return Damaged(work, j.Damage);
  const bool committed =
      std::any_of(j.Records.begin(), j.Records.end(), [](const TRecord& r) { return r[0] == "COMMIT"; });
  if (!committed) {
    const std::string failures = RollBackRecords(j, install, work);
    if (!failures.empty()) {
      logging::Log(work + ": the update could not be undone:\r\n" + failures);
      return {TRecovery::Unfinished, failures};
    }
  }
  EndJournal(work, j, held);
  return {};
}

bool LockFolder(platform::TFileLock& lock, const std::string& install, TRecovery& refused) {
  const std::string path = install + "\\" + kFolderLockName;
  if (lock.Acquire(path)) return true;
  if (platform::AlreadyExists(platform::LastError()))
    refused = {TRecovery::Busy, install + ": another update is changing this folder"};
  else
    refused = {TRecovery::Unfinished, platform::LastErrorText(path)};
  return false;
}

}  // namespace journal

TRecovery RecoverJournal(const std::string& workFolder, const install::TProductNames& names,
                         const platform::THeldFiles* held) {
  // Only a folder of ours, and the installation is the folder that holds it,
  // wherever it was when the journal began.
  if (!text::AnsiSameText(text::ExtractFileName(workFolder), kJournalFolderName))
    return {TRecovery::NotJournal, workFolder + ": not an update's work folder"};
  const std::string install = text::ExtractFileDir(workFolder);
  platform::TFileLock lock;
  if (!platform::DirectoryExists(workFolder)) {
    // A lock file that outlived its holder (the Linux port's are no files the
    // system removes): taking it removes it; a live holder keeps it.
    if (platform::FileExists(install + "\\" + kFolderLockName)) lock.Acquire(install + "\\" + kFolderLockName);
    return {};
  }
  TRecovery refused;
  if (!LockFolder(lock, install, refused)) return refused;
  try {
    return RecoverHeld(workFolder, names, held);
  } catch (const std::exception& e) {
    // Whatever went wrong, the journal stays for the next chance; every start
    // must still get as far as saying so.
    const std::string why = workFolder + ": recovery failed: " + e.what();
    logging::Log(why);
    return {TRecovery::Unfinished, why};
  }
}

std::string RecoveredFolder(const std::string& command) {
  const std::vector<std::string> args = platform::SplitCommandLine(command);
  for (size_t i = 1; i + 1 < args.size(); ++i)
    if (text::SameText(args[i], kRecoverSwitch)) return args[i + 1];
  return std::string();
}

}  // namespace engine
