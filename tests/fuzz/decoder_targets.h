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

// Hands out the data in pieces of a fixed size, so refills at every offset of the
// decoders' bit readers get exercised.
class TChunkedSource : public archive::TByteSource {
 public:
  TChunkedSource(const uint8_t* data, std::size_t size, std::size_t chunk) : data_(data), size_(size), chunk_(chunk) {}
  std::size_t Read(uint8_t* buffer, std::size_t count) override {
    std::size_t n = count;
    if (n > chunk_) n = chunk_;
    if (n > size_ - pos_) n = size_ - pos_;
    for (std::size_t i = 0; i < n; ++i) buffer[i] = data_[pos_ + i];
    pos_ += n;
    return n;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t chunk_;
  std::size_t pos_ = 0;
};

// Counts and touches every byte (so a read from freed or unset memory shows), and
// checks the block contract.
class TCheckingSink : public archive::TByteSink {
 public:
  TCheckingSink(uint64_t declared, uint64_t refuseAfter) : declared_(declared), refuseAfter_(refuseAfter) {}
  bool Write(const uint8_t* data, std::size_t count) override {
    Check(count > 0, "empty block written");
    Check(count <= archive::kBlockSize, "block larger than kBlockSize");
    if (total_ >= refuseAfter_) {
      refused_ = true;
      return false;
    }
    for (std::size_t i = 0; i < count; ++i) sum_ = sum_ * 31 + data[i];
    total_ += count;
    Check(total_ <= declared_, "more output than the declared size");
    return true;
  }
  uint64_t Total() const { return total_; }
  bool Refused() const { return refused_; }
  uint32_t Sum() const { return sum_; }

 private:
  uint64_t declared_;
  uint64_t refuseAfter_;
  uint64_t total_ = 0;
  bool refused_ = false;
  uint32_t sum_ = 0;
};

constexpr std::size_t kHeaderSize = 4;
constexpr uint32_t kMaxDeclared = (1u << 22) - 1;

inline int RunDecoder(Method method, const uint8_t* data, std::size_t size) {
  if (size < kHeaderSize) return 0;
  const uint8_t options = data[0];
  const uint32_t declared = (data[1] | (data[2] << 8) | (static_cast<uint32_t>(data[3]) << 16)) & kMaxDeclared;
  static const std::size_t kChunks[4] = {SIZE_MAX, 1, 7, 4096};
  TChunkedSource source(data + kHeaderSize, size - kHeaderSize, kChunks[(options >> 4) & 3]);
  const bool refuse = (options & 0x40) != 0;
  TCheckingSink sink(declared, refuse ? declared / 2 : UINT64_MAX);

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
  switch (result) {
    case archive::DecodeResult::Ok:
      Check(sink.Total() == declared, "Ok with less output than declared");
      Check(!sink.Refused(), "Ok although the sink refused a block");
      break;
    case archive::DecodeResult::WriteError: Check(sink.Refused(), "WriteError without a refused block"); break;
    case archive::DecodeResult::DataError: Check(!sink.Refused(), "a refused block reported as a data error"); break;
  }
  return 0;
}

}  // namespace fuzz
