// Fuzz entry points for the ZIP method decoders. Each takes arbitrary bytes, so
// libFuzzer's driver and the native regression replay (tests/unit/hardening) call
// exactly the same code.
//
// Input layout, the same for every decoder:
//   byte 0      options: bits 0-1 the Reduce factor - 1; bit 1 the Implode 8 KB
//               window, bit 2 its third tree; bits 4-5 how the source hands out
//               its bytes (all at once, 1, 7 or 4096 per Read); bit 6 makes the
//               sink refuse a write once half the declared size was taken
//   bytes 1-3   declared uncompressed size, little-endian, 22 bits (< 4 MB)
//   the rest    the compressed data
// Shorter inputs are ignored.
//
// What must hold whatever the data: no memory fault (the sanitizers watch), no
// block larger than kBlockSize, never more output than declared, Ok only when
// exactly the declared size came out, WriteError only when the sink refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "archive/decoder.h"
#include "unit/archive/archive_support.h"

namespace fuzz {

// A broken promise of the code under test: report and abort, so libFuzzer keeps
// the input and the replay test dies loudly.
// The replay names the input it runs here, so a failure says which one it was.
inline const char*& CurrentInput() {
  static const char* name = "";
  return name;
}
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz invariant broken: %s %s\n", what, CurrentInput());
  std::abort();
}
inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

enum class Method { Inflate, Inflate64, Unshrink, Unreduce, Explode };

constexpr std::size_t kHeaderSize = 4;
constexpr uint32_t kMaxDeclared = (1u << 22) - 1;

inline int RunDecoder(Method method, const uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  const uint8_t options = data[0];
  const uint32_t declared = (data[1] | (data[2] << 8) | (static_cast<uint32_t>(data[3]) << 16)) & kMaxDeclared;
  static const std::size_t kChunks[4] = {SIZE_MAX, 1, 7, 4096};
  testzip::TChunkedSource source(data + kHeaderSize, size - kHeaderSize, kChunks[(options >> 4) & 3]);
  const bool refuse = (options & 0x40) != 0;
  // The sink computes the CRC of every byte, so a read from freed or unset memory
  // shows under the sanitizers.
  testzip::TCollectSink sink(0, refuse ? declared / 2 : UINT64_MAX, false);

  archive::DecodeResult result = archive::DecodeResult::DataError;
  switch (method) {
    case Method::Inflate: result = archive::Inflate(source, sink, declared, false); break;
    case Method::Inflate64: result = archive::Inflate(source, sink, declared, true); break;
    case Method::Unshrink: result = archive::Unshrink(source, sink, declared); break;
    case Method::Unreduce: result = archive::Unreduce(source, sink, declared, (options & 3) + 1); break;
    case Method::Explode:
      result = archive::Explode(source, sink, declared, (options & 2) != 0, (options & 4) != 0);
      break;
  }
  Check(sink.emptyWrites == 0, "empty block written");
  Check(sink.maxBlock <= archive::kBlockSize, "block larger than kBlockSize");
  Check(sink.total <= declared, "more output than the declared size");
  Check(sink.writesAfterRefusal == 0, "a block written after a refusal");
  switch (result) {
    case archive::DecodeResult::Ok:
      Check(sink.total == declared, "Ok with less output than declared");
      Check(!sink.refused, "Ok although the sink refused a block");
      break;
    case archive::DecodeResult::WriteError: Check(sink.refused, "WriteError without a refused block"); break;
    case archive::DecodeResult::DataError: Check(!sink.refused, "a refused block reported as a data error"); break;
  }
  return 0;
}

}  // namespace fuzz
