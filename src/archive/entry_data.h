// An entry's data on its way from the archive to its output file: the compressed
// bytes read (and decrypted), decoded by the entry's method, written with their
// CRC-32 counted, and the check that says whether the file is what the archive
// holds.
#pragma once

#include <cstdint>
#include <string>

#include "archive/decoder.h"

namespace platform {
class TFileStream;
}  // namespace platform

namespace archive {

class TArchiveReader;
class TZipCrypto;
struct TZipEntry;

// An entry's compressed bytes: never more than the entry declares, never past the
// end of the archive, decrypted on the way when a key is given.
class TEntrySource : public TByteSource {
 public:
  TEntrySource(TArchiveReader& reader, int64_t pos, uint64_t size, TZipCrypto* crypto)
      : reader_(reader), pos_(pos), left_(size), crypto_(crypto) {}
  std::size_t Read(uint8_t* buffer, std::size_t count) override;

 private:
  TArchiveReader& reader_;
  int64_t pos_;
  uint64_t left_;
  TZipCrypto* crypto_;
};

// Told of every block written, for the progress events.
class TBlockObserver {
 public:
  virtual ~TBlockObserver() = default;
  virtual void BlockDone(uint64_t blockSize, uint64_t entryDone, uint64_t entrySize, bool stored) = 0;
};

// Decoded blocks to the output file, with the CRC-32 of what was written.
class TEntrySink : public TByteSink {
 public:
  TEntrySink(TBlockObserver& observer, platform::TFileStream& file, uint64_t entrySize, bool stored)
      : observer_(observer), file_(file), entrySize_(entrySize), stored_(stored) {}
  bool Write(const uint8_t* data, std::size_t count) override;

  uint32_t Crc() const { return crc_; }
  uint64_t Done() const { return done_; }
  bool Overrun() const { return overrun_; }
  // The system's message for a refused write.
  const std::string& Failure() const { return failure_; }

 private:
  TBlockObserver& observer_;
  platform::TFileStream& file_;
  uint64_t entrySize_;
  bool stored_;
  uint32_t crc_ = 0;
  uint64_t done_ = 0;
  bool overrun_ = false;
  std::string failure_;
};

// The methods this program decodes.
bool Decodable(uint16_t method);
// The entry's data through the decoder of its method (one Decodable names).
DecodeResult DecodeEntry(const TZipEntry& entry, TByteSource& source, TEntrySink& sink);
// What failed of the entry's check, as support reads it ('CRC 0A1B2C3D where the
// archive says 4E5F6A7B', 'the data ends after 10 of 20 bytes'); empty when the
// file is what the archive holds.
std::string CheckFailure(const TZipEntry& entry, DecodeResult result, const TEntrySink& sink);

}  // namespace archive
