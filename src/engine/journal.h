// The update's journal: what the copy step is about to change below the
// installation folder and in the registry, on disk before the change, so that an
// update cut short at any moment (a kill, a crash, the power gone) is undone at the
// next chance, or completed where only its last book-keeping was cut. Until the
// journal ends the installation is "in doubt".
//
// The work folder <InstallFolder>\~ORBAXLU.journal lies on the installation's own
// volume, so that putting an original back is a rename. It holds:
//   journal        the records (journal_format.h)
//   o-<k>\<file>   the originals one update moved aside, each under its own
//                  relative path, so that they can be put back even when the
//                  journal cannot be read
//   o-<k>.ended    the journal of an update that ended, kept while originals a
//                  running program holds are still in o-<k>
//   n\<n>          new files copied in from another volume, renamed into place
//                  when whole
// A RunOnce entry of the current user ("!ORBAXLU_RECOVER_<application>") lives
// exactly as long as the journal and starts a copy of the updater kept in the run's
// folder with /RECOVER <work folder>: the next logon recovers what no later start
// of the updater did. While an update or a recovery changes the installation, it
// holds <InstallFolder>\~ORBAXLU.lock (platform::TFileLock), so that updaters of
// other accounts keep out.
//
// Intents are written in batches and flushed before any of their changes is made;
// an intent whose change never happened is recognised by what is on disk (an
// original still in place, no backup). Recovery is idempotent: a kill during
// recovery is recovered the same way. A journal is data, not instructions: every
// path it names must stay inside the installation folder (never through a link),
// and every registry value must be one an update changes; a journal that says
// anything else, or that cannot be read, is damaged, and damage never costs the
// originals.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "install/product_names.h"
#include "install/save_settings.h"
#include "platform/file_stream.h"
#include "platform/files.h"
#include "platform/locks.h"

namespace engine {

// The work folder's name, inside the installation folder.
extern const char* const kJournalFolderName;  // "~ORBAXLU.journal"
// The lock's name, inside the installation folder.
extern const char* const kFolderLockName;  // "~ORBAXLU.lock"
// The switch that recovers one work folder and ends: /RECOVER "<work folder>".
extern const char* const kRecoverSwitch;  // "/RECOVER"
// The RunOnce value that recovers at the next logon (below HKEY_CURRENT_USER).
std::string RecoverValueName(const std::string& applicationName);

// How a recovery ended.
struct TRecovery {
  enum TOutcome {
    Whole,       // nothing was in doubt, or the installation is whole again
    NotJournal,  // the folder named is no work folder of an update
    Busy,        // another updater holds the installation folder
    Damaged,     // the journal cannot be trusted: its folder stays
    Unfinished,  // something could not be put back: the journal stays
  };
  TOutcome Outcome = Whole;
  // What could not be put back, or why the journal cannot be used, with the
  // folder and the system's message; "" when whole.
  std::string Failures;
  bool IsWhole() const { return Outcome == Whole; }
};

class TUpdateJournal {
 public:
  struct TStart {
    std::string InstallFolder;
    std::string RunFolder;  // the run's own folder, for the recovery copy
    install::TProductNames Names;
    std::vector<install::TRegValueName> Values;  // kept as they are now
    bool FilesFlushed = false;                   // every file placed is on the disk before it is placed
  };

  // Takes the installation folder's lock, recovers a work folder an earlier update
  // left, copies the running program into the run folder, writes the RunOnce
  // entry, makes the work folder and writes the journal's first records (the
  // values as they are), each on the disk before the next. Raises EInOutError with
  // the system's message when any of it fails, ERecoveryError when an earlier
  // update's work folder cannot be recovered; nothing stays then.
  static std::unique_ptr<TUpdateJournal> Begin(const TStart& start);
  ~TUpdateJournal();
  TUpdateJournal(const TUpdateJournal&) = delete;
  TUpdateJournal& operator=(const TUpdateJournal&) = delete;

  const std::string& WorkFolder() const { return work_; }

  // Intents, written with the next Flush; paths are full paths below the
  // installation folder. NoteFolder before the folder is made (parents first),
  // NoteReplace before the original is moved aside (it returns where to, its
  // folders made), NoteAdd before a file is placed where none is.
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

  // The update is whole after the last step: the files placed, the names changed
  // and the registry's values reach the disk, COMMIT is written, and the
  // originals, the work folder, the RunOnce entry and the recovery copy go.
  // Raises EInOutError when any of it cannot be flushed or COMMIT cannot be
  // written; the journal then stays, in doubt, for RollBack.
  void Commit();
  // Puts the installation back as it was before Begin. Returns what could not be
  // put back ("" when all was); the journal then stays for the next chance.
  std::string RollBack();

 private:
  TUpdateJournal(std::string work, install::TProductNames names);
  // Makes the work folder and the originals' folder, and writes the journal's
  // first records: header (without its originals' folder) and the values.
  void Create(const TStart& start, std::vector<std::string> header);
  void Note(std::vector<std::string> fields);
  std::string Relative(const std::string& path) const;
  // What COMMIT vouches for onto the disk; raises EInOutError when the system
  // cannot flush it.
  void MakeDurable() const;

  const std::string work_;
  std::string originals_;  // o-<k> of this update
  const install::TProductNames names_;
  std::string installFolder_;
  platform::TFileLock lock_;
  std::unique_ptr<platform::TFileStream> file_;
  int64_t size_ = 0;                    // bytes on disk
  std::string pending_;                 // lines noted, not yet written
  std::vector<std::string> placed_;     // files noted, for flushing them one by one where the volume cannot be
  std::set<std::string> notedFolders_;  // upper-cased, each ending in a backslash
  std::set<std::string> folders_;       // whose names the update changes
  std::set<uint32_t> roots_;            // of the registry values it keeps
  bool filesFlushed_ = false;           // TStart::FilesFlushed
  uint32_t next_ = 1;                   // the next number for a file in n
  bool ended_ = false;
};

// An earlier update's work folder that could not be recovered, as Begin raises it.
class ERecoveryError : public Exception {
 public:
  ERecoveryError(const TRecovery& recovery) : Exception(recovery.Failures), Recovery(recovery) {}
  TRecovery Recovery;
};

// Recovers the journal of a work folder: back to the old version, or forward to
// the new one when COMMIT was written; then the work folder, the RunOnce entry it
// names and the recovery copy go. A damaged journal is kept with its folder, the
// originals it kept put back where they can be. Never needs the network, never
// raises. names: the product's, which say what registry values a journal may name.
// held: what other programs hold, when the caller has asked.
TRecovery RecoverJournal(const std::string& workFolder, const install::TProductNames& names,
                         const platform::THeldFiles* held = nullptr);

// The work folder a RunOnce recovery command names ("" when it names none).
std::string RecoveredFolder(const std::string& command);

}  // namespace engine
