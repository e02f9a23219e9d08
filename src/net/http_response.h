// Reading an HTTP/1.1 answer (RFC 9112) from a byte source: the status line and
// header block, and the body by its framing (length, chunked, until close). Pure
// logic over TInputBuffer, so tests and fuzzers feed it from memory.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/http_headers.h"
#include "net/input_buffer.h"
#include "platform/stream.h"

namespace net {

enum class THTTPProtocolVersion { pv1_0, pv1_1 };
enum class TWorkMode { wmRead, wmWrite };

// At most this many header lines (continuations included) per block; a server
// that sends more is refused rather than buffered without end.
constexpr size_t kMaxHeaderLines = 1000;

struct THTTPResponse {
  std::string ResponseText;  // the status line as received, without its line end
  int32_t ResponseCode = -1;
  THTTPProtocolVersion ResponseVersion = THTTPProtocolVersion::pv1_1;
  THeaderList RawHeaders;
  // -1 when absent or not a number.
  int64_t ContentLength = -1;
  bool HasContentLength() const { return ContentLength >= 0; }
  std::string Location, Connection, ProxyConnection, TransferEncoding, ContentType, ContentRange;
  std::vector<std::string> WWWAuthenticate, ProxyAuthenticate;
  std::string Date, Expires, LastModified;
  // Parsed from Content-Range ("bytes first-last/length"); 0 when absent, and a
  // "*" (length unknown, or no range satisfied) reads as 0.
  int64_t ContentRangeStart = 0, ContentRangeEnd = 0, ContentRangeInstanceLength = 0;
  bool KeepAlive = false;
  // The peer closed while the header block was being read.
  bool HeadersCutShort = false;

  void Clear() { *this = THTTPResponse(); }
};

// Reads one status line and its header block into response, and fills the fields
// named by the headers. Raises EConnClosedGracefully when the peer closes before
// the status line is complete, EReadLnMaxLineLengthExceeded, EHTTPInvalidResponse
// (too many header lines, a bad or conflicting Content-Length), EConvertError
// (a malformed Content-Range).
void ReadResponseHead(TInputBuffer& in, THTTPResponse& response, size_t maxLineLength);

// Content-Length as a number: -1 when not a number; raises EHTTPInvalidResponse
// when it is negative, beyond 64 bits, or the lines disagree.
int64_t ParseContentLength(const std::vector<std::string>& values);
// A chunk-size line: the hexadecimal size before any chunk extension (";" or a
// blank). Raises EHTTPInvalidResponse when that is not a hexadecimal number, is
// negative or is beyond 64 bits.
int64_t ParseChunkSize(const std::string& line);

// 1xx answers are interim: the final answer follows them on the same connection.
inline bool IsInterimStatus(int32_t code) { return code >= 100 && code <= 199; }

// The progress counters of one work mode and the events they raise. Only the
// outermost Begin/End of a mode raises events.
class TWorkCounter {
 public:
  std::function<void(TWorkMode mode, int64_t countMax)> OnBegin;
  std::function<void(TWorkMode mode, int64_t count)> OnWork;
  std::function<void(TWorkMode mode)> OnEnd;

  void Begin(TWorkMode mode, int64_t countMax);
  void Work(TWorkMode mode, int64_t delta);
  void End(TWorkMode mode);
  int32_t Level(TWorkMode mode) const { return info_[Index(mode)].level; }
  int64_t CountMax(TWorkMode mode) const { return info_[Index(mode)].countMax; }
  int64_t Count(TWorkMode mode) const { return info_[Index(mode)].count; }

 private:
  static int Index(TWorkMode m) { return m == TWorkMode::wmRead ? 0 : 1; }
  struct Info {
    int32_t level = 0;
    int64_t countMax = 0, count = 0;
  } info_[2];
};

struct TBodyOptions {
  size_t recvBufferSize = 65536;
  size_t maxLineLength = 16384;
  // The most body bytes taken; -1 for no limit. With exactSize the body must
  // have exactly that many.
  int64_t maxSize = -1;
  bool exactSize = false;
};

// What a body read took: its bytes, and whether it ended where its framing says
// (every announced byte, the last chunk, or the close of a body without either).
struct TBodyResult {
  int64_t Bytes = 0;
  bool Complete = false;
};

// Reads the body the response announces into dest at its position, raising the
// read events on work. A body cut short by the peer's close ends without an error
// and incomplete (length framing) or with EConnClosedGracefully (chunked framing,
// before the last chunk).
// With options.maxSize: a larger Content-Length or chunk is refused before any
// byte of it is read, a body that grows past the limit is refused as it passes
// it, and dest is never sized beyond it (EBodySizeError); with exactSize also a
// Content-Length other than the size, and a body that ends short of it.
TBodyResult ReadResponseBody(TInputBuffer& in, const THTTPResponse& response, TStream& dest, TWorkCounter& work,
                             const TBodyOptions& options);

// Reads the body of a refused answer as its error text: the first 64 KB kept,
// read to its end only while that is short (1 MB), each portion within 2000 ms
// (else EReadTimeout). False when the rest was left unread: the connection
// cannot carry another request.
bool ReadRefusedBody(TInputBuffer& in, const THTTPResponse& answer, TWorkCounter& work, const TBodyOptions& framing,
                     std::string& body);

// A sink for the body of a refused answer: keeps the first `limit` bytes and
// counts the rest, so a huge error page cannot exhaust memory.
class TCappedTextStream : public TStream {
 public:
  explicit TCappedTextStream(size_t limit) : limit_(limit) {}
  int64_t Read(void* buffer, int64_t count) override { return 0; }
  void Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const std::string& Text() const { return text_; }

 private:
  size_t limit_;
  std::string text_;
  int64_t pos_ = 0, size_ = 0;
};

}  // namespace net
