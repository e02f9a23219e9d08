// TUnZip: extracts the entries of a ZIP archive (PKWARE's APPNOTE: single volume,
// ZIP64 included; methods stored, shrunk, reduced, imploded, deflated, Deflate64;
// traditional PKWARE encryption; AES is recognised and refused) into a folder,
// checking each file's CRC-32.
//
// Configure the properties, assign the events you need and call Extract. Extract
// returns the number of file entries accepted for writing and never throws: every
// problem goes to OnError (when assigned) with a code of unzip_errors.h and
// shows in the result. Paths are Windows path texts on every target.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "archive/entry_data.h"
#include "archive/output_files.h"
#include "archive/unzip_errors.h"
#include "archive/zip_directory.h"

class TStream;

namespace archive {

class TZipCrypto;

enum TOverwriteMode { omOverwrite, omSkip };
enum TDateAttribute { daFileDate, daSysDate, daMaxFileDate };

class TUnZip : private TDirectoryVisitor, private TBlockObserver {
 public:
  TUnZip();
  ~TUnZip() override;
  TUnZip(const TUnZip&) = delete;
  TUnZip& operator=(const TUnZip&) = delete;

  // The archive to read. Setting it to a file that exists stores the name with
  // every "/" turned into "\" and determines ArcType from the contents; a name
  // that does not exist leaves ArchiveFile empty and ArcType atNA.
  const std::string& ArchiveFile() const { return archiveFile_; }
  void SetArchiveFile(const std::string& name);
  // Reads the archive from stream, which stays open and unchanged until Extract
  // returns, instead of opening a file: what a caller has checked is what is
  // extracted. name stands for it in ArchiveFile and the messages. SetArchiveFile
  // goes back to reading files.
  void SetArchiveStream(TStream& stream, const std::string& name);
  TArcType ArcType() const { return arcType_; }

  // The target folder, kept with a trailing "\" and "/" turned into "\"; nothing
  // else is changed (a doubled "\" stays doubled, and every output path begins
  // with this text). Empty becomes the folder of ArchiveFile (or stays empty).
  const std::string& ExtractDir() const { return extractDir_; }
  void SetExtractDir(const std::string& folder);

  // The archive comment buffer size; values are clamped to 2000..32767.
  int ZipCmntBufSize() const { return zipCmntBufSize_; }
  void SetZipCmntBufSize(int size);

  std::vector<std::string> FileSpec;  // selection patterns ("*", "?"); none selects nothing
  bool RecurseDirs = true;            // patterns without a folder select in every folder
  bool UseStoredDirs = true;          // recreate each entry's stored folder below ExtractDir
  bool CreateStoredDirs = false;      // create the folders of folder entries
  bool ConfirmOverwrites = false;     // ask OnFileExists before replacing a file
  TOverwriteMode OverwriteMode = omOverwrite;
  TDateAttribute DateAttribute = daFileDate;
  bool RestoreFileAttr = true;         // give files the entry's attributes (and Unix mode)
  bool OwnFolder = false;              // ExtractDir is new, and no other program can enter it
  bool FlushFiles = false;             // each file's data on the disk, through its own handle, before it closes
  bool TranslateOemChar = true;        // convert names (UTF-8 or code page 437) to the ANSI code page
  std::vector<std::string> Passwords;  // tried for encrypted entries
  int PasswordAttempts = 3;            // how often OnGetPassword is asked

