// The output side shared by the reduce and implode decoders: a zero-filled ring of
// kBlockSize bytes that is also the sliding window, flushed to the sink a block at
// a time, and never more than the entry's declared size.
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/decoder.h"
#include "base/assert.h"

namespace archive {

class TRingOutput {
 public:
  static constexpr std::size_t kRingSize = kBlockSize;
  static_assert((kRingSize & (kRingSize - 1)) == 0 && kRingSize >= 8192, "ring must be a power of two >= 8 KB");

  TRingOutput(TByteSink& sink, uint64_t size) : sink_(sink, size), left_(size) { std::memset(ring_, 0, sizeof ring_); }

  bool Done() const { return left_ == 0; }
  bool Failed() const { return failed_; }

  void Put(uint8_t byte) {
    if (left_ == 0) return;
    ring_[pos_++] = byte;
    --left_;
    if (pos_ == kRingSize) Flush();
  }
  // Copies length bytes from distance back. Before the first byte of output the
  // ring still holds its initial zeros, which is what the original tools produced
  // for such references. A match longer than what is left is cut off.
  void Copy(unsigned distance, unsigned length) {
    while (length-- > 0 && left_ > 0) Put(ring_[(pos_ - distance) & (kRingSize - 1)]);
  }
  void Flush() {
    LU_ASSERT(flushed_ <= pos_ && pos_ <= kRingSize);
    if (pos_ != flushed_ && !failed_ && !sink_.Write(ring_ + flushed_, pos_ - flushed_)) failed_ = true;
    flushed_ = pos_;
    if (pos_ == kRingSize) pos_ = flushed_ = 0;
  }

 private:
  TDeclaredSink sink_;
  uint64_t left_;
  uint8_t ring_[kRingSize];
  std::size_t pos_ = 0, flushed_ = 0;
  bool failed_ = false;
};

}  // namespace archive
