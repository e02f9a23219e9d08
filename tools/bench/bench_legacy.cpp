// Throughput of the legacy ZIP decoders (Shrink, Reduce, Implode) on the reference
// archives' members, in MB of output per second.
//   bench_legacy [testdata/zip folder]
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "../../tests/unit/archive/raw_zip.h"
#include "archive/decoder.h"

namespace {

class TCountingSink : public archive::TByteSink {
 public:
  bool Write(const uint8_t* data, std::size_t count) override {
    bytes += count;
    checksum += count ? data[count - 1] : 0;  // touch the data so nothing is optimised away
    return true;
  }
  uint64_t bytes = 0;
  uint64_t checksum = 0;
};

std::string DefaultFolder() {
#ifdef LU_SHARED_DIR
  return std::string(LU_SHARED_DIR) + "/testdata/zip";
#else
  // Next to the worktree: <worktree>/tools/bench/ -> <worktree>/../shared.
  std::string here = __FILE__;
  std::string::size_type slash = here.find_last_of("/\\");
  here = slash == std::string::npos ? "." : here.substr(0, slash);
  return here + "/../../../shared/testdata/zip";
#endif
}

archive::DecodeResult DecodeEntry(const testzip::TRawEntry& e, const std::vector<uint8_t>& data, TCountingSink& sink) {
  testzip::TMemorySource source(data.data(), data.size());
  switch (e.method) {
    case 1: return archive::Unshrink(source, sink, e.size);
    case 2:
    case 3:
    case 4:
    case 5: return archive::Unreduce(source, sink, e.size, e.method - 1);
    default: return archive::Explode(source, sink, e.size, (e.flags & 2) != 0, (e.flags & 4) != 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = argc > 1 ? argv[1] : DefaultFolder();
  // The big members first (5 MB each), then a 300 KB text for every variant.
  const char* archives[] = {
      "big_shrink.zip",
      "big_reduce4.zip",
      "big_implode8k3.zip",
      "legacy_shrink.zip",
      "legacy_reduce1.zip",
      "legacy_reduce2.zip",
      "legacy_reduce3.zip",
      "legacy_reduce4.zip",
      "legacy_implode_4k_2trees.zip",
      "legacy_implode_4k_3trees.zip",
      "legacy_implode_8k_2trees.zip",
      "legacy_implode_8k_3trees.zip",
  };
  std::printf("%-30s %-22s %6s %10s %8s\n", "archive", "member", "method", "bytes", "MB/s");
  int failures = 0;
  for (const char* name : archives) {
    testzip::TRawZip zip(folder + "/" + name);
    if (!zip.Ok()) {
      std::printf("%-30s %s\n", name, zip.Error().c_str());
      ++failures;
      continue;
    }
    for (const testzip::TRawEntry& e : zip.Entries()) {
      bool big = std::string(name).rfind("big_", 0) == 0;
      if (e.method < 1 || e.method > 6 || (!big && e.name != "docs/manual.txt")) continue;
      std::vector<uint8_t> data = zip.Compressed(e);
      // Repeat until about half a second has passed; report the best round.
      double best = 0;
      auto start = std::chrono::steady_clock::now();
      for (int round = 0; round < 50; ++round) {
        TCountingSink sink;
        auto t0 = std::chrono::steady_clock::now();
        archive::DecodeResult r = DecodeEntry(e, data, sink);
        double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (r != archive::DecodeResult::Ok || sink.bytes != e.size) {
          std::printf("%-30s %-22s decode failed\n", name, e.name.c_str());
          ++failures;
          break;
        }
        double rate = static_cast<double>(e.size) / 1e6 / seconds;
        if (rate > best) best = rate;
        if (std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() > 0.5) break;
      }
      std::printf("%-30s %-22s %6u %10u %8.1f\n", name, e.name.c_str(), static_cast<unsigned>(e.method),
                  static_cast<unsigned>(e.size), best);
    }
  }
  return failures == 0 ? 0 : 1;
}
