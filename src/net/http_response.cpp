#include "net/http_response.h"

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "base/scope_exit.h"
#include "base/text.h"
#include "net/net_errors.h"

namespace net {
namespace {

constexpr int64_t kInt64Max = std::numeric_limits<int64_t>::max();
// The most of a refused answer's body kept as its error message.
constexpr size_t kMaxErrorBody = 64 * 1024;
// The most of a refused answer's body read at all.
constexpr int64_t kMaxRefusedBody = 1024 * 1024;
// How long the body of a refused answer may keep us waiting between portions.
constexpr int32_t kRefusedBodyTimeoutMs = 2000;

// The second blank-separated word of the status line as a number, -1 otherwise.
int32_t StatusCodeOf(const std::string& line) {
  size_t a = line.find(' ');
  if (a == std::string::npos) return -1;
  size_t b = line.find(' ', a + 1);
  std::string word = line.substr(a + 1, b == std::string::npos ? std::string::npos : b - a - 1);
  int32_t code;
  return !word.empty() && text::TryStrToInt(word, code) ? code : -1;
}

// "bytes first-last/length": anything else fails with the number reader's error.
// RFC 9110 section 14.4: a "*" length is one the server does not know, a "*"
// range answers a request that could not be satisfied ("bytes */length").
// The number reader's, with the server's text shown as any other.
int64_t RangeNumber(const std::string& s) {
  int64_t n;
  if (!text::TryStrToInt64(s, n)) throw EConvertError("'" + ServerText(s) + "' is not a valid integer value");
  return n;
}

void ParseContentRange(THTTPResponse& r) {
  if (r.ContentRange.empty()) return;
  std::string s = r.ContentRange;
  size_t blank = s.find(' ');
  if (blank != std::string::npos) s = s.substr(blank + 1);
  size_t slash = s.find('/');
  std::string range = s.substr(0, slash);
  std::string length = slash == std::string::npos ? "" : s.substr(slash + 1);
  if (range != "*") {
    size_t dash = range.find('-');
    r.ContentRangeStart = RangeNumber(range.substr(0, dash));
    r.ContentRangeEnd = RangeNumber(dash == std::string::npos ? "" : range.substr(dash + 1));
  }
  r.ContentRangeInstanceLength = length == "*" ? 0 : RangeNumber(length);
}

void FillFields(THTTPResponse& r) {
  const THeaderList& h = r.RawHeaders;
  r.ContentLength = ParseContentLength(h.AllValues("Content-Length"));
  r.Location = h.Values("Location");
  r.Connection = h.Values("Connection");
  r.ProxyConnection = h.Values("Proxy-Connection");
  r.TransferEncoding = h.Values("Transfer-Encoding");
  r.ContentType = h.Values("Content-Type");
  r.ContentRange = h.Values("Content-Range");
  r.WWWAuthenticate = h.AllValues("WWW-Authenticate");
  r.ProxyAuthenticate = h.AllValues("Proxy-Authenticate");
  r.Date = h.Values("Date");
  r.Expires = h.Values("Expires");
  r.LastModified = h.Values("Last-Modified");
  ParseContentRange(r);
}

// Copies up to length bytes (fewer when the peer closes first) into dest as it
// stands, counting them on work; returns the bytes taken.
int64_t CopyBody(TInputBuffer& in, int64_t length, TStream& dest, TWorkCounter& work, std::vector<char>& block) {
  int64_t remaining = length;
  while (remaining > 0) {
    size_t want = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(block.size())));
    size_t n = in.ReadSome(block.data(), want);
    if (n == 0) break;  // closed early: the caller compares the counts
    dest.Write(block.data(), static_cast<int64_t>(n));
    remaining -= static_cast<int64_t>(n);
    work.Work(TWorkMode::wmRead, static_cast<int64_t>(n));
  }
  return length - remaining;
}

