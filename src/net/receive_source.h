// Where the response reader takes its bytes from: a socket (or a TLS stream over
// one) in the program, a memory buffer in tests and fuzzers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace net {

class TReceiveSource {
 public:
  virtual ~TReceiveSource() = default;
  // Up to size bytes into buffer; 0 when the peer has closed. timeoutMs > 0 raises
  // EReadTimeout when nothing arrives in that time; 0 waits without limit.
  virtual size_t Receive(char* buffer, size_t size, int32_t timeoutMs) = 0;
};

}  // namespace net
