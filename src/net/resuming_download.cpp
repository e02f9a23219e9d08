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

// One download over its attempts: what of the body is in dest, and what the
// answers said of the whole.
class TResumingDownload {
 public:
  TResumingDownload(THTTPClient& client, const std::string& url, TStream& dest, const TDownloadOptions& options)
      : client_(client),
        url_(url),
        dest_(dest),
        options_(options),
        start_(dest.Position()),
        limit_(options.ExpectedSize >= 0 ? options.ExpectedSize : options.MaxBodySize) {}

  TDownloadResult Run() {
    TDownloadResult result;
    for (int attempt = 1;; ++attempt) {
      result.Attempts = attempt;
      std::string reason;
      int32_t wait = -1;
      if (Attempt(attempt, result, reason, wait)) return result;
      WaitBefore(attempt + 1, wait, reason);
    }
  }

 private:
  int64_t KnownSize() const { return total_ >= 0 ? total_ : options_.ExpectedSize; }

  void StartOver() {
    dest_.SetSize(start_);
    dest_.SetPosition(start_);
    have_ = 0;
    total_ = -1;
    validator_.clear();
  }

  TGetOptions Request(int attempt) {
    const bool resuming = have_ > 0;
    TGetOptions request;
    request.Range = resuming ? "bytes=" + text::IntToStr(have_) + "-" : "";
    request.IfRange = resuming ? validator_ : "";
    request.RefusalProgress = false;
    request.ContinuesTransfer = attempt > 1;
    request.OnHeaders = [this, resuming](const THTTPResponse& r, TGetOptions& body) { TakeHead(r, resuming, body); };
    return request;
  }

  // Whether an answer continues what was fetched; the limits of its body.
  void TakeHead(const THTTPResponse& r, bool resuming, TGetOptions& body) {
    int64_t offset = 0;  // where this body begins in the whole
    if (resuming && r.ResponseCode == 206) {
      const int64_t whole = r.ContentRangeInstanceLength;
      if (r.ContentRange.empty() || r.ContentRangeStart != have_ || (KnownSize() >= 0 && whole != KnownSize()))
        throw EStartOver("the server's range (" + (r.ContentRange.empty() ? "none" : ServerText(r.ContentRange)) +
                         ") does not continue at byte " + text::IntToStr(have_));
      total_ = whole > 0 ? whole : total_;
      offset = have_;
    } else {
      if (r.ResponseCode == 206)
        throw EHTTPInvalidResponse("The server sent a part (" + ServerText(r.ContentRange) +
                                   ") where the whole was asked for.");
      if (resuming) {
        Log("the server sends the whole body again; starting over");
        StartOver();
      }
      total_ = r.HasContentLength() ? r.ContentLength : -1;
      if (options_.ExpectedSize >= 0 && total_ >= 0 && total_ != options_.ExpectedSize)
        throw EBodySizeError("The server announces " + text::IntToStr(total_) + " bytes; " +
                             text::IntToStr(options_.ExpectedSize) + " were expected.");
      validator_ = Validator(r);
    }
    // The limits of the whole body, less what is already there.
    body.MaxBodySize = limit_ >= 0 ? limit_ - have_ : -1;
    body.ProgressBase = offset;
  }

  // One attempt: true with result filled when the body is whole, else false
  // with why it ended and the wait it asks for (-1: the usual one). Raises what
  // ends the download.
  bool Attempt(int attempt, TDownloadResult& result, std::string& reason, int32_t& wait) {
    const bool last = attempt >= options_.MaxAttempts;
    const bool resuming = have_ > 0;
    try {
      const TGetResult got = client_.Get(url_, dest_, Request(attempt));
      have_ = dest_.Position() - start_;
      if (KnownSize() >= 0 && have_ < KnownSize()) {
        reason = "the connection ended at " + text::IntToStr(have_) + " of " + text::IntToStr(KnownSize()) + " bytes";
        if (last)
          throw EIncompleteDownload("The download stopped at " + text::IntToStr(have_) + " of " +
                                    text::IntToStr(KnownSize()) + " bytes after " + std::to_string(attempt) +
                                    " attempts.");
        return false;
      }
      Finish(attempt, got, result);
      return true;
    } catch (const EStartOver& e) {
      client_.Disconnect();
      reason = e.Message;
      StartOver();
      if (last) throw EIncompleteDownload("The download could not be resumed: " + reason);
      wait = 0;  // nothing is wrong with the line
    } catch (const EHTTPProtocolException& e) {
      wait = Refused(e, resuming, last, reason);
    } catch (const Exception& e) {
      if (!Retryable(e) || last) throw;
      reason = text::StringReplace(e.Message, "\r\n", " ");
      have_ = dest_.Position() - start_;
    }
    return false;
  }

