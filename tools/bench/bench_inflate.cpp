// The Deflate decoder against libdeflate's whole-buffer decompressor and zlib's raw
// inflate on the same streams, Deflate64 throughput on the test archive made by
// 7-Zip, CRC-32 against libdeflate's and zlib's, and the memory a streaming decode
// takes.
//
// The corpus (about 100 MB, deterministic): pseudo-text, executable-like binary and
// files from /usr/share, cut into 1 MB members, each deflated by zlib at level 6
// as a raw stream, as a ZIP entry would be. libdeflate and zlib fill a buffer of
// the member's size; ours streams, handing 32 KB blocks to a sink. The summary line
// gives the decoder's own speed, with a sink that takes each block where it lies
// (as the extraction writes it to its file from there); the line below it adds a
// copy of every block into one buffer. Rounds alternate between the decoders and
// the best round of each counts; times are process CPU time, so that other work
// on the machine counts as little as it can (the figures stay single-threaded).
//
// CRC-32: of one 32 KB block at a time while it is in the cache, as the
// extraction checks what it has just decoded (the summary line), and of the whole
// corpus, which memory bandwidth bounds.
//
// The two summary lines end in "ratio vs libdeflate R", R being our MB/s divided
// by libdeflate's.
//
// Usage: bench_inflate [corpus MB (default 100)] [rounds (default 5)]
#include <libdeflate.h>
#include <malloc.h>
#include <time.h>
#include <zlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "archive/crc32.h"
#include "archive/decoder.h"
#include "unit/archive/raw_zip.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
// Heap bytes in use (small blocks and mmapped ones).
std::size_t HeapInUse() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

constexpr std::size_t kMember = 1 << 20;

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }
long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

// --- corpus ------------------------------------------------------------------

void AppendText(Bytes& out, std::size_t n, std::mt19937& rng) {
  static const char* syllables[] = {"ka",  "lo",  "ve",  "tri", "an", "de",  "mor", "ste", "qui", "ra",  "po",  "len",
                                    "the", "and", "ion", "ex",  "pa", "sol", "ver", "nu",  "ti",  "gra", "wen", "or"};
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i) {
    std::string w;
    for (unsigned k = 0, len = 1 + rng() % 4; k < len; ++k) w += syllables[rng() % 24];
    words.push_back(w);
  }
  // Zipf-like choice: small indexes far more often.
  std::size_t target = out.size() + n;
  unsigned inSentence = 0;
  while (out.size() < target) {
    double u = std::uniform_real_distribution<double>(0, 1)(rng);
    std::size_t idx = static_cast<std::size_t>(std::pow(3000.0, u)) - 1;
    std::string w = words[std::min<std::size_t>(idx, words.size() - 1)];
    if (inSentence == 0) w[0] = static_cast<char>(w[0] - 32);
    out.insert(out.end(), w.begin(), w.end());
    if (++inSentence > 6 + rng() % 14) {
      out.push_back('.');
      out.push_back(rng() % 5 == 0 ? '\n' : ' ');
      inSentence = 0;
    } else {
      out.push_back(rng() % 11 == 0 ? ',' : ' ');
      if (out.back() == ',') out.push_back(' ');
    }
  }
  out.resize(target);
}

