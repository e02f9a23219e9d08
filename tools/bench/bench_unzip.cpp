// TUnZip extraction throughput and memory.
//
// 1. A ~100 MB tree of mixed files (pseudo-text, executable-like binary,
//    incompressible noise, long runs; deterministic) is packed with Info-ZIP
//    `zip -6` into a temporary folder and extracted with TUnZip (read, inflate,
//    CRC-32, write, dates and attributes). The reference does the same work with
//    zlib: raw inflate of each entry in 32 KB blocks, zlib's crc32, fwrite.
// 2. TUnZip on the big_* archives of the shared test data: Deflate, Deflate64,
//    shrink, reduce and implode, one ~5 MB member each.
// 3. Peak resident memory of the process after the TUnZip runs, before the zlib
//    reference loads anything (target: under 16 MB whatever the archive size).
//
// Usage: bench_unzip [corpus MB (default 100)] [rounds (default 3)]
#include <time.h>
#include <unistd.h>
#include <zlib.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "archive/unzip.h"
#include "platform/files.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}
long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}
double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

// --- corpus, written file by file so the generator holds little memory -------

void Text(std::string& out, std::size_t n, std::mt19937& rng) {
  static const char* syllables[] = {"ka",  "lo",  "ve",  "tri", "an", "de",  "mor", "ste", "qui", "ra",  "po",  "len",
                                    "the", "and", "ion", "ex",  "pa", "sol", "ver", "nu",  "ti",  "gra", "wen", "or"};
  static std::vector<std::string> words;
  if (words.empty()) {
    std::mt19937 wr(7);
    for (int i = 0; i < 3000; ++i) {
      std::string w;
      for (unsigned k = 0, len = 1 + wr() % 4; k < len; ++k) w += syllables[wr() % 24];
      words.push_back(w);
    }
  }
  while (out.size() < n) {
    double u = std::uniform_real_distribution<double>(0, 1)(rng);
    std::size_t idx = std::min<std::size_t>(static_cast<std::size_t>(std::pow(3000.0, u)) - 1, words.size() - 1);
    out += words[idx];
    out += rng() % 11 == 0 ? ".\n" : " ";
  }
  out.resize(n);
}

void Binary(std::string& out, std::size_t n, std::mt19937& rng) {
  // Instruction-like records: a few opcodes, small immediates, repeated blocks.
  std::vector<std::string> blocks;
  for (int i = 0; i < 64; ++i) {
    std::string b;
    for (int k = 0, len = 16 + rng() % 200; k < len; ++k)
      b += static_cast<char>(rng() % 4 == 0 ? rng() % 256 : "\x8B\x89\xE8\x48\x0F\xC3\x55\x00"[rng() % 8]);
    blocks.push_back(b);
  }
  while (out.size() < n) {
    if (rng() % 3 == 0) {
      for (int k = 0; k < 32; ++k) out += static_cast<char>(rng() % 256);
    } else {
      out += blocks[rng() % blocks.size()];
    }
  }
  out.resize(n);
}

void Noise(std::string& out, std::size_t n, std::mt19937& rng) {
  out.resize(n);
  for (char& c : out) c = static_cast<char>(rng() >> 24);
}

void Runs(std::string& out, std::size_t n, std::mt19937& rng) {
  while (out.size() < n) out.append(1 + rng() % 5000, static_cast<char>(rng() % 4));
  out.resize(n);
}

uint64_t MakeCorpus(const fs::path& root, uint64_t totalBytes) {
  std::mt19937 rng(20250305);
  uint64_t written = 0;
  int index = 0;
  std::string data;
  while (written < totalBytes) {
    int kind = index % 10;  // 4 text, 3 binary, 1.5 noise, 1.5 runs
    std::size_t size = 64 * 1024 + rng() % (3 * 1024 * 1024);
    size = static_cast<std::size_t>(std::min<uint64_t>(size, totalBytes - written));
    data.clear();
    const char* ext;
    if (kind < 4) {
      Text(data, size, rng);
      ext = ".txt";
    } else if (kind < 7) {
      Binary(data, size, rng);
      ext = ".dll";
    } else if (kind < 8 || (kind == 8 && index % 20 < 10)) {
      Noise(data, size, rng);
      ext = ".bin";
    } else {
      Runs(data, size, rng);
      ext = ".dat";
    }
    fs::path dir = root / ("d" + std::to_string(index % 7)) / ("s" + std::to_string(index % 3));
    fs::create_directories(dir);
    FILE* f = std::fopen((dir / ("f" + std::to_string(index) + ext)).c_str(), "wb");
    std::fwrite(data.data(), 1, data.size(), f);
    std::fclose(f);
    written += data.size();
    ++index;
  }
  return written;
}

