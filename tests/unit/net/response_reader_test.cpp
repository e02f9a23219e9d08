// The response reader fed from memory: every answer is read once whole and once
// one byte at a time, and must give the same result; every truncation of a valid
// answer either reads or fails with an ordinary error.
#include <gtest/gtest.h>

#include "base/text.h"
#include "net/http_response.h"
#include "net/net_errors.h"
#include "net/uri.h"
#include "support/memory_source.h"

using namespace net;

namespace {

struct Outcome {
  THTTPResponse response;
  std::string body;
  std::vector<int64_t> begins, works;
  std::string error;  // "" when read without an error
};

Outcome ReadAll(const std::string& wire, size_t step, size_t recvBuffer = 32768) {
  TMemorySource source(wire, step);
  TInputBuffer in(source, recvBuffer);
  Outcome o;
  TWorkCounter work;
  work.OnBegin = [&](TWorkMode, int64_t n) { o.begins.push_back(n); };
  work.OnWork = [&](TWorkMode, int64_t n) { o.works.push_back(n); };
  TMemoryStream out;
  try {
    ReadResponseHead(in, o.response, 16384);
    ReadResponseBody(in, o.response, out, work, {recvBuffer, 16384});
  } catch (const Exception& e) {
    o.error = e.Message.empty() ? "(empty)" : e.Message;
  }
  o.body = out.Data();
  return o;
}

const char* const kAnswers[] = {
    "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
    "HTTP/1.0 200 OK\nContent-Length: 5\n\nhello",  // bare LF line ends
    "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6 ext\r\n world\r\n0\r\nTrailer: x\r\n",
    // RFC 9112: the coding's name in any case, extensions after ";".
    "HTTP/1.1 200 OK\r\ntransfer-encoding: gzip, Chunked\r\n\r\n5;x=y\r\nhello\r\n6\t; a=\"b c\"\r\n "
    "world\r\n0;z\r\n\r\n",
    "HTTP/1.1 200 OK\r\nX-Folded: one\r\n  two\r\n\tthree\r\nContent-Length: 3\r\n\r\nabc",
    "HTTP/1.1 200 OK\r\n\r\nuntil the close",
    "HTTP/1.1 404 Not Found\r\ncontent-LENGTH: 4\r\n\r\ngone",
};

}  // namespace

TEST(ResponseReader, OneByteAtATimeReadsTheSameAsWhole) {
  for (const char* wire : kAnswers) {
    for (size_t recv : {size_t(32768), size_t(3)}) {
      Outcome whole = ReadAll(wire, SIZE_MAX, recv);
      Outcome bytes = ReadAll(wire, 1, recv);
      SCOPED_TRACE(wire);
      EXPECT_EQ(whole.error, "");
      EXPECT_EQ(bytes.error, "");
      EXPECT_EQ(whole.response.ResponseText, bytes.response.ResponseText);
      EXPECT_EQ(whole.response.RawHeaders.Lines(), bytes.response.RawHeaders.Lines());
      EXPECT_EQ(whole.body, bytes.body);
      EXPECT_EQ(whole.begins, bytes.begins);
      if (recv == 32768) {
        EXPECT_EQ(whole.works.empty() ? -1 : whole.works.back(), bytes.works.empty() ? -1 : bytes.works.back());
      }
    }
  }
  EXPECT_EQ(ReadAll(kAnswers[2], 1).body, "hello world");
  EXPECT_EQ(ReadAll(kAnswers[3], 1).body, "hello world");
  EXPECT_EQ(ReadAll(kAnswers[5], 1).body, "until the close");
}

