// Method 1, "Shrinking" in PKWARE's APPNOTE (section 5.3): LZW with codes of 9 to
// 13 bits, where code 256 escapes a control code (1: one bit wider, 2: partial
// clear) and freed codes are handed out again, lowest first.
#include <cstring>

#include "archive/bit_reader.h"
#include "archive/decoder.h"

namespace archive {

namespace {

constexpr unsigned kMinCodeBits = 9;
constexpr unsigned kMaxCodeBits = 13;
constexpr unsigned kTableSize = 1u << kMaxCodeBits;
constexpr unsigned kControl = 256;
constexpr unsigned kFirstFree = 257;
constexpr unsigned kNone = kTableSize;  // no free code left

// The dictionary. Each code above 256 is (prefix code, last byte); a string is
// found by walking the prefixes down to a literal. Entries are never resolved to
// fixed strings: after a partial clear a prefix may name a code that was freed
// and handed out again, and the encoder then means the new string behind it.
class TShrinkTable {
 public:
  TShrinkTable() {
    std::memset(used_, 0, sizeof used_);
    for (unsigned c = 0; c < 256; ++c) {
      used_[c] = 1;
      prefix_[c] = kNone;
      suffix_[c] = static_cast<uint8_t>(c);
    }
  }

  bool IsCode(unsigned code) const { return code < kTableSize && code != kControl && used_[code]; }
  unsigned NextFree() const { return nextFree_; }

  // Puts prefix at the next free code (its last byte still to come).
  void Claim(unsigned prefix) {
    prefix_[nextFree_] = static_cast<uint16_t>(prefix);
    used_[nextFree_] = 1;
  }
  void Complete(uint8_t suffix) {
    suffix_[nextFree_] = suffix;
    do {
      ++nextFree_;
    } while (nextFree_ < kTableSize && used_[nextFree_]);
  }

  // The first byte of code's string, or -1 when its chain meets a free code or
  // loops (neither can come from an encoder).
  int FirstByte(unsigned code) const {
    for (unsigned steps = 0; code >= kFirstFree; ++steps) {
      if (steps == kTableSize || !used_[code]) return -1;
      code = prefix_[code];
    }
    return code < 256 ? static_cast<int>(code) : -1;
  }

  // Writes code's string to the end of buffer[kTableSize]; returns its length, 0
  // when the chain is broken.
  unsigned String(unsigned code, uint8_t* buffer) const {
    unsigned n = 0;
    while (code >= kFirstFree) {
      if (n == kTableSize - 1 || !used_[code]) return 0;
      buffer[kTableSize - 1 - n++] = suffix_[code];
      code = prefix_[code];
    }
    if (code >= 256) return 0;
    buffer[kTableSize - 1 - n++] = static_cast<uint8_t>(code);
    return n;
  }

  // Frees every code that no other code uses as its prefix.
  void PartialClear() {
    uint8_t isPrefix[kTableSize];
    std::memset(isPrefix, 0, sizeof isPrefix);
    for (unsigned c = kFirstFree; c < kTableSize; ++c) {
      if (used_[c] && prefix_[c] < kTableSize) isPrefix[prefix_[c]] = 1;
    }
    for (unsigned c = kFirstFree; c < kTableSize; ++c) {
      if (!isPrefix[c]) used_[c] = 0;
    }
    nextFree_ = kFirstFree;
    while (nextFree_ < kTableSize && used_[nextFree_]) ++nextFree_;
  }

 private:
  uint16_t prefix_[kTableSize];
  uint8_t suffix_[kTableSize];
  uint8_t used_[kTableSize];
  unsigned nextFree_ = kFirstFree;
};

class TShrinkOutput {
 public:
  TShrinkOutput(TByteSink& sink, uint64_t size) : sink_(sink, size), left_(size) {}

  bool Done() const { return left_ == 0; }
  bool Failed() const { return failed_; }

  // Bytes past the declared size are dropped.
  void Put(const uint8_t* data, std::size_t n) {
    if (n > left_) n = static_cast<std::size_t>(left_);
    left_ -= n;
    while (n > 0 && !failed_) {
      std::size_t take = n < kBlockSize - pos_ ? n : kBlockSize - pos_;
      std::memcpy(buffer_ + pos_, data, take);
      pos_ += take;
      data += take;
      n -= take;
      if (pos_ == kBlockSize) Flush();
    }
  }
  void Flush() {
    LU_ASSERT(pos_ <= kBlockSize);
    if (pos_ > 0 && !failed_ && !sink_.Write(buffer_, pos_)) failed_ = true;
    pos_ = 0;
  }

 private:
  TDeclaredSink sink_;
  uint64_t left_;
  uint8_t buffer_[kBlockSize];
  std::size_t pos_ = 0;
  bool failed_ = false;
};

}  // namespace

DecodeResult Unshrink(TByteSource& source, TByteSink& sink, uint64_t uncompressedSize) {
  TBitReader in(source);
  TShrinkTable table;
  TShrinkOutput out(sink, uncompressedSize);
  uint8_t string[kTableSize];
  unsigned codeBits = kMinCodeBits;
  unsigned prev = kNone;  // the code before, whose extension the next code completes

  while (!out.Done()) {
    unsigned code = in.Bits(codeBits);
    if (in.Overrun()) break;

    if (code == kControl) {
      unsigned control = in.Bits(codeBits);
      if (in.Overrun()) break;
      if (control == 1 && codeBits < kMaxCodeBits) {
        ++codeBits;
      } else if (control == 2) {
        table.PartialClear();
      } else {
        break;
      }
      continue;
    }

    if (prev != kNone && table.NextFree() != kNone) {
      // The encoder added prev + (first byte of this code's string) before it
      // sent this code, so this code may already be that entry (the KwKwK case)
      // or lead through it: claim it first, the first byte only needs prefixes.
      table.Claim(prev);
      int first = table.FirstByte(code);
      if (first < 0) break;
      table.Complete(static_cast<uint8_t>(first));
    } else if (!table.IsCode(code) || (prev == kNone && code >= 256)) {
      break;  // the first code must be a literal; later ones must exist
    }

    unsigned n = table.String(code, string);
    if (n == 0) break;
    out.Put(string + kTableSize - n, n);
    if (out.Failed()) return DecodeResult::WriteError;
    prev = code;
  }
  return FinishOutput(out);
}

}  // namespace archive
