#include "platform/stream.h"

#include <algorithm>
#include <cstring>

#include "base/exception.h"

int64_t TStream::Size() {
  int64_t pos = Position();
  int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  auto* p = static_cast<char*>(buffer);
  while (count > 0) {
    int64_t n = Read(p, count);
    if (n <= 0) throw EStreamError("Stream read error");
    p += n;
    count -= n;
  }
}

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = static_cast<int64_t>(data_.size());
  if (count <= 0 || pos_ >= size) return 0;
  int64_t n = std::min(count, size - pos_);
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

void TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return;
  int64_t end = pos_ + count;
  if (end > static_cast<int64_t>(data_.size())) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ = end;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0
                 : origin == TSeekOrigin::soCurrent ? pos_
                                                    : static_cast<int64_t>(data_.size());
  int64_t target = base + offset;
  if (target < 0) throw EStreamError("Invalid stream position");
  pos_ = target;
  return pos_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  data_.resize(static_cast<size_t>(size));
  if (pos_ > size) pos_ = size;
}