// Reads exactly length bytes (fewer when the peer closes first) as one transfer.
void ReadLengthBody(TInputBuffer& in, int64_t length, TStream& dest, TWorkCounter& work, std::vector<char>& block) {
  work.Begin(TWorkMode::wmRead, length);
  base::TScopeExit end([&] { work.End(TWorkMode::wmRead); });

  int64_t start = dest.Position();
  if (length > kInt64Max - start) throw EHTTPInvalidResponse("Content length too large: " + text::IntToStr(length));
  // Size the destination once, so a file is not grown block by block.
  try {
    dest.SetSize(start + length);
  } catch (const std::bad_alloc&) {
    throw EStreamError("Out of memory while sizing the stream");
  } catch (const std::length_error&) {
    throw EStreamError("Out of memory while sizing the stream");
  }
  // The stream keeps what was written, not the presized rest.
  base::TScopeExit cut([&] {
    try {
      dest.SetSize(dest.Position());
    } catch (const Exception&) {
      // The error that ended the body is the one to report.
    }
  });
  if (CopyBody(in, length, dest, work, block) == length) cut.Dismiss();
}

[[noreturn]] void FailTooLong(const TBodyOptions& o) {
  throw EBodySizeError("The server sends more than the " + text::IntToStr(o.maxSize) + " bytes " +
                       (o.exactSize ? "expected." : "accepted."));
}

// Returns the bytes taken.
int64_t ReadChunkedBody(TInputBuffer& in, TStream& dest, TWorkCounter& work, const TBodyOptions& o,
                        std::vector<char>& block) {
  std::string line;
  int64_t total = 0;
  // Chunks are gathered in block and written a block at a time: a body of many
  // small chunks costs one write per block, not one per chunk. What was taken
  // is written on every way out, a failure's too.
  size_t fill = 0;
  auto flush = [&] {
    if (fill > 0) dest.Write(block.data(), static_cast<int64_t>(fill));
    fill = 0;
  };
  base::TScopeExit keep([&] {
    try {
      flush();
    } catch (const Exception&) {
      // The error that ended the body is the one to report.
    }
  });
  for (;;) {
    if (!in.ReadLn(line, o.maxLineLength)) throw EConnClosedGracefully();
    int64_t size = ParseChunkSize(line);
    if (size == 0) break;
    if (o.maxSize >= 0 && size > o.maxSize - total) FailTooLong(o);
    // Each chunk is a transfer of its own; the file grows as it is written,
    // neither sized nor cut per chunk.
    work.Begin(TWorkMode::wmRead, size);
    base::TScopeExit end([&] { work.End(TWorkMode::wmRead); });
    for (int64_t remaining = size; remaining > 0;) {
      if (fill == block.size()) flush();
      const size_t want = static_cast<size_t>(std::min<int64_t>(remaining, static_cast<int64_t>(block.size() - fill)));
      const size_t n = in.ReadSome(block.data() + fill, want);
      if (n == 0) throw EConnClosedGracefully();  // cut inside a chunk
      fill += n;
      total += static_cast<int64_t>(n);
      remaining -= static_cast<int64_t>(n);
      work.Work(TWorkMode::wmRead, static_cast<int64_t>(n));
    }
    // The line end after the chunk's data; the peer closing here cut the body.
    if (!in.ReadLn(line, o.maxLineLength)) throw EConnClosedGracefully();
  }
  flush();
  keep.Dismiss();
  // The line that ends the body (trailers are not read). All data has arrived,
  // so a peer that closes instead of sending it does not fail the transfer.
  in.ReadLn(line, o.maxLineLength);
  return total;
}

// Until the peer closes. Only whole blocks are counted: the short last block,
// taken when the close is seen, is written but not reported as work. Returns
// the bytes taken.
int64_t ReadUntilClose(TInputBuffer& in, TStream& dest, TWorkCounter& work, const TBodyOptions& o,
                       std::vector<char>& block) {
  work.Begin(TWorkMode::wmRead, 0);
  base::TScopeExit end([&] { work.End(TWorkMode::wmRead); });
  size_t fill = 0;
  int64_t total = 0;
  for (;;) {
    size_t n = in.ReadSome(block.data() + fill, block.size() - fill);
    if (n == 0) break;
    total += static_cast<int64_t>(n);
    // Checked before the block is written: nothing beyond the limit is kept.
    if (o.maxSize >= 0 && total > o.maxSize) FailTooLong(o);
    fill += n;
    if (fill == block.size()) {
      dest.Write(block.data(), static_cast<int64_t>(fill));
      work.Work(TWorkMode::wmRead, static_cast<int64_t>(fill));
      fill = 0;
    }
  }
  if (fill > 0) dest.Write(block.data(), static_cast<int64_t>(fill));
  return total;
}

}  // namespace

