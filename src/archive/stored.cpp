#include <algorithm>
#include <cstring>

#include "archive/decoder.h"

namespace archive {

DecodeResult CopyStored(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize) {
  TDeclaredSink out(sink, uncompressedSize);
  uint8_t block[kBlockSize];
  uint64_t left = uncompressedSize;
  while (left > 0) {
    std::size_t want = static_cast<std::size_t>(std::min<uint64_t>(left, kBlockSize));
    std::size_t got = source.Read(block, want);
    if (got == 0) return DecodeResult::DataError;
    if (!out.Write(block, got)) return DecodeResult::WriteError;
    left -= got;
  }
  return DecodeResult::Ok;
}

}  // namespace archive
