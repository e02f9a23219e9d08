#include <algorithm>
#include <cstring>

#include "archive/decoder.h"

namespace archive {

std::size_t TMemorySource::Read(uint8_t* buffer, std::size_t count) {
  std::size_t n = std::min(count, size_ - pos_);
  // memcpy with a null pointer is undefined even for 0 bytes (an empty source
  // may have no data pointer at all).
  if (n == 0) return 0;
  std::memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return n;
}

DecodeResult CopyStored(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize) {
  uint8_t block[kBlockSize];
  uint64_t left = uncompressedSize;
  while (left > 0) {
    std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, kBlockSize));
    std::size_t got = source.Read(block, want);
    if (got == 0) return DecodeResult::DataError;
    if (!sink.Write(block, got)) return DecodeResult::WriteError;
    left -= got;
  }
  return DecodeResult::Ok;
}

}  // namespace archive
