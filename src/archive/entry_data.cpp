#include "archive/entry_data.h"

#include <algorithm>
#include <cstdio>

#include "archive/archive_reader.h"
#include "archive/crc32.h"
#include "archive/zip_crypto.h"
#include "archive/zip_directory.h"
#include "archive/zip_format.h"
#include "platform/file_stream.h"
#include "platform/system.h"

namespace archive {

namespace {

// Deflate and Deflate64 streams end by themselves. The decoder is asked for one
// byte more than the entry declares: a stream that goes on past the declared size
// is damaged, even when the declared part checks out, and one that ends right
// there (a data error for the byte asked beyond) is whole.
DecodeResult InflateEntry(TByteSource& source, TEntrySink& sink, uint64_t size, bool deflate64) {
  if (size == UINT64_MAX) return Inflate(source, sink, size, deflate64);
  const DecodeResult result = Inflate(source, sink, size + 1, deflate64);
  if (sink.Overrun()) return DecodeResult::DataError;
  if (result == DecodeResult::DataError && sink.Done() == size) return DecodeResult::Ok;
  return result;
}

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

}  // namespace

std::size_t TEntrySource::Read(uint8_t* buffer, std::size_t count) {
  std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(count, left_));
  if (want == 0) return 0;
  std::size_t got = reader_.ReadAt(pos_, buffer, want);
  if (got == 0) {
    left_ = 0;
    return 0;
  }
  pos_ += static_cast<int64_t>(got);
  left_ -= got;
  if (crypto_) crypto_->Decrypt(buffer, got);
  return got;
}

bool TEntrySink::Write(const uint8_t* data, std::size_t count) {
  // What comes past the entry's size is noted, never written.
  if (count > entrySize_ - done_) {
    overrun_ = true;
    count = static_cast<std::size_t>(entrySize_ - done_);
  }
  if (count == 0) return true;
  try {
    file_.Write(data, static_cast<int64_t>(count));
  } catch (const Exception&) {
    failure_ = platform::SysErrorMessage(platform::LastError());
    return false;
  }
  crc_ = Crc32Update(crc_, data, count);
  done_ += count;
  observer_.BlockDone(count, done_, entrySize_, stored_);
  return true;
}

bool Decodable(uint16_t method) { return method <= 6 || method == 8 || method == 9; }

DecodeResult DecodeEntry(const TZipEntry& entry, TByteSource& source, TEntrySink& sink) {
  switch (entry.Method) {
    case 0: return CopyStored(source, sink, entry.UncompressedSize);
    case 1: return Unshrink(source, sink, entry.UncompressedSize);
    case 2:
    case 3:
    case 4:
    case 5: return Unreduce(source, sink, entry.UncompressedSize, entry.Method - 1);
    case 6:
      return Explode(source, sink, entry.UncompressedSize, (entry.Flags & zip::kFlagImplode8K) != 0,
                     (entry.Flags & zip::kFlagImplode3Trees) != 0);
    case 8:
    case 9: return InflateEntry(source, sink, entry.UncompressedSize, entry.Method == 9);
    default: return DecodeResult::DataError;
  }
}

// The stored CRC may be kept finished or complemented; a short or corrupt stream
// fails whatever its CRC says.
std::string CheckFailure(const TZipEntry& entry, DecodeResult result, const TEntrySink& sink) {
  const uint32_t crc = sink.Crc();
  const bool sized = result == DecodeResult::Ok && !sink.Overrun() && sink.Done() == entry.UncompressedSize;
  if (sized && (entry.Crc == crc || entry.Crc == ~crc)) return "";
  if (sized) return "CRC " + Hex32(crc) + " where the archive says " + Hex32(entry.Crc);
  const std::string size = std::to_string(entry.UncompressedSize);
  const std::string done = std::to_string(sink.Done()) + " of " + size + " bytes";
  if (result == DecodeResult::WriteError) return "written " + done;
  if (sink.Overrun()) return "the data goes on past its size of " + size + " bytes";
  if (result == DecodeResult::DataError && entry.Method != 0) return "damaged compressed data after " + done;
  return "the data ends after " + done;
}

}  // namespace archive
