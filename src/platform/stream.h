// Byte streams: the destination of a download, the source of an archive. Pure
// C++ here; the file stream that talks to the system is in files.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream {
 public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  // Writes count bytes or raises EStreamError.
  virtual void Write(const void* buffer, int64_t count) = 0;
  // Returns the new position; raises EStreamError when the system refuses.
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Grows or cuts the stream; the position stays unless it lies past the new end.
  virtual void SetSize(int64_t size) = 0;

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  int64_t Size();
  // Reads exactly count bytes or raises EStreamError.
  void ReadBuffer(void* buffer, int64_t count);
};

class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  void Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;

  const std::string& Data() const { return data_; }
  std::string& Data() { return data_; }

 private:
  std::string data_;
  int64_t pos_ = 0;
};
