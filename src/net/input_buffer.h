// Buffered reading from a byte source: lines for the status and header block and
// chunk sizes, raw portions for bodies. Memory stays bounded by the longest line
// accepted plus one receive block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "net/receive_source.h"

namespace net {

class TInputBuffer {
 public:
  TInputBuffer(TReceiveSource& source, size_t blockSize);

  // Reads up to the next LF; a CR before it is dropped. Returns false when the
  // peer closes before a LF (what came of the unfinished line is dropped).
  // Raises EReadLnMaxLineLengthExceeded when the line exceeds maxLength bytes.
  bool ReadLn(std::string& line, size_t maxLength);
  // Up to size bytes: buffered ones first, otherwise one receive straight into
  // buffer. 0 when the peer has closed.
  size_t ReadSome(char* buffer, size_t size);
  size_t Buffered() const { return end_ - start_; }
  // A receive has reported the peer's close.
  bool ClosedGracefully() const { return closed_; }
  // 0 waits without limit.
  void SetTimeout(int32_t milliseconds) { timeoutMs_ = milliseconds; }
  int32_t Timeout() const { return timeoutMs_; }
  // Forgets buffered bytes and the close (a new connection on the same source).
  void Reset();

 private:
  // One receive appended to the buffer; false on close.
  bool Fill();

  TReceiveSource& source_;
  size_t blockSize_;
  std::vector<char> data_;
  size_t start_ = 0, end_ = 0;
  bool closed_ = false;
  int32_t timeoutMs_ = 0;
};

}  // namespace net