// --- TUnZip ------------------------------------------------------------------

struct TRun {
  int count = 0;
  bool allPassed = true;
  double wall = 0, cpu = 0;
};

TRun Extract(const fs::path& archivePath, const fs::path& outDir) {
  fs::remove_all(outDir);
  fs::create_directories(outDir);
  archive::TUnZip z;
  TRun run;
  z.FileSpec = {"*.*"};
  z.OnEnd = [&](archive::TUnZip*, const std::string&, bool pass) { run.allPassed &= pass; };
  z.OnError = [&](archive::TUnZip*, const std::string& name, const std::string&, const std::string&, int code) {
    std::fprintf(stderr, "  error %d %s\n", code, name.c_str());
    run.allPassed = false;
  };
  z.SetArchiveFile(platform::FromHostPath(archivePath.string()));
  z.SetExtractDir(platform::FromHostPath(outDir.string()));
  double c0 = CpuSeconds();
  auto t0 = Clock::now();
  run.count = z.Extract();
  run.wall = Seconds(t0, Clock::now());
  run.cpu = CpuSeconds() - c0;
  return run;
}

// --- zlib reference ------------------------------------------------------------

uint32_t Le32(const unsigned char* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }
uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct TRefEntry {
  std::string name;
  uint16_t method;
  uint32_t csize, size, crc;
  uint64_t data;
};

std::vector<TRefEntry> ListEntries(FILE* f) {
  std::vector<TRefEntry> list;
  std::fseek(f, 0, SEEK_END);
  long size = std::ftell(f);
  std::vector<unsigned char> tail(std::min<long>(size, 65557));
  std::fseek(f, size - static_cast<long>(tail.size()), SEEK_SET);
  if (std::fread(tail.data(), 1, tail.size(), f) != tail.size()) return list;
  long endAt = -1;
  for (long i = static_cast<long>(tail.size()) - 22; i >= 0; --i)
    if (Le32(&tail[i]) == 0x06054B50) {
      endAt = i;
      break;
    }
  if (endAt < 0) return list;
  uint32_t cdSize = Le32(&tail[endAt + 12]), cdOffset = Le32(&tail[endAt + 16]);
  std::vector<unsigned char> cd(cdSize);
  std::fseek(f, cdOffset, SEEK_SET);
  if (std::fread(cd.data(), 1, cd.size(), f) != cd.size()) return list;
  for (std::size_t p = 0; p + 46 <= cd.size() && Le32(&cd[p]) == 0x02014B50;) {
    TRefEntry e;
    e.method = Le16(&cd[p + 10]);
    e.crc = Le32(&cd[p + 16]);
    e.csize = Le32(&cd[p + 20]);
    e.size = Le32(&cd[p + 24]);
    uint16_t n = Le16(&cd[p + 28]), x = Le16(&cd[p + 30]), c = Le16(&cd[p + 32]);
    e.name.assign(reinterpret_cast<const char*>(&cd[p + 46]), n);
    unsigned char local[30];
    std::fseek(f, Le32(&cd[p + 42]), SEEK_SET);
    if (std::fread(local, 1, 30, f) != 30) break;
    e.data = Le32(&cd[p + 42]) + 30 + Le16(local + 26) + Le16(local + 28);
    list.push_back(e);
    p += 46 + n + x + c;
  }
  return list;
}

