// DownloadWithRetries against scripted servers on 127.0.0.1, one row per kind
// of poor line or server: what arrives, which requests went out, how long it
// waited (as the sleeper it was given recorded, so nothing really waits).
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "base/text.h"
#include "net/http_client.h"
#include "net/resuming_download.h"
#include "net/statement.h"
#include "scripted_server.h"

using namespace net;
using nettest::TScriptedServer;

namespace {

constexpr int64_t kMB = 1 << 20;

std::string Sha256Hex(const std::string& data) {
  TSha256 h;
  h.Update(data.data(), data.size());
  return TSha256::Hex(h.Finish());
}

// What a connection gets: its request, the body, the total.
struct Exchange {
  const std::string& request;
  const std::string& body;
  int index;
};
using Reply = std::function<std::string(const Exchange&)>;

// The first byte a request asks for (its Range), 0 without one.
int64_t RangeStart(const std::string& request) {
  const size_t at = request.find("\r\nRange: bytes=");
  return at == std::string::npos ? 0 : text::StrToInt64(request.substr(at + 15, request.find('-', at + 15) - at - 15));
}

std::string Whole(const std::string& body, const std::string& extra = "ETag: \"v1\"\r\n", size_t cut = 0) {
  return "HTTP/1.1 200 OK\r\nConnection: close\r\n" + extra + "Content-Length: " + std::to_string(body.size()) +
         "\r\n\r\n" + body.substr(0, cut ? cut : body.size());
}

std::string Part(const std::string& body, int64_t from, int64_t declaredFrom, size_t cut = 0) {
  const std::string rest = body.substr(static_cast<size_t>(from));
  return "HTTP/1.1 206 Partial Content\r\nConnection: close\r\nETag: \"v1\"\r\nContent-Range: bytes " +
         std::to_string(declaredFrom) + "-" + std::to_string(body.size() - 1) + "/" + std::to_string(body.size()) +
         "\r\nContent-Length: " + std::to_string(rest.size()) + "\r\n\r\n" + rest.substr(0, cut ? cut : rest.size());
}

struct Row {
  const char* name;
  size_t size;
  int connections;
  Reply reply;
  // Expected: the first bytes each request asked for (-1: no Range), the waits
  // before attempts 2.. as their base values, and whether it succeeds.
  std::vector<int64_t> ranges;
  std::vector<int32_t> waits;
  bool succeeds;
};

const Row kRows[] = {
    {"cut after 1 MB three times, Range honoured",
     3 * kMB + 12345,
     4,
     [](const Exchange& x) {
       const int64_t from = RangeStart(x.request);
       const size_t cut = x.index < 3 ? static_cast<size_t>(kMB) : 0;
       return from == 0 ? Whole(x.body, "ETag: \"v1\"\r\n", cut) : Part(x.body, from, from, cut);
     },
     {-1, kMB, 2 * kMB, 3 * kMB},
     {1000, 2000, 4000},
     true},
    {"200 to a Range request",
     2 * kMB,
     2,
     [](const Exchange& x) {
       return Whole(x.body, "Last-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n", x.index == 0 ? kMB : 0);
     },
     {-1, kMB},
     {1000},
     true},
    {"503 with Retry-After 2",
     300000,
     2,
     [](const Exchange& x) {
       return x.index == 0 ? "HTTP/1.1 503 Busy\r\nRetry-After: 2\r\nConnection: close\r\nContent-Length: 4\r\n\r\nbusy"
                           : Whole(x.body);
     },
     {-1, -1},
     {2000},
     true},
    {"404",
     1000,
     1,
     [](const Exchange&) {
       return std::string("HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
     },
     {-1},
     {},
     false},
    {"206 with a wrong start",
     2 * kMB,
     3,
     [](const Exchange& x) {
       if (x.index == 0) return Whole(x.body, "ETag: \"v1\"\r\n", kMB);
       if (x.index == 1) return Part(x.body, 0, 0, 1000);  // a part from 0, not from 1 MB
       return Whole(x.body);
     },
     {-1, kMB, -1},
     {1000, 0},
     true},
    {"cut every time",
     3 * kMB,
     5,
     [](const Exchange& x) {
       const int64_t from = RangeStart(x.request);
       const size_t cut = static_cast<size_t>(kMB / 2);
       return from == 0 ? Whole(x.body, "ETag: \"v1\"\r\n", cut) : Part(x.body, from, from, cut);
     },
     {-1, kMB / 2, kMB, 3 * kMB / 2, 2 * kMB},
     {1000, 2000, 4000, 8000},
     false},
};

}  // namespace

TEST(ResumingDownload, EveryRowOfTheTable) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    const std::string body = nettest::Pattern(row.size);
    std::vector<std::string> requests;
    TScriptedServer server(
        [&](net::TSocket& s, int index) {
          requests.push_back(nettest::ReadRequestHead(s));
          nettest::Send(s, row.reply(Exchange{requests.back(), body, index}));
        },
        row.connections);

