// The response reader fed from memory instead of a socket, for tests and fuzzers.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "net/net_errors.h"
#include "net/receive_source.h"

namespace net {

// Serves a fixed text in portions of at most step bytes, then reports the close.
// stallAtEnd: instead of closing, raise EReadTimeout at the end (a peer that keeps
// the connection open without sending).
class TMemorySource : public TReceiveSource {
 public:
  explicit TMemorySource(std::string data, size_t step = SIZE_MAX, bool stallAtEnd = false)
      : data_(std::move(data)), step_(step == 0 ? 1 : step), stallAtEnd_(stallAtEnd) {}

  size_t Receive(char* buffer, size_t size, int32_t) override {
    if (pos_ == data_.size()) {
      if (stallAtEnd_) throw EReadTimeout();
      return 0;
    }
    const size_t n = std::min({size, step_, data_.size() - pos_});
    std::memcpy(buffer, data_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  size_t Remaining() const { return data_.size() - pos_; }

 private:
  std::string data_;
  size_t pos_ = 0;
  size_t step_;
  bool stallAtEnd_;
};

}  // namespace net
