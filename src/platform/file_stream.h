// A file as a stream, in the modes the program opens files with.
#pragma once

#include <cstdint>
#include <string>

#include "platform/files.h"
#include "platform/stream.h"

namespace platform {

// A file stream. The modes follow the classic file-stream flags.
enum class TFileMode {
  OpenRead,         // read; others may read and write
  OpenReadWrite,    // read and write an existing file; others may read
  CreateExclusive,  // create or replace for writing; nobody else may open it
  // A new file for this stream alone: made only where nothing exists (a link is
  // neither followed nor replaced), read and write, and nobody else may open,
  // change, rename or delete it while it is open; removed when the stream closes
  // (on Win32 also when the process ends without closing it).
  CreateTemporary,
};

class TFileStream : public TStream {
 public:
  // Raises EFOpenError (open) or EFCreateError (create) with the message
  // 'Cannot open file "<path>". <system text>' ('Cannot create file ...' for
  // CreateExclusive and CreateTemporary) and sets LastError. Read and Write failures raise
  // EStreamError "Stream read error" / "Stream write error".
  TFileStream(const std::string& path, TFileMode mode);
  ~TFileStream() override;

  int64_t Read(void* buffer, int64_t count) override;
  void Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  // Writes count bytes at offset (the position afterwards is not defined); raises
  // EStreamError "Stream write error" as Write does.
  void WriteAt(int64_t offset, const void* buffer, int64_t count);
  // The data written so far reaches the disk; false (with the last error) when the
  // system refuses.
  bool Flush();
  // Dates the file through this stream, without opening it again; after the last
  // write, the date stays when the file is closed. False (with the last error)
  // when the system refuses.
  bool SetLastWriteTime(const TLocalTime& time);
  // Closes now and reports whether the system accepted it; the destructor closes
  // too, silently.
  bool Close();
  const std::string& FileName() const { return fileName_; }
  intptr_t Handle() const { return handle_; }

 private:
  std::string fileName_;
  intptr_t handle_;
  bool temporary_ = false;
};

}  // namespace platform