int64_t ParseContentLength(const std::vector<std::string>& values) {
  int64_t result = -1;
  bool seen = false;
  for (const auto& v : values) {
    // RFC 9112 section 6.3: a list of equal values may stand for one.
    size_t from = 0;
    for (;;) {
      size_t comma = v.find(',', from);
      std::string item = text::Trim(v.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
      int64_t n = -1;
      // A signed number is refused; anything else that is not one means no length.
      const bool sign = !item.empty() && (item[0] == '+' || item[0] == '-');
      if (text::AllDigits(sign ? item.substr(1) : item)) {
        if (item[0] == '-') throw EHTTPInvalidResponse("Invalid Content-Length: " + ServerText(item));
        if (!text::TryStrToInt64(item, n)) throw EHTTPInvalidResponse("Invalid Content-Length: " + ServerText(item));
      }
      if (seen && n != result) throw EHTTPInvalidResponse("Conflicting Content-Length values");
      result = n;
      seen = true;
      if (comma == std::string::npos) break;
      from = comma + 1;
    }
  }
  return result;
}

int64_t ParseChunkSize(const std::string& line) {
  // RFC 9112 section 7.1.1: chunk extensions follow the size after ";", optionally
  // after blanks.
  std::string t = line.substr(0, line.find_first_of("; \t"));
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.erase(0, 1);
  // A size that cannot be read would end the body early and pass a cut-off file
  // as complete.
  if (t.empty()) throw EHTTPInvalidResponse("Invalid chunk size: " + ServerText(line));
  uint64_t v = 0;
  for (char c : t) {
    const int d = text::HexDigitValue(c);
    if (d < 0 || v > (static_cast<uint64_t>(kInt64Max) - static_cast<uint64_t>(d)) / 16)
      throw EHTTPInvalidResponse("Invalid chunk size: " + ServerText(line));
    v = v * 16 + static_cast<uint64_t>(d);
  }
  if (negative && v != 0) throw EHTTPInvalidResponse("Invalid chunk size: " + ServerText(line));
  return static_cast<int64_t>(v);
}

void ReadResponseHead(TInputBuffer& in, THTTPResponse& r, size_t maxLineLength) {
  r.Clear();
  std::string line;
  if (!in.ReadLn(line, maxLineLength)) throw EConnClosedGracefully();
  r.ResponseText = line;
  r.ResponseCode = StatusCodeOf(line);
  std::string version = text::Copy(line, 6, 3);
  if (version == "1.0") r.ResponseVersion = THTTPProtocolVersion::pv1_0;
  if (version == "1.1") r.ResponseVersion = THTTPProtocolVersion::pv1_1;

  size_t count = 0;
  for (;;) {
    if (!in.ReadLn(line, maxLineLength)) {
      r.HeadersCutShort = true;  // use what arrived
      break;
    }
    if (line.empty()) break;
    if (++count > kMaxHeaderLines) throw EHTTPInvalidResponse("Too many header lines.");
    r.RawHeaders.AddReceivedLine(line);
  }
  FillFields(r);
}

void TWorkCounter::Begin(TWorkMode mode, int64_t countMax) {
  Info& i = info_[Index(mode)];
  if (++i.level == 1) {
    i.countMax = countMax;
    i.count = 0;
    if (OnBegin) OnBegin(mode, countMax);
  }
}

void TWorkCounter::Work(TWorkMode mode, int64_t delta) {
  Info& i = info_[Index(mode)];
  if (i.level > 0) {
    i.count += delta;
    if (OnWork) OnWork(mode, i.count);
  }
}

void TWorkCounter::End(TWorkMode mode) {
  Info& i = info_[Index(mode)];
  if (i.level == 1 && OnEnd) OnEnd(mode);
  if (i.level > 0) --i.level;
}

TBodyResult ReadResponseBody(TInputBuffer& in, const THTTPResponse& r, TStream& dest, TWorkCounter& work,
                             const TBodyOptions& o) {
  const bool limited = o.maxSize >= 0;
  // Refused on the announcement alone, before anything is sized or read.
  if (limited && r.ContentLength > o.maxSize)
    throw EBodySizeError("The server announces " + text::IntToStr(r.ContentLength) + " bytes; " +
                         (o.exactSize ? text::IntToStr(o.maxSize) + " were expected."
                                      : "at most " + text::IntToStr(o.maxSize) + " are accepted."));
  if (limited && o.exactSize && r.HasContentLength() && r.ContentLength != o.maxSize)
    throw EBodySizeError("The server announces " + text::IntToStr(r.ContentLength) + " bytes; " +
                         text::IntToStr(o.maxSize) + " were expected.");
  TBodyResult result;
  // A chunked body and one read until the close are whole once they end without an error.
  result.Complete = true;
  if (r.ContentLength > 0) {
    std::vector<char> block(o.recvBufferSize == 0 ? 1 : o.recvBufferSize);
    const int64_t before = dest.Position();
    ReadLengthBody(in, r.ContentLength, dest, work, block);
    result.Bytes = dest.Position() - before;
    result.Complete = result.Bytes == r.ContentLength;
  } else if (r.ContentLength < 0) {
    std::vector<char> block(o.recvBufferSize == 0 ? 1 : o.recvBufferSize);
    if (text::LowerCase(r.TransferEncoding).find("chunked") != std::string::npos)
      result.Bytes = ReadChunkedBody(in, dest, work, o, block);
    else
      result.Bytes = ReadUntilClose(in, dest, work, o, block);
  }
  if (limited && o.exactSize && result.Bytes != o.maxSize)
    throw EBodySizeError("The server sent " + text::IntToStr(result.Bytes) + " bytes; " + text::IntToStr(o.maxSize) +
                         " were expected.");
  return result;
}

bool ReadRefusedBody(TInputBuffer& in, const THTTPResponse& answer, TWorkCounter& work, const TBodyOptions& framing,
                     std::string& body) {
  TCappedTextStream sink(kMaxErrorBody);
  const int32_t saved = in.Timeout();
  in.SetTimeout(kRefusedBodyTimeoutMs);
  base::TScopeExit restore([&] { in.SetTimeout(saved); });
  // The rest of a long or endless one is left unread with the connection.
  TBodyOptions o = framing;
  o.maxSize = kMaxRefusedBody;
  o.exactSize = false;
  bool whole = true;
  try {
    ReadResponseBody(in, answer, sink, work, o);
  } catch (const EBodySizeError&) {
    whole = false;
  }
  body = sink.Text();
  return whole;
}

void TCappedTextStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return;
  if (pos_ < static_cast<int64_t>(limit_)) {
    size_t at = static_cast<size_t>(pos_);
    size_t n = static_cast<size_t>(std::min<int64_t>(count, static_cast<int64_t>(limit_ - at)));
    if (text_.size() < at + n) text_.resize(at + n);
    text_.replace(at, n, static_cast<const char*>(buffer), n);
  }
  pos_ += count;
  size_ = std::max(size_, pos_);
}

int64_t TCappedTextStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos_ : size_;
  if (base + offset < 0) throw EStreamError("Invalid stream position");
  pos_ = base + offset;
  return pos_;
}

void TCappedTextStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Invalid stream size");
  size_ = size;
  if (static_cast<int64_t>(text_.size()) > size) text_.resize(static_cast<size_t>(size));
  if (pos_ > size) pos_ = size;
}

}  // namespace net