void AppendBinary(Bytes& out, std::size_t n, std::mt19937& rng) {
  // Executable-like: recurring instruction patterns with varying operands, tables
  // of slowly growing integers, zero padding and some noise.
  std::vector<Bytes> patterns;
  for (int i = 0; i < 200; ++i) {
    Bytes p(2 + rng() % 7);
    for (auto& b : p) b = static_cast<uint8_t>(rng() % 64 == 0 ? rng() : rng() % 16 * 16 + 0x8b % 16);
    patterns.push_back(p);
  }
  std::size_t target = out.size() + n;
  while (out.size() < target) {
    switch (rng() % 10) {
      case 0: {  // table of 32-bit values
        uint32_t v = rng() % 100000;
        for (unsigned k = 0, m = 16 + rng() % 200; k < m; ++k, v += rng() % 64)
          for (int s = 0; s < 32; s += 8) out.push_back(static_cast<uint8_t>(v >> s));
        break;
      }
      case 1:  // padding
        out.insert(out.end(), rng() % 300, 0);
        break;
      case 2:  // noise (compressed resources)
        for (unsigned k = 0, m = rng() % 400; k < m; ++k) out.push_back(static_cast<uint8_t>(rng()));
        break;
      default:  // code
        for (unsigned k = 0, m = 10 + rng() % 100; k < m; ++k) {
          const Bytes& p = patterns[std::min<std::size_t>(rng() % 200, rng() % 200)];
          out.insert(out.end(), p.begin(), p.end());
          out.push_back(static_cast<uint8_t>(rng() % 256));
        }
    }
  }
  out.resize(target);
}

void AppendSystemFiles(Bytes& out, std::size_t n) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (auto it = std::filesystem::recursive_directory_iterator(
           "/usr/share", std::filesystem::directory_options::skip_permission_denied, ec);
       it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
    if (ec) break;
    if (it->is_regular_file(ec) && !it->is_symlink(ec) && it->file_size(ec) < (4u << 20)) files.push_back(it->path());
  }
  std::sort(files.begin(), files.end());
  std::size_t target = out.size() + n;
  for (const auto& f : files) {
    if (out.size() >= target) break;
    std::ifstream in(f, std::ios::binary);
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    out.insert(out.end(), data.begin(),
               data.begin() + static_cast<std::ptrdiff_t>(std::min(data.size(), target - out.size())));
  }
}

Bytes RawDeflate(const uint8_t* data, std::size_t n, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, n));
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = static_cast<uInt>(n);
  z.next_out = out.data();
  z.avail_out = static_cast<uInt>(out.size());
  if (deflate(&z, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// --- decoders under test -------------------------------------------------------

class TBufferSink : public archive::TByteSink {
 public:
  explicit TBufferSink(uint8_t* out) : out_(out) {}
  bool Write(const uint8_t* data, std::size_t count) override {
    std::memcpy(out_ + done_, data, count);
    done_ += count;
    return true;
  }
  std::size_t done_ = 0;

 private:
  uint8_t* out_;
};

// Takes each block where the decoder left it; reads one byte of it, so that the
// block is really there.
class TTakeSink : public archive::TByteSink {
 public:
  bool Write(const uint8_t* data, std::size_t count) override {
    done_ += count;
    touched_ += data[count - 1];
    return true;
  }
  std::size_t done_ = 0;
  unsigned touched_ = 0;
};

bool OurInflate(const Bytes& stream, uint8_t* out, std::size_t size, bool deflate64) {
  testzip::TMemorySource source(stream.data(), stream.size());
  TBufferSink sink(out);
  return archive::Inflate(source, sink, size, deflate64) == archive::DecodeResult::Ok && sink.done_ == size;
}

bool OurInflateInPlace(const Bytes& stream, std::size_t size) {
  testzip::TMemorySource source(stream.data(), stream.size());
  TTakeSink sink;
  return archive::Inflate(source, sink, size, false) == archive::DecodeResult::Ok && sink.done_ == size;
}

bool ZlibInflate(const Bytes& stream, uint8_t* out, std::size_t size) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = out;
  z.avail_out = static_cast<uInt>(size);
  int r = inflate(&z, Z_FINISH);
  inflateEnd(&z);
  return r == Z_STREAM_END && z.total_out == size;
}

bool LibdeflateInflate(libdeflate_decompressor* d, const Bytes& stream, uint8_t* out, std::size_t size) {
  std::size_t got = 0;
  return libdeflate_deflate_decompress(d, stream.data(), stream.size(), out, size, &got) == LIBDEFLATE_SUCCESS &&
         got == size;
}

struct TSet {
  std::vector<Bytes> streams;
  std::vector<const uint8_t*> originals;
  std::vector<std::size_t> sizes;
  std::size_t total = 0, compressed = 0;
};

template <typename F>
double BestSeconds(int rounds, F&& run) {
  double best = 1e30;
  for (int r = 0; r < rounds; ++r) {
    double t0 = CpuSeconds();
    run();
    best = std::min(best, CpuSeconds() - t0);
  }
  return best;
}

// The best time of each contender over rounds that alternate between them, so
// that a busy spell of the machine does not fall on one side only.
template <std::size_t N, typename F>
std::array<double, N> BestAlternated(int rounds, const std::array<F, N>& runs) {
  std::array<double, N> best;
  best.fill(1e30);
  for (int r = 0; r < rounds; ++r)
    for (std::size_t k = 0; k < N; ++k) {
      double t0 = CpuSeconds();
      runs[k]();
      best[k] = std::min(best[k], CpuSeconds() - t0);
    }
  return best;
}

// A streaming source over a file region, as the extractor reads an entry.
class TFileSource : public archive::TByteSource {
 public:
  TFileSource(const std::string& path, uint64_t offset, uint64_t size) : left_(size) {
    in_.open(path, std::ios::binary);
    in_.seekg(static_cast<std::streamoff>(offset));
  }
  std::size_t Read(uint8_t* buffer, std::size_t count) override {
    std::size_t n = static_cast<std::size_t>(std::min<uint64_t>(count, left_));
    in_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(n));
    n = static_cast<std::size_t>(in_.gcount());
    left_ -= n;
    return n;
  }

 private:
  std::ifstream in_;
  uint64_t left_;
};