  // Events, all raised on the thread that calls Extract.
  std::function<void(TUnZip* Sender)> OnActivate;    // archive's drive accessible, before reading
  std::function<void(TUnZip* Sender)> OnDeactivate;  // after the archive was processed
  // Before a file entry is written: FileName is the output path, Count the entries
  // accepted so far; set Extract false to skip the entry.
  std::function<void(TUnZip* Sender, const std::string& FileName, int Count, bool& Extract)> OnBegin;
  // After each entry, with the outcome of its CRC-32 check.
  std::function<void(TUnZip* Sender, const std::string& FileName, bool CRC_PASS)> OnEnd;
  // After each decoded block: percentages 0..100 of the entry and of the archive.
  std::function<void(TUnZip* Sender, uint8_t ProgressByFile, uint8_t ProgressByArchive)> OnProgress;
  std::function<void(TUnZip* Sender, const std::string& FileName, const std::string& ExtendedMsg,
                     const std::string& VolumeID, int ECode)>
      OnError;
  // With ConfirmOverwrites true and an existing target: give another name in
  // NewFilename (it is asked again while that exists too) or set omSkip.
  std::function<void(TUnZip* Sender, const std::string& FileName, std::string& NewFilename,
                     TOverwriteMode& OverwriteMode)>
      OnFileExists;
  // For an encrypted entry no known password opens: fill Password, or set
  // TryAgain false to give up.
  std::function<void(TUnZip* Sender, const std::string& FileName, std::string& Password, bool& TryAgain)> OnGetPassword;
  // Before entries are read from the local headers; leaving Cancel true stops.
  std::function<void(TUnZip* Sender, TZipHeaderState State, bool& Cancel)> OnCorruptZipHeader;
  // At the end of Extract, in seconds.
  std::function<void(TUnZip* Sender, float ElapsedTime)> OnElapsedTime;

  // Extracts every selected entry; returns the number of file entries accepted
  // for writing. Never throws.
  int Extract();

  // The first problem of the last Extract that is no damage of the archive: one
  // that lies with this machine (the archive or an output file or folder that
  // could not be opened, created, written or closed: a full disk, a folder that
  // cannot be written; a failure nothing expected) or an entry this program cannot
  // open or name (encrypted, an unknown method, a name this system's code page
  // cannot hold). As a user reads it: the code's text, the file and, when the
  // system gave one, its message: 'Error writing to file: C:\...\app.exe (There
  // is not enough space on the disk.)', 'The entry is encrypted: data\a.txt'.
  // Empty when there was none.
  const std::string& LocalErrorText() const { return localErrorText_; }

 private:
  // What the directory reader finds.
  bool Select(TZipEntry& entry, const std::string& storedName) override;
  void Add(TZipEntry&& entry, const std::string& localName) override;
  bool WalkLocalHeaders(TZipHeaderState state) override;
  void Error(const std::string& fileName, const std::string& extendedMsg, int code) override;

  void Run();
  std::string TargetFolder() const;
  void ExtractEntry(TArchiveReader& reader, const TZipEntry& entry);
  // Whether a file entry is to be written: OnBegin, then the overwrite rules,
  // which may name another target.
  bool Accepted(std::string& target);
  // False (reported, taken off the count) for an entry this program cannot read;
  // crypto gets the key of an encrypted one.
  bool Readable(TArchiveReader& reader, const TZipEntry& entry, const std::string& target,
                std::unique_ptr<TZipCrypto>& crypto);
  bool UnlockEntry(TArchiveReader& reader, const TZipEntry& entry, std::unique_ptr<TZipCrypto>& crypto);
  // Takes an accepted entry off the count again and tells OnEnd it failed; false.
  bool Refuse(const TZipEntry& entry, const std::string& shownName);
  // The output file of a readable entry, its data decoded into it, and its check.
  void WriteEntry(TArchiveReader& reader, const TZipEntry& entry, const std::string& target, TZipCrypto* crypto);
  platform::TLocalTime EntryTime(const TZipEntry& entry) const;
  void SkipEntry(const TZipEntry& entry);
  void BlockDone(uint64_t blockSize, uint64_t entryDone, uint64_t entrySize, bool stored) override;
  // Inside a catch block: logs the exception being handled and reports it as
  // kErrUnexpected.
  void ReportUnexpected() noexcept;

  std::string archiveFile_;
  TStream* archiveStream_ = nullptr;  // not owned
  std::string extractDir_;
  TArcType arcType_ = atNA;
  int zipCmntBufSize_ = 32767;

  // Running state of one Extract.
  int count_ = 0;
  std::vector<TZipEntry> entries_;
  std::map<int64_t, int64_t> spans_;  // archive bytes the entries cover: start -> end
  uint64_t totalSize_ = 0;            // uncompressed bytes of the selected entries
  uint64_t totalCompressed_ = 0;      // their compressed bytes, encryption headers excluded
  uint64_t remaining_ = 0;            // uncompressed bytes still to do
  uint32_t newestDate_ = 0;           // MS-DOS date << 16 | time
  bool passwordFailed_ = false;
  TOutputFiles output_;
  std::string localErrorText_;
  std::string password_;  // the last password that opened an entry
};

}  // namespace archive