    nettest::TLogCapture log;
    THTTPClient client;
    std::vector<int64_t> progress;
    int64_t announced = 0;
    client.OnWorkBegin = [&](THTTPClient*, TWorkMode, int64_t n) { announced = n; };
    client.OnWork = [&](THTTPClient*, TWorkMode, int64_t n) { progress.push_back(n); };
    TDownloadOptions options;
    options.ExpectedSize = static_cast<int64_t>(body.size());
    std::vector<int32_t> waits;
    options.Sleep = [&](int32_t ms) { waits.push_back(ms); };
    TMemoryStream file;
    THashingStream hashed(file);
    bool ok = true;
    try {
      TDownloadResult result = DownloadWithRetries(client, server.Url("/kestrova.zip"), hashed, options);
      EXPECT_EQ(result.Attempts, static_cast<int>(row.ranges.size()));
      EXPECT_EQ(result.Size, static_cast<int64_t>(body.size()));
      EXPECT_TRUE(result.Complete);
    } catch (const Exception& e) {
      ok = false;
      if (row.succeeds) ADD_FAILURE() << e.Message;
    }
    server.Join();
    EXPECT_EQ(ok, row.succeeds);
    ASSERT_EQ(requests.size(), row.ranges.size());
    for (size_t i = 0; i < requests.size(); ++i) {
      SCOPED_TRACE(requests[i]);
      const bool ranged = requests[i].find("\r\nRange: ") != std::string::npos;
      EXPECT_EQ(ranged ? RangeStart(requests[i]) : -1, row.ranges[i]);
      // A resume names the version it continues.
      if (ranged) {
        EXPECT_TRUE(requests[i].find("\r\nIf-Range: \"v1\"\r\n") != std::string::npos ||
                    requests[i].find("\r\nIf-Range: Sun, 06 Nov 1994 08:49:37 GMT\r\n") != std::string::npos);
      }
    }
    // Base values plus at most a fifth; a start-over does not wait.
    std::vector<int32_t> slept;
    for (int32_t w : row.waits)
      if (w > 0) slept.push_back(w);
    ASSERT_EQ(waits.size(), slept.size());
    for (size_t i = 0; i < waits.size(); ++i) {
      EXPECT_GE(waits[i], slept[i]);
      EXPECT_LE(waits[i], slept[i] + slept[i] / 5);
    }
    if (!row.succeeds) continue;
    EXPECT_TRUE(file.Data() == body);
    // The hash taken while writing is the whole package's, restarts and all.
    hashed.Check(TReleaseStatement{"K", "1", static_cast<int64_t>(body.size()), Sha256Hex(body), ""});
    // The log says what happened, attempt by attempt, and the statement's result.
    const std::string text = log.Text();
    EXPECT_NE(text.find("Download: complete: " + std::to_string(body.size()) + " bytes in " +
                        std::to_string(row.ranges.size())),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("Download: attempt 1 of 5 ended: ") != std::string::npos, row.ranges.size() > 1) << text;
    EXPECT_NE(text.find("The package is the one its release statement describes"), std::string::npos) << text;
    // The bar counts the whole package and ends full.
    EXPECT_EQ(announced, static_cast<int64_t>(body.size()));
    EXPECT_EQ(progress.back(), static_cast<int64_t>(body.size()));
  }
}

TEST(ResumingDownload, ProgressGoesOnFromWhereTheCutLeftIt) {
  const std::string body = nettest::Pattern(static_cast<size_t>(2 * kMB));
  TScriptedServer server(
      [&](net::TSocket& s, int index) {
        const std::string request = nettest::ReadRequestHead(s);
        const int64_t from = RangeStart(request);
        nettest::Send(s,
                      from == 0 ? Whole(body, "ETag: \"v1\"\r\n", static_cast<size_t>(kMB)) : Part(body, from, from));
      },
      2);
  THTTPClient client;
  std::vector<int64_t> progress;
  client.OnWork = [&](THTTPClient*, TWorkMode, int64_t n) { progress.push_back(n); };
  TDownloadOptions options;
  options.Sleep = [](int32_t) {};
  TMemoryStream file;
  DownloadWithRetries(client, server.Url("/k.zip"), file, options);
  server.Join();
  EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
  EXPECT_EQ(progress.back(), static_cast<int64_t>(body.size()));
}

TEST(ResumingDownload, AbortEndsTheWaitBetweenAttempts) {
  THTTPClient client;
  client.Abort();
  EXPECT_THROW(client.Pause(60000), ETransferAborted);
}

TEST(ResumingDownload, RetryAfterAndHttpDates) {
  const int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
  int64_t t = 0;
  for (const char* date :
       {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994"}) {
    SCOPED_TRACE(date);
    EXPECT_TRUE(ParseHttpDate(date, t));
    EXPECT_EQ(t, now);
  }
  EXPECT_FALSE(ParseHttpDate("yesterday", t));
  EXPECT_FALSE(ParseHttpDate("Sun, 31 Feb 1994 08:49:37 GMT", t));
  EXPECT_EQ(RetryAfterMs("2", "", now), 2000);
  EXPECT_EQ(RetryAfterMs("Sun, 06 Nov 1994 08:49:40 GMT", "", now), 3000);
  // The server's Date is the clock its Retry-After was written by.
  EXPECT_EQ(RetryAfterMs("Sun, 06 Nov 1994 08:49:40 GMT", "Sun, 06 Nov 1994 08:49:30 GMT", now), 10000);
  EXPECT_EQ(RetryAfterMs("Sun, 06 Nov 1994 08:49:00 GMT", "", now), 0);
  EXPECT_EQ(RetryAfterMs("soon", "", now), -1);
}
