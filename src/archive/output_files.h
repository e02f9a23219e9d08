// What an extraction writes: the folders of the output paths, made one level at a
// time, each output file (a read-only one replaced, a read-only system file left
// alone), and the date and attributes a file gets through its open stream.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>

#include "platform/file_stream.h"
#include "platform/system.h"

class Exception;

namespace archive {

struct TZipEntry;

// Why an output file could not be made.
struct TOutputFailure {
  // kErrOpen: the system refused it (Message says why); kErrWrite: a read-only
  // system file or a folder stands there, and is left alone.
  int Code = 0;
  std::string Message;
};

// The output files and folders of one extraction.
class TOutputFiles {
 public:
  // Starts an extraction; ownFolder: the target folder is new, and no other
  // program can enter it.
  void Begin(bool ownFolder);
  // Makes sure folder exists: one level at a time from the top, doubled
  // backslashes and the drive passed over. Failures show when the file is made.
  void CreateFolders(const std::string& folder);
  // The output file at target, created for writing and nobody else's while it is
  // open; nullptr with failure filled when it cannot be.
  std::unique_ptr<platform::TFileStream> Create(const std::string& target, TOutputFailure& failure);

 private:
  bool ownFolder_ = false;
  std::unordered_set<std::string> madeNames_;  // upper-cased, of this extraction, when ownFolder_
  std::string lastFolder_;                     // the folder most recently made sure of
};

// An MS-DOS date and time as one ordered value, and as the local time it stands for.
uint32_t DosStamp(uint16_t date, uint16_t time);
platform::TLocalTime DosToLocalTime(uint32_t stamp);

// Dates the open file (a refusal is passed over) and, with restoreAttributes,
// gives it the entry's attributes (and a Unix tool's permissions) as it closes.
void DateAndAttributes(platform::TFileStream& out, const platform::TLocalTime& time, const TZipEntry& entry,
                       bool restoreAttributes);

// The system's message in a file stream's error, which reads 'Cannot open file
// "<path>". <message>' (or 'Cannot create file ...'); the whole message otherwise.
std::string SystemMessage(const Exception& e, const std::string& path);

}  // namespace archive
