// The contract shared by every ZIP method decoder: compressed bytes come from a
// source, decoded bytes go to a sink in blocks of at most kBlockSize, and no
// decoder ever produces more than the entry's declared uncompressed size, whatever
// the compressed data says (the extraction's memory and output stay bounded).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/assert.h"

namespace archive {

constexpr std::size_t kBlockSize = 32768;

// Compressed input. Read returns the number of bytes placed in buffer, 0 at the end
// of the entry's compressed data.
class TByteSource {
 public:
  virtual ~TByteSource() = default;
  virtual std::size_t Read(uint8_t* buffer, std::size_t count) = 0;
};

// Decoded output. Write returns false when the bytes could not be stored; the
// decoder then stops with DecodeResult::WriteError.
class TByteSink {
 public:
  virtual ~TByteSink() = default;
  virtual bool Write(const uint8_t* data, std::size_t count) = 0;
};

// The sink as a decoder writes to it: every block is counted against the declared
// size, which the decoder's own bookkeeping must never let it pass.
class TDeclaredSink {
 public:
  TDeclaredSink(TByteSink& sink, uint64_t declaredSize) : sink_(sink), left_(declaredSize) {}
  bool Write(const uint8_t* data, std::size_t count) {
    LU_ASSERT(count <= left_);
    left_ -= count;
    return sink_.Write(data, count);
  }

 private:
  TByteSink& sink_;
  uint64_t left_;
};

enum class DecodeResult {
  Ok,          // the declared size was produced (or the stream ended cleanly there)
  DataError,   // the compressed data is corrupt or ends early; output so far stays
  WriteError,  // the sink refused a block
};

// How a decoder that writes through an output of its own (Flush, Failed, Done)
// ends: what is left goes out, then a refused write, or output short of the
// declared size, says what went wrong.
template <typename TOutput>
DecodeResult FinishOutput(TOutput& out) {
  out.Flush();
  if (out.Failed()) return DecodeResult::WriteError;
  return out.Done() ? DecodeResult::Ok : DecodeResult::DataError;
}

// Method 0. Copies min(compressed, declared) bytes.
DecodeResult CopyStored(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize);
// Method 8 (RFC 1951, raw) and, with deflate64, method 9 (64 KB window, length code
// 285 with 16 extra bits, distance codes 30 and 31).
DecodeResult Inflate(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize, bool deflate64);
// Method 1: dynamic LZW with partial clearing.
DecodeResult Unshrink(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize);
// Methods 2 to 5: factor = method - 1.
DecodeResult Unreduce(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize, int factor);
// Method 6: window8k from general-purpose flag bit 1, threeTrees from bit 2.
DecodeResult Explode(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize, bool window8k, bool threeTrees);

}  // namespace archive
