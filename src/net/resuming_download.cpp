#include "net/resuming_download.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "base/log.h"
#include "base/text.h"
#include "net/http_client.h"
#include "net/statement.h"

namespace net {
namespace {

// The answer does not continue what was fetched: start again from the first byte.
class EStartOver : public Exception {
 public:
  using Exception::Exception;
};

void Log(const std::string& event) { logging::Log("Download: " + event); }

// A line that failed may do better on another connection. A stalled or too slow
// transfer is given up at once: its rule counts over every attempt already, so
// another would only be found out again.
bool Retryable(const Exception& e) {
  return dynamic_cast<const ESocketError*>(&e) || dynamic_cast<const EConnClosedGracefully*>(&e) ||
         dynamic_cast<const EReadTimeout*>(&e);
}

int32_t Jittered(int32_t ms, int32_t percent) {
  if (ms <= 0 || percent <= 0) return std::max(ms, 0);
  static thread_local std::minstd_rand random{std::random_device{}()};
  const int64_t extra = static_cast<int64_t>(ms) * percent / 100;
  return static_cast<int32_t>(ms + std::uniform_int_distribution<int64_t>(0, extra)(random));
}

// A validator If-Range may carry: a strong ETag (RFC 9110 section 13.1.5), else
// the Last-Modified date.
std::string Validator(const THTTPResponse& r) {
  const std::string etag = text::Trim(r.RawHeaders.Values("ETag"));
  if (!etag.empty() && !text::StartsText("W/", etag)) return etag;
  return text::Trim(r.LastModified);
}

}  // namespace

TDownloadResult DownloadWithRetries(THTTPClient& client, const std::string& url, TStream& dest,
                                    const TDownloadOptions& options) {
  const int64_t start = dest.Position();
  const int64_t expected = options.ExpectedSize;
  const int64_t limit = expected >= 0 ? expected : options.MaxBodySize;
  int64_t have = 0;    // bytes of the body in dest
  int64_t total = -1;  // its size, once an answer has said it
  std::string validator;

  auto startOver = [&] {
    dest.SetSize(start);
    dest.SetPosition(start);
    have = 0;
    total = -1;
    validator.clear();
  };
  auto knownSize = [&] { return total >= 0 ? total : expected; };

  TDownloadResult result;
  for (int attempt = 1;; ++attempt) {
    result.Attempts = attempt;
    const bool resuming = have > 0;
    TGetOptions request;
    request.Range = resuming ? "bytes=" + text::IntToStr(have) + "-" : "";
    request.IfRange = resuming ? validator : "";
    request.RefusalProgress = false;
    request.ContinuesTransfer = attempt > 1;
    request.OnHeaders = [&](const THTTPResponse& r, TGetOptions& body) {
      int64_t offset = 0;  // where this body begins in the whole
      if (resuming && r.ResponseCode == 206) {
        const int64_t whole = r.ContentRangeInstanceLength;
        if (r.ContentRange.empty() || r.ContentRangeStart != have || (knownSize() >= 0 && whole != knownSize()))
          throw EStartOver("the server's range (" + (r.ContentRange.empty() ? "none" : ServerText(r.ContentRange)) +
                           ") does not continue at byte " + text::IntToStr(have));
        total = whole > 0 ? whole : total;
        offset = have;
      } else {
        if (r.ResponseCode == 206)
          throw EHTTPInvalidResponse("The server sent a part (" + ServerText(r.ContentRange) +
                                     ") where the whole was asked for.");
        if (resuming) {
          Log("the server sends the whole body again; starting over");
          startOver();
        }
        total = r.HasContentLength() ? r.ContentLength : -1;
        if (expected >= 0 && total >= 0 && total != expected)
          throw EBodySizeError("The server announces " + text::IntToStr(total) + " bytes; " + text::IntToStr(expected) +
                               " were expected.");
        validator = Validator(r);
      }
      // The limits of the whole body, less what is already there.
      body.MaxBodySize = limit >= 0 ? limit - have : -1;
      body.ProgressBase = offset;
    };

    std::string reason;
    int32_t wait = -1;
    try {
      const TGetResult got = client.Get(url, dest, request);
      have = dest.Position() - start;
      if (knownSize() < 0 || have >= knownSize()) {
        if (expected >= 0 && have != expected)
          throw EBodySizeError("The server sent " + text::IntToStr(have) + " bytes; " + text::IntToStr(expected) +
                               " were expected.");
        result.Size = have;
        result.Complete = got.Complete || have == knownSize();
        Log("complete: " + text::IntToStr(have) + " bytes in " + std::to_string(attempt) +
            (attempt == 1 ? " attempt" : " attempts"));
        return result;
      }
      reason = "the connection ended at " + text::IntToStr(have) + " of " + text::IntToStr(knownSize()) + " bytes";
      if (attempt >= options.MaxAttempts)
        throw EIncompleteDownload("The download stopped at " + text::IntToStr(have) + " of " +
                                  text::IntToStr(knownSize()) + " bytes after " + std::to_string(attempt) +
                                  " attempts.");
    } catch (const EStartOver& e) {
      client.Disconnect();
      reason = e.Message;
      startOver();
      wait = 0;  // nothing is wrong with the line
      if (attempt >= options.MaxAttempts) throw EIncompleteDownload("The download could not be resumed: " + reason);
    } catch (const EHTTPProtocolException& e) {
      const int32_t code = e.ReplyErrorCode;
      if (code == 416 && resuming) {
        // The range is past the end of the file as it now is.
        reason = e.Message;
        startOver();
        wait = 0;
      } else if (code >= 500 && code <= 599) {
        reason = e.Message;
        const std::string retryAfter = client.Response.RawHeaders.Values("Retry-After");
        const int64_t asked =
            code == 503 && !retryAfter.empty() ? RetryAfterMs(retryAfter, client.Response.Date, NowUtc()) : -1;
        if (asked >= 0) wait = static_cast<int32_t>(std::min<int64_t>(asked, options.MaxRetryAfterMs));
      } else {
        throw;
      }
      have = dest.Position() - start;
      if (attempt >= options.MaxAttempts) throw;
    } catch (const Exception& e) {
      if (!Retryable(e) || attempt >= options.MaxAttempts) throw;
      reason = text::StringReplace(e.Message, "\r\n", " ");
      have = dest.Position() - start;
    }

    if (wait < 0) {
      const auto& waits = options.WaitsMs;
      const int32_t base = waits.empty() ? 0 : waits[std::min<size_t>(attempt - 1, waits.size() - 1)];
      wait = Jittered(base, options.JitterPercent);
    }
    TRetryEvent event;
    event.Attempt = attempt + 1;
    event.WaitMs = wait;
    event.ResumeAt = have;
    event.Reason = reason;
    Log("attempt " + std::to_string(attempt) + " of " + std::to_string(options.MaxAttempts) + " ended: " + reason +
        "; " + (have > 0 ? "resuming at byte " + text::IntToStr(have) : "starting over") + " in " +
        std::to_string(wait) + " ms");
    if (options.OnRetry) options.OnRetry(event);
    if (wait > 0) {
      if (options.Sleep)
        options.Sleep(wait);
      else
        client.Pause(wait);
    }
  }
}

bool ParseHttpDate(const std::string& value, int64_t& seconds) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  std::vector<int64_t> numbers;
  int month = 0;
  bool monthFirst = false;  // asctime's order: month, day, time, year
  std::string word;
  for (size_t i = 0; i <= value.size(); ++i) {
    const char c = i < value.size() ? value[i] : ' ';
    if (c != ' ' && c != ',' && c != '-' && c != ':' && c != '\t') {
      word += c;
      continue;
    }
    if (word.empty()) continue;
    int64_t n;
    if (word.find_first_not_of("0123456789") == std::string::npos && text::TryStrToInt64(word, n)) {
      numbers.push_back(n);
    } else {
      for (int m = 0; m < 12; ++m)
        if (text::SameText(word, kMonths[m])) {
          month = m + 1;
          monthFirst = numbers.empty();
        }
    }
    word.clear();
  }
  if (month == 0 || numbers.size() != 5) return false;
  const int64_t day = numbers[0];
  int64_t year = monthFirst ? numbers[4] : numbers[1];
  const int64_t h = numbers[monthFirst ? 1 : 2], m = numbers[monthFirst ? 2 : 3], s = numbers[monthFirst ? 3 : 4];
  // A two-digit year (RFC 850) is taken as the nearest one.
  if (year < 100) year += year < 70 ? 2000 : 1900;
  if (year > 9999 || day > 31 || h > 23 || m > 59 || s > 60) return false;
  char date[32];
  std::snprintf(date, sizeof date, "%04d-%02d-%02d", static_cast<int>(year), month, static_cast<int>(day));
  int64_t days;
  if (!ParseDate(date, days)) return false;
  seconds = days * 86400 + h * 3600 + m * 60 + s;
  return true;
}

int64_t RetryAfterMs(const std::string& value, const std::string& serverDate, int64_t nowUtc) {
  const std::string v = text::Trim(value);
  int64_t n;
  if (!v.empty() && v.find_first_not_of("0123456789") == std::string::npos)
    return text::TryStrToInt64(v, n) ? std::min<int64_t>(n, INT32_MAX / 1000) * 1000 : INT32_MAX;
  int64_t at, now = nowUtc;
  if (!ParseHttpDate(v, at)) return -1;
  // The server's own clock, when it says it, is the one the date was written by.
  ParseHttpDate(serverDate, now);
  return std::max<int64_t>(at - now, 0) * 1000;
}

}  // namespace net