  void Finish(int attempt, const TGetResult& got, TDownloadResult& result) {
    if (options_.ExpectedSize >= 0 && have_ != options_.ExpectedSize)
      throw EBodySizeError("The server sent " + text::IntToStr(have_) + " bytes; " +
                           text::IntToStr(options_.ExpectedSize) + " were expected.");
    result.Size = have_;
    result.Complete = got.Complete || have_ == KnownSize();
    Log("complete: " + text::IntToStr(have_) + " bytes in " + std::to_string(attempt) +
        (attempt == 1 ? " attempt" : " attempts"));
  }

  // A refused answer: a range past the end starts over, a server error waits
  // (as long as a 503 asks), anything else ends the download.
  int32_t Refused(const EHTTPProtocolException& e, bool resuming, bool last, std::string& reason) {
    const int32_t code = e.ReplyErrorCode;
    int32_t wait = -1;
    if (code == 416 && resuming) {
      // The range is past the end of the file as it now is.
      StartOver();
      wait = 0;
    } else if (code >= 500 && code <= 599) {
      const std::string retryAfter = client_.Response.RawHeaders.Values("Retry-After");
      const int64_t asked =
          code == 503 && !retryAfter.empty() ? RetryAfterMs(retryAfter, client_.Response.Date, NowUtc()) : -1;
      if (asked >= 0) wait = static_cast<int32_t>(std::min<int64_t>(asked, options_.MaxRetryAfterMs));
    } else {
      throw e;
    }
    reason = e.Message;
    have_ = dest_.Position() - start_;
    if (last) throw e;
    return wait;
  }

  void WaitBefore(int attempt, int32_t wait, const std::string& reason) {
    if (wait < 0) {
      const auto& waits = options_.WaitsMs;
      const int32_t base = waits.empty() ? 0 : waits[std::min<size_t>(attempt - 2, waits.size() - 1)];
      wait = Jittered(base, options_.JitterPercent);
    }
    TRetryEvent event;
    event.Attempt = attempt;
    event.WaitMs = wait;
    event.ResumeAt = have_;
    event.Reason = reason;
    Log("attempt " + std::to_string(attempt - 1) + " of " + std::to_string(options_.MaxAttempts) + " ended: " + reason +
        "; " + (have_ > 0 ? "resuming at byte " + text::IntToStr(have_) : "starting over") + " in " +
        std::to_string(wait) + " ms");
    if (options_.OnRetry) options_.OnRetry(event);
    if (wait <= 0) return;
    if (options_.Sleep)
      options_.Sleep(wait);
    else
      client_.Pause(wait);
  }

  THTTPClient& client_;
  const std::string& url_;
  TStream& dest_;
  const TDownloadOptions& options_;
  const int64_t start_;
  const int64_t limit_;
  int64_t have_ = 0;    // bytes of the body in dest
  int64_t total_ = -1;  // its size, once an answer has said it
  std::string validator_;
};

}  // namespace

TDownloadResult DownloadWithRetries(THTTPClient& client, const std::string& url, TStream& dest,
                                    const TDownloadOptions& options) {
  return TResumingDownload(client, url, dest, options).Run();
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
    if (text::TryDigitsToInt64(word, n)) {
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
  if (text::AllDigits(v))
    return text::TryDigitsToInt64(v, n) ? std::min<int64_t>(n, INT32_MAX / 1000) * 1000 : INT32_MAX;
  int64_t at, now = nowUtc;
  if (!ParseHttpDate(v, at)) return -1;
  // The server's own clock, when it says it, is the one the date was written by.
  ParseHttpDate(serverDate, now);
  return std::max<int64_t>(at - now, 0) * 1000;
}

}  // namespace net
