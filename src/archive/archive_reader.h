// Positional reads of an archive (a file, or any stream that seeks) through two
// buffers, so the many small header reads cost no system call each while large
// data reads go straight through. Two, because the directory and the entries it
// points to lie apart and are read in turn: each keeps its own buffer. A read that
// runs on past the end of a buffer carries on in it, reading on from where the
// stream stands: the entries of an archive are read front to back without a seek.
// A read error counts as the end of the file: every caller already has to cope
// with an archive that ends early.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/stream.h"

namespace archive {

class TArchiveReader {
 public:
  explicit TArchiveReader(TStream& file);
  TArchiveReader(const TArchiveReader&) = delete;
  TArchiveReader& operator=(const TArchiveReader&) = delete;

  int64_t Size() const { return size_; }

  // Up to count bytes at pos; fewer at the end of the file, none before its start.
  std::size_t ReadAt(int64_t pos, void* out, std::size_t count);
  // Whether the four bytes at pos are the little-endian value signature.
  bool Has32At(int64_t pos, uint32_t signature);

 private:
  struct TWindow {
    std::vector<uint8_t> Data;
    int64_t Pos = 0;
    std::size_t Len = 0;
  };
  std::size_t Direct(int64_t pos, void* out, std::size_t count);
  static constexpr std::size_t kWindowSize = 128 * 1024;

  TStream& file_;
  TWindow windows_[2];
  std::size_t recent_ = 0;  // the window read last; a miss refills the other
  int64_t size_ = 0;
  int64_t at_ = -1;  // where the stream stands, when known: no seek is needed there
};

}  // namespace archive
