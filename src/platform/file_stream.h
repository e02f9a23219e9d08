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
  // As CreateExclusive, for a name new to a folder no other program can enter (a
  // run's private folder): no file has it in any spelling. The Linux port makes
  // the file at once, without a look at the folder or a lock against others.
  CreateInOwnFolder,
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
  // The attributes the file gets as it closes, as SetAttributes takes them: after
  // the last write, so that a read-only file is still written whole. Win32 sets
  // them on the closed file; the Linux port through the open one. Like
  // SetAttributes after Close, a refusal leaves the file as it was, unreported.
  void SetAttributesAtClose(uint32_t attributes, uint32_t unixMode);
  // Closes now and reports whether the system accepted it; the destructor closes
  // too, silently.
  bool Close();
  const std::string& FileName() const { return fileName_; }
  intptr_t Handle() const { return handle_; }

 private:
  std::string fileName_;
  intptr_t handle_;
  bool temporary_ = false;
  bool attributesAtClose_ = false;
  uint32_t closeAttributes_ = 0, closeUnixMode_ = 0;
  uint32_t mode_ = 0;  // Linux port: the file's mode when known, else 0
};

}  // namespace platform
