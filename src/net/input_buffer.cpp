#include "net/input_buffer.h"

#include <algorithm>
#include <cstring>

#include "net/net_errors.h"

namespace net {

TInputBuffer::TInputBuffer(TReceiveSource& source, size_t blockSize)
    : source_(source), blockSize_(blockSize == 0 ? 1 : blockSize) {}

void TInputBuffer::Reset() {
  start_ = end_ = 0;
  closed_ = false;
}

bool TInputBuffer::Fill() {
  if (closed_) return false;
  // Move what is left to the front before growing, so the buffer only ever holds
  // one unfinished line plus one block.
  if (start_ > 0) {
    std::memmove(data_.data(), data_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  if (data_.size() - end_ < blockSize_) data_.resize(end_ + blockSize_);
  size_t n = source_.Receive(data_.data() + end_, blockSize_, timeoutMs_);
  if (n == 0) {
    closed_ = true;
    return false;
  }
  end_ += n;
  return true;
}

bool TInputBuffer::ReadLn(std::string& line, size_t maxLength) {
  size_t scanned = 0;  // bytes already known to hold no LF
  for (;;) {
    const char* begin = data_.data() + start_;
    // memchr needs a valid pointer even for 0 bytes; an empty buffer has none.
    const void* lf = Buffered() > scanned ? std::memchr(begin + scanned, '\n', Buffered() - scanned) : nullptr;
    if (lf) {
      size_t len = static_cast<const char*>(lf) - begin;
      size_t next = start_ + len + 1;
      if (len > 0 && begin[len - 1] == '\r') --len;
      if (len > maxLength) throw EReadLnMaxLineLengthExceeded();
      line.assign(begin, len);
      start_ = next;
      if (start_ == end_) start_ = end_ = 0;
      return true;
    }
    scanned = Buffered();
    // One byte of slack for the CR that may still precede the LF.
    if (scanned > maxLength + 1) throw EReadLnMaxLineLengthExceeded();
    if (!Fill()) {
      start_ = end_ = 0;
      return false;
    }
  }
}

size_t TInputBuffer::ReadSome(char* buffer, size_t size) {
  if (size == 0) return 0;
  if (Buffered() > 0) {
    size_t n = std::min(size, Buffered());
    std::memcpy(buffer, data_.data() + start_, n);
    start_ += n;
    if (start_ == end_) start_ = end_ = 0;
    return n;
  }
  if (closed_) return 0;
  size_t n = source_.Receive(buffer, size, timeoutMs_);
  if (n == 0) closed_ = true;
  return n;
}

}  // namespace net
