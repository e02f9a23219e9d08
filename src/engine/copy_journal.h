// What the copy step changed below the installation folder, so that a step that
// does not complete leaves the folder as it found it: the files placed, each with
// the original it replaced (kept in the run's backup folder until the step has
// succeeded), and the folders it made.
#pragma once

#include <string>
#include <vector>

namespace engine {

class TCopyJournal {
 public:
  TCopyJournal(std::string installFolder, std::string backupFolder);

  // Where the original of destination waits while the step runs.
  std::string BackupOf(const std::string& destination) const;
  const std::string& BackupFolder() const { return backupFolder_; }

  // Creates the folder of destination with its missing parents, noting those it made.
  void MakeDestinationFolder(const std::string& destination);
  // Creates the folder of a backup path with its missing parents.
  void MakeBackupFolder(const std::string& backup);
  // destination now holds a new file; replaced: an original was moved aside for it.
  void Placed(const std::string& destination, bool replaced);

  // Puts every original back and removes every file and folder the step added,
  // newest first. Returns what could not be restored (empty when all was); the
  // originals of those stay in the backup folder.
  std::string Restore();
  // After success the originals are not needed any more. One still held by a
  // running program stays in the temporary folder.
  void Discard();

 private:
  struct Entry {
    std::string destination;
    bool replaced;
  };
  // Creates the folder of path with its parents; appends those it made to made,
  // parents first, when made is given.
  static void MakeFolderOf(const std::string& path, std::vector<std::string>* made);
  // Whether no folder noted so far lies below folder: a folder is noted before
  // anything in it, so that removing newest first empties each before its parent.
  bool NothingNotedBelow(const std::string& folder) const;

  const std::string installFolder_;
  const std::string backupFolder_;
  std::vector<Entry> placed_;
  std::vector<std::string> madeFolders_;  // in the order they were made
};

}  // namespace engine