// Takes the CRC of the output and notes the most heap in use meanwhile.
class TCrcSink : public archive::TByteSink {
 public:
  bool Write(const uint8_t* data, std::size_t count) override {
    crc = archive::Crc32Update(crc, data, count);
    size += count;
    maxHeap = std::max(maxHeap, HeapInUse());
    return true;
  }
  uint32_t crc = 0;
  uint64_t size = 0;
  std::size_t maxHeap = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::size_t corpusMb = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
  const std::string zipDir = std::string(LU_SHARED_DIR) + "/testdata/zip/";

  // Memory of a streaming decode: both big archive members straight from their
  // files, a CRC over the output, nothing kept. The decoder's heap is what is in
  // use during the decode beyond what was before.
  std::size_t decoderHeap = 0;
  for (const char* name : {"big_deflate_zip6.zip", "big_deflate64.zip"}) {
    testzip::TRawEntry e;
    {
      testzip::TRawZip zip(zipDir + name);
      if (!zip.Ok() || zip.Entries().empty()) {
        std::printf("cannot read %s%s\n", zipDir.c_str(), name);
        return 1;
      }
      e = zip.Entries()[0];
    }
    TFileSource source(zipDir + name, e.dataOffset, e.compressedSize);
    TCrcSink sink;
    std::size_t before = HeapInUse();
    auto r = archive::Inflate(source, sink, e.size, e.method == 9);
    if (r != archive::DecodeResult::Ok || sink.crc != e.crc) {
      std::printf("%s: decode failed\n", name);
      return 1;
    }
    decoderHeap = std::max(decoderHeap, sink.maxHeap - before);
  }
  long rssStreaming = PeakRssKb();

