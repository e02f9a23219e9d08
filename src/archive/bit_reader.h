// A least-significant-bit-first reader over a TByteSource, as Deflate, shrink,
// reduce and implode all pack their codes. Peek and consume are separate; past the
// end of the input it supplies zero bits and counts them, so a decoder checks
// Overrun() once where it matters instead of at every read.
#pragma once

#include <cstdint>
#include <cstring>

#include "archive/decoder.h"

namespace archive {

class TBitReader {
 public:
  explicit TBitReader(TByteSource& source) : source_(source) {}

  // Makes at least n (<= 32) bits available, padding with zeros past the end.
  void Need(unsigned n) {
    while (count_ < n) {
      if (pos_ == len_ && !Fill()) {
        overrunBits_ += 8;
        count_ += 8;  // zero byte
        continue;
      }
      bits_ |= static_cast<uint64_t>(buf_[pos_++]) << count_;
      count_ += 8;
    }
  }
  uint32_t Peek(unsigned n) {
    Need(n);
    return static_cast<uint32_t>(bits_ & ((uint64_t{1} << n) - 1));
  }
  void Consume(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  uint32_t Bits(unsigned n) {
    if (n == 0) return 0;
    uint32_t v = Peek(n);
    Consume(n);
    return v;
  }
  // Drops the bits up to the next byte boundary.
  void AlignToByte() { Consume(count_ % 8); }
  // True when more zero padding was consumed than was buffered: the decoder read
  // past the real end of its input.
  bool Overrun() const { return overrunBits_ > count_; }
  // Reads whole bytes after AlignToByte (for stored blocks). Returns bytes read.
  std::size_t ReadAlignedBytes(uint8_t* out, std::size_t n) {
    std::size_t done = 0;
    while (done < n && count_ >= 8) {
      if (overrunBits_ >= count_) return done;
      out[done++] = static_cast<uint8_t>(bits_);
      Consume(8);
    }
    while (done < n) {
      if (pos_ == len_ && !Fill()) break;
      std::size_t take = len_ - pos_ < n - done ? len_ - pos_ : n - done;
      std::memcpy(out + done, buf_ + pos_, take);
      pos_ += take;
      done += take;
    }
    return done;
  }

 private:
  bool Fill() {
    len_ = source_.Read(buf_, sizeof buf_);
    pos_ = 0;
    return len_ != 0;
  }

  TByteSource& source_;
  uint8_t buf_[4096];
  std::size_t pos_ = 0, len_ = 0;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  uint64_t overrunBits_ = 0;
};

}  // namespace archive
