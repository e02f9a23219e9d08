// Hostile servers against the HTTP client, beyond the network tests' own cases
// (long lines, 1001 header lines, conflicting lengths, overflowing chunk sizes,
// truncations and an abort after some body bytes are in tests/unit/net): servers
// that never stop sending, the exact framing values seen from broken servers, a
// close before any byte, and stalls in the header block and before the body.
//
// Each must end in one of the client's errors after taking a bounded number of
// bytes, or be stoppable by Abort.
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "net/http_client.h"
#include "net/http_response.h"
#include "net/input_buffer.h"
#include "net/net_errors.h"
#include "net/receive_source.h"
#include "unit/net/scripted_server.h"

namespace {

using namespace net;

// A server that sends a prefix once, then repeats a text without end; counts
// what it handed out.
class TEndlessSource : public TReceiveSource {
 public:
  TEndlessSource(std::string prefix, std::string repeat) : prefix_(std::move(prefix)), repeat_(std::move(repeat)) {}
  size_t Receive(char* buffer, size_t size, int32_t) override {
    size_t n = 0;
    while (n < size) {
      const std::string& from = given_ < prefix_.size() ? prefix_ : repeat_;
      size_t at = given_ < prefix_.size() ? given_ : (given_ - prefix_.size()) % repeat_.size();
      buffer[n++] = from[at];
      ++given_;
    }
    return n;
  }
  uint64_t Given() const { return given_; }

