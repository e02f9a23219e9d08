#include "archive/archive_reader.h"

#include <algorithm>
#include <cstring>

#include "archive/decoder.h"
#include "archive/zip_format.h"
#include "platform/files.h"

namespace archive {

TArchiveReader::TArchiveReader(TStream& file) : file_(file) {
  for (TWindow& w : windows_) w.Data.resize(kWindowSize);
  try {
    size_ = file_.Seek(0, TSeekOrigin::soEnd);
    at_ = size_;
  } catch (const Exception&) {
    size_ = 0;
  }
}

std::size_t TArchiveReader::ReadAt(int64_t pos, void* out, std::size_t count) {
  if (pos < 0 || pos >= size_ || count == 0) return 0;
  count = static_cast<std::size_t>(std::min<int64_t>(static_cast<int64_t>(count), size_ - pos));
  for (std::size_t i = 0; i < 2; ++i) {
    const TWindow& w = windows_[i];
    if (pos >= w.Pos && pos - w.Pos + static_cast<int64_t>(count) <= static_cast<int64_t>(w.Len)) {
      std::memcpy(out, w.Data.data() + (pos - w.Pos), count);
      recent_ = i;
      return count;
    }
  }
  if (count >= kWindowSize) return Direct(pos, out, count);
  // The window the stream stands at the end of, when the read begins in it, else
  // the one not read last.
  auto runsOn = [&](const TWindow& w) {
    return w.Len > 0 && w.Pos + static_cast<int64_t>(w.Len) == at_ && pos >= w.Pos;
  };
  if (!runsOn(windows_[recent_])) recent_ ^= 1;
  TWindow& w = windows_[recent_];
  std::size_t kept = 0;
  if (runsOn(w) && pos <= at_) {
    kept = static_cast<std::size_t>(at_ - pos);
    std::memmove(w.Data.data(), w.Data.data() + (pos - w.Pos), kept);
  }
  w.Pos = pos;
  w.Len = kept + Direct(pos + static_cast<int64_t>(kept), w.Data.data() + kept, w.Data.size() - kept);
  std::size_t n = std::min(count, w.Len);
  std::memcpy(out, w.Data.data(), n);
  return n;
}

bool TArchiveReader::Has32At(int64_t pos, uint32_t signature) {
  uint8_t b[4];
  return ReadAt(pos, b, 4) == 4 && zip::Get32(b) == signature;
}

std::size_t TArchiveReader::Direct(int64_t pos, void* out, std::size_t count) {
  std::size_t done = 0;
  try {
    if (pos != at_) {
      at_ = -1;
      file_.Seek(pos, TSeekOrigin::soBeginning);
    }
    while (done < count) {
      int64_t got = file_.Read(static_cast<uint8_t*>(out) + done, static_cast<int64_t>(count - done));
      if (got <= 0) break;
      done += static_cast<std::size_t>(got);
    }
    at_ = pos + static_cast<int64_t>(done);
    return done;
  } catch (const Exception&) {
    at_ = -1;
    return 0;
  }
}

}  // namespace archive