TEST(ResponseReader, StatusLineFields) {
  Outcome o = ReadAll(kAnswers[1], 1);
  EXPECT_EQ(o.response.ResponseText, "HTTP/1.0 200 OK");
  EXPECT_EQ(o.response.ResponseCode, 200);
  EXPECT_EQ(o.response.ResponseVersion, THTTPProtocolVersion::pv1_0);
  EXPECT_EQ(ReadAll("HTTP/1.1 abc OK\r\n\r\n", 1).response.ResponseCode, -1);
  EXPECT_EQ(ReadAll("HTTP/1.1 302\r\nContent-Length: 0\r\n\r\n", 1).response.ResponseCode, 302);
  EXPECT_EQ(ReadAll("HTTP/1.1 200 OK\r\n\r\n", 1).response.ResponseVersion, THTTPProtocolVersion::pv1_1);
}

TEST(ResponseReader, HeaderListLookupAndContinuations) {
  Outcome o = ReadAll(kAnswers[4], 1);
  const THeaderList& h = o.response.RawHeaders;
  EXPECT_EQ(h.Lines(), (std::vector<std::string>{"X-Folded: one two three", "Content-Length: 3"}));
  EXPECT_EQ(h.Values("x-folded"), "one two three");
  EXPECT_EQ(h.Values("CONTENT-length"), "3");
  EXPECT_EQ(h.Values("missing"), "");
  Outcome n = ReadAll(kAnswers[6], 1);
  EXPECT_EQ(n.response.ContentLength, 4);
  EXPECT_EQ(n.body, "gone");

  Outcome f = ReadAll(
      "HTTP/1.1 200 OK\r\nLocation: /x\r\nConnection: close\r\nProxy-Connection: keep\r\n"
      "Transfer-Encoding: gzip, chunked\r\nContent-Type: a/b\r\nContent-Range: bytes 1-2/3\r\n"
      "WWW-Authenticate: Basic\r\nWWW-Authenticate: NTLM\r\nProxy-Authenticate: P\r\n"
      "Date: d\r\nExpires: e\r\nLast-Modified: l\r\nContent-Length: nope\r\n\r\n",
      1);
  const THTTPResponse& r = f.response;
  EXPECT_EQ(r.Location, "/x");
  EXPECT_EQ(r.Connection, "close");
  EXPECT_EQ(r.ProxyConnection, "keep");
  EXPECT_EQ(r.ContentType, "a/b");
  EXPECT_EQ(r.ContentRangeStart, 1);
  EXPECT_EQ(r.ContentRangeEnd, 2);
  EXPECT_EQ(r.ContentRangeInstanceLength, 3);
  EXPECT_EQ(r.WWWAuthenticate, (std::vector<std::string>{"Basic", "NTLM"}));
  EXPECT_EQ(r.ProxyAuthenticate, std::vector<std::string>{"P"});
  EXPECT_EQ(r.Date + r.Expires + r.LastModified, "del");
  EXPECT_EQ(r.ContentLength, -1);  // not a number: no length
  EXPECT_FALSE(r.HasContentLength());

  // A length the server does not know, and the range of a refused request.
  for (const char* range : {"bytes 5-9/*", "bytes */10"}) {
    Outcome u = ReadAll(std::string("HTTP/1.1 206 Partial\r\nContent-Range: ") + range + "\r\n\r\n", 1);
    EXPECT_EQ(u.error, "") << range;
  }
  EXPECT_EQ(ReadAll("HTTP/1.1 206 P\r\nContent-Range: bytes 5-9/*\r\n\r\n", 1).response.ContentRangeEnd, 9);
}

TEST(ResponseReader, HeadersCutByTheCloseAreKept) {
  Outcome o = ReadAll("HTTP/1.1 200 OK\r\nA: 1\r\nB: 2", 1);
  EXPECT_TRUE(o.response.HeadersCutShort);
  EXPECT_EQ(o.response.RawHeaders.Lines(), std::vector<std::string>{"A: 1"});
}

