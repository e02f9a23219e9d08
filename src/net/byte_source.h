// Where the response reader takes its bytes from: a socket in the program, a
// memory buffer in tests and fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

class TByteSource {
 public:
  virtual ~TByteSource() = default;
  // Up to size bytes into buffer; 0 when the peer has closed. timeoutMs > 0 raises
  // EReadTimeout when nothing arrives in that time; 0 waits without limit.
  virtual size_t Receive(char* buffer, size_t size, int32_t timeoutMs) = 0;
};

// Serves a fixed text in portions of at most step bytes, then reports the close.
// stallAtEnd: instead of closing, raise EReadTimeout at the end (a peer that keeps
// the connection open without sending).
class TMemorySource : public TByteSource {
 public:
  explicit TMemorySource(std::string data, size_t step = SIZE_MAX, bool stallAtEnd = false)
      : data_(std::move(data)), step_(step == 0 ? 1 : step), stallAtEnd_(stallAtEnd) {}
  size_t Receive(char* buffer, size_t size, int32_t timeoutMs) override;
  size_t Remaining() const { return data_.size() - pos_; }

 private:
  std::string data_;
  size_t pos_ = 0;
  size_t step_;
  bool stallAtEnd_;
};

}  // namespace net