  // Corpus.
  auto t0 = Clock::now();
  Bytes corpus;
  corpus.reserve(corpusMb << 20);
  std::mt19937 rng(20240405);
  AppendText(corpus, (corpusMb << 20) * 35 / 100, rng);
  AppendBinary(corpus, (corpusMb << 20) * 30 / 100, rng);
  AppendSystemFiles(corpus, (corpusMb << 20) - corpus.size());
  if (corpus.size() < (corpusMb << 20)) AppendText(corpus, (corpusMb << 20) - corpus.size(), rng);
  TSet set;
  for (std::size_t at = 0; at < corpus.size(); at += kMember) {
    std::size_t n = std::min(kMember, corpus.size() - at);
    set.streams.push_back(RawDeflate(corpus.data() + at, n, 6));
    set.originals.push_back(corpus.data() + at);
    set.sizes.push_back(n);
    set.total += n;
    set.compressed += set.streams.back().size();
  }
  std::printf("corpus: %.1f MB in %zu members of up to 1 MB, zlib level 6 raw: %.1f MB (%.1f%%), built in %.1f s\n",
              set.total / 1e6, set.streams.size(), set.compressed / 1e6, 100.0 * set.compressed / set.total,
              Seconds(t0, Clock::now()));

  // Correctness first, then timing.
  Bytes out(kMember + 64);
  for (std::size_t i = 0; i < set.streams.size(); ++i) {
    if (!OurInflate(set.streams[i], out.data(), set.sizes[i], false) ||
        std::memcmp(out.data(), set.originals[i], set.sizes[i]) != 0) {
      std::printf("member %zu: our inflate differs\n", i);
      return 1;
    }
  }
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
  using Run = std::function<void()>;
  auto decodeRange = [&](std::size_t from, std::size_t to) {
    return std::array<Run, 4>{[&, from, to] {
                                for (std::size_t i = from; i < to; ++i) OurInflateInPlace(set.streams[i], set.sizes[i]);
                              },
                              [&, from, to] {
                                for (std::size_t i = from; i < to; ++i)
                                  LibdeflateInflate(ld, set.streams[i], out.data(), set.sizes[i]);
                              },
                              [&, from, to] {
                                for (std::size_t i = from; i < to; ++i)
                                  ZlibInflate(set.streams[i], out.data(), set.sizes[i]);
                              },
                              [&, from, to] {
                                for (std::size_t i = from; i < to; ++i)
                                  OurInflate(set.streams[i], out.data(), set.sizes[i], false);
                              }};
  };
  auto t = BestAlternated(rounds, decodeRange(0, set.streams.size()));
  std::printf(
      "Deflate decoder: ours %.1f MB/s, libdeflate %s %.1f MB/s, zlib %s %.1f MB/s (CPU time, best of %d "
      "alternated rounds), ratio vs libdeflate %.2f\n",
      set.total / t[0] / 1e6, LIBDEFLATE_VERSION_STRING, set.total / t[1] / 1e6, zlibVersion(), set.total / t[2] / 1e6,
      rounds, t[1] / t[0]);
  std::printf("  ours copying every block into one buffer too: %.1f MB/s, ours/libdeflate %.2f\n",
              set.total / t[3] / 1e6, t[1] / t[3]);

  // Per kind of data.
  const char* kinds[] = {"text", "binary", "/usr/share"};
  std::size_t bounds[] = {0, (corpusMb << 20) * 35 / 100 / kMember, (corpusMb << 20) * 65 / 100 / kMember,
                          set.streams.size()};
  for (int k = 0; k < 3; ++k) {
    std::size_t bytes = 0;
    for (std::size_t i = bounds[k]; i < bounds[k + 1]; ++i) bytes += set.sizes[i];
    auto tk = BestAlternated(rounds, decodeRange(bounds[k], bounds[k + 1]));
    std::printf("  %-10s ours %7.1f MB/s   libdeflate %7.1f MB/s   zlib %7.1f MB/s   ours/libdeflate %.2f\n", kinds[k],
                bytes / tk[0] / 1e6, bytes / tk[1] / 1e6, bytes / tk[2] / 1e6, tk[1] / tk[0]);
  }

