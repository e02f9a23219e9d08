// A download that outlives a poor line: cut by the network, it goes on where it
// stopped with "Range: bytes=N-" and If-Range (the ETag, else the Last-Modified
// date, so that a file changed meanwhile comes whole instead of spliced), after
// waits of 1, 2, 4 and 8 seconds and a little more at random, or as long as a
// 503's Retry-After asks (within a bound). An answer that does not continue what
// was fetched starts it over: a 200, a 206 whose range does not start where we
// stopped or whose total differs, a 416. Other refusals (4xx, redirects) end it
// at once, as do errors of the address, of TLS, of the destination and Abort.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "net/net_errors.h"
#include "platform/stream.h"

namespace net {

class THTTPClient;

// The download stopped short of its size on every attempt.
class EIncompleteDownload : public ENetException {
 public:
  explicit EIncompleteDownload(std::string message) : ENetException(std::move(message)) {}
};

struct TRetryEvent {
  int Attempt = 0;       // the attempt about to start, 2 and on
  int32_t WaitMs = 0;    // before it
  int64_t ResumeAt = 0;  // bytes kept; 0 when it starts over
  std::string Reason;    // what ended the one before
};

struct TDownloadOptions {
  // The size the whole body must have (a published package), -1 when not known;
  // else at most MaxBodySize bytes (-1: no limit). Both count for the whole body,
  // whichever attempt brings its bytes: a body that would pass them is stopped
  // before a byte too many is written.
  int64_t ExpectedSize = -1;
  int64_t MaxBodySize = -1;
  int MaxAttempts = 5;
  // The wait after the first, second... failed attempt; the last one repeats.
  std::vector<int32_t> WaitsMs = {1000, 2000, 4000, 8000};
  // Each wait grows by up to this share at random, so that clients cut off
  // together do not come back together.
  int32_t JitterPercent = 20;
  // A Retry-After beyond this waits this long.
  int32_t MaxRetryAfterMs = 30000;
  // The wait itself: the client's Pause (Abort ends it) unless a caller puts
  // another in its place.
  std::function<void(int32_t ms)> Sleep;
  // Told before each attempt after the first.
  std::function<void(const TRetryEvent& event)> OnRetry;
};

struct TDownloadResult {
  int Attempts = 0;
  int64_t Size = 0;
  // Every byte the answers announced is there (a body without a length: it ended).
  bool Complete = false;
};

// GETs url with client into dest from dest's position on, in up to
// options.MaxAttempts requests, and returns once every byte is there. The
// client's work events count the whole body, from where an attempt resumes (the
// bodies of refused answers raise none); the client's rate rule counts over all
// the attempts. dest must let itself be cut back to where it started
// (THashingStream does: its hash then starts again).
// Raises the last attempt's error, EIncompleteDownload when the body stayed
// short, the first error that ends it at once otherwise.
TDownloadResult DownloadWithRetries(THTTPClient& client, const std::string& url, TStream& dest,
                                    const TDownloadOptions& options = TDownloadOptions());

// The wait a Retry-After value asks for, in milliseconds: seconds, or an HTTP
// date (RFC 9110 section 5.6.7, all three forms) counted from serverDate (the
// answer's Date; the local clock when it has none). -1 when it cannot be read;
// never below 0.
int64_t RetryAfterMs(const std::string& value, const std::string& serverDate, int64_t nowUtc);
// Seconds since 1970 of an HTTP date; false when it cannot be read.
bool ParseHttpDate(const std::string& text, int64_t& seconds);

}  // namespace net
