#include "platform/log_file.h"

#include "platform/files.h"

namespace platform {

std::string DefaultLogFile() { return TempDir() + kLogFileName; }

TLogFile::TLogFile(std::string path, int64_t rotateSize) : path_(std::move(path)), rotateSize_(rotateSize) {}

TLogFile::~TLogFile() { Close(); }

void TLogFile::Write(const std::string& line) {
  const std::string text = LogTimeStamp() + " " + line + LogLineEnd();
  if (handle_ == -1 && !Open()) return;
  if (size_ > 0 && size_ + static_cast<int64_t>(text.size()) > rotateSize_) Rotate();
  if (handle_ != -1 && Append(text)) size_ += static_cast<int64_t>(text.size());
}

void TLogFile::Rotate() {
  Close();
  const std::string previous = path_ + ".1";
  EraseFile(previous);
  // When the file cannot move (held by another program), it keeps growing
  // rather than losing lines.
  MoveFileTo(path_, previous);
  Open();
}

std::shared_ptr<TLogFile> StartLogFile(const std::string& path) {
  auto file = std::make_shared<TLogFile>(path);
  logging::SetSink(file);
  return file;
}

}  // namespace platform