  // The test archives' big member, Deflate (Info-ZIP) and Deflate64 (7-Zip).
  for (const char* name : {"big_deflate_zip6.zip", "big_deflate64.zip"}) {
    testzip::TRawZip zip(zipDir + name);
    const testzip::TRawEntry& e = zip.Entries()[0];
    Bytes stream = zip.Compressed(e);
    Bytes big(e.size + 64);
    bool d64 = e.method == 9;
    if (!OurInflate(stream, big.data(), e.size, d64) || archive::Crc32(big.data(), e.size) != e.crc) {
      std::printf("%s: decode failed\n", name);
      return 1;
    }
    double o = BestSeconds(rounds * 2, [&] { OurInflate(stream, big.data(), e.size, d64); });
    if (d64) {
      std::printf("%-22s Deflate64 ours %7.1f MB/s (%.1f MB)\n", name, e.size / o / 1e6, e.size / 1e6);
    } else {
      double l = BestSeconds(rounds * 2, [&] { LibdeflateInflate(ld, stream, big.data(), e.size); });
      std::printf("%-22s Deflate   ours %7.1f MB/s   libdeflate %7.1f MB/s   ours/libdeflate %.2f\n", name,
                  e.size / o / 1e6, e.size / l / 1e6, l / o);
    }
  }

  // CRC-32 of 32 KB blocks in the cache, as the extraction checks each block it
  // has just decoded (the summary line), then of the whole corpus from memory.
  constexpr std::size_t kCrcBlock = 32768;
  const std::size_t passes = std::max<std::size_t>(1, corpus.size() / kCrcBlock);
  uint32_t s1 = 0, s2 = 0, s3 = 0;
  auto tb = BestAlternated(rounds, std::array<Run, 3>{
                                       [&] {
                                         for (std::size_t k = 0; k < passes; ++k)
                                           s1 += archive::Crc32(corpus.data(), kCrcBlock);
                                       },
                                       [&] {
                                         for (std::size_t k = 0; k < passes; ++k)
                                           s2 += libdeflate_crc32(0, corpus.data(), kCrcBlock);
                                       },
                                       [&] {
                                         for (std::size_t k = 0; k < passes; ++k)
                                           s3 += static_cast<uint32_t>(crc32(0, corpus.data(), kCrcBlock));
                                       },
                                   });
  const double bmb = static_cast<double>(passes * kCrcBlock) / 1e6;
  std::printf(
      "CRC-32 of 32 KB blocks in the cache: ours %.1f MB/s, libdeflate %.1f MB/s, zlib %.1f MB/s (%s), ratio vs "
      "libdeflate %.2f\n",
      bmb / tb[0], bmb / tb[1], bmb / tb[2], s1 == s2 && s2 == s3 ? "same values" : "DIFFERENT VALUES", tb[1] / tb[0]);
  uint32_t c1 = 0, c2 = 0, c3 = 0;
  auto tc = BestAlternated(
      rounds, std::array<Run, 3>{
                  [&] { c1 = archive::Crc32(corpus.data(), corpus.size()); },
                  [&] { c2 = libdeflate_crc32(0, corpus.data(), corpus.size()); },
                  [&] { c3 = static_cast<uint32_t>(crc32(0, corpus.data(), static_cast<uInt>(corpus.size()))); },
              });
  const double cmb = static_cast<double>(corpus.size()) / 1e6;
  std::printf(
      "  CRC-32 of the whole corpus from memory: ours %.1f MB/s, libdeflate %.1f MB/s, zlib %.1f MB/s%s, "
      "ours/libdeflate %.2f\n",
      cmb / tc[0], cmb / tc[1], cmb / tc[2], c1 == c2 && c2 == c3 ? "" : " (DIFFERENT VALUES)", tc[1] / tc[0]);
  libdeflate_free_decompressor(ld);

  std::printf(
      "memory: inflater heap %zu KB while streaming a 5 MB member (window, tables, input buffer); "
      "peak RSS %ld KB after the streaming decodes, %ld KB at the end (corpus and streams in memory)\n",
      decoderHeap / 1024, rssStreaming, PeakRssKb());
  return c1 == c2 && c2 == c3 && s1 == s2 && s2 == s3 ? 0 : 1;
}
