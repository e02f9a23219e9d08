#include "net/byte_source.h"

#include <algorithm>
#include <cstring>

#include "net/net_errors.h"

namespace net {

size_t TMemorySource::Receive(char* buffer, size_t size, int32_t timeoutMs) {
  if (pos_ == data_.size()) {
    if (stallAtEnd_) throw EReadTimeout();
    return 0;
  }
  size_t n = std::min({size, step_, data_.size() - pos_});
  std::memcpy(buffer, data_.data() + pos_, n);
  pos_ += n;
  return n;
}

}  // namespace net
