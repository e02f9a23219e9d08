// The run's log in a file (base/log.h): each line after the local time, appended
// to what earlier runs wrote, and rotated to "<file>.1" (replacing an older one)
// once it would grow past a size, so the log of a machine never grows without
// end yet the previous runs stay readable.
#pragma once

#include <cstdint>
#include <string>

#include "base/log.h"

namespace platform {

constexpr int64_t kLogRotateSize = int64_t{1} << 20;
constexpr const char* kLogFileName = "ORBAXLiveUpdate.log";

// The log's usual place: the temporary folder's ORBAXLiveUpdate.log.
std::string DefaultLogFile();

class TLogFile : public logging::TLogSink {
 public:
  // Opens path (a Windows path text) on the first line; nothing is created before.
  explicit TLogFile(std::string path, int64_t rotateSize = kLogRotateSize);
  ~TLogFile() override;
  TLogFile(const TLogFile&) = delete;
  TLogFile& operator=(const TLogFile&) = delete;

  // Appends "<local time> <line>" and the system's line end. A file that cannot
  // be opened or written loses the line and is tried again with the next one.
  void Write(const std::string& line) override;
  const std::string& Path() const { return path_; }

 private:
  // The system's part: open for appending (creating it), append, close.
  bool Open();
  bool Append(const std::string& bytes);
  void Close();
  void Rotate();

  std::string path_;
  int64_t rotateSize_;
  int64_t size_ = 0;  // of the open file
  intptr_t handle_ = -1;
};

// Makes a TLogFile on path the process's log (base/log.h) and returns it.
std::shared_ptr<TLogFile> StartLogFile(const std::string& path);
// The local time as the log writes it: "2025-06-30 14:05:09.123".
std::string LogTimeStamp();
// The system's line end: CR LF on Windows, LF on the Linux port.
const char* LogLineEnd();

}  // namespace platform
