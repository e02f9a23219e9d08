// A least-significant-bit-first reader over a TByteSource, as Deflate, shrink,
// reduce and implode all pack their codes. Peek and consume are separate; past the
// end of the input it supplies zero bits and counts them, so a decoder checks
// Overrun() once where it matters instead of at every read.
//
// The bit buffer is refilled a 64-bit word at a time while at least 8 input bytes
// are buffered. Such a refill leaves the bits of the following bytes above the
// counted ones; they equal what the next refill ORs in, so they do no harm, and
// anything that takes bytes past the bit buffer (ReadAlignedBytes) clears them.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "archive/decoder.h"
#include "base/assert.h"

namespace archive {

class TBitReader {
 public:
  explicit TBitReader(TByteSource& source) : source_(source) {}
  TBitReader(const TBitReader&) = delete;
  TBitReader& operator=(const TBitReader&) = delete;

  // Makes at least n (<= 32) bits available, padding with zeros past the end.
  void Need(unsigned n) {
    if (count_ >= n) return;
    if (len_ - pos_ >= 8) {
      bits_ |= Load64(buf_ + pos_) << count_;
      pos_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
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
  // Only bits that Need made available.
  void Consume(unsigned n) {
    LU_ASSERT(n <= count_);
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
    LU_ASSERT(count_ % 8 == 0);
    std::size_t done = 0;
    while (done < n && count_ >= 8) {
      if (overrunBits_ >= count_) return done;
      out[done++] = static_cast<uint8_t>(bits_);
      Consume(8);
    }
    if (done == n) return done;
    bits_ = 0;  // the bytes beyond the counted bits are taken directly below
    while (done < n) {
      if (pos_ == len_ && !Fill()) break;
      std::size_t take = len_ - pos_ < n - done ? len_ - pos_ : n - done;
      std::memcpy(out + done, buf_ + pos_, take);
      pos_ += take;
      done += take;
    }
    return done;
  }

  // For a decoder's inner loop, which keeps the reader's state in local variables
  // while plenty of input is buffered: Buffered() bytes wait in the buffer,
  // Prefetch() moves them to its front and tops it up from the source (returns the
  // new count; less than asked for only at the end of the input).
  std::size_t Buffered() const { return len_ - pos_; }
  std::size_t Prefetch(std::size_t want) {
    if (len_ - pos_ >= want || atEnd_) return len_ - pos_;
    std::memmove(buf_, buf_ + pos_, len_ - pos_);
    len_ -= pos_;
    pos_ = 0;
    while (len_ < want && len_ < sizeof buf_) {
      std::size_t got = source_.Read(buf_ + len_, sizeof buf_ - len_);
      if (got == 0) {
        atEnd_ = true;
        break;
      }
      len_ += got;
    }
    return len_;
  }
  // The state handed out to and back from such a loop: the bit buffer, its count
  // and the next unread byte of the buffer (which ends at next + Buffered()).
  struct TState {
    uint64_t bits;
    unsigned count;
    const uint8_t* next;
  };
  TState Save() const { return TState{bits_, count_, buf_ + pos_}; }
  // The loop hands back at most 64 bits and a position inside the buffer.
  void Restore(const TState& s) {
    LU_ASSERT(s.count <= 64 && s.next >= buf_ && s.next <= buf_ + len_);
    bits_ = s.bits;
    count_ = s.count;
    pos_ = static_cast<std::size_t>(s.next - buf_);
  }
  // Little-endian 64-bit load, for such loops as well.
  static uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big) v = ByteSwap64(v);
    return v;
  }

 private:
  static uint64_t ByteSwap64(uint64_t v) {
    uint64_t r = 0;
    for (int i = 0; i < 8; ++i, v >>= 8) r = r << 8 | (v & 0xff);
    return r;
  }
  bool Fill() {
    if (atEnd_) return false;
    len_ = source_.Read(buf_, sizeof buf_);
    pos_ = 0;
    if (len_ == 0) atEnd_ = true;
    return len_ != 0;
  }

  TByteSource& source_;
  uint8_t buf_[16384];
  std::size_t pos_ = 0, len_ = 0;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  uint64_t overrunBits_ = 0;
  bool atEnd_ = false;
};

}  // namespace archive