// The same work as an extraction, done with zlib: 32 KB blocks in, inflate, CRC,
// 32 KB blocks out to the file.
TRun ZlibExtract(const fs::path& archivePath, const fs::path& outDir) {
  fs::remove_all(outDir);
  fs::create_directories(outDir);
  TRun run;
  double c0 = CpuSeconds();
  auto t0 = Clock::now();
  FILE* in = std::fopen(archivePath.c_str(), "rb");
  std::vector<TRefEntry> entries = ListEntries(in);
  std::vector<unsigned char> inBuf(32768), outBuf(32768);
  for (const TRefEntry& e : entries) {
    if (!e.name.empty() && e.name.back() == '/') continue;
    fs::path target = outDir / e.name;
    fs::create_directories(target.parent_path());
    FILE* out = std::fopen(target.c_str(), "wb");
    std::fseek(in, static_cast<long>(e.data), SEEK_SET);
    uLong crc = crc32(0, nullptr, 0);
    uint32_t left = e.csize;
    if (e.method == 0) {
      while (left > 0) {
        std::size_t n = std::fread(inBuf.data(), 1, std::min<uint32_t>(left, 32768), in);
        if (n == 0) break;
        crc = crc32(crc, inBuf.data(), static_cast<uInt>(n));
        std::fwrite(inBuf.data(), 1, n, out);
        left -= static_cast<uint32_t>(n);
      }
    } else {
      z_stream zs{};
      inflateInit2(&zs, -15);
      int status = Z_OK;
      while (status != Z_STREAM_END) {
        if (zs.avail_in == 0 && left > 0) {
          std::size_t n = std::fread(inBuf.data(), 1, std::min<uint32_t>(left, 32768), in);
          left -= static_cast<uint32_t>(n);
          zs.next_in = inBuf.data();
          zs.avail_in = static_cast<uInt>(n);
        }
        zs.next_out = outBuf.data();
        zs.avail_out = static_cast<uInt>(outBuf.size());
        status = inflate(&zs, Z_NO_FLUSH);
        std::size_t produced = outBuf.size() - zs.avail_out;
        crc = crc32(crc, outBuf.data(), static_cast<uInt>(produced));
        std::fwrite(outBuf.data(), 1, produced, out);
        if (status != Z_OK && status != Z_STREAM_END) break;
      }
      inflateEnd(&zs);
    }
    std::fclose(out);
    run.allPassed &= crc == e.crc;
    ++run.count;
  }
  std::fclose(in);
  run.wall = Seconds(t0, Clock::now());
  run.cpu = CpuSeconds() - c0;
  return run;
}

template <typename F>
TRun Best(int rounds, F f) {
  TRun best;
  for (int i = 0; i < rounds; ++i) {
    TRun r = f();
    if (i == 0 || r.cpu < best.cpu) best = r;
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  const uint64_t corpusMb = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100;
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  fs::path work = fs::temp_directory_path() / ("bench_unzip_" + std::to_string(::getpid()));
  fs::create_directories(work / "src");

  std::printf("corpus: %llu MB of mixed files, packed with zip -6 ...\n", static_cast<unsigned long long>(corpusMb));
  std::fflush(stdout);
  uint64_t total = MakeCorpus(work / "src", corpusMb * 1024 * 1024);
  std::string command = "cd '" + (work / "src").string() + "' && zip -q -r -6 ../big.zip . ";
  if (std::system(command.c_str()) != 0) {
    std::fprintf(stderr, "zip failed\n");
    return 1;
  }
  fs::remove_all(work / "src");
  const fs::path big = work / "big.zip";
  const double mb = static_cast<double>(total) / (1024.0 * 1024.0);
  std::printf("archive: %.1f MB compressed, %.1f MB of files\n",
              static_cast<double>(fs::file_size(big)) / (1024.0 * 1024.0), mb);
  long rssBefore = PeakRssKb();

  TRun ours = Best(rounds, [&] { return Extract(big, work / "out"); });
  std::printf("TUnZip  deflate, %d files: %6.1f MB/s CPU (%5.1f MB/s wall)%s\n", ours.count, mb / ours.cpu,
              mb / ours.wall, ours.allPassed ? "" : "  CHECK FAILED");

  const char* bigOnes[] = {"big_deflate_zip6.zip", "big_deflate64.zip", "big_shrink.zip", "big_reduce4.zip",
                           "big_implode8k3.zip"};
  for (const char* name : bigOnes) {
    fs::path p = fs::path(LU_SHARED_DIR) / "testdata" / "zip" / name;
    if (!fs::exists(p)) continue;
    TRun r = Best(rounds, [&] { return Extract(p, work / "out"); });
    uint64_t size = 0;
    for (const auto& e : fs::recursive_directory_iterator(work / "out"))
      if (e.is_regular_file()) size += e.file_size();
    double m = static_cast<double>(size) / (1024.0 * 1024.0);
    std::printf("TUnZip  %-22s %6.1f MB/s CPU (%5.1f MB/s wall)%s\n", name, m / r.cpu, m / r.wall,
                r.allPassed ? "" : "  CHECK FAILED");
  }
  long rssAfter = PeakRssKb();
  std::printf("peak RSS: %.1f MB before extracting, %.1f MB after all TUnZip runs (target < 16 MB)\n",
              rssBefore / 1024.0, rssAfter / 1024.0);

  TRun ref = Best(rounds, [&] { return ZlibExtract(big, work / "out"); });
  std::printf("zlib    deflate, %d files: %6.1f MB/s CPU (%5.1f MB/s wall)%s\n", ref.count, mb / ref.cpu, mb / ref.wall,
              ref.allPassed ? "" : "  CHECK FAILED");
  std::printf("TUnZip / zlib (CPU): %.2f\n", ref.cpu / ours.cpu);

  fs::remove_all(work);
  return ours.allPassed && ref.allPassed ? 0 : 1;
}
