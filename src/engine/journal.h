// The update's journal: what the copy step is about to change below the
// installation folder and in the registry, on disk before the change, so that an
// update cut short at any moment (a kill, a crash, the power gone) is undone at the
// next chance, or completed where only its last book-keeping was cut. Until the
// journal ends the installation is "in doubt".
//
// The work folder <InstallFolder>\~ORBAXLU.journal lies on the installation's own
// volume, so that putting an original back is a rename. It holds:
//   journal   the records, below
//   o\<n>     originals moved aside, n counted through the run
//   n\<n>     new files copied in from another volume, renamed into place when whole
// A RunOnce entry of the current user ("!ORBAXLU_RECOVER_<application>") lives
// exactly as long as the journal and starts a copy of the updater kept in the run's
// folder with /RECOVER <work folder>: the next logon recovers what no later start
// of the updater did.
//
// The journal file is text, one record a line: fields separated by TAB, each with
// '%', CR, LF, TAB and the other bytes below 0x20 written as %XX, and last the
// CRC-32 of the line before it (8 hexadecimal digits). Reading stops at the first
// line that is cut or whose CRC does not match: every prefix of the file is a
// journal. Records, in order of writing:
//   JOURNAL 1 <install folder> <run folder> <RunOnce value> <its command> <recovery copy>
//   REG <root> <key> <name> <existed 0|1> <type> <data>   a value as it was
//   MKDIR <folder>              before a folder is made that did not exist
//   MOVE <file> <n>             before an original is moved aside to o\<n>
//   ADD <file>                  before a file is placed where none was
//   COMMIT                      files, configuration, record and settings done
// Folders and files are relative to the installation folder. Intents are written
// in batches and flushed before any of their changes is made; an intent whose
// change never happened is recognised by what is on disk (an original still in
// place, no backup). Recovery is idempotent: a kill during recovery is recovered
// the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "install/save_settings.h"
#include "platform/file_stream.h"
#include "platform/files.h"

namespace engine {

// The work folder's name, inside the installation folder.
extern const char* const kJournalFolderName;  // "~ORBAXLU.journal"
// The switch that recovers one work folder and ends: /RECOVER "<work folder>".
extern const char* const kRecoverSwitch;  // "/RECOVER"
// The RunOnce value that recovers at the next logon (below HKEY_CURRENT_USER).
std::string RecoverValueName(const std::string& applicationName);

class TUpdateJournal {
 public:
  struct TStart {
    std::string InstallFolder;
    std::string RunFolder;                       // the run's own folder, for the recovery copy
    std::string ApplicationName;                 // names the RunOnce value
    std::string UpdaterFileName;                 // the recovery copy's name
    std::vector<install::TRegValueName> Values;  // kept as they are now
  };

  // Recovers a work folder an earlier update left, copies the running program into
  // the run folder, writes the RunOnce entry, makes the work folder and writes the
  // journal's first records (the values as they are), flushed. Raises EInOutError
  // with the system's message when any of it fails; nothing stays then.
  static std::unique_ptr<TUpdateJournal> Begin(const TStart& start);
  ~TUpdateJournal();
  TUpdateJournal(const TUpdateJournal&) = delete;
  TUpdateJournal& operator=(const TUpdateJournal&) = delete;

  const std::string& WorkFolder() const { return work_; }

  // Intents, written with the next Flush; paths are full paths below the
  // installation folder. NoteFolder before the folder is made (parents first),
  // NoteReplace before the original is moved aside (it returns where to), NoteAdd
  // before a file is placed where none is.
  void NoteFolder(const std::string& folder);
  std::string NoteReplace(const std::string& path);
  void NoteAdd(const std::string& path);
  // Where a file from another volume is copied before it is renamed into place.
  std::string NewCopyPath();
  // Writes the intents noted and flushes them. Raises EInOutError.
  void Flush();
  // Whether every intent noted is on disk: no change may be made before.
  bool Flushed() const { return pending_.empty(); }
  // The journal's file, which the run holds open and locked to its end.
  const platform::TFileStream& File() const { return *file_; }
  // Whether Commit or RollBack has run.
  bool Ended() const { return ended_; }

  // The update is whole: the files placed reach the disk, COMMIT is written, and
  // the originals, the work folder, the RunOnce entry and the recovery copy go.
  // Raises EInOutError when COMMIT cannot be written (the journal stays, in doubt).
  void Commit();
  // Puts the installation back as it was before Begin. Returns what could not be
  // put back ("" when all was); the journal then stays for the next chance.
  std::string RollBack();

 private:
  TUpdateJournal(std::string work, std::unique_ptr<platform::TFileStream> file, int64_t size, uint32_t next);
  void Note(std::vector<std::string> fields);
  std::string Relative(const std::string& path) const;

  const std::string work_;
  std::string installFolder_;
  std::unique_ptr<platform::TFileStream> file_;
  int64_t size_;                        // bytes on disk
  std::string pending_;                 // lines noted, not yet written
  std::vector<std::string> placed_;     // files noted, for flushing them one by one where the volume cannot be
  std::set<std::string> notedFolders_;  // upper-cased, each ending in a backslash
  uint32_t next_;                       // the next number for a file in o or n
  bool ended_ = false;
};

// Recovers the journal of a work folder: back to the old version, or forward to
// the new one when COMMIT was written; then the work folder, the RunOnce entry it
// names and the recovery copy go. A work folder without a journal is removed.
// Returns what could not be put back ("" when the installation is whole); the
// journal then stays, in doubt. Never needs the network.
// held: what other programs hold, when the caller has asked.
std::string RecoverJournal(const std::string& workFolder, const platform::THeldFiles* held = nullptr);

// The work folder a RunOnce recovery command names ("" when it names none).
std::string RecoveredFolder(const std::string& command);

}  // namespace engine
