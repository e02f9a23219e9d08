// lu-get URL FILE: downloads one address into FILE the way the updater's download
// step does: one GET through the user's proxy, judged complete only when every
// announced byte was counted, given up when no byte arrives for 60 seconds.
// Exit status 0 when FILE holds the complete body, 1 otherwise (FILE removed).
// FILE may be the null device (/dev/null, NUL), to measure or check a transfer.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "argument_path.h"
#include "base/text.h"
#include "engine/steps.h"
#include "net/http_client.h"
#include "net/proxy.h"
#include "platform/file_stream.h"
#include "platform/files.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: lu-get [--stall-seconds N] URL FILE\n"
               "Downloads URL (http or https) into FILE through the user's proxy setting.\n"
               "FILE may be /dev/null or NUL to keep nothing.\n");
  return 2;
}

// Coalesced progress on a terminal: at most about ten redraws a second.
class TProgressLine {
 public:
  explicit TProgressLine(bool enabled) : enabled_(enabled) {}
  void Show(int64_t count, int64_t max, bool force = false) {
    if (!enabled_) return;
    auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    if (max > 0)
      std::printf("\r%lld / %lld bytes  %3d%%", static_cast<long long>(count), static_cast<long long>(max),
                  static_cast<int>(count * 100 / max));
    else
      std::printf("\r%lld bytes", static_cast<long long>(count));
    std::fflush(stdout);
    shown_ = true;
  }
  void Finish() {
    if (shown_) std::printf("\n");
  }

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

// Watches the transfer from its own thread and aborts it when the counted bytes
// do not move for the given time.
class TStallWatch {
 public:
  TStallWatch(net::THTTPClient& client, int seconds) : client_(client), seconds_(seconds) {
    thread_ = std::thread([this] { Run(); });
  }
  ~TStallWatch() { Stop(); }
  void Progress() {
    std::lock_guard<std::mutex> g(lock_);
    lastMove_ = std::chrono::steady_clock::now();
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> g(lock_);
      done_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
  }
  bool Stalled() const { return stalled_; }

 private:
  void Run() {
    std::unique_lock<std::mutex> g(lock_);
    lastMove_ = std::chrono::steady_clock::now();
    while (!done_) {
      auto deadline = lastMove_ + std::chrono::seconds(seconds_);
      if (std::chrono::steady_clock::now() >= deadline) {
        stalled_ = true;
        client_.Abort();
        return;
      }
      wake_.wait_until(g, deadline);
    }
  }

  net::THTTPClient& client_;
  int seconds_;
  std::mutex lock_;
  std::condition_variable wake_;
  std::chrono::steady_clock::time_point lastMove_;
  bool done_ = false;
  std::atomic<bool> stalled_{false};
  std::thread thread_;
};

bool IsNullDevice(const std::string& p) {
  return p == "/dev/null" || text::SameText(p, "NUL") || text::SameText(p, "\\\\.\\NUL");
}

}  // namespace

int main(int argc, char** argv) {
  int stallSeconds = 60;
  int i = 1;
  if (i < argc && std::strcmp(argv[i], "--stall-seconds") == 0) {
    if (i + 1 >= argc) return Usage();
    stallSeconds = std::atoi(argv[i + 1]);
    if (stallSeconds < 1) return Usage();
    i += 2;
  }
  if (argc - i != 2) return Usage();
  std::string url = argv[i];
  std::string file = argv[i + 1];
  const bool discard = IsNullDevice(file);
  if (!discard) file = ArgumentPath(file);

  net::THTTPClient client;
  std::string proxyHost;
  int32_t proxyPort = -1;
  if (net::GetSystemProxy(proxyHost, proxyPort)) {
    client.ProxyParams.SetProxyServer(proxyHost);
    client.ProxyParams.SetProxyPort(proxyPort);
  }

  TProgressLine progress(isatty(fileno(stdout)) != 0);
  int64_t max = 0, position = 0;
  std::string error;
  bool failed = false;
  bool created = false;
  {
    TStallWatch watch(client, stallSeconds);
    client.OnWorkBegin = [&](net::THTTPClient*, net::TWorkMode, int64_t n) {
      max = n;
      position = 0;
      progress.Show(position, max, true);
    };
    client.OnWork = [&](net::THTTPClient*, net::TWorkMode, int64_t n) {
      if (n != position) watch.Progress();
      position = n;
      progress.Show(position, max);
    };
    try {
      if (discard) {
        // The device itself cannot be presized or cut, and must never be removed
        // after a failure: a sink that keeps nothing stands in for it.
        net::TCappedTextStream out(0);
        client.Get(url, out);
      } else {
        platform::TFileStream out(file, platform::TFileMode::CreateExclusive);
        created = true;
        client.Get(url, out);
        if (!out.Close()) error = "The file could not be closed: " + file;
      }
    } catch (const EUnknownProtocol&) {
      // Its message is empty; say what is wrong instead.
      error = "Unsupported address (only http and https are known): " + url;
    } catch (const Exception& e) {
      error = e.Message;
      failed = true;
    } catch (const std::exception& e) {
      error = e.what();
      failed = true;
    }
    watch.Stop();
    if (watch.Stalled()) error = "No data received for " + std::to_string(stallSeconds) + " seconds.";
  }
  progress.Show(position, max, true);
  progress.Finish();
  // As the updater judges it (an answer without length always passes).
  if (error.empty() && !engine::TransferComplete(position, max))
    error = "Incomplete download: " + std::to_string(position) + " of " + std::to_string(max) + " bytes.";
  if (!error.empty() || failed) {
    // An error whose text is empty still fails the run.
    std::fprintf(stderr, "%s\n", error.empty() ? "Download failed." : error.c_str());
    if (created) platform::EraseFile(file);
    return 1;
  }
  return 0;
}
