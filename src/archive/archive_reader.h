// Positional reads of an archive (a file, or any stream that seeks) through one block-sized buffer, so the many
// small header reads cost no system call each while large data reads go straight
// through. A read error counts as the end of the file: every caller already has
// to cope with an archive that ends early.
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
  std::size_t Direct(int64_t pos, void* out, std::size_t count);

  TStream& file_;
  std::vector<uint8_t> buffer_;
  int64_t bufferPos_ = 0;
  std::size_t bufferLen_ = 0;
  int64_t size_ = 0;
};

}  // namespace archive
