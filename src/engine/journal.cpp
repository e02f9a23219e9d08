#include "engine/journal.h"

#include <algorithm>

#include "base/assert.h"
#include "base/log.h"
#include "base/text.h"
#include "engine/journal_format.h"
#include "engine/journal_recovery.h"
#include "engine/steps.h"
#include "install/uninstall.h"
#include "platform/file_stream.h"
#include "platform/registry.h"
#include "platform/system.h"

namespace engine {

const char* const kJournalFolderName = "~ORBAXLU.journal";
const char* const kFolderLockName = "~ORBAXLU.lock";
const char* const kRecoverSwitch = "/RECOVER";

std::string RecoverValueName(const std::string& applicationName) { return "!ORBAXLU_RECOVER_" + applicationName; }

using namespace journal;

TUpdateJournal::TUpdateJournal(std::string work, install::TProductNames names)
    : work_(std::move(work)), names_(std::move(names)) {
  installFolder_ = text::ExtractFileDir(work_);
}

TUpdateJournal::~TUpdateJournal() = default;

std::unique_ptr<TUpdateJournal> TUpdateJournal::Begin(const TStart& start) {
  const std::string work = start.InstallFolder + "\\" + kJournalFolderName;
  std::unique_ptr<TUpdateJournal> journal(new TUpdateJournal(work, start.Names));
  TRecovery refused;
  if (!LockFolder(journal->lock_, start.InstallFolder, refused)) {
    // A folder this account may not write is a write error like any other, not
    // an earlier update's unfinished business.
    if (refused.Outcome != TRecovery::Busy) throw EInOutError(refused.Failures, 0);
    throw ERecoveryError(refused);
  }
  if (platform::DirectoryExists(work)) {
    const TRecovery earlier = RecoverHeld(work, start.Names, nullptr);
    if (!earlier.IsWhole()) throw ERecoveryError(earlier);
  }
  const std::string copy = start.RunFolder + "\\" + start.Names.UpdaterFileName;
  const std::string valueName = RecoverValueName(start.Names.ApplicationName);
  const std::string command = RecoverCommand(copy, work);
  platform::TRegKey runOnce;
  bool valueWritten = false, workMade = false;
  try {
    // The way back is on the disk before anything it would undo: the recovery
    // copy, then its entry, then the journal.
    if (!platform::CopyFileTo(platform::ProgramPath(), copy, false) || !platform::FlushFile(copy))
      throw EInOutError(platform::LastErrorText(copy), 0);
    valueWritten = runOnce.Open(platform::HKEY_CURRENT_USER_ID, install::kRunOnceKey, true, false) &&
                   runOnce.SetValue(valueName, {platform::REG_SZ_TYPE, command}) && runOnce.Flush();
    if (!valueWritten) throw EInOutError(platform::LastErrorText(std::string("RunOnce\\") + valueName), 0);
    workMade = !platform::DirectoryExists(work);
    journal->Create(start,
                    {"JOURNAL", journal::kFormat, start.InstallFolder, start.RunFolder, valueName, command, copy});
    return journal;
  } catch (const Exception& e) {
    const uint32_t code = platform::LastError();
    // Only what this begin made: an earlier update's leftovers stay with their marks.
    journal->file_.reset();
    platform::EraseFile(work + "\\" + kJournalFileName);
    if (!journal->originals_.empty()) platform::RemoveTree(work + "\\" + journal->originals_);
    if (workMade) platform::RemoveTree(work);
    if (valueWritten) runOnce.DeleteValue(valueName);
    platform::EraseFile(copy);
    throw EInOutError(e.Message, static_cast<int>(code));
  }
}

void TUpdateJournal::Create(const TStart& start, TRecord header) {
  auto fail = [](const std::string& what) {
    throw EInOutError(platform::LastErrorText(what), static_cast<int>(platform::LastError()));
  };
  if (!platform::DirectoryExists(work_) && !platform::CreateDir(work_)) fail(work_);
  platform::SetAttributes(work_, platform::faHidden);
  // Originals an earlier update left because a running program held them may be
  // there still, beside their end mark: this update's go to a folder of their own.
  originals_ = "o-" + text::IntToStr(HighestOriginals(work_) + 1);
  for (const std::string& sub : {std::string(kCopiesFolder), originals_})
    if (!platform::ForceDirectories(work_ + "\\" + sub)) fail(work_ + "\\" + sub);
  header.push_back(originals_);
  Note(header);
  filesFlushed_ = start.FilesFlushed;
  for (const install::TRegValueName& v : start.Values) {
    roots_.insert(v.Root);
    platform::TRegValue value;
    const bool existed = ReadValue(v, value);
    Note({"REG", text::IntToStr(v.Root), v.Key, v.Name, existed ? "1" : "0", text::IntToStr(value.Type), value.Data});
  }
  // The first records are whole on the disk before the journal has its name: a
  // journal that is there is never empty, and one cut short is damage.
  const std::string path = work_ + "\\" + kJournalFileName, fresh = path + ".new";
  {
    platform::TFileStream first(fresh, platform::TFileMode::CreateExclusive);
    first.Write(pending_.data(), static_cast<int64_t>(pending_.size()));
    if (!first.Flush() || !first.Close()) fail(fresh);
  }
  if (!platform::RenameFile(fresh, path)) fail(path);
  size_ = static_cast<int64_t>(pending_.size());
  pending_.clear();
  file_ = std::make_unique<platform::TFileStream>(path, platform::TFileMode::OpenReadWrite);
  // The journal's own name, and the work folder's, last as the journal does.
  if (!platform::FlushFolder(work_) || !platform::FlushFolder(installFolder_)) fail(work_);
}

void TUpdateJournal::Note(std::vector<std::string> fields) {
  LU_ASSERT(!ended_);
  pending_ += journal::Line(fields);
}

std::string TUpdateJournal::Relative(const std::string& path) const {
  LU_ASSERT(text::AnsiSameText(path.substr(0, installFolder_.size() + 1), installFolder_ + "\\"));
  return path.substr(installFolder_.size() + 1);
}

void TUpdateJournal::NoteFolder(const std::string& folder) {
  // A folder is noted before anything below it, so that undoing newest first
  // empties each folder before its parent: none noted so far lies below it.
  const std::string below = text::AnsiUpperCase(folder) + "\\";
  const auto next = notedFolders_.lower_bound(below);
  LU_ASSERT(next == notedFolders_.end() || next->compare(0, below.size(), below) != 0);
  notedFolders_.insert(below);
  folders_.insert(text::ExtractFileDir(folder));
  Note({"MKDIR", Relative(folder)});
}

std::string TUpdateJournal::NoteReplace(const std::string& path) {
  const std::string relative = Relative(path);
  const std::string backup = work_ + "\\" + originals_ + "\\" + relative;
  // The original keeps its relative path among the originals: their folder
  // describes itself, journal or not. Making its folders there changes nothing
  // of the installation.
  const std::string folder = text::ExtractFileDir(backup);
  if (folders_.insert(folder).second && !platform::ForceDirectories(folder))
    throw EInOutError(platform::LastErrorText(folder), static_cast<int>(platform::LastError()));
  folders_.insert(text::ExtractFileDir(path));
  placed_.push_back(path);
  Note({"MOVE", relative});
  return backup;
}

void TUpdateJournal::NoteAdd(const std::string& path) {
  folders_.insert(text::ExtractFileDir(path));
  placed_.push_back(path);
  Note({"ADD", Relative(path)});
}

std::string TUpdateJournal::NewCopyPath() {
  folders_.insert(work_ + "\\" + kCopiesFolder);
  return work_ + "\\" + kCopiesFolder + "\\" + text::IntToStr(next_++);
}

void TUpdateJournal::Flush() {
  LU_ASSERT(!ended_);
  if (pending_.empty()) return;
  const std::string path = work_ + "\\" + kJournalFileName;
  bool written = false;
  try {
    file_->WriteAt(size_, pending_.data(), static_cast<int64_t>(pending_.size()));
    written = file_->Flush();
  } catch (const Exception&) {
  }
  if (!written) {
    const uint32_t code = platform::LastError();
    // What may not be on the disk is not left to be read as done.
    try {
      file_->SetSize(size_);
    } catch (const Exception&) {
    }
    platform::SetLastError(code);
    throw EInOutError(platform::LastErrorText(path), static_cast<int>(code));
  }
  size_ += static_cast<int64_t>(pending_.size());
  pending_.clear();
}

void TUpdateJournal::MakeDurable() const {
  auto fail = [](const std::string& what) {
    throw EInOutError(platform::LastErrorText(what), static_cast<int>(platform::LastError()));
  };
  // The record of installed files and the settings.
  for (const uint32_t root : roots_) {
    platform::TRegKey key;
    if (!key.Open(root, "", false, true) || !key.Flush()) fail("the registry");
  }
  // The new files' data and every name changed, the whole volume at once where
  // the system lets us; else file by file and folder by folder.
  if (platform::FlushVolume(installFolder_)) return;
  if (!platform::FlushRefused(platform::LastError())) fail(installFolder_);
  // Flushed by their writers already, or else here. A file placed and gone since
  // (the package's batch file) needs no flush.
  if (!filesFlushed_)
    for (const std::string& path : placed_)
      if (!platform::FlushFile(path) && platform::FileExists(path)) fail(path);
  for (const std::string& folder : folders_)
    if (!platform::FlushFolder(folder)) fail(folder);
}

void TUpdateJournal::Commit() {
  LU_ASSERT(Flushed());
  // Everything COMMIT vouches for is on the disk before it, or there is no COMMIT.
  MakeDurable();
  Note({"COMMIT"});
  Flush();
  ended_ = true;
  // Asked while the journal's lock still vouches for the list.
  const platform::THeldFiles held(*file_);
  file_.reset();
  RecoverHeld(work_, names_, &held);  // forward: what remains is the book-keeping's end
}

std::string TUpdateJournal::RollBack() {
  LU_ASSERT(!ended_);
  ended_ = true;
  pending_.clear();  // intents never written were never acted on
  file_.reset();
  return RecoverHeld(work_, names_, nullptr).Failures;
}

}  // namespace engine