TEST(ResponseReader, LineLengthLimitIsExact) {
  std::string atLimit = "HTTP/1.1 200 OK\r\nX: " + std::string(16384 - 3, 'a') + "\r\nContent-Length: 0\r\n\r\n";
  EXPECT_EQ(ReadAll(atLimit, 1).error, "");
  EXPECT_EQ(ReadAll(atLimit, 4096).error, "");
  std::string over = "HTTP/1.1 200 OK\r\nX: " + std::string(16384 - 2, 'a') + "\r\n\r\n";
  EXPECT_EQ(ReadAll(over, 1).error, "Max line length exceeded.");
  // A line without an end never grows the buffer past the limit.
  std::string endless = "HTTP/1.1 200 OK\r\nX: " + std::string(1 << 20, 'a');
  EXPECT_EQ(ReadAll(endless, 65536).error, "Max line length exceeded.");
}

TEST(ResponseReader, ChunkSizesAndLengths) {
  EXPECT_EQ(ParseChunkSize("1a"), 26);
  EXPECT_EQ(ParseChunkSize("1A"), 26);
  EXPECT_EQ(ParseChunkSize("0000000000000000000010"), 16);
  EXPECT_EQ(ParseChunkSize("1a;x=y"), 26);
  EXPECT_EQ(ParseChunkSize("1a ;x"), 26);
  EXPECT_EQ(ParseChunkSize("0;last"), 0);
  EXPECT_EQ(ParseChunkSize("7fffffffffffffff"), INT64_MAX);
  for (const char* bad : {"", "0x10", "g", ";x", " 5"}) EXPECT_THROW(ParseChunkSize(bad), EHTTPInvalidResponse) << bad;
  EXPECT_THROW(ParseChunkSize("8000000000000000"), EHTTPInvalidResponse);
  EXPECT_THROW(ParseChunkSize("ffffffffffffffffff"), EHTTPInvalidResponse);
  EXPECT_THROW(ParseChunkSize("-1"), EHTTPInvalidResponse);

  EXPECT_EQ(ParseContentLength({}), -1);
  EXPECT_EQ(ParseContentLength({"12"}), 12);
  EXPECT_EQ(ParseContentLength({"abc"}), -1);
  EXPECT_EQ(ParseContentLength({"7", "7"}), 7);
  EXPECT_EQ(ParseContentLength({"7, 7"}), 7);
  EXPECT_EQ(ParseContentLength({"9223372036854775807"}), INT64_MAX);
  EXPECT_THROW(ParseContentLength({"9223372036854775808"}), EHTTPInvalidResponse);
  EXPECT_THROW(ParseContentLength({"-1"}), EHTTPInvalidResponse);
  EXPECT_THROW(ParseContentLength({"7", "8"}), EHTTPInvalidResponse);
  EXPECT_THROW(ParseContentLength({"7, 8"}), EHTTPInvalidResponse);
}

TEST(ResponseReader, EveryTruncationReadsOrFailsCleanly) {
  for (const char* wire : kAnswers) {
    std::string w = wire;
    for (size_t cut = 0; cut < w.size(); ++cut) {
      Outcome o = ReadAll(w.substr(0, cut), 1);
      // Never more body than was sent, never a crash; an error is an ordinary one.
      EXPECT_LE(o.body.size(), cut);
    }
  }
  EXPECT_EQ(ReadAll("", 1).error, "Connection Closed Gracefully.");
  EXPECT_EQ(ReadAll("HTTP/1.1 200 OK", 1).error, "Connection Closed Gracefully.");
  Outcome shortBody = ReadAll("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nabc", 1);
  EXPECT_EQ(shortBody.error, "");
  EXPECT_EQ(shortBody.body, "abc");
  EXPECT_EQ(shortBody.works.back(), 3);
}

TEST(ResponseReader, HugeAnnouncedLengthNeedsNoMemory) {
  // The refused-body sink and the reader never allocate by the announced number.
  TMemorySource source("HTTP/1.1 500 x\r\nContent-Length: 9000000000000000000\r\n\r\nabc");
  TInputBuffer in(source, 32768);
  THTTPResponse r;
  ReadResponseHead(in, r, 16384);
  TCappedTextStream sink(16);
  TWorkCounter work;
  ReadResponseBody(in, r, sink, work, {});
  EXPECT_EQ(sink.Text(), "abc");
}