 private:
  std::string prefix_, repeat_;
  uint64_t given_ = 0;
};

// Reads a head and a body from the endless source; returns the error text.
template <typename E>
uint64_t ExpectEndlessFails(const std::string& prefix, const std::string& repeat) {
  TEndlessSource source(prefix, repeat);
  TInputBuffer in(source, 32768);
  THTTPResponse r;
  TCappedTextStream sink(1024);
  TWorkCounter work;
  EXPECT_THROW(
      {
        do {
          ReadResponseHead(in, r, 16384);
        } while (IsInterimStatus(r.ResponseCode) && source.Given() < (64u << 20));
        ReadResponseBody(in, r, sink, work, {});
      },
      E)
      << prefix.substr(0, 40);
  return source.Given();
}

TEST(HttpHostile, EndlessServersAreCutOffAfterBoundedInput) {
  // Status line, header line and chunk-size line without end: refused after the
  // line limit and one receive block.
  const uint64_t lineBound = 16384 + 2 + 32768;
  EXPECT_LE(ExpectEndlessFails<EReadLnMaxLineLengthExceeded>("", "HTTP/1.1 200 OK"), lineBound);
  EXPECT_LE(ExpectEndlessFails<EReadLnMaxLineLengthExceeded>("HTTP/1.1 200 OK\r\nX-A: ", "a"), 17 + lineBound);
  const std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
  EXPECT_LE(ExpectEndlessFails<EReadLnMaxLineLengthExceeded>(chunked + "1 ", "x"), chunked.size() + lineBound);

  // Header lines and continuation lines without end: refused after the header
  // line limit, whatever the lines hold.
  const uint64_t headerBound = (kMaxHeaderLines + 1) * 10 + 32768;
  EXPECT_LE(ExpectEndlessFails<EHTTPInvalidResponse>("HTTP/1.1 200 OK\r\n", "X-Ab: 1\r\n"), headerBound);
  EXPECT_LE(ExpectEndlessFails<EHTTPInvalidResponse>("HTTP/1.1 200 OK\r\nX: a\r\n", " more\r\n"), headerBound);
  EXPECT_LE(ExpectEndlessFails<EHTTPInvalidResponse>("HTTP/1.1 200 OK\r\n", "\t\r\n"), headerBound);
}

// The framing values broken servers send, through the whole client.
TEST(HttpHostile, BrokenFramingThroughTheClient) {
  struct TCase {
    const char* what;
    std::string answer;
  };
  std::string tenThousand = "HTTP/1.1 200 OK\r\n";
  for (int i = 0; i < 10000; ++i) tenThousand += "X-Line-" + std::to_string(i) + ": v\r\n";
  const TCase invalid[] = {
      {"chunk size FFFFFFFFFFFFFFFF",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFF\r\nabc\r\n0\r\n\r\n"},
      {"chunk size -1", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\nabc\r\n0\r\n\r\n"},
      // Read as "no number" these would end the body early and pass as complete.
      {"second chunk size not hexadecimal",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nzz\r\nabc\r\n"},
      {"empty chunk size line", "HTTP/1.1 200 OK\r\nTransfer-Encoding: CHUNKED\r\n\r\n3\r\nabc\r\n\r\nabc\r\n"},
      {"second chunk FFFFFFFFFFFFFFFF",
       "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\nFFFFFFFFFFFFFFFF\r\n"},
      {"two different Content-Length headers",
       "HTTP/1.1 200 OK\r\nContent-Length: 5\r\nContent-Length: 50\r\n\r\nhello"},
      {"Content-Length -1", "HTTP/1.1 200 OK\r\nContent-Length: -1\r\n\r\nhello"},
      {"10000 header lines", tenThousand + "\r\n"},
  };
  for (const TCase& c : invalid) {
    nettest::TScriptedServer server(nettest::Answer(c.answer));
    THTTPClient client;
    TMemoryStream out;
    EXPECT_THROW(client.Get(server.Url("/f.zip"), out), EHTTPInvalidResponse) << c.what;
    EXPECT_LE(out.Data().size(), 3u) << c.what;  // never the bytes after the bad size
    EXPECT_FALSE(client.Connected()) << c.what;
  }

  // A server that accepts and closes without a byte; one that sends half a
  // status line.
  for (const char* answer : {"", "HTTP/1.1 2"}) {
    nettest::TScriptedServer server(nettest::Answer(answer));
    THTTPClient client;
    TMemoryStream out;
    EXPECT_THROW(client.Get(server.Url("/f.zip"), out), EConnClosedGracefully) << answer;
    EXPECT_EQ(out.Data(), "");
  }
}

// A server that stops sending, in the header block, before the first body byte,
// after endless interim answers, in the TLS handshake, or a proxy that never
// answers a tunnel request: nothing piles up while the client waits, and Abort
// from another thread ends the wait.
TEST(HttpHostile, StalledServersCanBeAborted) {
  const struct {
    const char* what;
    std::string sent;
    bool bodyBegins;  // the stall comes after OnWorkBegin
    bool endless;     // sent again and again instead of once
    const char* scheme = "http";
    bool proxy = false;  // the server is the proxy, asked for a tunnel
  } cases[] = {
      {"stall inside the header block", "HTTP/1.1 200 OK\r\nContent-Type: application/zip\r\n", false, false},
      {"stall after the headers", "HTTP/1.1 200 OK\r\nContent-Length: 5000000\r\n\r\n", true, false},
      {"stall in a chunked body", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\n0123", true, false},
      {"interim answers without end", "HTTP/1.1 100 Continue\r\nX-Pad: 0123456789\r\n\r\n", false, true},
      {"early hints without end", "HTTP/1.1 103 Early Hints\r\nLink: </a.css>\r\n\r\n", false, true},
      {"stall in the TLS handshake", "", false, false, "https"},
      {"proxy silent after CONNECT", "", false, false, "https", true},
      {"proxy stalls in its answer to CONNECT", "HTTP/1.1 200 Connection established\r\n", false, false, "https", true},
  };
  for (const auto& c : cases) {
    nettest::TScriptedServer server([&](net::TSocket& s, int) {
      nettest::ReadRequestHead(s);
      do nettest::Send(s, c.sent);  // ends with an error once the client is gone
      while (c.endless);
      nettest::WaitForClientClose(s);
    });
    THTTPClient client;
    std::string url = std::string(c.scheme) + "://127.0.0.1:" + std::to_string(server.Port()) + "/f.zip";
    if (c.proxy) {
      client.ProxyParams.SetProxyServer("127.0.0.1");
      client.ProxyParams.SetProxyPort(server.Port());
      url = std::string(c.scheme) + "://updates.example/f.zip";
    }
    std::mutex m;
    std::condition_variable cv;
    bool begun = false;
    client.OnWorkBegin = [&](THTTPClient*, TWorkMode, int64_t) {
      std::lock_guard<std::mutex> g(m);
      begun = true;
      cv.notify_one();
    };
    std::thread stopper([&] {
      std::unique_lock<std::mutex> g(m);
      if (c.bodyBegins)
        cv.wait(g, [&] { return begun; });
      else
        cv.wait_for(g, std::chrono::milliseconds(300));  // a stall cannot be observed, only waited out
      g.unlock();
      client.Abort();
    });
    TMemoryStream out;
    EXPECT_THROW(client.Get(url, out), ETransferAborted) << c.what;
    stopper.join();
    EXPECT_EQ(begun, c.bodyBegins) << c.what;
    // A presized destination is cut back to what arrived.
    EXPECT_LE(out.Data().size(), 4u) << c.what;
    EXPECT_FALSE(client.Connected()) << c.what;
  }
}

}  // namespace
