#include "archive/archive_reader.h"

#include <algorithm>
#include <cstring>

#include "archive/decoder.h"
#include "archive/zip_format.h"
#include "platform/files.h"

namespace archive {

TArchiveReader::TArchiveReader(TStream& file) : file_(file), buffer_(kBlockSize) {
  try {
    size_ = file_.Seek(0, TSeekOrigin::soEnd);
  } catch (const Exception&) {
    size_ = 0;
  }
}

std::size_t TArchiveReader::ReadAt(int64_t pos, void* out, std::size_t count) {
  if (pos < 0 || pos >= size_ || count == 0) return 0;
  count = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - pos));
  if (pos >= bufferPos_ && pos - bufferPos_ + static_cast<int64_t>(count) <= static_cast<int64_t>(bufferLen_)) {
    std::memcpy(out, buffer_.data() + (pos - bufferPos_), count);
    return count;
  }
  if (count >= buffer_.size()) return Direct(pos, out, count);
  bufferPos_ = pos;
  bufferLen_ = Direct(pos, buffer_.data(), buffer_.size());
  std::size_t n = std::min(count, bufferLen_);
  std::memcpy(out, buffer_.data(), n);
  return n;
}

bool TArchiveReader::Has32At(int64_t pos, uint32_t signature) {
  uint8_t b[4];
  return ReadAt(pos, b, 4) == 4 && zip::Get32(b) == signature;
}

std::size_t TArchiveReader::Direct(int64_t pos, void* out, std::size_t count) {
  try {
    file_.Seek(pos, TSeekOrigin::soBeginning);
    std::size_t done = 0;
    while (done < count) {
      int64_t got = file_.Read(static_cast<uint8_t*>(out) + done, static_cast<int64_t>(count - done));
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  } catch (const Exception&) {
    return 0;
  }
}

}  // namespace archive
