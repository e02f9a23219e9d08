// Every seed and every kept regression input of the fuzz targets, fed to the same
// entry points libFuzzer drives, so the ordinary test run (natively and under
// Wine) holds on to what the fuzzers found. A broken invariant aborts with the
// input's name.
#include <gtest/gtest.h>

#include <string>

#include "fuzz/decoder_targets.h"
#include "fuzz/http_target.h"
#include "fuzz/net_targets.h"
#include "fuzz/unzip_target.h"
#include "platform/files.h"
#include "support/test_support.h"

namespace {

using Entry = int (*)(const uint8_t*, std::size_t);

// Runs every file of tests/fuzz/corpus/<target> and tests/fuzz/regressions/<target>;
// returns how many there were.
int Replay(const std::string& target, Entry entry) {
  int runs = 0;
  for (const char* kind : {"corpus", "regressions"}) {
    std::string folder = platform::FromHostPath(std::string(LU_SOURCE_DIR) + "/tests/fuzz/" + kind + "/" + target);
    for (const std::string& name : platform::ListDir(folder)) {
      if (name.back() == '\\') continue;
      std::string path = folder + "\\" + name;
      std::string bytes = testsupport::ReadFileText(path);
      fuzz::CurrentInput() = path.c_str();
      entry(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      ++runs;
    }
  }
  fuzz::CurrentInput() = "";
  return runs;
}

int Inflate(const uint8_t* d, std::size_t n) { return fuzz::RunDecoder(fuzz::Method::Inflate, d, n); }
int Inflate64(const uint8_t* d, std::size_t n) { return fuzz::RunDecoder(fuzz::Method::Inflate64, d, n); }
int Unshrink(const uint8_t* d, std::size_t n) { return fuzz::RunDecoder(fuzz::Method::Unshrink, d, n); }
int Unreduce(const uint8_t* d, std::size_t n) { return fuzz::RunDecoder(fuzz::Method::Unreduce, d, n); }
int Explode(const uint8_t* d, std::size_t n) { return fuzz::RunDecoder(fuzz::Method::Explode, d, n); }

TEST(FuzzReplay, Decoders) {
  EXPECT_GT(Replay("inflate", Inflate), 10);
  EXPECT_GT(Replay("inflate64", Inflate64), 2);
  EXPECT_GT(Replay("unshrink", Unshrink), 2);
  EXPECT_GT(Replay("unreduce", Unreduce), 4);
  EXPECT_GT(Replay("explode", Explode), 4);
}

TEST(FuzzReplay, UnZip) { EXPECT_GT(Replay("unzip", fuzz::RunUnZip), 5); }

TEST(FuzzReplay, HttpResponse) { EXPECT_GT(Replay("http", fuzz::RunHttpResponse), 5); }

TEST(FuzzReplay, WhatServersSayBesidesTheBody) {
  EXPECT_GT(Replay("statement", fuzz::RunStatement), 4);
  EXPECT_GT(Replay("proxy_auth", fuzz::RunProxyChallenges), 2);
  EXPECT_GT(Replay("header_values", fuzz::RunHeaderValues), 10);
}

}  // namespace
