// Fuzz entry point for the HTTP response reader: the input is what a server sends.
// Byte 0 chooses how the memory source hands the rest out (bits 0-1: all at once,
// 1, 7 or 64 bytes per receive) and bit 2 a small receive block (17 bytes instead of
// the default), so lines and bodies get split at every place. The answer is read
// the way the client reads one: head blocks while the status is interim (1xx),
// then the body into the destination, or the refused answer's body into the
// capped error text.
//
// What must hold whatever the bytes: no memory fault, every failure is one of the
// program's exceptions (derived from Exception), a body of known length never
// grows the destination beyond that length, and the progress count of a transfer
// never passes its announced total.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/exception.h"
#include "fuzz/decoder_targets.h"
#include "net/http_response.h"
#include "net/input_buffer.h"
#include "support/memory_source.h"

namespace fuzz {

inline int RunHttpResponse(const uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const std::size_t kSteps[4] = {SIZE_MAX, 1, 7, 64};
  const uint8_t options = data[0];
  net::TMemorySource source(std::string(reinterpret_cast<const char*>(data) + 1, size - 1), kSteps[options & 3]);
  net::TBodyOptions body;
  if (options & 4) body.recvBufferSize = 17;
  net::TInputBuffer in(source, body.recvBufferSize);
  net::THTTPResponse response;
  net::TWorkCounter work;
  int64_t announced = 0;
  work.OnBegin = [&](net::TWorkMode, int64_t countMax) { announced = countMax; };
  work.OnWork = [&](net::TWorkMode, int64_t count) {
    Check(count > 0, "progress count not positive");
    if (announced > 0) Check(count <= announced, "progress beyond the announced total");
  };
  // Keeps a little and counts the rest, like the client's error text; so a huge
  // announced length costs no memory here either.
  net::TCappedTextStream dest(64 * 1024);
  try {
    int heads = 0;
    do {
      net::ReadResponseHead(in, response, body.maxLineLength);
      ++heads;
    } while (net::IsInterimStatus(response.ResponseCode));
    Check(response.ResponseText.size() <= body.maxLineLength, "status line beyond the line limit");
    Check(response.RawHeaders.Count() <= net::kMaxHeaderLines, "more header lines than the limit");
    Check(heads <= static_cast<int>(size), "more head blocks than input bytes");
    const int32_t code = response.ResponseCode;
    const bool success = code >= 200 && code <= 299 && !response.RawHeaders.Has("Location");
    if (!success || code != 204) net::ReadResponseBody(in, response, dest, work, body);
    if (response.ContentLength > 0) Check(dest.Position() <= response.ContentLength, "body longer than its length");
    Check(dest.Position() <= static_cast<int64_t>(size), "more body than input bytes");
  } catch (const Exception&) {
    // A clean refusal of the answer.
  }
  Check(work.Level(net::TWorkMode::wmRead) == 0, "a transfer left open");
  return 0;
}

}  // namespace fuzz