TEST(ResponseReader, StalledSourceRaisesReadTimeout) {
  TMemorySource source("HTTP/1.1 404 x\r\n\r\npartial", SIZE_MAX, true);
  TInputBuffer in(source, 32768);
  THTTPResponse r;
  ReadResponseHead(in, r, 16384);
  TCappedTextStream sink(1024);
  TWorkCounter work;
  EXPECT_THROW(ReadResponseBody(in, r, sink, work, {}), EReadTimeout);
}

TEST(WorkCounter, OnlyTheOutermostLevelRaisesEvents) {
  TWorkCounter w;
  std::vector<std::pair<char, int64_t>> log;
  w.OnBegin = [&](TWorkMode m, int64_t n) { log.emplace_back('B', n); };
  w.OnWork = [&](TWorkMode m, int64_t n) { log.emplace_back('W', n); };
  w.OnEnd = [&](TWorkMode m) { log.emplace_back('E', 0); };
  w.Begin(TWorkMode::wmRead, 10);
  w.Begin(TWorkMode::wmRead, 99);  // nested: no event, total kept
  w.Work(TWorkMode::wmRead, 4);
  w.End(TWorkMode::wmRead);
  w.Work(TWorkMode::wmRead, 6);
  EXPECT_EQ(w.Level(TWorkMode::wmRead), 1);
  EXPECT_EQ(w.CountMax(TWorkMode::wmRead), 10);
  w.End(TWorkMode::wmRead);
  w.Work(TWorkMode::wmWrite, 5);  // no transfer: ignored
  EXPECT_EQ(log, (std::vector<std::pair<char, int64_t>>{{'B', 10}, {'W', 4}, {'W', 10}, {'E', 0}}));
}

TEST(Uri, PartsOfAnAddress) {
  TURI u = TURI::Parse("HTTP://me:se@cret@host:8080/a/b/doc.zip?x=1/2#top");
  EXPECT_EQ(u.Protocol, "HTTP");
  EXPECT_EQ(u.Username, "me");
  EXPECT_EQ(u.Password, "se@cret");
  EXPECT_EQ(u.Host, "host");
  EXPECT_EQ(u.Port, "8080");
  EXPECT_EQ(u.Path, "/a/b/");
  EXPECT_EQ(u.Document, "doc.zip");
  EXPECT_EQ(u.Params, "?x=1/2");
  EXPECT_EQ(u.Bookmark, "top");
  EXPECT_EQ(u.Target(), "/a/b/doc.zip?x=1/2");
  TURI e = TURI::Parse("http://h/cgi/get=a/b");
  EXPECT_EQ(e.Path, "/cgi/");
  EXPECT_EQ(e.Document, "get");
  EXPECT_EQ(e.Params, "=a/b");
  TURI n = TURI::Parse("\\\\srv\\x.zip");
  EXPECT_EQ(n.Protocol, "http");
  EXPECT_EQ(n.Host, "");
  EXPECT_EQ(n.Path, "//srv/");
  // IPv6 addresses are in brackets, their colons not the port's.
  for (const char* address : {"https://[::1]:8443/k.zip", "https://u:p@[::1]:8443/k.zip"}) {
    TURI v = TURI::Parse(address);
    EXPECT_EQ(v.Host, "::1") << address;
    EXPECT_EQ(v.Port, "8443") << address;
    EXPECT_EQ(v.Target(), "/k.zip") << address;
  }
  EXPECT_EQ(TURI::Parse("http://[fe80::1:2]/k.zip").Host, "fe80::1:2");
  EXPECT_EQ(TURI::Parse("http://[fe80::1:2]/k.zip").Port, "");
  EXPECT_EQ(AddressHost("::1"), "[::1]");
  EXPECT_EQ(AddressHost("127.0.0.1"), "127.0.0.1");
}
